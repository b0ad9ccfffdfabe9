// The Irisel spectrometer: its model chain and the measurement through it.
#pragma once

#include <memory>
#include <vector>

#include "hcf/calibration/hcf_ml_model.h"
#include "hcf/instrument/hcf_color_instrument.h"

HCF_NAMESPACE_BEGIN

/// A connected Irisel spectrometer. Load its model chain, then measure: each scan arrives as
/// a spectral scan. Everything runs on the main queue.
class HCF_API HCFSpectrometer final : public HCFColorInstrument {
 public:
  HCFSpectrometer() = default;

  /// Fetches (or loads the stored) model chain of `serial`; the callback runs on the main
  /// queue with the model service's error, if any.
  void loadCalibration(ErrorCallback callback) override;
  /// Measures once; the spectral scan arrives in the second slot, marked `overRange` when a
  /// band's count is at full scale (65535). Before the chain is loaded the request fails at
  /// once with 9008 (a raw response is not a reflectance curve).
  void requestColorScan(ColorScanCallback callback) override;
  /// The chain in evaluation order; empty until loaded.
  const std::vector<std::shared_ptr<const HCFMLModel>>& mms() const { return mms_; }
  /// True once `loadCalibration` has installed the chain; measurements work from then on.
  bool chainLoaded() const { return chainLoaded_; }

 private:
  // What the link reports.
  /// Pending requests fail with 9016 (a colorimeter's white calibration with 9016 too).
  void deviceDisconnected() override;

  /// The link's 32-value response: through the chain into a spectral scan.
  void gotSpectralResponse(const std::vector<float>& response) override;
  /// The instrument's error report: a pending measurement fails with 9016.
  void gotDeviceError(std::uint8_t code) override;
  /// A failed read or subscription of a scan characteristic fails the pending measurement
  /// (9016, the platform's error kept).
  void gotCharacteristicError(const ble::UUID& characteristic, const ble::Error& error) override;
  void failPendingMeasurement(const HCFError& error) override { finish(nullptr, error); }
  void finish(std::shared_ptr<HCFColorScan> scan, std::optional<HCFError> error);

  ColorScanCallback colorScanBlock_;
  std::vector<std::shared_ptr<const HCFMLModel>> mms_;
  bool chainLoaded_ = false;
};

HCF_NAMESPACE_END
