#include "hcf/scan/spectral_scan.h"

#include <cmath>
#include <optional>
#include <string>

#include "hcf/calibration/hcf_ml_model.h"
#include "hcf/color/hcf_cie_spectral_math.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

namespace {

// A curve from 400 nm every 10 nm reaches 700 nm with 31 samples, the end of the tables
// (830 nm) with 44.
constexpr std::size_t kMinSamples = 31;
constexpr std::size_t kMaxSamples = 44;

std::string sampleText(double v) {
  if (std::isnan(v)) return "nan";
  return v < 0 ? "-inf" : "inf";
}

std::optional<HCFError> curveRefusal(const std::vector<double>& curve) {
  if (curve.size() < kMinSamples || curve.size() > kMaxSamples) {
    return HTUtility::invalidDataError("\"curve\" has " + std::to_string(curve.size()) +
                                       (curve.size() == 1 ? " sample" : " samples") +
                                       ": a scan's curve needs " + std::to_string(kMinSamples) +
                                       " to " + std::to_string(kMaxSamples) +
                                       " (400 nm to 700–830 nm every 10 nm)");
  }
  for (std::size_t i = 0; i < curve.size(); ++i) {
    if (!std::isfinite(curve[i])) {
      return HTUtility::invalidDataError("\"curve[" + std::to_string(i) +
                                         "]\" is not a finite number (" + sampleText(curve[i]) +
                                         ")");
    }
  }
  return std::nullopt;
}

}  // namespace

Result<std::shared_ptr<HCFSpectralScan>> HCFSpectralScan::initWithSerial(
    const std::string& serial, const std::string& model, std::vector<double> senses,
    std::vector<double> curve) {
  if (auto refusal = curveRefusal(curve)) return *refusal;
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
