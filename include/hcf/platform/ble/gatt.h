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

using Bytes = hcf::Bytes;

class Peripheral;
class Service;

/// An error the Bluetooth platform reports with an event. The kit never inspects it beyond
/// logging.
struct Error {
  int code = 0;
  std::string message;
  /// Where the error comes from: empty for the platform's own errors ("CBErrorDomain"), the
  /// D-Bus error name for errors of bluetoothd ("org.bluez.Error.Failed").
  std::string domain;
};

/// What a characteristic allows.
struct CharacteristicProperties {
  bool read = false;
  bool write = false;
  bool writeWithoutResponse = false;
  bool notify = false;
};

/// A characteristic of a discovered service. Its value is the last one read or notified.
/// Backends may subclass it to keep their own handle.
class HCF_API Characteristic {
 public:
  Characteristic(UUID uuid, CharacteristicProperties properties, std::weak_ptr<Service> service);
  virtual ~Characteristic();

  const UUID& uuid() const { return uuid_; }
  const CharacteristicProperties& properties() const { return properties_; }
  /// The last value read or notified; empty before the first.
  const std::optional<Bytes>& value() const { return value_; }
  bool isNotifying() const { return notifying_; }
  std::shared_ptr<Service> service() const { return service_.lock(); }

  // Backends keep these current.
  void setValue(std::optional<Bytes> value) { value_ = std::move(value); }
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
  Service(UUID uuid, std::weak_ptr<Peripheral> peripheral);
  virtual ~Service();

  const UUID& uuid() const { return uuid_; }
  const std::vector<std::shared_ptr<Characteristic>>& characteristics() const {
    return characteristics_;
  }
  std::shared_ptr<Peripheral> peripheral() const { return peripheral_.lock(); }

  // Backends fill this at characteristic discovery.
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
