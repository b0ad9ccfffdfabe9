// A BlueZ device as a peripheral: its GATT objects, reads, writes and notifications.
#include <algorithm>

#include "bluez_internal.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

namespace {

// How long characteristic discovery waits for characteristics that have not appeared yet
// (BlueZ may add them after the services are resolved): those asked for by UUID, or, when all
// are asked for and the service has none yet, until none has come for a short while.
constexpr auto kCharacteristicSettle = std::chrono::seconds(1);
constexpr auto kCharacteristicQuiet = std::chrono::milliseconds(100);

CharacteristicProperties propertiesOf(const std::vector<std::string>& flags) {
  CharacteristicProperties p;
  for (const auto& f : flags) {
    if (f == "read") p.read = true;
    if (f == "write" || f == "reliable-write") p.write = true;
    if (f == "write-without-response") p.writeWithoutResponse = true;
    if (f == "notify" || f == "indicate") p.notify = true;
  }
  return p;
}

bool wanted(const std::optional<std::vector<UUID>>& filter, const UUID& uuid) {
  return !filter || filter->empty() ||
         std::find(filter->begin(), filter->end(), uuid) != filter->end();
}

}  // namespace

BluezPeripheral::BluezPeripheral(std::weak_ptr<BluezCentral> central,
                                 std::weak_ptr<Backend::Impl> backend, std::string path,
                                 std::string identifier)
    : central_(std::move(central)),
      backend_(std::move(backend)),
      path_(std::move(path)),
      identifier_(std::move(identifier)) {}

template <typename F>
void BluezPeripheral::toDelegate(F&& f) {
  if (auto d = delegate()) f(*d);
}

std::vector<std::shared_ptr<Service>> BluezPeripheral::services() const {
  return {services_.begin(), services_.end()};
}

std::shared_ptr<BluezCharacteristic> BluezPeripheral::own(
    const std::shared_ptr<Characteristic>& c) const {
  auto b = std::dynamic_pointer_cast<BluezCharacteristic>(c);
  if (!b) return nullptr;
  auto it = characteristics_.find(b->path());
  return it != characteristics_.end() && it->second == b ? b : nullptr;
}

void BluezPeripheral::linkEnded() {
  ++link_;
  services_.clear();
  characteristics_.clear();
  subscribed_.clear();
  readsPending_.clear();
  heldValues_.clear();
  for (auto& w : waiting_) {
    w->settle.cancel();
    w->quiet.cancel();
  }
  waiting_.clear();
}

void BluezPeripheral::discoverServices(const std::optional<std::vector<UUID>>& filter) {
  auto b = backend();
  if (!b || state_ != PeripheralState::Connected) return;
  std::vector<std::shared_ptr<BluezService>> found;
  for (const auto* s : b->cache.servicesOf(path_)) {
    const auto uuid = UUID::parse(s->uuid);
    if (!uuid || !wanted(filter, *uuid)) continue;
    auto existing = std::find_if(services_.begin(), services_.end(),
                                 [&](const auto& x) { return x->path() == s->path; });
    found.push_back(existing != services_.end()
                        ? *existing
                        : std::make_shared<BluezService>(s->path, *uuid, weak_from_this()));
  }
  // Services found before and not asked for this time stay discovered.
  for (const auto& s : services_) {
    if (std::find(found.begin(), found.end(), s) == found.end()) found.push_back(s);
  }
  services_ = std::move(found);
  std::weak_ptr<Peripheral> weak = weak_from_this();
  const auto link = link_;
  dispatch::mainQueue().async([weak, link] {
    auto self = std::static_pointer_cast<BluezPeripheral>(weak.lock());
    if (!self || self->link_ != link) return;
    self->toDelegate([&](PeripheralDelegate& d) { d.didDiscoverServices(*self, std::nullopt); });
  });
}

bool BluezPeripheral::hasAll(const BluezService& service, const std::vector<UUID>& want) const {
  auto b = backend();
  if (!b) return true;
  const auto present = b->cache.characteristicsOf(service.path());
  return std::all_of(want.begin(), want.end(), [&](const UUID& u) {
    return std::any_of(present.begin(), present.end(), [&](const CharacteristicObject* c) {
      return c->uuid == u.lowercaseString();
    });
  });
}

void BluezPeripheral::discoverCharacteristics(const std::optional<std::vector<UUID>>& filter,
                                              const std::shared_ptr<Service>& service) {
  auto s = std::dynamic_pointer_cast<BluezService>(service);
  auto b = backend();
  if (!s || !b || state_ != PeripheralState::Connected ||
      std::find(services_.begin(), services_.end(), s) == services_.end()) {
    return;
  }
  const bool named = filter && !filter->empty();
  const bool missing = named ? !hasAll(*s, *filter) : b->cache.characteristicsOf(s->path()).empty();
  if (missing) {
    auto w = std::make_unique<WaitingDiscovery>();
    w->service = s;
    w->filter = filter;
    w->settle = waitTimer(kCharacteristicSettle, w.get());
    waiting_.push_back(std::move(w));
    return;
  }
  std::weak_ptr<Peripheral> weak = weak_from_this();
  const auto link = link_;
  dispatch::mainQueue().async([weak, link, s, filter] {
    auto self = std::static_pointer_cast<BluezPeripheral>(weak.lock());
    if (self && self->link_ == link) self->finishCharacteristicDiscovery(s, filter);
  });
}

dispatch::Timer BluezPeripheral::waitTimer(dispatch::Duration delay, WaitingDiscovery* wait) {
  std::weak_ptr<Peripheral> weak = weak_from_this();
  const auto link = link_;
  return dispatch::mainQueue().after(delay, [weak, link, wait] {
    auto self = std::static_pointer_cast<BluezPeripheral>(weak.lock());
    if (self && self->link_ == link) self->endWait(wait);
  });
}

void BluezPeripheral::endWait(WaitingDiscovery* wait) {
  auto it = std::find_if(waiting_.begin(), waiting_.end(),
                         [&](const auto& x) { return x.get() == wait; });
  if (it == waiting_.end()) return;
  auto done = std::move(*it);
  waiting_.erase(it);
  done->settle.cancel();
  done->quiet.cancel();
  finishCharacteristicDiscovery(done->service, done->filter);
}

void BluezPeripheral::characteristicAdded() {
  auto b = backend();
  if (!b) return;
  std::vector<WaitingDiscovery*> waits;
  for (const auto& w : waiting_) waits.push_back(w.get());
  for (auto* w : waits) {
    // Reports may call back: only waits still listed are looked at.
    if (std::none_of(waiting_.begin(), waiting_.end(),
                     [&](const auto& x) { return x.get() == w; })) {
      continue;
    }
    if (w->filter && !w->filter->empty()) {
      if (hasAll(*w->service, *w->filter)) endWait(w);
    } else if (!b->cache.characteristicsOf(w->service->path()).empty()) {
      // All were asked for: the report waits until the characteristics stop coming.
      w->quiet.cancel();
      w->quiet = waitTimer(kCharacteristicQuiet, w);
    }
  }
}

void BluezPeripheral::finishCharacteristicDiscovery(
    const std::shared_ptr<BluezService>& service, const std::optional<std::vector<UUID>>& filter) {
  auto b = backend();
  if (!b || state_ != PeripheralState::Connected) return;
  std::vector<std::shared_ptr<Characteristic>> list = service->characteristics();
  for (const auto* c : b->cache.characteristicsOf(service->path())) {
    const auto uuid = UUID::parse(c->uuid);
    if (!uuid || !wanted(filter, *uuid) || characteristics_.count(c->path)) continue;
    auto made =
        std::make_shared<BluezCharacteristic>(c->path, *uuid, propertiesOf(c->flags), service);
    characteristics_.emplace(c->path, made);
    list.push_back(made);
  }
  // Kept in the order of the device's table.
  std::sort(list.begin(), list.end(), [](const auto& x, const auto& y) {
    return std::static_pointer_cast<BluezCharacteristic>(x)->path() <
           std::static_pointer_cast<BluezCharacteristic>(y)->path();
  });
  service->setCharacteristics(std::move(list));
  toDelegate([&](PeripheralDelegate& d) {
    d.didDiscoverCharacteristicsForService(*this, service, std::nullopt);
  });
}

void BluezPeripheral::setNotifyValue(bool enabled,
                                     const std::shared_ptr<Characteristic>& characteristic) {
  auto c = own(characteristic);
  auto b = backend();
  if (!c || !b || state_ != PeripheralState::Connected) return;
  // Value changes count as notifications from now on (BlueZ also changes Value on reads).
  if (enabled) {
    subscribed_.insert(c->path());
  } else {
    subscribed_.erase(c->path());
  }
  std::weak_ptr<Peripheral> weak = weak_from_this();
  const auto link = link_;
  b->callRetrying(
      {c->path(), kCharacteristicInterface, enabled ? "StartNotify" : "StopNotify", {}, {}},
      [weak, link, c, enabled](Reply r) {
        auto self = std::static_pointer_cast<BluezPeripheral>(weak.lock());
        if (!self || self->link_ != link) return;
        std::optional<Error> error;
        if (r.error) {
          error = errorFromBus(*r.error);
          if (enabled) self->subscribed_.erase(c->path());
        } else {
          c->setNotifying(enabled);
        }
        self->toDelegate([&](PeripheralDelegate& d) {
          d.didUpdateNotificationStateForCharacteristic(*self, c, error);
        });
      },
      b->options.inProgressRetries);
}

void BluezPeripheral::readValueForCharacteristic(
    const std::shared_ptr<Characteristic>& characteristic) {
  auto c = own(characteristic);
  auto b = backend();
  if (!c || !b || state_ != PeripheralState::Connected) return;
  ++readsPending_[c->path()];
  std::weak_ptr<Peripheral> weak = weak_from_this();
  const auto link = link_;
  b->callRetrying(
      {c->path(), kCharacteristicInterface, "ReadValue", {}, std::map<std::string, OptionValue>{}},
      [weak, link, c](Reply r) {
        auto self = std::static_pointer_cast<BluezPeripheral>(weak.lock());
        if (!self || self->link_ != link) return;
        const std::string& path = c->path();
        if (--self->readsPending_[path] <= 0) self->readsPending_.erase(path);
        // Value changes that came during reads: each read's own echo is dropped as its answer
        // comes; the others are notifications (delivered if subscribed, once no read of the
        // characteristic is left, before the read's answer).
        auto& heldNow = self->heldValues_[path];
        if (!r.error && r.bytes) {
          auto echo = std::find(heldNow.begin(), heldNow.end(), *r.bytes);
          if (echo != heldNow.end()) heldNow.erase(echo);
        }
        std::deque<Bytes> held;
        if (!self->readsPending_.count(path)) {
          held.swap(heldNow);
          self->heldValues_.erase(path);
        }
        for (const auto& v : held) {
          if (self->subscribed_.count(path)) self->deliverValue(c, v, std::nullopt);
          if (self->link_ != link) return;
        }
        if (r.error) {
          self->deliverValue(c, {}, errorFromBus(*r.error));
        } else {
          self->deliverValue(c, r.bytes.value_or(Bytes{}), std::nullopt);
        }
      },
      b->options.inProgressRetries);
}

void BluezPeripheral::writeValue(const Bytes& value,
                                 const std::shared_ptr<Characteristic>& characteristic,
                                 CharacteristicWriteType type) {
  auto c = own(characteristic);
  auto b = backend();
  if (!c || !b || state_ != PeripheralState::Connected) return;
  const bool withResponse = type == CharacteristicWriteType::WithResponse;
  Call call{c->path(), kCharacteristicInterface, "WriteValue", value,
            std::map<std::string, OptionValue>{
                {"type", std::string(withResponse ? "request" : "command")}}};
  if (!withResponse) {
    b->callRetrying(
        std::move(call),
        [](Reply r) {
          if (r.error) logLine("bluez: a write without response failed: " + r.error->name);
        },
        b->options.inProgressRetries);
    return;
  }
  std::weak_ptr<Peripheral> weak = weak_from_this();
  const auto link = link_;
  b->callRetrying(
      std::move(call),
      [weak, link, c](Reply r) {
        auto self = std::static_pointer_cast<BluezPeripheral>(weak.lock());
        if (!self || self->link_ != link) return;
        std::optional<Error> error;
        if (r.error) error = errorFromBus(*r.error);
        self->toDelegate(
            [&](PeripheralDelegate& d) { d.didWriteValueForCharacteristic(*self, c, error); });
      },
      b->options.inProgressRetries);
}

void BluezPeripheral::valueChanged(const std::string& characteristicPath, const Bytes& value) {
  auto it = characteristics_.find(characteristicPath);
  if (it == characteristics_.end() || state_ != PeripheralState::Connected) return;
  if (readsPending_.count(characteristicPath)) {
    heldValues_[characteristicPath].push_back(value);
    return;
  }
  if (subscribed_.count(characteristicPath)) deliverValue(it->second, value, std::nullopt);
}

void BluezPeripheral::deliverValue(const std::shared_ptr<BluezCharacteristic>& c,
                                   const Bytes& value, std::optional<Error> error) {
  if (!error) c->setValue(value);
  toDelegate([&](PeripheralDelegate& d) { d.didUpdateValueForCharacteristic(*this, c, error); });
}

}  // namespace ble::bluez
HCF_NAMESPACE_END
