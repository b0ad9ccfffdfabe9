// A colorimeter (every Tintra hardware version and the ColorOrla): its calibration record, the
// white calibration and the measurement path from raw counts to a tristimulus scan.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "hcf/calibration/tintra_device.h"
#include "hcf/core/result.h"
#include "hcf/instrument/hcf_color_instrument.h"

HCF_NAMESPACE_BEGIN

/// A connected colorimeter. Load its calibration record, white-calibrate on its tile, then
/// measure: each scan arrives as a tristimulus scan. Everything runs on the main queue.
class HCF_API HCFColorimeter final : public HCFColorInstrument {
 public:
  HCFColorimeter() = default;

  /// Fetches the record of `serial` through the device-data service and installs it; the
  /// callback runs on the main queue.
  void loadCalibration(ErrorCallback callback) override;
  /// Installs a record: the instrument's model becomes the record's hardware version.
  void updateTintraDevice(const TintraDevice& record);
  /// Measures once: white-corrects, black-corrects and reads the counts into a tristimulus
  /// scan (first slot), marked `overRange` when a raw or white-corrected count is at full scale
  /// (65535). Fails with 9008 before a white calibration.
  void requestColorScan(ColorScanCallback callback) override;
  /// Measures the white reference and keeps the per-channel ratio to the record's white
  /// (each within 0.1 to 2.0, else 9009 and the instrument is uncalibrated again).
  void requestCalibration(CalibrationCallback callback) override;
  /// True after a successful white calibration.
  bool hasCalibration() const override { return whitePointRatio_.has_value(); }
  /// White correction in place: each count times its ratio in single precision, truncated,
  /// saturating at 65535.
  void whitepointOffset(std::array<std::uint16_t, 3>& counts) const;
  /// Black correction in place: each count less the record's black level, never below 0 nor,
  /// for a negative level, above 65535.
  Result<bool> blackpointOffset(std::array<std::uint16_t, 3>& counts) const;
  /// The record's black levels: zeros for version "1.1", else the last entry of the
  /// calibration's data (red, green, blue sense). An error for a record without them.
  Result<std::vector<std::int64_t>> getBlackPt() const;
  /// The record's white: entry 51 for version "1.1", else the one before the last.
  Result<std::vector<double>> getWhitePointFromCal() const;
  /// The ratio of the record's white to `measured`, per channel in single precision; `success`
  /// false when any ratio lies outside 0.1 to 2.0 (all ratios are returned regardless).
  static std::vector<float> setWhitePoint(const std::vector<double>& calibrationWhite,
                                          const std::vector<double>& measured, bool& success);

  /// The red, green and blue ratios of the last successful white calibration; empty before
  /// one and after one that failed.
  const std::optional<std::vector<float>>& whitePointRatio() const { return whitePointRatio_; }
  /// The installed calibration record; empty until `loadCalibration` or `updateTintraDevice`.
  const std::optional<TintraDevice>& tintraDevice() const { return tintraDevice_; }
  /// 0: the next scan value is a colour scan; 1: a white calibration.
  std::int32_t scanType() const { return scanType_; }

 private:
  // What the link reports.
  /// Pending requests fail with 9016 (a colorimeter's white calibration with 9016 too).
  void deviceDisconnected() override;
  /// A failed read of the sense characteristic fails the pending scan or calibration (9016 for a
  /// scan, 9009 for a calibration, the platform's error kept); it is never read as counts.
  void gotCharacteristicError(const ble::UUID& characteristic, const ble::Error& error) override;

  /// The link's scan value.
  void gotXyzScanX(std::uint16_t x, std::uint16_t y, std::uint16_t z) override;
  void failPendingMeasurement(const HCFError& error) override;
  void calibrationValue(const std::array<std::uint16_t, 3>& counts);
  void colorValue(std::array<std::uint16_t, 3> counts);

  std::int32_t scanType_ = 0;
  ColorScanCallback colorScanBlock_;
  CalibrationCallback calBlock_;
  std::optional<TintraDevice> tintraDevice_;
  std::optional<std::vector<float>> whitePointRatio_;
};

HCF_NAMESPACE_END
