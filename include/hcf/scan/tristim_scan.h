// A colorimeter's scan: the adjusted Labs of a reading and its colours per target batch.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/calibration/hi_color_reading.h"
#include "hcf/scan/color_scan.h"

HCF_NAMESPACE_BEGIN

/// A colorimeter's scan: the raw counts, the batch-corrected Labs, and the colours as the
/// instruments of other batches read it.
class HCF_API HCFTristimScan : public HCFColorScan {
 public:
  HCFTristimScan() = default;

  /// The scan of a finished reading.
  static std::shared_ptr<HCFTristimScan> scanFrom(const HIColorReading& reading);
  /// Makes the instrument's calibration available through the device-data service, then reads
  /// senses 0 to 2 as its red, green and blue counts. Five or more values fail with the
  /// legacy-device error (9015) and touch nothing.
  static void scanFrom(const std::string& serial, const std::vector<double>& senses,
                       ScanCompletion complete);

  /// The stored adjusted Lab of the observer (10° when `observer` is not 2°), seen under
  /// `illuminant`; none when the 10° Lab is not set.
  std::optional<HCFLabColor> lab(HCFStdObserver observer, HCFIlluminant illuminant) const override;
  /// The sRGB of `adjusted2DegreeLab` with alpha 1.
  std::optional<PlatformColor> displayColor() const override;
  /// The sRGB of `adjusted2DegreeLab`; never none.
  std::optional<HCFRGBColor> rgbColor() const override;
  /// The hex digits of `rgbColor()`; never none.
  std::optional<std::string> hex() const override;
  /// `adjusted2DegreeLab`.
  std::optional<HCFLabColor> auxSearchLab() const override;

  std::vector<double> colorSense;                  ///< red, green and blue sensor values
  HCFLabColor adjusted2DegreeLab;                  ///< D50, 2°
  std::optional<HCFLabColor> adjusted10DegreeLab;  ///< D50, 10° (set by instruments that have it)
  std::string batch;                               ///< the reading's batch number in decimal
};

HCF_NAMESPACE_END
