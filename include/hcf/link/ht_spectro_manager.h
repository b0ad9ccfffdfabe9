// The GATT link of the Irisel spectrometer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/link/ht_kubo_peripheral_manager.h"
#include "hcf/platform/ble/peripheral.h"

HCF_NAMESPACE_BEGIN

/// Explores the spectrometer's main service, writes its scan commands and decodes what it
/// sends: a measurement arrives as a 64-byte notification of 32 values, device errors on their
/// own characteristic. Battery, serial, version, button, confirmation and charge work as on
/// the colorimeter link. A value of the wrong length is dropped without a callback.
class HCF_API HTSpectroManager final : public HTKuboPeripheralManager,
                                       public ble::PeripheralDelegate,
                                       public std::enable_shared_from_this<HTSpectroManager> {
 public:
  /// Not available: raises HCFException (NSInternalInconsistencyException) with the reason
  /// "-init is not a valid initializer for the class HTSpectroManager".
  [[noreturn]] static std::shared_ptr<HTSpectroManager> init();
  /// A link over `peripheral` reporting to `delegate` (held without ownership). The link
  /// becomes the peripheral's event receiver and starts discovering its services.
  static std::shared_ptr<HTSpectroManager> initWithPeripheral(
      std::shared_ptr<ble::Peripheral> peripheral,
      std::weak_ptr<HTKuboPeripheralManDelegate> delegate);

  /// The spectrometer main service: its presence identifies a spectrometer.
  static const ble::UUID& bleCBUUID();
  /// "89504ca4-c879-446f-a10e-f6c2da131d41".
  static const std::string& bleService();
  /// The main service only.
  static const std::vector<ble::UUID>& services();

  // HTKuboPeripheralManager
  void getStatus() override;
  void confirmConnection() override;
  void getBattInfo() override;
  /// Writes 0x01 to the scan characteristic (with response); the result is notified.
  void getScan() override;
  /// Writes 0x01 to the emissive-scan characteristic (with response).
  void getEScan() override;
  std::shared_ptr<ble::Peripheral> cbperipheral() const override { return peripheral_; }

  /// True once all nine characteristics are known.
  bool foundAllCharacteristics() const;

  /// The owner that hears what the instrument sends; null when it no longer exists.
  std::shared_ptr<HTKuboPeripheralManDelegate> delegate() const { return delegate_.lock(); }
  /// Replaces the owner (held without ownership).
  void setDelegate(std::weak_ptr<HTKuboPeripheralManDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // The characteristic handles, empty until discovered.
  /// The reflective scan: a write starts one, the 32-value response is notified.
  const std::shared_ptr<ble::Characteristic>& scanCharacteristic() const { return scan_; }
  /// The emissive scan: a write starts one, the 32-value response is notified.
  const std::shared_ptr<ble::Characteristic>& eScanCharacteristic() const { return eScan_; }
  /// The battery voltage (read).
  const std::shared_ptr<ble::Characteristic>& battCharacteristic() const { return batt_; }
  /// The serial number (read).
  const std::shared_ptr<ble::Characteristic>& serCharacteristic() const { return ser_; }
  /// The firmware version (read).
  const std::shared_ptr<ble::Characteristic>& verCharacteristic() const { return ver_; }
  /// The button: notifies each press.
  const std::shared_ptr<ble::Characteristic>& btnCharacteristic() const { return btn_; }
  /// The connection confirmation: the keep-alive write.
  const std::shared_ptr<ble::Characteristic>& connectConfirmCharacteristic() const {
    return connectConfirm_;
  }
  /// The two charge flags (read).
  const std::shared_ptr<ble::Characteristic>& chargingStatusCharacteristic() const {
    return chargingStatus_;
  }
  /// The instrument's error reports: notified, the code in the first byte.
  const std::shared_ptr<ble::Characteristic>& errorCharacteristic() const { return error_; }

  // ble::PeripheralDelegate, on the main queue.
  /// Discovers the characteristics of the main service; without it the delegate hears
  /// `peripheralManagerFailedToInit`.
  void didDiscoverServices(ble::Peripheral& peripheral,
                           const std::optional<ble::Error>& error) override;
  /// Keeps the handles, subscribes to the scans, the button and the error reports, and tells
  /// the delegate `peripheralManagerIsReady` once all nine are known.
  void didDiscoverCharacteristicsForService(ble::Peripheral& peripheral,
                                            const std::shared_ptr<ble::Service>& service,
                                            const std::optional<ble::Error>& error) override;
  /// A failed subscription reaches the delegate as `gotCharacteristicError`.
  void didUpdateNotificationStateForCharacteristic(
      ble::Peripheral& peripheral, const std::shared_ptr<ble::Characteristic>& characteristic,
      const std::optional<ble::Error>& error) override;
  /// Decodes the value into its delegate callback; a failed read becomes
  /// `gotCharacteristicError` and the stale value is not decoded.
  void didUpdateValueForCharacteristic(ble::Peripheral& peripheral,
                                       const std::shared_ptr<ble::Characteristic>& characteristic,
                                       const std::optional<ble::Error>& error) override;

  struct Token;  // only initWithPeripheral makes links
  /// For `initWithPeripheral` alone (no other code can make a `Token`): use that instead.
  HTSpectroManager(const Token&, std::shared_ptr<ble::Peripheral> peripheral,
                   std::weak_ptr<HTKuboPeripheralManDelegate> delegate);

 private:
  void read(const std::shared_ptr<ble::Characteristic>& c);
  void writeCommand(const std::shared_ptr<ble::Characteristic>& c);
  void store(const std::shared_ptr<ble::Characteristic>& c);

  std::shared_ptr<ble::Peripheral> peripheral_;
  std::weak_ptr<HTKuboPeripheralManDelegate> delegate_;
  std::shared_ptr<ble::Characteristic> scan_, eScan_, batt_, ser_, ver_, btn_, connectConfirm_,
      chargingStatus_, error_;
};

HCF_NAMESPACE_END
