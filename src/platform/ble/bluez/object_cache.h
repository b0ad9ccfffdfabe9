// BlueZ's objects as the backend last heard of them: adapters, devices, GATT services and
// characteristics, kept current from the bus's signals. Main queue only.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bus_values.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

struct AdapterObject {
  std::string path;
  std::string address;
  bool powered = false;
  bool discovering = false;
};

struct DeviceObject {
  std::string path;
  std::string adapter;
  std::string address;
  std::string addressType;  ///< "public" or "random"
  std::optional<std::string> name;
  std::optional<std::int16_t> rssi;  ///< empty when not seen by the current discovery
  std::vector<std::string> uuids;
  std::map<std::uint16_t, Bytes> manufacturerData;
  bool connected = false;
  bool servicesResolved = false;
};

struct ServiceObject {
  std::string path;
  std::string device;
  std::string uuid;
};

struct CharacteristicObject {
  std::string path;
  std::string service;
  std::string uuid;
  std::vector<std::string> flags;
  bool notifying = false;
};

class ObjectCache {
 public:
  /// Starts over from a "GetManagedObjects" reply.
  void reset(const std::vector<ObjectAdded>& objects);
  void clear();
  void apply(const ObjectAdded& added);
  void apply(const ObjectRemoved& removed);
  void apply(const PropertiesChanged& changed);

  /// The adapter named `name` ("hci0"), or the first one when `name` is empty.
  const AdapterObject* adapter(const std::string& name) const;
  const DeviceObject* device(const std::string& path) const;
  const std::map<std::string, DeviceObject>& devices() const { return devices_; }
  /// The services of a device, and the characteristics of a service, in path order (the
  /// order of the device's attribute table).
  std::vector<const ServiceObject*> servicesOf(const std::string& devicePath) const;
  std::vector<const CharacteristicObject*> characteristicsOf(const std::string& servicePath) const;
  const CharacteristicObject* characteristic(const std::string& path) const;

 private:
  std::map<std::string, AdapterObject> adapters_;
  std::map<std::string, DeviceObject> devices_;
  std::map<std::string, ServiceObject> services_;
  std::map<std::string, CharacteristicObject> characteristics_;
};

}  // namespace ble::bluez
HCF_NAMESPACE_END
