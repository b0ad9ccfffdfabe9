// GATT objects as the central sees them: services and characteristics of a peripheral.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/platform/ble/uuid.h"

HCF_NAMESPACE_BEGIN
namespace ble {

/// The kit's bytes, under the name the Bluetooth interfaces use.
using Bytes = hcf::Bytes;

class Peripheral;
class Service;

/// An error the Bluetooth platform reports with an event. The kit never inspects it beyond
/// logging.
struct Error {
  /// The platform's error code; for an error of bluetoothd, the platform's code of the same
  /// meaning (0 when there is none).
  int code = 0;
  std::string message;  ///< the platform's text, for the log
  /// Where the error comes from: empty for the platform's own errors ("CBErrorDomain"), the
  /// D-Bus error name for errors of bluetoothd ("org.bluez.Error.Failed").
  std::string domain;
};

/// What a characteristic allows.
struct CharacteristicProperties {
  bool read = false;                  ///< it can be read
  bool write = false;                 ///< it can be written with a response
  bool writeWithoutResponse = false;  ///< it can be written without a response
  bool notify = false;                ///< it can notify its value when it changes
};

/// A characteristic of a discovered service. Its value is the last one read or notified.
/// Backends may subclass it to keep their own handle.
class HCF_API Characteristic {
 public:
  /// A characteristic of `service` (held without ownership), with no value and not notifying.
  /// Backends make them at characteristic discovery.
  Characteristic(UUID uuid, CharacteristicProperties properties, std::weak_ptr<Service> service);
  virtual ~Characteristic();

  /// The characteristic's UUID.
  const UUID& uuid() const { return uuid_; }
  /// What it allows, as discovered.
  const CharacteristicProperties& properties() const { return properties_; }
  /// The last value read or notified; empty before the first.
  const std::optional<Bytes>& value() const { return value_; }
  /// True while notifications are switched on.
  bool isNotifying() const { return notifying_; }
  /// The service it belongs to; none once the peripheral has dropped it.
  std::shared_ptr<Service> service() const { return service_.lock(); }

  // Backends keep these current.
  /// Stores the value just read or notified. For backends, on the main queue.
  void setValue(std::optional<Bytes> value) { value_ = std::move(value); }
  /// Records whether notifications are on. For backends, on the main queue.
  void setNotifying(bool on) { notifying_ = on; }

 private:
  UUID uuid_;
  CharacteristicProperties properties_;
  std::weak_ptr<Service> service_;
  std::optional<Bytes> value_;
  bool notifying_ = false;
};

/// A discovered service and the characteristics discovered in it.
class HCF_API Service {
 public:
  /// A service of `peripheral` (held without ownership), with no characteristics yet. Backends
  /// make them at service discovery.
  Service(UUID uuid, std::weak_ptr<Peripheral> peripheral);
  virtual ~Service();

  /// The service's UUID.
  const UUID& uuid() const { return uuid_; }
  /// The characteristics discovered so far; empty before their discovery.
  const std::vector<std::shared_ptr<Characteristic>>& characteristics() const {
    return characteristics_;
  }
  /// The peripheral it belongs to; none once that is gone.
  std::shared_ptr<Peripheral> peripheral() const { return peripheral_.lock(); }

  // Backends fill this at characteristic discovery.
  /// Replaces the discovered characteristics. For backends, on the main queue.
  void setCharacteristics(std::vector<std::shared_ptr<Characteristic>> c) {
    characteristics_ = std::move(c);
  }

 private:
  UUID uuid_;
  std::weak_ptr<Peripheral> peripheral_;
  std::vector<std::shared_ptr<Characteristic>> characteristics_;
};

}  // namespace ble
HCF_NAMESPACE_END
