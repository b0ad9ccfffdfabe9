#include "object_cache.h"

#include <algorithm>

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

namespace {

template <typename T>
void set(T& field, const std::optional<T>& value) {
  if (value) field = *value;
}

void merge(AdapterObject& a, const Properties& p) {
  set(a.address, p.address);
  set(a.powered, p.powered);
  set(a.discovering, p.discovering);
}

void merge(DeviceObject& d, const Properties& p) {
  set(d.adapter, p.adapter);
  set(d.address, p.address);
  set(d.addressType, p.addressType);
  if (p.name) d.name = p.name;
  if (p.rssi) d.rssi = p.rssi;
  set(d.uuids, p.uuids);
  set(d.manufacturerData, p.manufacturerData);
  set(d.connected, p.connected);
  set(d.servicesResolved, p.servicesResolved);
}

void merge(ServiceObject& s, const Properties& p) {
  set(s.device, p.device);
  set(s.uuid, p.uuid);
  std::transform(s.uuid.begin(), s.uuid.end(), s.uuid.begin(), ::tolower);
}

void merge(CharacteristicObject& c, const Properties& p) {
  set(c.service, p.service);
  set(c.uuid, p.uuid);
  std::transform(c.uuid.begin(), c.uuid.end(), c.uuid.begin(), ::tolower);
  set(c.flags, p.flags);
  set(c.notifying, p.notifying);
}

void invalidate(DeviceObject& d, const std::vector<std::string>& names) {
  for (const auto& n : names) {
    if (n == "RSSI") d.rssi.reset();
    if (n == "Name") d.name.reset();
    if (n == "ManufacturerData") d.manufacturerData.clear();
    if (n == "UUIDs") d.uuids.clear();
  }
}

// Children of `path` in a map keyed by path: "<path>/...".
template <typename Map>
void eraseBelow(Map& map, const std::string& path) {
  const std::string prefix = path + "/";
  for (auto it = map.lower_bound(prefix); it != map.end() && it->first.starts_with(prefix);) {
    it = map.erase(it);
  }
}

}  // namespace

void ObjectCache::reset(const std::vector<ObjectAdded>& objects) {
  clear();
  for (const auto& o : objects) apply(o);
}

void ObjectCache::clear() {
  adapters_.clear();
  devices_.clear();
  services_.clear();
  characteristics_.clear();
}

void ObjectCache::apply(const ObjectAdded& added) {
  for (const auto& [interface, props] : added.interfaces) {
    if (interface == kAdapterInterface) {
      auto& a = adapters_[added.path];
      a.path = added.path;
      merge(a, props);
    } else if (interface == kDeviceInterface) {
      auto& d = devices_[added.path];
      d.path = added.path;
      merge(d, props);
    } else if (interface == kServiceInterface) {
      auto& s = services_[added.path];
      s.path = added.path;
      merge(s, props);
    } else if (interface == kCharacteristicInterface) {
      auto& c = characteristics_[added.path];
      c.path = added.path;
      merge(c, props);
    }
  }
}

void ObjectCache::apply(const ObjectRemoved& removed) {
  for (const auto& interface : removed.interfaces) {
    if (interface == kAdapterInterface) {
      adapters_.erase(removed.path);
    } else if (interface == kDeviceInterface) {
      devices_.erase(removed.path);
      eraseBelow(services_, removed.path);
      eraseBelow(characteristics_, removed.path);
    } else if (interface == kServiceInterface) {
      services_.erase(removed.path);
      eraseBelow(characteristics_, removed.path);
    } else if (interface == kCharacteristicInterface) {
      characteristics_.erase(removed.path);
    }
  }
}

void ObjectCache::apply(const PropertiesChanged& changed) {
  // Changes of objects not (yet) known are dropped: the next reply of the objects has them.
  if (changed.interface == kAdapterInterface) {
    if (auto it = adapters_.find(changed.path); it != adapters_.end()) {
      merge(it->second, changed.changed);
    }
  } else if (changed.interface == kDeviceInterface) {
    if (auto it = devices_.find(changed.path); it != devices_.end()) {
      merge(it->second, changed.changed);
      invalidate(it->second, changed.invalidated);
    }
  } else if (changed.interface == kCharacteristicInterface) {
    if (auto it = characteristics_.find(changed.path); it != characteristics_.end()) {
      merge(it->second, changed.changed);
    }
  }
}

const AdapterObject* ObjectCache::adapter(const std::string& name) const {
  if (name.empty()) return adapters_.empty() ? nullptr : &adapters_.begin()->second;
  auto it = adapters_.find("/org/bluez/" + name);
  return it == adapters_.end() ? nullptr : &it->second;
}

const DeviceObject* ObjectCache::device(const std::string& path) const {
  auto it = devices_.find(path);
  return it == devices_.end() ? nullptr : &it->second;
}

std::vector<const ServiceObject*> ObjectCache::servicesOf(const std::string& devicePath) const {
  std::vector<const ServiceObject*> out;
  for (const auto& [path, s] : services_) {
    if (s.device == devicePath) out.push_back(&s);
  }
  return out;
}

std::vector<const CharacteristicObject*> ObjectCache::characteristicsOf(
    const std::string& servicePath) const {
  std::vector<const CharacteristicObject*> out;
  for (const auto& [path, c] : characteristics_) {
    if (c.service == servicePath) out.push_back(&c);
  }
  return out;
}

const CharacteristicObject* ObjectCache::characteristic(const std::string& path) const {
  auto it = characteristics_.find(path);
  return it == characteristics_.end() ? nullptr : &it->second;
}

}  // namespace ble::bluez
HCF_NAMESPACE_END
