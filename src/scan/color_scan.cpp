#include "hcf/scan/color_scan.h"

#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"

HCF_NAMESPACE_BEGIN

HCFColorScan::~HCFColorScan() = default;

void HCFColorScan::scanFrom(const std::string& serial, const std::vector<double>& senses,
                            ScanCompletion complete) {
  if (senses.size() > 4) {
    HCFSpectralScan::scanFrom(serial, senses, std::move(complete));
  } else {
    HCFTristimScan::scanFrom(serial, senses, std::move(complete));
  }
}

std::optional<HCFLabColor> HCFColorScan::lab(HCFStdObserver, HCFIlluminant) const {
  return std::nullopt;
}

std::optional<HCFLchColor> HCFColorScan::lchColor(HCFStdObserver observer,
                                                  HCFIlluminant illuminant) const {
  const auto l = lab(observer, illuminant);
  if (!l) return std::nullopt;
  return l->lchColor();
}

std::optional<PlatformColor> HCFColorScan::displayColor() const { return std::nullopt; }
std::optional<HCFRGBColor> HCFColorScan::rgbColor() const { return std::nullopt; }
std::optional<std::string> HCFColorScan::hex() const { return std::nullopt; }
std::optional<std::vector<HCFSpectralPoint>> HCFColorScan::spectralCurve() const {
  return std::nullopt;
}
std::optional<HCFLabColor> HCFColorScan::auxSearchLab() const { return std::nullopt; }

std::vector<HCFGenericBatchedLab> HCFColorScan::batchedLabsWithIllum(
    const std::optional<std::string>& illuminant,
    const std::optional<std::string>& observer) const {
  return filterBatchedLabs(batchedLabs, illuminant, observer);
}

HCF_NAMESPACE_END
