// The BlueZ central: discovery through the adapter, connections through the devices.
#include <algorithm>
#include <cstdio>

#include "bluez_internal.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

namespace {

Error connectionFailedError() { return Error{10, "The connection has failed unexpectedly.", ""}; }
Error peripheralDisconnectedError() {
  return Error{7, "The specified device has disconnected from us.", ""};
}
Error resolutionTimeoutError() {
  return Error{6, "The device's services were not resolved in time.", ""};
}
Error deviceNotFoundError() {
  return Error{0, "Device not found", "org.freedesktop.DBus.Error.UnknownObject"};
}
// The reply to a call on an object bluetoothd no longer has.
bool isUnknownObject(const BusError& e) {
  return e.name == "org.freedesktop.DBus.Error.UnknownObject" ||
         e.name == "org.freedesktop.DBus.Error.UnknownMethod";
}
Error daemonGoneError() {
  return Error{0, "The Bluetooth daemon went away.", "org.freedesktop.DBus.Error.ServiceUnknown"};
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), ::tolower);
  return s;
}

AdvertisementData advertisementOf(const DeviceObject& d) {
  AdvertisementData a;
  if (!d.uuids.empty()) {
    std::vector<UUID> uuids;
    for (const auto& s : d.uuids) {
      if (auto u = UUID::parse(s)) uuids.push_back(*u);
    }
    a.serviceUUIDs = std::move(uuids);
  }
  if (!d.manufacturerData.empty()) {
    // The platform's form: the company identifier (little-endian), then its data.
    const auto& [company, data] = *d.manufacturerData.begin();
    Bytes bytes;
    bytes.reserve(data.size() + 2);
    bytes.push_back(static_cast<std::uint8_t>(company & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(company >> 8));
    for (const auto b : data) bytes.push_back(b);
    a.manufacturerData = std::move(bytes);
  }
  a.localName = d.name;
  return a;
}

// What a scan without duplicates compares: a device is reported again when this changes.
std::string advertisementKey(const DeviceObject& d) {
  std::string key = d.name.value_or("") + "|";
  for (const auto& u : d.uuids) key += lower(u) + ",";
  for (const auto& [company, data] : d.manufacturerData) {
    key += "|" + std::to_string(company) + ":";
    for (auto b : data) key += std::to_string(b) + ".";
  }
  return key;
}

std::uint64_t fnv1a(const std::string& text, std::uint64_t seed) {
  std::uint64_t h = seed;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

}  // namespace

BluezCentral::BluezCentral(std::shared_ptr<Backend::Impl> backend) : backend_(std::move(backend)) {}

BluezCentral::~BluezCentral() {
  // Its entry in the backend has expired already: discovery goes on only for the others.
  if (scanning_) backend_->updateDiscovery();
}

std::string BluezCentral::identifierFor(const DeviceObject& device) const {
  // Stable for this adapter and device, in the platform's UUID form (version 5 layout).
  const auto* adapter = backend_->cache.adapter(backend_->options.adapter);
  const std::string key = (adapter ? adapter->address : std::string()) + "/" + device.address;
  const std::uint64_t hi = fnv1a(key, 0xcbf29ce484222325ULL);
  const std::uint64_t lo = fnv1a(key, 0x84222325cbf29ce4ULL);
  std::uint8_t b[16];
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<std::uint8_t>(hi >> (56 - 8 * i));
    b[8 + i] = static_cast<std::uint8_t>(lo >> (56 - 8 * i));
  }
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x50);
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

void BluezCentral::reportState() {
  if (!backend_->loaded) return;  // still Unknown: reported once the daemon has answered
  const ManagerState now = backend_->radioState();
  if (stateReported_ && now == state_) return;
  const bool wasOn = state_ == ManagerState::PoweredOn;
  state_ = now;
  stateReported_ = true;
  if (wasOn && now != ManagerState::PoweredOn) {
    // As the platform does: scans and connections end without events of their own.
    scanning_ = false;
    reported_.clear();
    for (auto& [path, p] : peripherals_) {
      if (p->state() == PeripheralState::Disconnected) continue;
      p->resolveTimer.cancel();
      p->rediscoverTimer.cancel();
      p->rediscovering = false;
      ++p->attempt;
      p->setState(PeripheralState::Disconnected);
      p->linkEnded();
    }
  }
  if (auto d = delegate()) d->centralManagerDidUpdateState(*this);
}

void BluezCentral::scanForPeripheralsWithServices(const std::optional<std::vector<UUID>>& services,
                                                  const ScanOptions& options) {
  if (state_ != ManagerState::PoweredOn) {
    logLine("API MISUSE: can only accept this command while in the powered on state");
    return;
  }
  scanning_ = true;
  filter_ = services;
  filterUuids_.reset();
  if (services && !services->empty()) {
    filterUuids_.emplace();
    for (const auto& u : *services) filterUuids_->push_back(u.lowercaseString());
  }
  scanOptions_ = options;
  reported_.clear();
  backend_->updateDiscovery();
  // Devices another discovery saw lately are reported now; the others as they advertise.
  std::weak_ptr<BluezCentral> weak = weak_from_this();
  dispatch::mainQueue().async([weak] {
    auto self = weak.lock();
    if (!self || !self->scanning_) return;
    std::vector<DeviceObject> seen;
    for (const auto& [path, d] : self->backend_->cache.devices()) {
      if (d.rssi) seen.push_back(d);
    }
    for (const auto& d : seen) self->deviceAdvertised(d);
  });
}

bool BluezCentral::wantsDiscovery() const {
  return scanning_ || std::any_of(peripherals_.begin(), peripherals_.end(),
                                  [](const auto& e) { return e.second->rediscovering; });
}

std::optional<std::vector<std::string>> BluezCentral::discoveryFilter() const {
  // A forgotten device is looked for by address or name, whatever it advertises.
  if (std::any_of(peripherals_.begin(), peripherals_.end(),
                  [](const auto& e) { return e.second->rediscovering; })) {
    return std::nullopt;
  }
  return scanning_ ? filterUuids_ : std::nullopt;
}

void BluezCentral::stopScan() {
  scanning_ = false;
  reported_.clear();
  backend_->updateDiscovery();
}

bool BluezCentral::matchesFilter(const DeviceObject& device) const {
  // The daemon merges the filters of all its clients, so it reports more than was asked for.
  if (!filterUuids_) return true;
  return std::any_of(device.uuids.begin(), device.uuids.end(), [&](const std::string& u) {
    return std::find(filterUuids_->begin(), filterUuids_->end(), lower(u)) != filterUuids_->end();
  });
}

void BluezCentral::deviceAdvertised(const DeviceObject& device) {
  if (!scanning_ || state_ != ManagerState::PoweredOn) return;
  if (device.adapter != backend_->adapterPath() || !matchesFilter(device)) return;
  const std::string key = advertisementKey(device);
  auto& last = reported_[device.path];
  if (!scanOptions_.allowDuplicates && last == key) return;
  last = key;
  auto p = peripheralFor(device);
  p->setName(device.name);
  if (auto d = delegate())
    d->didDiscoverPeripheral(*this, p, advertisementOf(device), *device.rssi);
}

std::shared_ptr<BluezPeripheral> BluezCentral::peripheralFor(const DeviceObject& device) {
  auto& p = peripherals_[device.path];
  if (!p) {
    p = std::make_shared<BluezPeripheral>(weak_from_this(), backend_, device.path,
                                          identifierFor(device));
    p->setName(device.name);
  }
  return p;
}

std::shared_ptr<BluezPeripheral> BluezCentral::own(const std::shared_ptr<Peripheral>& p) const {
  auto b = std::dynamic_pointer_cast<BluezPeripheral>(p);
  if (!b) return nullptr;
  auto it = peripherals_.find(b->path());
  return it != peripherals_.end() && it->second == b ? b : nullptr;
}

void BluezCentral::connectPeripheral(const std::shared_ptr<Peripheral>& peripheral,
                                     const ConnectOptions& /*options*/) {
  auto p = own(peripheral);
  if (!p) {
    logLine("API MISUSE: connectPeripheral with a peripheral of another central");
    return;
  }
  if (state_ != ManagerState::PoweredOn) {
    logLine("API MISUSE: can only accept this command while in the powered on state");
    return;
  }
  if (p->state() == PeripheralState::Connected || p->state() == PeripheralState::Connecting) return;
  p->setState(PeripheralState::Connecting);
  ++p->attempt;
  p->sawLink = false;
  p->rediscovered = false;
  if (!backend_->cache.device(p->path())) {
    rediscover(p);
    return;
  }
  attemptConnection(p, backend_->options.inProgressRetries);
}

void BluezCentral::rediscover(const std::shared_ptr<BluezPeripheral>& p) {
  logLine("bluez: " + p->path() + " was forgotten by bluetoothd; discovering it again");
  p->rediscovering = true;
  p->rediscovered = true;
  std::weak_ptr<BluezCentral> weak = weak_from_this();
  std::weak_ptr<BluezPeripheral> weakP = p;
  const std::uint64_t attempt = p->attempt;
  p->rediscoverTimer =
      dispatch::mainQueue().after(backend_->options.rediscoveryTimeout, [weak, weakP, attempt] {
        auto s = weak.lock();
        auto q = weakP.lock();
        if (s && q && q->attempt == attempt && q->rediscovering) {
          s->failConnection(q, deviceNotFoundError());
        }
      });
  backend_->updateDiscovery();
  // A discovery already under way may have seen it since.
  if (const auto* device = backend_->cache.device(p->path()); device && device->rssi) {
    seenAgain(*device);
  }
}

void BluezCentral::endRediscovery(const std::shared_ptr<BluezPeripheral>& p) {
  if (!p->rediscovering) return;
  p->rediscovering = false;
  p->rediscoverTimer.cancel();
  backend_->updateDiscovery();
}

void BluezCentral::seenAgain(const DeviceObject& device) {
  if (device.adapter != backend_->adapterPath()) return;
  std::shared_ptr<BluezPeripheral> found;
  for (const auto& [path, p] : peripherals_) {
    if (!p->rediscovering || p->state() != PeripheralState::Connecting) continue;
    // A private address that rotated names a new object: the instrument is known by the
    // name it advertises.
    if (path == device.path ||
        (device.addressType == "random" && device.name && p->name() == device.name)) {
      found = p;
      break;
    }
  }
  if (!found) return;
  if (found->path() != device.path) {
    peripherals_.erase(found->path());
    found->setPath(device.path);
    peripherals_[device.path] = found;
  }
  endRediscovery(found);
  attemptConnection(found, backend_->options.inProgressRetries);
}

void BluezCentral::attemptConnection(const std::shared_ptr<BluezPeripheral>& peripheral,
                                     int triesLeft) {
  std::weak_ptr<BluezCentral> weak = weak_from_this();
  std::weak_ptr<BluezPeripheral> weakP = peripheral;
  const std::uint64_t attempt = peripheral->attempt;
  const std::uint64_t call = ++peripheral->connectCall;
  backend_->call(
      {peripheral->path(), kDeviceInterface, "Connect", {}, {}},
      [weak, weakP, attempt, call, triesLeft](Reply r) {
        auto self = weak.lock();
        auto p = weakP.lock();
        if (!self || !p || p->attempt != attempt || p->connectCall != call ||
            p->state() != PeripheralState::Connecting) {
          return;
        }
        if (isInProgress(r.error) && triesLeft > 0) {
          dispatch::mainQueue().after(
              self->backend_->options.inProgressRetryDelay, [weak, weakP, attempt, triesLeft] {
                auto s = weak.lock();
                auto q = weakP.lock();
                if (s && q && q->attempt == attempt && q->state() == PeripheralState::Connecting) {
                  s->attemptConnection(q, triesLeft - 1);
                }
              });
          return;
        }
        if (r.error && isUnknownObject(*r.error) && (p->rediscovering || !p->rediscovered)) {
          if (!p->rediscovering) self->rediscover(p);
          return;
        }
        if (r.error && r.error->name != "org.bluez.Error.AlreadyConnected") {
          // Without an answer the daemon may still bring the link up: take it down.
          if (r.error->name == "org.freedesktop.DBus.Error.NoReply" ||
              r.error->name == "org.freedesktop.DBus.Error.Timeout") {
            self->backend_->call({p->path(), kDeviceInterface, "Disconnect", {}, {}}, [](Reply) {});
          }
          self->failConnection(p, errorFromBus(*r.error));
          return;
        }
        // The link is up; the connection completes once the services are resolved.
        p->sawLink = true;
        const auto* device = self->backend_->cache.device(p->path());
        if (device && device->servicesResolved) {
          self->connected(p);
          return;
        }
        p->resolveTimer = dispatch::mainQueue().after(
            self->backend_->options.serviceResolutionTimeout, [weak, weakP, attempt] {
              auto s = weak.lock();
              auto q = weakP.lock();
              if (!s || !q || q->attempt != attempt || q->state() != PeripheralState::Connecting) {
                return;
              }
              s->backend_->call({q->path(), kDeviceInterface, "Disconnect", {}, {}}, [](Reply) {});
              s->failConnection(q, resolutionTimeoutError());
            });
      });
}

void BluezCentral::connected(const std::shared_ptr<BluezPeripheral>& p) {
  p->resolveTimer.cancel();
  endRediscovery(p);
  p->setState(PeripheralState::Connected);
  if (auto d = delegate()) d->didConnectPeripheral(*this, p);
}

void BluezCentral::failConnection(const std::shared_ptr<BluezPeripheral>& p, Error error) {
  p->resolveTimer.cancel();
  endRediscovery(p);
  ++p->attempt;
  p->setState(PeripheralState::Disconnected);
  p->linkEnded();
  if (auto d = delegate()) d->didFailToConnectPeripheral(*this, p, error);
}

void BluezCentral::linkLost(const std::shared_ptr<BluezPeripheral>& p, std::optional<Error> error) {
  p->setState(PeripheralState::Disconnected);
  p->linkEnded();
  if (auto d = delegate()) d->didDisconnectPeripheral(*this, p, error);
}

void BluezCentral::deviceChanged(const DeviceObject& device, const Properties& changed) {
  if (device.rssi && (changed.rssi || changed.address)) seenAgain(device);
  auto it = peripherals_.find(device.path);
  if (it == peripherals_.end()) return;
  auto p = it->second;
  if (changed.name) p->setName(device.name);
  if (changed.connected) {
    if (*changed.connected) {
      if (p->state() == PeripheralState::Connecting) p->sawLink = true;
    } else if (p->state() == PeripheralState::Connecting && p->sawLink) {
      failConnection(p, connectionFailedError());
      return;
    } else if (p->state() == PeripheralState::Connected) {
      linkLost(p, peripheralDisconnectedError());
      return;
    } else if (p->state() == PeripheralState::Disconnecting) {
      linkLost(p, std::nullopt);
      return;
    }
  }
  if (changed.servicesResolved && *changed.servicesResolved &&
      p->state() == PeripheralState::Connecting && (p->sawLink || device.connected)) {
    connected(p);
  }
}

void BluezCentral::deviceRemoved(const std::string& path) {
  auto it = peripherals_.find(path);
  if (it == peripherals_.end()) return;
  auto p = it->second;
  switch (p->state()) {
    case PeripheralState::Connecting:
      // Forgotten before the link came up: it is looked for again.
      if (!p->sawLink && !p->rediscovered) {
        ++p->connectCall;  // the Connect under way answers for an object that is gone
        rediscover(p);
      } else if (!p->rediscovering) {
        failConnection(p, connectionFailedError());
      }
      break;
    case PeripheralState::Connected:
      linkLost(p, peripheralDisconnectedError());
      break;
    case PeripheralState::Disconnecting:
      linkLost(p, std::nullopt);
      break;
    case PeripheralState::Disconnected:
      break;
  }
  reported_.erase(path);
}

void BluezCentral::valueChanged(const std::string& characteristicPath, const Bytes& value) {
  for (auto& [path, p] : peripherals_) {
    if (characteristicPath.starts_with(path + "/")) {
      p->valueChanged(characteristicPath, value);
      return;
    }
  }
}

void BluezCentral::characteristicAdded(const std::string& path) {
  for (auto& [devicePath, p] : peripherals_) {
    if (path.starts_with(devicePath + "/")) {
      p->characteristicAdded();
      return;
    }
  }
}

void BluezCentral::daemonGone(bool /*busLost*/) {
  // The state changes first, so a delegate that reacts to the disconnections below sees a
  // radio it cannot use; the state report follows them.
  scanning_ = false;
  reported_.clear();
  const ManagerState before = state_;
  state_ = backend_->radioState();
  stateReported_ = true;
  const auto peripherals = peripherals_;  // a copy: delegates may call back
  for (const auto& [path, p] : peripherals) {
    if (p->state() == PeripheralState::Connecting) {
      failConnection(p, daemonGoneError());
    } else if (p->state() != PeripheralState::Disconnected) {
      linkLost(p, daemonGoneError());
    }
  }
  if (state_ != before) {
    if (auto d = delegate()) d->centralManagerDidUpdateState(*this);
  }
}

void BluezCentral::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
  auto p = own(peripheral);
  if (!p) return;
  if (p->state() == PeripheralState::Connecting) {
    // Aborts the attempt; as on the platform, no event follows.
    p->resolveTimer.cancel();
    endRediscovery(p);
    ++p->attempt;
    p->setState(PeripheralState::Disconnected);
    p->linkEnded();
    backend_->call({p->path(), kDeviceInterface, "Disconnect", {}, {}}, [](Reply) {});
    return;
  }
  if (p->state() != PeripheralState::Connected) return;
  p->setState(PeripheralState::Disconnecting);
  p->linkEnded();
  std::weak_ptr<BluezCentral> weak = weak_from_this();
  std::weak_ptr<BluezPeripheral> weakP = p;
  backend_->call({p->path(), kDeviceInterface, "Disconnect", {}, {}}, [weak, weakP](Reply) {
    auto self = weak.lock();
    auto q = weakP.lock();
    // Usually "Connected" false came first and finished it; otherwise the reply does.
    if (self && q && q->state() == PeripheralState::Disconnecting) self->linkLost(q, std::nullopt);
  });
}

std::vector<std::shared_ptr<Peripheral>> BluezCentral::retrieveConnectedPeripheralsWithServices(
    const std::vector<UUID>& services) {
  std::vector<std::shared_ptr<Peripheral>> out;
  if (state_ != ManagerState::PoweredOn) return out;
  std::vector<std::string> wanted;
  for (const auto& u : services) wanted.push_back(u.lowercaseString());
  std::vector<DeviceObject> devices;
  for (const auto& [path, d] : backend_->cache.devices()) {
    if (d.connected && d.adapter == backend_->adapterPath()) devices.push_back(d);
  }
  for (const auto& d : devices) {
    bool offers = false;
    for (const auto& u : d.uuids) {
      offers = offers || std::find(wanted.begin(), wanted.end(), lower(u)) != wanted.end();
    }
    for (const auto* s : backend_->cache.servicesOf(d.path)) {
      offers = offers || std::find(wanted.begin(), wanted.end(), s->uuid) != wanted.end();
    }
    if (offers) out.push_back(peripheralFor(d));
  }
  return out;
}

}  // namespace ble::bluez
HCF_NAMESPACE_END
