// The GATT link of the colorimeters (every Tintra hardware version and the ColorOrla).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/link/ht_kubo_peripheral_manager.h"
#include "hcf/platform/ble/peripheral.h"

HCF_NAMESPACE_BEGIN

/// Explores a colorimeter's services and characteristics, issues its commands (reads, and the
/// one confirmation write) and decodes each value it returns into a delegate callback. It knows
/// nothing about colour: scan counts go upward unchanged. A value whose length is not exactly
/// the protocol's is dropped without a callback.
class HCF_API HTRadiusManager final : public HTKuboPeripheralManager,
                                      public ble::PeripheralDelegate,
                                      public std::enable_shared_from_this<HTRadiusManager> {
 public:
  /// Not available: raises HCFException (NSInternalInconsistencyException) with the reason
  /// "-init is not a valid initializer for the class HTRadiusManager".
  [[noreturn]] static std::shared_ptr<HTRadiusManager> init();
  /// A link over `peripheral` reporting to `delegate` (held without ownership). The link
  /// becomes the peripheral's event receiver and starts discovering all its services.
  static std::shared_ptr<HTRadiusManager> initWithPeripheral(
      std::shared_ptr<ble::Peripheral> peripheral,
      std::weak_ptr<HTKuboPeripheralManDelegate> delegate);

  /// The main colorimeter service: its presence identifies a colorimeter.
  static const ble::UUID& bleCBUUID();
  /// The main service's UUID text, "26db67ab-fc40-420a-b080-2ce709bfb7d0".
  static const std::string& bleService();
  /// The main service and the two firmware-update services, in that order.
  static const std::vector<ble::UUID>& radiusServices();

  // HTKuboPeripheralManager
  void getStatus() override;
  void confirmConnection() override;
  void getBattInfo() override;
  void getScan() override;
  void getEScan() override;
  std::shared_ptr<ble::Peripheral> cbperipheral() const override { return peripheral_; }
  void getTemp() override;

  /// True once the seven required characteristics (sense, battery, serial, version, button,
  /// connect-confirm, charging status) are known.
  bool foundAllCharacteristics() const;

  /// The owner that hears what the instrument sends; null when it no longer exists.
  std::shared_ptr<HTKuboPeripheralManDelegate> delegate() const { return delegate_.lock(); }
  /// Replaces the owner (held without ownership).
  void setDelegate(std::weak_ptr<HTKuboPeripheralManDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // The characteristic handles, empty until discovered.
  /// The reflective scan: a read returns the three sensor counts.
  const std::shared_ptr<ble::Characteristic>& xyzSenseCharacteristic() const { return xyzSense_; }
  /// The emissive scan: a read returns the three sensor counts; null on instruments
  /// without an emissive mode.
  const std::shared_ptr<ble::Characteristic>& xyzEmissSenseCharacteristic() const {
    return xyzEmissSense_;
  }
  /// The battery voltage (read).
  const std::shared_ptr<ble::Characteristic>& battCharacteristic() const { return batt_; }
  /// The serial number (read).
  const std::shared_ptr<ble::Characteristic>& serCharacteristic() const { return ser_; }
  /// The firmware version (read).
  const std::shared_ptr<ble::Characteristic>& verCharacteristic() const { return ver_; }
  /// The button: notifies each press (subscribed on discovery).
  const std::shared_ptr<ble::Characteristic>& btnCharacteristic() const { return btn_; }
  /// The connection confirmation: the keep-alive write.
  const std::shared_ptr<ble::Characteristic>& connectConfirmCharacteristic() const {
    return connectConfirm_;
  }
  /// The two charge flags (read).
  const std::shared_ptr<ble::Characteristic>& chargingStatusCharacteristic() const {
    return chargingStatus_;
  }
  /// The temperature, whole degrees (read); null when the instrument has none.
  const std::shared_ptr<ble::Characteristic>& temperatureCharacteristic() const {
    return temperature_;
  }
  /// The firmware-update control point, from either update service; the kit does not use it.
  const std::shared_ptr<ble::Characteristic>& otaControlCharacteristic() const {
    return otaControl_;
  }
  /// The firmware-update data, from either update service; the kit does not use it.
  const std::shared_ptr<ble::Characteristic>& otaDataCharacteristic() const { return otaData_; }

  // ble::PeripheralDelegate, on the main queue.
  /// Discovers the characteristics of the main and the update services; without the main
  /// service the delegate hears `peripheralManagerFailedToInit`.
  void didDiscoverServices(ble::Peripheral& peripheral,
                           const std::optional<ble::Error>& error) override;
  /// Keeps the handles of `service`, subscribes to the button, and tells the delegate
  /// `peripheralManagerIsReady` once the required ones are all known.
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
  HTRadiusManager(const Token&, std::shared_ptr<ble::Peripheral> peripheral,
                  std::weak_ptr<HTKuboPeripheralManDelegate> delegate);

 private:
  void read(const std::shared_ptr<ble::Characteristic>& c);
  void storeMainCharacteristic(const std::shared_ptr<ble::Characteristic>& c);

  std::shared_ptr<ble::Peripheral> peripheral_;
  std::weak_ptr<HTKuboPeripheralManDelegate> delegate_;
  std::shared_ptr<ble::Characteristic> xyzSense_, xyzEmissSense_, batt_, ser_, ver_, btn_,
      connectConfirm_, chargingStatus_, temperature_, otaControl_, otaData_;
};

HCF_NAMESPACE_END
