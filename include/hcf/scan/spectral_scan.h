// A spectrometer's scan: a reflectance curve, which gives Lab under every illuminant and both
// observers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hcf/color/xyz_color.h"
#include "hcf/core/result.h"
#include "hcf/scan/color_scan.h"

HCF_NAMESPACE_BEGIN

/// A spectrometer's scan: the reflectance curve, the raw sensor vector the model chain turned
/// into it, and the Labs integrated from the curve.
class HCF_API HCFSpectralScan : public HCFColorScan {
 public:
  HCFSpectralScan() = default;

  /// The scan of a curve (samples from 400 nm every 10 nm) and its raw sensor vector, with its
  /// 16 batched Labs (batch "s1-1"; D50, D65, C, B, A, F2, F7, F11, each 2° then 10°). The
  /// curve must cover the instruments' range, 400 to 700 nm, and stay within the tables, so
  /// hold 31 to 44 samples, each a finite number; otherwise error 9930 naming the curve:
  /// `"curve" has 1 sample: a scan's curve needs 31 to 44 (400 nm to 700–830 nm every 10 nm)`
  /// or `"curve[3]" is not a finite number (nan)`.
  static Result<std::shared_ptr<HCFSpectralScan>> initWithSerial(const std::string& serial,
                                                                 const std::string& model,
                                                                 std::vector<double> senses,
                                                                 std::vector<double> curve);
  /// Runs `senses` through the instrument's model chain (fetched or stored by serial); the
  /// chain's errors, and its prediction errors, go to the completion.
  static void scanFrom(const std::string& serial, const std::vector<double>& senses,
                       ScanCompletion complete);

  static constexpr unsigned kWaveLengthStart = 400;  ///< the curve's first wavelength, nm
  static constexpr unsigned kWavelengthStep = 10;    ///< the curve's step, nm
  /// The first wavelength of a model's curves: 400 nm for every model.
  static unsigned waveLengthStartFor(const std::string& model);
  /// The step of a model's curves: 10 nm for every model.
  static unsigned waveLengthStepFor(const std::string& model);
  /// The batch of a model's Labs: "s1-1" for every model.
  static std::string batchFor(const std::string& model);

  /// "s1-1".
  std::string batch() const;
  /// `senseValues`.
  const std::vector<double>& colorSense() const { return senseValues; }
  /// The curve integrated under `illuminant` for `observer`; none for a curve that cannot be.
  std::optional<HCFXYZColor> toXYZ(HCFStdObserver observer, HCFIlluminant illuminant) const;

  std::optional<HCFLabColor> lab(HCFStdObserver observer, HCFIlluminant illuminant) const override;
  /// sRGB of the D65, 2° colour.
  std::optional<PlatformColor> displayColor() const override;
  /// From the D50, 2° Lab.
  std::optional<HCFRGBColor> rgbColor() const override;
  /// `rgbColor()` as six upper-case hexadecimal digits, no '#'; none when it has no colour.
  std::optional<std::string> hex() const override;
  /// One point per sample: 400, 410, … nm.
  std::optional<std::vector<HCFSpectralPoint>> spectralCurve() const override;

  std::vector<double> curve;        ///< reflectance samples from 400 nm every 10 nm
  std::vector<double> senseValues;  ///< the raw sensor vector
};

HCF_NAMESPACE_END
