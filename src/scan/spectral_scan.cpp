#include "hcf/scan/spectral_scan.h"

#include "hcf/calibration/hcf_ml_model.h"
#include "hcf/color/hcf_cie_spectral_math.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

Result<std::shared_ptr<HCFSpectralScan>> HCFSpectralScan::initWithSerial(
    const std::string& serial, const std::string& model, std::vector<double> senses,
    std::vector<double> curve) {
  auto scan = std::make_shared<HCFSpectralScan>();
  scan->serial = serial;
  scan->model = model;
  scan->senseValues = std::move(senses);
  scan->curve = std::move(curve);
  const std::string batch = batchFor(model);
  for (const auto& name : HTColorUtils::allIlluminants()) {
    const auto illuminant = HTColorUtils::fromIlluminantStr(name);
    for (const auto observer : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      auto xyz =
          HCFCieSpectralMath::xyzFromSpectrum(scan->curve, kWaveLengthStart, illuminant, observer);
      if (!xyz) return xyz.error();
      scan->batchedLabs.push_back(HCFGenericBatchedLab::batchedLabWith(xyz->toLab(), batch));
    }
  }
  return scan;
}

unsigned HCFSpectralScan::waveLengthStartFor(const std::string&) { return kWaveLengthStart; }
unsigned HCFSpectralScan::waveLengthStepFor(const std::string&) { return kWavelengthStep; }
std::string HCFSpectralScan::batchFor(const std::string&) { return "s1-1"; }
std::string HCFSpectralScan::batch() const { return batchFor(model); }

std::optional<HCFXYZColor> HCFSpectralScan::toXYZ(HCFStdObserver observer,
                                                  HCFIlluminant illuminant) const {
  auto xyz = HCFCieSpectralMath::xyzFromSpectrum(curve, kWaveLengthStart, illuminant, observer);
  if (!xyz) return std::nullopt;
  return *xyz;
}

std::optional<HCFLabColor> HCFSpectralScan::lab(HCFStdObserver observer,
                                                HCFIlluminant illuminant) const {
  const auto xyz = toXYZ(observer, illuminant);
  if (!xyz) return std::nullopt;
  return xyz->toLab();
}

std::optional<PlatformColor> HCFSpectralScan::displayColor() const {
  const auto xyz = toXYZ(HCFStdObserver::TwoDegree, HCFIlluminant::D65);
  if (!xyz) return std::nullopt;
  return xyz->RGBColorInSpace(HCFRGBSpace::sRGB).color();
}

std::optional<HCFRGBColor> HCFSpectralScan::rgbColor() const {
  const auto l = lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
  if (!l) return std::nullopt;
  return l->rgbColor();
}

std::optional<std::string> HCFSpectralScan::hex() const {
  const auto rgb = rgbColor();
  if (!rgb) return std::nullopt;
  return rgb->hex();
}

std::optional<std::vector<HCFSpectralPoint>> HCFSpectralScan::spectralCurve() const {
  std::vector<HCFSpectralPoint> points;
  points.reserve(curve.size());
  for (std::size_t i = 0; i < curve.size(); ++i) {
    points.push_back({kWaveLengthStart + kWavelengthStep * i, curve[i]});
  }
  return points;
}

HCF_NAMESPACE_END
