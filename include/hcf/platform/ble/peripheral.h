// A remote peripheral as the central sees it, and the receiver of its events.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/platform/ble/gatt.h"

HCF_NAMESPACE_BEGIN
namespace ble {

class Peripheral;

/// Receives a peripheral's events, on the main queue, in the order they happened. Every
/// method has an empty default.
class HCF_API PeripheralDelegate {
 public:
  virtual ~PeripheralDelegate();
  /// The services asked for by `discoverServices` are in `peripheral.services()`.
  virtual void didDiscoverServices(Peripheral& peripheral, const std::optional<Error>& error);
  /// The characteristics of `service` are discovered.
  virtual void didDiscoverCharacteristicsForService(Peripheral& peripheral,
                                                    const std::shared_ptr<Service>& service,
                                                    const std::optional<Error>& error);
  /// `characteristic.value()` holds a value just read or notified: one event per read.
  virtual void didUpdateValueForCharacteristic(
      Peripheral& peripheral, const std::shared_ptr<Characteristic>& characteristic,
      const std::optional<Error>& error);
  /// A write with response was acknowledged.
  virtual void didWriteValueForCharacteristic(Peripheral& peripheral,
                                              const std::shared_ptr<Characteristic>& characteristic,
                                              const std::optional<Error>& error);
  /// Notifications of `characteristic` were switched on or off.
  virtual void didUpdateNotificationStateForCharacteristic(
      Peripheral& peripheral, const std::shared_ptr<Characteristic>& characteristic,
      const std::optional<Error>& error);
};

/// How a write is made.
enum class CharacteristicWriteType { WithResponse = 0, WithoutResponse = 1 };

/// Connection state of a peripheral as the central sees it.
enum class PeripheralState { Disconnected = 0, Connecting = 1, Connected = 2, Disconnecting = 3 };

/// A remote peripheral. Operations only queue requests: results come as events to the
/// delegate, on the main queue. Call everything on the main queue. Operations on a peripheral
/// that is not connected do nothing.
class HCF_API Peripheral : public std::enable_shared_from_this<Peripheral> {
 public:
  virtual ~Peripheral();

  /// The platform's identifier of the peripheral on this phone (not its serial number), in
  /// upper-case UUID text; compare identifiers as text.
  virtual std::string identifier() const = 0;
  /// The advertised name, if any.
  virtual std::optional<std::string> name() const = 0;
  /// The services discovered so far.
  virtual std::vector<std::shared_ptr<Service>> services() const = 0;
  /// The connection state as this central sees it.
  virtual PeripheralState state() const = 0;

  /// The receiver of this peripheral's events (held without ownership); replaceable.
  void setDelegate(std::weak_ptr<PeripheralDelegate> delegate) { delegate_ = std::move(delegate); }
  /// The receiver of this peripheral's events; none when none was set or it has gone.
  std::shared_ptr<PeripheralDelegate> delegate() const { return delegate_.lock(); }

  /// Discovers the services in `filter`, or all services when it is empty.
  virtual void discoverServices(const std::optional<std::vector<UUID>>& filter) = 0;
  /// Discovers the characteristics of `service` in `filter`, or all of them.
  virtual void discoverCharacteristics(const std::optional<std::vector<UUID>>& filter,
                                       const std::shared_ptr<Service>& service) = 0;
  /// Switches notifications of `characteristic` on or off.
  virtual void setNotifyValue(bool enabled,
                              const std::shared_ptr<Characteristic>& characteristic) = 0;
  /// Reads `characteristic`; the value arrives with `didUpdateValueForCharacteristic`.
  virtual void readValueForCharacteristic(
      const std::shared_ptr<Characteristic>& characteristic) = 0;
  /// Writes `value` to `characteristic`.
  virtual void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                          CharacteristicWriteType type) = 0;

 private:
  std::weak_ptr<PeripheralDelegate> delegate_;
};

}  // namespace ble
HCF_NAMESPACE_END
