// The application's object for one connected instrument: identification, battery, button,
// keep-alive and disconnection. Measuring and calibrating belong to the colorimeter and the
// spectrometer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/link/ht_kubo_peripheral_manager.h"
#include "hcf/platform/ble/peripheral.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/scan/color_scan.h"

HCF_NAMESPACE_BEGIN

/// A battery reading.
struct HCF_API HCFBatteryStatus {
  float level = 0;              ///< 0 (3.5 V or less) to 1 (4.0 V or more), linear between
  float volts = 0;              ///< the battery voltage, volts
  bool isFullyCharged = false;  ///< the instrument's charge flag
  bool isOnPower = false;       ///< on external power
};

class HCFColorInstrument;

/// Receives an instrument's button presses and its disconnection, on the main queue.
class HCF_API HCFColorInstrumentDelegate {
 public:
  virtual ~HCFColorInstrumentDelegate();
  /// The user pressed the instrument's button (an application may start a measurement).
  virtual void buttonPressed(HCFColorInstrument& instrument) = 0;
  /// The link to `instrument` ended: a pending measurement or white calibration has already
  /// failed with 9016 and the keep-alive has stopped. Connect again to use it.
  virtual void onDisconnect(HCFColorInstrument& instrument) = 0;
};

/// (tristimulus scan, spectral scan, error): a colorimeter fills the first slot, a
/// spectrometer the second.
using ColorScanCallback =
    std::function<void(std::shared_ptr<HCFColorScan> tristimulus,
                       std::shared_ptr<HCFColorScan> spectral, std::optional<HCFError> error)>;
/// The outcome of a request with no value: no error means it succeeded.
using ErrorCallback = std::function<void(std::optional<HCFError> error)>;
/// (success, error) of a white calibration: true and no error when the instrument is calibrated.
using CalibrationCallback = std::function<void(bool success, std::optional<HCFError> error)>;
/// (status, error) of a battery request: a status and no error, or no status and the error.
using BatteryCallback =
    std::function<void(std::optional<HCFBatteryStatus> status, std::optional<HCFError> error)>;
/// (instrument, error) of `HCFColorInstrument::createWithPeripheral`: the identified
/// instrument and no error, or no instrument and the error.
using InstrumentCallback = std::function<void(std::shared_ptr<HCFColorInstrument> instrument,
                                              std::optional<HCFError> error)>;

/// What the colorimeter and the spectrometer do with their own measurements.
class HCF_API HCFColorInstrumentProto {
 public:
  virtual ~HCFColorInstrumentProto();
  /// Makes the instrument's calibration available (a record or a model chain).
  virtual void loadCalibration(ErrorCallback callback) = 0;
  /// Measures once. A new request replaces a pending one without calling it.
  virtual void requestColorScan(ColorScanCallback callback) = 0;
  /// Whether measurements can be made now (the base: always).
  virtual bool hasCalibration() const;
  /// A white calibration (the base: succeeds at once).
  virtual void requestCalibration(CalibrationCallback callback);
};

class InstrumentLinkAccess;

/// One connected instrument. Everything runs on the main queue.
///
/// The instrument hears its link and its peripheral through interfaces of the kit's own
/// (inherited privately): what they report reaches an application only as the results of its
/// requests and through `HCFColorInstrumentDelegate`.
class HCF_API HCFColorInstrument : public HCFColorInstrumentProto,
                                   private HTKuboPeripheralManDelegate,
                                   private ble::PeripheralDelegate,
                                   public std::enable_shared_from_this<HCFColorInstrument> {
 public:
  /// How long identification (version and serial) may take before creation fails with 9010.
  static constexpr dispatch::Duration kHandshakeTimeout = std::chrono::seconds(20);
  /// How long a battery request may take before it fails with 9931.
  static constexpr dispatch::Duration kBatteryTimeout = std::chrono::seconds(10);
  /// How long a measurement or a white calibration may wait for the instrument's answer
  /// before it fails with 9931 (an answer of the wrong length is dropped, so without this a
  /// request would wait until the link ends).
  static constexpr dispatch::Duration kMeasurementTimeout = std::chrono::seconds(10);
  /// The interval of the keep-alive write.
  static constexpr dispatch::Duration kKeepAliveInterval = std::chrono::seconds(90);

  ~HCFColorInstrument() override;

  /// Makes the instrument for a connected peripheral whose main service is `uuid` (any case):
  /// a colorimeter or a spectrometer, identified over its link, then passed to `complete`.
  /// Errors: "Unknown Device" (code 0) for another service; 9010 when the instrument's main
  /// service is missing or identification does not finish within `kHandshakeTimeout`.
  static void createWithPeripheral(std::shared_ptr<ble::Peripheral> peripheral,
                                   const std::string& uuid, InstrumentCallback complete);
  /// The colorimeter's main service, then the spectrometer's.
  static const std::vector<ble::UUID>& serviceUUIDs();
  /// Instruments made and not yet identified (kept alive here until then).
  static const std::vector<std::shared_ptr<HCFColorInstrument>>& uninitializedDevices();
  /// Battery level of a voltage, in single precision.
  static float getBattPercent(float volts);

  /// Reads the battery; `callback` gets the status once both its voltage and charge flags
  /// arrived, or an error after `kBatteryTimeout`.
  void requestBatt(BatteryCallback callback);
  /// Writes the connection confirmation every 90 s while on.
  void setKeepAlive(bool on);
  /// True while the keep-alive write is on (see `setKeepAlive`).
  bool keepAlive() const { return keepAliveTimer_.isValid(); }
  /// One connection-confirm write.
  void confirmConnection();
  /// Asks the kit's connection manager to disconnect the instrument.
  void disconnect();

  /// Sets who hears the button and the disconnection (held without ownership).
  void setDelegate(std::weak_ptr<HCFColorInstrumentDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  /// The delegate; null when none is set or it no longer exists.
  std::shared_ptr<HCFColorInstrumentDelegate> delegate() const { return delegate_.lock(); }
  /// The Bluetooth peripheral the instrument was made for.
  const std::shared_ptr<ble::Peripheral>& peripheral() const { return peripheral_; }
  /// Twelve hexadecimal digits; empty until identified.
  const std::string& serial() const { return serial_; }
  /// "%02X%02X" of the firmware's major and minor version; empty until identified.
  const std::string& firmwareVersion() const { return firmwareVersion_; }
  /// The hardware version (colorimeter) or model text (spectrometer); empty until the
  /// calibration is loaded.
  const std::string& model() const { return model_; }
  /// The instrument's GATT link (colorimeter or spectrometer); null until the peripheral's
  /// services have been discovered.
  const std::shared_ptr<HTKuboPeripheralManager>& peripheralManager() const { return link_; }

 protected:
  friend class InstrumentLinkAccess;
  HCFColorInstrument() = default;

  /// Removes the entry whose peripheral identifier equals `instrument`'s, if any.
  static void removeFromUninitializedDevs(const HCFColorInstrument& instrument);
  /// The platform reported the peripheral disconnected: pending requests fail, the keep-alive
  /// stops and the delegate hears `onDisconnect`.
  virtual void deviceDisconnected();

  /// @name What the link reports (HTKuboPeripheralManDelegate)
  /// On the main queue. A ready link is asked for the serial and the version; the instrument
  /// is passed to `createWithPeripheral`'s callback once both have arrived, and fails with 9010
  /// when the link cannot start. The battery voltage and the charge flags answer a pending
  /// `requestBatt`; a button press goes to the delegate's `buttonPressed`.
  ///@{
  void peripheralManagerIsReady(HTKuboPeripheralManager& manager) override;
  void peripheralManagerFailedToInit(HTKuboPeripheralManager& manager) override;
  void gotVersion(std::uint8_t major, std::uint8_t minor) override;
  void gotSerial(const std::string& serial) override;
  void gotBatt(float volts) override;
  void gotButtonPress() override;
  void gotCharging(bool charging, bool onPower) override;
  ///@}
  /// A failed read of the battery or charging status fails a pending battery request.
  void gotCharacteristicError(const ble::UUID& characteristic, const ble::Error& error) override;

  /// `kitError` with the platform's error of a failed read or subscription kept beside it.
  static HCFError withPlatformError(HCFError kitError, const ble::Error& error);

  /// The peripheral's services are known: the colorimeter's or the spectrometer's main service
  /// chooses the link, which then takes over the peripheral's events (first report only).
  void didDiscoverServices(ble::Peripheral& peripheral,
                           const std::optional<ble::Error>& error) override;
  /// Arms the time-out of the request just sent: after `kMeasurementTimeout` without
  /// `measurementAnswered`, `failPendingMeasurement` runs on the main queue with the time-out
  /// error naming `what` ("The measurement", "The white calibration").
  void startMeasurementTimer(std::string_view what = "The measurement");
  /// The instrument answered the request: disarms the time-out.
  void measurementAnswered() { measurementTimer_.cancel(); }
  /// Fails the pending measurement or calibration with `error`; nothing when none waits.
  virtual void failPendingMeasurement(const HCFError& error);
  /// What `model()` returns; set by the colorimeter or the spectrometer once its calibration
  /// is loaded.
  std::string model_;

 private:
  void checkInitialized();
  void failInit(const HCFError& error);
  void respondBattery();

  std::weak_ptr<HCFColorInstrumentDelegate> delegate_;
  std::shared_ptr<ble::Peripheral> peripheral_;
  std::string serial_;
  std::string firmwareVersion_;
  InstrumentCallback initBlock_;
  std::shared_ptr<HTKuboPeripheralManager> link_;
  bool peripheralManagerStarted_ = false;
  BatteryCallback battBlock_;
  std::optional<float> battVolts_;
  std::optional<std::array<bool, 2>> chargeStatArr_;
  dispatch::Timer keepAliveTimer_;
  dispatch::Timer handshakeTimer_;
  dispatch::Timer batteryTimer_;
  dispatch::Timer measurementTimer_;
};

HCF_NAMESPACE_END
