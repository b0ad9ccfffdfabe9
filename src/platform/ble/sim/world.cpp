#include <algorithm>
#include <random>

#include "sim_internal.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

namespace {

std::string randomIdentifier() {
  static std::mt19937_64 rng(std::random_device{}());
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string id;
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) id += '-';
    id += kHex[rng() & 0xF];
  }
  return id;
}

}  // namespace

std::vector<std::shared_ptr<SimCentral>> World::Impl::liveCentrals() {
  std::vector<std::shared_ptr<SimCentral>> out;
  std::erase_if(centrals, [](const auto& w) { return w.expired(); });
  for (const auto& w : centrals) {
    if (auto c = w.lock()) out.push_back(std::move(c));
  }
  return out;
}

World::World() : impl_(std::make_unique<Impl>()) {}
World::~World() = default;

std::shared_ptr<World> World::create() { return std::shared_ptr<World>(new World()); }

std::shared_ptr<Device> World::addDevice(std::optional<std::string> identifier) {
  auto impl = std::make_unique<Device::Impl>();
  impl->world = weak_from_this();
  impl->identifier = identifier ? *identifier : randomIdentifier();
  auto device = std::make_shared<Device>(std::move(impl));
  device->impl().self = device;
  impl_->devices.push_back(device);
  return device;
}

void World::removeDevice(const std::shared_ptr<Device>& device) {
  device->setAdvertising(false);
  device->disconnect();
  std::erase(impl_->devices, device);
}

const std::vector<std::shared_ptr<Device>>& World::devices() const { return impl_->devices; }

void World::setRadioState(ManagerState state) {
  if (state == impl_->radio) return;
  impl_->radio = state;
  if (state != ManagerState::PoweredOn) {
    // Links end silently with the radio; the devices forget those connections.
    for (const auto& d : impl_->devices) {
      for (const auto& p : d->impl().liveConnections()) p->dropped();
      d->impl().connections.clear();
    }
  }
  for (const auto& c : impl_->liveCentrals()) c->radioChanged(state);
}

ManagerState World::radioState() const { return impl_->radio; }

std::shared_ptr<CentralManager> World::makeCentralManager(
    std::weak_ptr<CentralManagerDelegate> delegate) {
  auto central = std::make_shared<SimCentral>(weak_from_this());
  central->setDelegate(std::move(delegate));
  impl_->centrals.push_back(central);
  // The platform reports the radio's state shortly after the central is made.
  std::weak_ptr<SimCentral> weak = central;
  dispatch::mainQueue().after(std::chrono::milliseconds(1), [weak, world = weak_from_this()] {
    auto c = weak.lock();
    auto w = world.lock();
    if (c && w) c->radioChanged(w->radioState());
  });
  return central;
}

// ---- Fault --------------------------------------------------------------------------------

namespace {
Fault makeFault(Fault::Kind kind, Operation op, std::optional<UUID> target) {
  Fault f;
  f.kind = kind;
  f.operation = op;
  f.target = target;
  return f;
}
}  // namespace

Fault Fault::dropAnswer(Operation op, std::optional<UUID> target) {
  return makeFault(Kind::DropAnswer, op, target);
}
Fault Fault::wrongLength(Operation op, std::optional<UUID> target, std::size_t length) {
  Fault f = makeFault(Kind::WrongLength, op, target);
  f.length = length;
  return f;
}
Fault Fault::delayed(Operation op, std::optional<UUID> target, dispatch::Duration delay) {
  Fault f = makeFault(Kind::Delay, op, target);
  f.delay = delay;
  return f;
}
Fault Fault::answerAs(Operation op, std::optional<UUID> target, UUID other) {
  Fault f = makeFault(Kind::ReportAs, op, target);
  f.reportAs = other;
  return f;
}
Fault Fault::disconnectBefore(Operation op, std::optional<UUID> target) {
  return makeFault(Kind::DisconnectBefore, op, target);
}
Fault Fault::disconnectAfter(Operation op, std::optional<UUID> target) {
  return makeFault(Kind::DisconnectAfter, op, target);
}
Fault Fault::gattError(Operation op, std::optional<UUID> target, int code) {
  Fault f = makeFault(Kind::GattError, op, target);
  f.code = code;
  return f;
}
Fault Fault::failConnect() { return makeFault(Kind::FailConnect, Operation::Connect, {}); }
Fault Fault::repeated(int n) const {
  Fault f = *this;
  f.times = n;
  return f;
}

// ---- Device -------------------------------------------------------------------------------

Device::Device(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Device::~Device() = default;

std::vector<Fault> Device::Impl::takeFaults(Operation op, const std::optional<UUID>& target) {
  std::vector<Fault> hit;
  for (auto& f : faults) {
    if (f.operation != op || f.times == 0) continue;
    if (f.target && (!target || !(*f.target == *target))) continue;
    hit.push_back(f);
    if (f.times > 0) --f.times;
  }
  std::erase_if(faults, [](const Fault& f) { return f.times == 0; });
  return hit;
}

std::vector<std::shared_ptr<SimPeripheral>> Device::Impl::liveConnections() {
  std::vector<std::shared_ptr<SimPeripheral>> out;
  std::erase_if(connections, [](const auto& w) {
    auto p = w.lock();
    return !p || p->state() != PeripheralState::Connected;
  });
  for (const auto& w : connections) {
    if (auto p = w.lock()) out.push_back(std::move(p));
  }
  return out;
}

const std::string& Device::identifier() const { return impl_->identifier; }

void Device::setName(std::optional<std::string> name) {
  impl_->name = std::move(name);
  impl_->advertisement.localName = impl_->name;
  ++impl_->advertisementVersion;
}

std::optional<std::string> Device::name() const { return impl_->name; }

void Device::setAdvertisement(AdvertisementData data) {
  impl_->advertisement = std::move(data);
  ++impl_->advertisementVersion;
  auto w = impl_->world.lock();
  auto self = impl_->self.lock();
  if (!w || !self) return;
  for (const auto& c : w->impl_->liveCentrals()) c->advertisementChanged(self);
}

const AdvertisementData& Device::advertisement() const { return impl_->advertisement; }

void Device::setAdvertising(bool on) {
  if (impl_->advertising == on) return;
  impl_->advertising = on;
  if (!on) return;
  auto w = impl_->world.lock();
  auto self = impl_->self.lock();
  if (!w || !self) return;
  for (const auto& c : w->impl_->liveCentrals()) c->deviceReachable(self);
}

bool Device::isAdvertising() const { return impl_->advertising; }
void Device::setRSSI(int rssi) { impl_->rssi = rssi; }
void Device::setConnectedToSystem(bool on) { impl_->connectedToSystem = on; }
bool Device::isConnectedToSystem() const { return impl_->connectedToSystem; }
void Device::setLatencies(const Latencies& latencies) { impl_->latencies = latencies; }
const Latencies& Device::latencies() const { return impl_->latencies; }

void Device::addService(const ServiceSpec& service) {
  impl_->services.push_back(service);
  for (const auto& c : service.characteristics) {
    impl_->characteristics[c.uuid] = CharacteristicState{c, service.uuid, {}, {}, {}};
  }
}

bool Device::hasService(const UUID& service) const {
  return std::any_of(impl_->services.begin(), impl_->services.end(),
                     [&](const ServiceSpec& s) { return s.uuid == service; });
}

std::vector<ServiceSpec> Device::services() const {
  std::vector<ServiceSpec> table = impl_->services;
  for (auto& service : table) {
    for (auto& c : service.characteristics) c.value = value(c.uuid);
  }
  return table;
}

bool Device::hasCharacteristic(const UUID& characteristic) const {
  return impl_->characteristics.count(characteristic) > 0;
}

void Device::setValue(const UUID& characteristic, Bytes value) {
  auto it = impl_->characteristics.find(characteristic);
  if (it != impl_->characteristics.end()) it->second.spec.value = std::move(value);
}

Bytes Device::value(const UUID& characteristic) const {
  auto it = impl_->characteristics.find(characteristic);
  return it == impl_->characteristics.end() ? Bytes{} : it->second.spec.value;
}

void Device::setReadHandler(const UUID& characteristic, std::function<Bytes()> handler) {
  auto it = impl_->characteristics.find(characteristic);
  if (it != impl_->characteristics.end()) it->second.readHandler = std::move(handler);
}

void Device::setWriteHandler(const UUID& characteristic,
                             std::function<void(const Bytes&)> handler) {
  auto it = impl_->characteristics.find(characteristic);
  if (it != impl_->characteristics.end()) it->second.writeHandler = std::move(handler);
}

std::vector<Bytes> Device::writes(const UUID& characteristic) const {
  auto it = impl_->characteristics.find(characteristic);
  return it == impl_->characteristics.end() ? std::vector<Bytes>{} : it->second.writes;
}

void Device::notify(const UUID& characteristic, Bytes value) {
  if (!hasCharacteristic(characteristic)) return;
  for (const auto& p : impl_->liveConnections()) p->deliverNotification(characteristic, value);
}

void Device::disconnect() {
  for (const auto& p : impl_->liveConnections()) {
    if (auto c = p->central()) c->linkLost(p, peripheralDisconnectedError());
  }
  impl_->connections.clear();
}

std::size_t Device::connectionCount() const { return impl_->liveConnections().size(); }

void Device::injectFault(const Fault& fault) { impl_->faults.push_back(fault); }
void Device::clearFaults() { impl_->faults.clear(); }

}  // namespace ble::sim
HCF_NAMESPACE_END
