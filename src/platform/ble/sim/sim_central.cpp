#include <algorithm>

#include "hcf/core/log.h"
#include "sim_internal.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

namespace {

// How often a scanning central looks at the advertisements around it.
constexpr auto kScanTick = std::chrono::milliseconds(100);
// How soon a scanning central sees a changed advertisement.
constexpr auto kAdvertisementChangeDelay = std::chrono::milliseconds(5);

Error connectionFailedError() { return Error{10, "The connection has failed unexpectedly."}; }

}  // namespace

void SimCentral::radioChanged(ManagerState state) {
  std::weak_ptr<SimCentral> weak = weak_from_this();
  dispatch::mainQueue().async([weak, state] {
    auto self = weak.lock();
    if (!self) return;
    self->state_ = state;
    if (state != ManagerState::PoweredOn) {
      self->scanning_ = false;
      self->scanTimer_.cancel();
      for (auto& [device, p] : self->peripherals_) p->dropped();
    }
    if (auto d = self->delegate()) d->centralManagerDidUpdateState(*self);
  });
}

void SimCentral::scanForPeripheralsWithServices(const std::optional<std::vector<UUID>>& services,
                                                const ScanOptions& options) {
  if (state_ != ManagerState::PoweredOn) {
    logLine("API MISUSE: can only accept this command while in the powered on state");
    return;
  }
  scanning_ = true;
  scanFilter_ = services;
  scanOptions_ = options;
  reported_.clear();
  scanTimer_.cancel();
  std::weak_ptr<SimCentral> weak = weak_from_this();
  scanTimer_ = dispatch::mainQueue().every(kScanTick, [weak] {
    if (auto self = weak.lock()) self->tick();
  });
}

void SimCentral::stopScan() {
  scanning_ = false;
  scanTimer_.cancel();
}

bool SimCentral::matchesFilter(const Device& device) const {
  if (!scanFilter_ || scanFilter_->empty()) return true;
  const auto& advertised = device.advertisement().serviceUUIDs;
  if (!advertised) return false;
  return std::any_of(scanFilter_->begin(), scanFilter_->end(), [&](const UUID& u) {
    return std::find(advertised->begin(), advertised->end(), u) != advertised->end();
  });
}

void SimCentral::tick() {
  auto world = world_.lock();
  if (!world || !scanning_) return;
  const auto devices = world->devices();  // a copy: delegates may add or remove devices
  for (const auto& d : devices) report(d);
}

void SimCentral::report(const std::shared_ptr<Device>& device) {
  if (!scanning_ || state_ != ManagerState::PoweredOn || !device->isAdvertising() ||
      !matchesFilter(*device)) {
    return;
  }
  const std::uint64_t version = device->impl().advertisementVersion + 1;  // 0 = never reported
  auto& last = reported_[device.get()];
  if (!scanOptions_.allowDuplicates && last == version) return;
  last = version;
  auto peripheral = peripheralFor(device);
  if (auto d = delegate()) {
    d->didDiscoverPeripheral(*this, peripheral, device->advertisement(), device->impl().rssi);
  }
}

void SimCentral::advertisementChanged(const std::shared_ptr<Device>& device) {
  if (!scanning_) return;
  std::weak_ptr<SimCentral> weak = weak_from_this();
  std::weak_ptr<Device> weakDevice = device;
  dispatch::mainQueue().after(kAdvertisementChangeDelay, [weak, weakDevice] {
    auto self = weak.lock();
    auto d = weakDevice.lock();
    if (self && d) self->report(d);
  });
}

void SimCentral::deviceReachable(const std::shared_ptr<Device>& device) {
  auto it = peripherals_.find(device.get());
  if (it != peripherals_.end() && it->second->state() == PeripheralState::Connecting) {
    attemptConnection(it->second);
  }
}

std::shared_ptr<SimPeripheral> SimCentral::peripheralFor(const std::shared_ptr<Device>& device) {
  auto& p = peripherals_[device.get()];
  if (!p) p = std::make_shared<SimPeripheral>(weak_from_this(), device);
  return p;
}

void SimCentral::connectPeripheral(const std::shared_ptr<Peripheral>& peripheral,
                                   const ConnectOptions& /*options*/) {
  auto p = std::dynamic_pointer_cast<SimPeripheral>(peripheral);
  if (!p || p->central().get() != this) {
    logLine("API MISUSE: connectPeripheral with a peripheral of another central");
    return;
  }
  if (state_ != ManagerState::PoweredOn) {
    logLine("API MISUSE: can only accept this command while in the powered on state");
    return;
  }
  if (p->state() == PeripheralState::Connected || p->state() == PeripheralState::Connecting) return;
  p->setState(PeripheralState::Connecting);
  attemptConnection(p);
}

void SimCentral::attemptConnection(const std::shared_ptr<SimPeripheral>& peripheral) {
  auto world = world_.lock();
  const auto& device = peripheral->device();
  if (!world) return;
  const auto& devices = world->devices();
  const bool present = std::find(devices.begin(), devices.end(), device) != devices.end();
  if (!present || !(device->isAdvertising() || device->isConnectedToSystem())) {
    return;  // stays pending until the device is reachable or the attempt is cancelled
  }
  bool fail = false;
  bool answer = true;
  bool dropAfter = false;
  dispatch::Duration delay = device->latencies().connect;
  for (const auto& f : device->impl().takeFaults(Operation::Connect, std::nullopt)) {
    if (f.kind == Fault::Kind::FailConnect) fail = true;
    if (f.kind == Fault::Kind::DropAnswer || f.kind == Fault::Kind::DisconnectBefore) {
      answer = false;
    }
    if (f.kind == Fault::Kind::Delay) delay += f.delay;
    if (f.kind == Fault::Kind::DisconnectAfter) dropAfter = true;
  }
  if (!answer) return;  // the attempt hangs, as a lost connection request does
  std::weak_ptr<SimCentral> weak = weak_from_this();
  std::weak_ptr<SimPeripheral> weakPeripheral = peripheral;
  dispatch::mainQueue().after(delay, [weak, weakPeripheral, fail, dropAfter] {
    auto self = weak.lock();
    auto p = weakPeripheral.lock();
    if (!self || !p || p->state() != PeripheralState::Connecting) return;  // cancelled
    if (fail) {
      p->setState(PeripheralState::Disconnected);
      if (auto d = self->delegate())
        d->didFailToConnectPeripheral(*self, p, connectionFailedError());
      return;
    }
    p->connected();
    // A peripheral connected again is one connection, not two.
    auto& connections = p->device()->impl().connections;
    std::erase_if(connections, [&](const auto& w) { return w.lock() == p; });
    connections.push_back(p);
    if (auto d = self->delegate()) d->didConnectPeripheral(*self, p);
    if (dropAfter) self->linkLost(p, peripheralDisconnectedError());
  });
}

void SimCentral::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
  auto p = std::dynamic_pointer_cast<SimPeripheral>(peripheral);
  if (!p || p->central().get() != this) return;
  if (p->state() == PeripheralState::Connecting) {
    p->setState(PeripheralState::Disconnected);
    return;
  }
  if (p->state() != PeripheralState::Connected) return;
  p->dropped();
  p->setState(PeripheralState::Disconnecting);
  std::weak_ptr<SimCentral> weak = weak_from_this();
  dispatch::mainQueue().after(p->device()->latencies().response, [weak, p] {
    auto self = weak.lock();
    if (!self || p->state() != PeripheralState::Disconnecting) return;
    p->setState(PeripheralState::Disconnected);
    if (auto d = self->delegate()) d->didDisconnectPeripheral(*self, p, std::nullopt);
  });
}

void SimCentral::linkLost(const std::shared_ptr<SimPeripheral>& peripheral,
                          std::optional<Error> error) {
  if (peripheral->state() != PeripheralState::Connected) return;
  peripheral->dropped();
  std::weak_ptr<SimCentral> weak = weak_from_this();
  dispatch::mainQueue().after(peripheral->device()->latencies().response,
                              [weak, peripheral, error] {
                                auto self = weak.lock();
                                if (!self || peripheral->state() != PeripheralState::Disconnected) {
                                  return;
                                }
                                if (auto d = self->delegate()) {
                                  d->didDisconnectPeripheral(*self, peripheral, error);
                                }
                              });
}

std::vector<std::shared_ptr<Peripheral>> SimCentral::retrieveConnectedPeripheralsWithServices(
    const std::vector<UUID>& services) {
  std::vector<std::shared_ptr<Peripheral>> out;
  auto world = world_.lock();
  if (!world || state_ != ManagerState::PoweredOn) return out;
  for (const auto& d : world->devices()) {
    // Connected to the system by another application, or by this central: the platform lists
    // its own links too.
    const auto own = peripherals_.find(d.get());
    const bool ownLink =
        own != peripherals_.end() && own->second->state() == PeripheralState::Connected;
    if (!d->isConnectedToSystem() && !ownLink) continue;
    const bool offers = std::any_of(services.begin(), services.end(),
                                    [&](const UUID& u) { return d->hasService(u); });
    if (offers) out.push_back(peripheralFor(d));
  }
  return out;
}

}  // namespace ble::sim
HCF_NAMESPACE_END
