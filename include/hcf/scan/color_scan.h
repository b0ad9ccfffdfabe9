// The result of one measurement, as the application receives it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/color/lab_color.h"
#include "hcf/color/lch_color.h"
#include "hcf/color/platform_color.h"
#include "hcf/color/rgb_color.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/scan/color_search_term.h"

HCF_NAMESPACE_BEGIN

/// One sample of a reflectance curve.
struct HCF_API HCFSpectralPoint {
  std::uint64_t wavelength = 0;  ///< nanometres
  double intensity = 0;          ///< the reflectance there, 0 to 1 for an ordinary surface
  /// A point of `intensity` at `wavelength` nm.
  static HCFSpectralPoint initWithWavelength(std::uint64_t wavelength, double intensity) {
    return {wavelength, intensity};
  }
};

class HCFColorScan;
/// Called once: a scan, or the error that prevented one.
using ScanCompletion =
    std::function<void(std::shared_ptr<HCFColorScan> scan, std::optional<HCFError> error)>;

/// A colour scan: a colorimeter's (`HCFTristimScan`) or a spectrometer's (`HCFSpectralScan`).
/// Every colour value is empty on the base class; the two kinds give them.
class HCF_API HCFColorScan : public HCFColorSearchTerm {
 public:
  ~HCFColorScan() override;

  /// Builds a scan from an instrument's sensor values: more than four values make a spectral
  /// scan, otherwise a tristimulus scan. The completion runs where the device-data or
  /// model-package service answers (possibly before this returns).
  static void scanFrom(const std::string& serial, const std::vector<double>& senses,
                       ScanCompletion complete);

  /// Lab under `illuminant` for `observer`.
  virtual std::optional<HCFLabColor> lab(HCFStdObserver observer, HCFIlluminant illuminant) const;
  /// `lab` as LCh.
  std::optional<HCFLchColor> lchColor(HCFStdObserver observer, HCFIlluminant illuminant) const;
  /// The colour to show on screen (sRGB, alpha 1).
  virtual std::optional<PlatformColor> displayColor() const;
  /// The scan's sRGB colour.
  virtual std::optional<HCFRGBColor> rgbColor() const;
  /// `rgbColor()` as six upper-case hexadecimal digits, no '#'.
  virtual std::optional<std::string> hex() const;
  /// The reflectance curve; none for a colorimeter's scan, which has no curve.
  virtual std::optional<std::vector<HCFSpectralPoint>> spectralCurve() const;

  std::optional<HCFLabColor> auxSearchLab() const override;
  std::vector<HCFGenericBatchedLab> batchedLabsWithIllum(
      const std::optional<std::string>& illuminant,
      const std::optional<std::string>& observer) const override;

  /// The scan's Lab values per batch, as built with the scan.
  std::vector<HCFGenericBatchedLab> batchedLabs;
  std::string serial;  ///< the serial number of the instrument that made it
  std::string model;   ///< the instrument's hardware version ("2.1", "4.0", ...) or model
  /// The largest count an instrument reports: a sensor or band at this count was saturated.
  static constexpr std::uint16_t kFullScaleCount = 65535;
  /// True when a count of the reading was at full scale (`kFullScaleCount`): a colorimeter's
  /// raw count or its count after the white correction, or a spectrometer's band. The sensor
  /// saw more light than it can count, so the colours of the scan are wrong by an unknown
  /// amount. The scan is still delivered, never an error: an application should ask the user
  /// to measure again (the instrument flat on the sample so no outside light gets in, after a
  /// fresh white calibration) or treat the colour as unreliable, and not keep or search with it
  /// as it would an ordinary reading.
  bool overRange = false;

 protected:
  HCFColorScan() = default;
  /// Copies the batched Labs, serial, model and over-range mark (for the subclasses' copies).
  HCFColorScan(const HCFColorScan&) = default;
  /// Takes the batched Labs, serial, model and over-range mark of `other` (for the subclasses'
  /// copies).
  HCFColorScan& operator=(const HCFColorScan&) = default;
};

HCF_NAMESPACE_END
