#include "hcf/scan/tristim_scan.h"

#include "hcf/calibration/hi_tintra_sensor_reading.h"
#include "hcf/color/xyz_color.h"
#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

std::shared_ptr<HCFTristimScan> HCFTristimScan::scanFrom(const HIColorReading& reading) {
  auto scan = std::make_shared<HCFTristimScan>();
  const std::string batch = std::to_string(reading.getBatchNumber());
  scan->batch = batch;
  scan->model = reading.model();
  scan->serial = reading.getSerial();
  const auto& sense = reading.sense();
  scan->colorSense = {sense.senseRed, sense.senseGreen, sense.senseBlue};
  scan->adjusted2DegreeLab =
      reading.adj2DegD65XYZ().toXYZWithIlluminant(HCFIlluminant::D50).toLab();
  if (const auto& xyz10 = reading.adj10DegD65XYZ()) {
    scan->adjusted10DegreeLab = xyz10->toXYZWithIlluminant(HCFIlluminant::D50).toLab();
  }
  if (const auto& unified = reading.getUnifiedColors()) {
    for (const auto& color : *unified) {
      scan->batchedLabs.push_back(HCFGenericBatchedLab::batchedLabWith(
          color.getUnifiedLab(HCFIlluminant::D50), std::to_string(color.getTargetBatchNumber())));
    }
  }
  scan->batchedLabs.push_back(HCFGenericBatchedLab::batchedLabWith(
      reading.unadjD65XYZ().toXYZWithIlluminant(HCFIlluminant::D50).toLab(), batch));
  return scan;
}

std::optional<HCFLabColor> HCFTristimScan::lab(HCFStdObserver observer,
                                               HCFIlluminant illuminant) const {
  if (observer != HCFStdObserver::TwoDegree) {
    if (!adjusted10DegreeLab) return std::nullopt;
    return adjusted10DegreeLab->toLabWithIlluminant(illuminant);
  }
  return adjusted2DegreeLab.toLabWithIlluminant(illuminant);
}

std::optional<PlatformColor> HCFTristimScan::displayColor() const {
  return adjusted2DegreeLab.XYZColor().RGBColorInSpace(HCFRGBSpace::sRGB).color();
}

std::optional<HCFRGBColor> HCFTristimScan::rgbColor() const {
  return adjusted2DegreeLab.rgbColor();
}

std::optional<std::string> HCFTristimScan::hex() const { return rgbColor()->hex(); }

std::optional<HCFLabColor> HCFTristimScan::auxSearchLab() const { return adjusted2DegreeLab; }

HCF_NAMESPACE_END
