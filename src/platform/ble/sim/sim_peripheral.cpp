#include <algorithm>

#include "sim_internal.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

void SimPeripheral::connected() {
  ++connection_;
  state_ = PeripheralState::Connected;
  subscriptions_.clear();
  lastEvent_ = {};
}

void SimPeripheral::dropped() {
  ++connection_;
  state_ = PeripheralState::Disconnected;
  subscriptions_.clear();
  for (const auto& s : services_) {
    for (const auto& c : s->characteristics()) c->setNotifying(false);
  }
}

bool SimPeripheral::subscribed(const UUID& characteristic) const {
  return std::find(subscriptions_.begin(), subscriptions_.end(), characteristic) !=
         subscriptions_.end();
}

void SimPeripheral::schedule(dispatch::Duration extra, std::function<void(SimPeripheral&)> event) {
  auto& queue = dispatch::mainQueue();
  const auto now = queue.now();
  const auto at = std::max(now + device_->latencies().response + extra, lastEvent_);
  lastEvent_ = at;
  std::weak_ptr<SimPeripheral> weak = self();
  const std::uint64_t connection = connection_;
  queue.after(at - now, [weak, connection, event = std::move(event)] {
    auto p = weak.lock();
    if (!p || p->connection_ != connection || p->state_ != PeripheralState::Connected) return;
    event(*p);
  });
}

SimPeripheral::Plan SimPeripheral::plan(Operation op, const std::optional<UUID>& target) {
  Plan plan;
  for (const auto& f : device_->impl().takeFaults(op, target)) {
    switch (f.kind) {
      case Fault::Kind::DropAnswer:
        plan.answer = false;
        break;
      case Fault::Kind::WrongLength:
        plan.length = f.length;
        break;
      case Fault::Kind::Delay:
        plan.delay += f.delay;
        break;
      case Fault::Kind::ReportAs:
        plan.reportAs = f.reportAs;
        break;
      case Fault::Kind::DisconnectBefore:
        plan.answer = false;
        plan.delivered = false;
        if (auto c = central()) c->linkLost(self(), peripheralDisconnectedError());
        break;
      case Fault::Kind::DisconnectAfter:
        plan.disconnectAfter = true;
        break;
      case Fault::Kind::FailConnect:
        break;
      case Fault::Kind::GattError:
        // As the platform reports an ATT error: its code in the ATT error domain.
        plan.error = Error{f.code, "The request failed with ATT error " + std::to_string(f.code),
                           "CBATTErrorDomain"};
        break;
    }
  }
  return plan;
}

void SimPeripheral::finish(const Plan& plan) {
  if (!plan.answer || !plan.disconnectAfter) return;
  schedule(dispatch::Duration::zero(), [](SimPeripheral& p) {
    if (auto c = p.central()) c->linkLost(p.self(), peripheralDisconnectedError());
  });
}

void SimPeripheral::unanswered() {
  std::weak_ptr<SimPeripheral> weak = self();
  const std::uint64_t connection = connection_;
  dispatch::mainQueue().after(kTransactionTimeout, [weak, connection] {
    auto p = weak.lock();
    if (!p || p->connection_ != connection || p->state_ != PeripheralState::Connected) return;
    if (auto c = p->central()) c->linkLost(p->self(), connectionTimeoutError());
  });
}

std::shared_ptr<Characteristic> SimPeripheral::findCharacteristic(const UUID& uuid) const {
  for (const auto& s : services_) {
    for (const auto& c : s->characteristics()) {
      if (c->uuid() == uuid) return c;
    }
  }
  return nullptr;
}

void SimPeripheral::discoverServices(const std::optional<std::vector<UUID>>& filter) {
  if (state_ != PeripheralState::Connected) return;
  const Plan p = plan(Operation::DiscoverServices, std::nullopt);
  if (!p.answer) {
    if (p.delivered) unanswered();
    return;
  }
  schedule(p.delay, [filter](SimPeripheral& self) {
    std::vector<std::shared_ptr<Service>> found;
    for (const auto& spec : self.device_->impl().services) {
      if (filter && std::find(filter->begin(), filter->end(), spec.uuid) == filter->end()) {
        continue;
      }
      auto existing = std::find_if(self.services_.begin(), self.services_.end(),
                                   [&](const auto& s) { return s->uuid() == spec.uuid; });
      found.push_back(existing != self.services_.end()
                          ? *existing
                          : std::make_shared<Service>(spec.uuid, self.weak_from_this()));
    }
    self.services_ = std::move(found);
    if (auto d = self.delegate()) d->didDiscoverServices(self, std::nullopt);
  });
  finish(p);
}

void SimPeripheral::discoverCharacteristics(const std::optional<std::vector<UUID>>& filter,
                                            const std::shared_ptr<Service>& service) {
  if (state_ != PeripheralState::Connected || !service || service->peripheral().get() != this) {
    return;
  }
  const Plan p = plan(Operation::DiscoverCharacteristics, service->uuid());
  if (!p.answer) {
    if (p.delivered) unanswered();
    return;
  }
  schedule(p.delay, [filter, service](SimPeripheral& self) {
    const auto& specs = self.device_->impl().services;
    const auto spec = std::find_if(specs.begin(), specs.end(),
                                   [&](const ServiceSpec& s) { return s.uuid == service->uuid(); });
    std::vector<std::shared_ptr<Characteristic>> found;
    if (spec != specs.end()) {
      for (const auto& c : spec->characteristics) {
        if (filter && std::find(filter->begin(), filter->end(), c.uuid) == filter->end()) continue;
        const auto& known = service->characteristics();
        auto existing = std::find_if(known.begin(), known.end(),
                                     [&](const auto& k) { return k->uuid() == c.uuid; });
        found.push_back(existing != known.end()
                            ? *existing
                            : std::make_shared<Characteristic>(c.uuid, c.properties, service));
      }
    }
    service->setCharacteristics(std::move(found));
    if (auto d = self.delegate())
      d->didDiscoverCharacteristicsForService(self, service, std::nullopt);
  });
  finish(p);
}

void SimPeripheral::setNotifyValue(bool enabled,
                                   const std::shared_ptr<Characteristic>& characteristic) {
  if (state_ != PeripheralState::Connected || !characteristic) return;
  const Plan p = plan(Operation::SetNotify, characteristic->uuid());
  if (!p.answer) {
    if (p.delivered) unanswered();
    return;
  }
  if (p.error) {
    schedule(p.delay, [characteristic, error = *p.error](SimPeripheral& self) {
      if (auto d = self.delegate()) {
        d->didUpdateNotificationStateForCharacteristic(self, characteristic, error);
      }
    });
    finish(p);
    return;
  }
  // The device starts (or stops) sending at once; the confirmation follows.
  std::erase(subscriptions_, characteristic->uuid());
  if (enabled) subscriptions_.push_back(characteristic->uuid());
  schedule(p.delay, [enabled, characteristic](SimPeripheral& self) {
    characteristic->setNotifying(enabled);
    if (auto d = self.delegate()) {
      d->didUpdateNotificationStateForCharacteristic(self, characteristic, std::nullopt);
    }
  });
  finish(p);
}

void SimPeripheral::readValueForCharacteristic(
    const std::shared_ptr<Characteristic>& characteristic) {
  if (state_ != PeripheralState::Connected || !characteristic) return;
  auto& table = device_->impl().characteristics;
  const auto it = table.find(characteristic->uuid());
  if (it == table.end()) return;
  const Plan p = plan(Operation::Read, characteristic->uuid());
  if (!p.answer) {
    if (p.delivered) unanswered();
    return;
  }
  if (p.error) {
    // The characteristic keeps the value of its last answer, as on the platform.
    schedule(p.delay, [characteristic, error = *p.error](SimPeripheral& self) {
      if (auto d = self.delegate()) d->didUpdateValueForCharacteristic(self, characteristic, error);
    });
    finish(p);
    return;
  }
  Bytes value = it->second.readHandler ? it->second.readHandler() : it->second.spec.value;
  if (p.length) value.resize(*p.length, 0);
  const auto reportAs = p.reportAs;
  schedule(p.delay, [characteristic, value, reportAs](SimPeripheral& self) {
    std::shared_ptr<Characteristic> answered = characteristic;
    if (reportAs) {
      answered = self.findCharacteristic(*reportAs);
      if (!answered)
        answered = std::make_shared<Characteristic>(*reportAs, CharacteristicProperties{},
                                                    characteristic->service());
    }
    answered->setValue(value);
    if (auto d = self.delegate()) d->didUpdateValueForCharacteristic(self, answered, std::nullopt);
  });
  finish(p);
}

void SimPeripheral::writeValue(const Bytes& value,
                               const std::shared_ptr<Characteristic>& characteristic,
                               CharacteristicWriteType type) {
  if (state_ != PeripheralState::Connected || !characteristic) return;
  auto& table = device_->impl().characteristics;
  const auto it = table.find(characteristic->uuid());
  if (it == table.end()) return;
  const Plan p = plan(Operation::Write, characteristic->uuid());
  if (p.delivered) {
    it->second.writes.push_back(value);
    if (it->second.writeHandler) it->second.writeHandler(value);
  }
  if (!p.answer || type != CharacteristicWriteType::WithResponse) {
    if (!p.answer && p.delivered && type == CharacteristicWriteType::WithResponse) unanswered();
    finish(p);
    return;
  }
  schedule(p.delay, [characteristic](SimPeripheral& self) {
    if (auto d = self.delegate())
      d->didWriteValueForCharacteristic(self, characteristic, std::nullopt);
  });
  finish(p);
}

void SimPeripheral::deliverNotification(const UUID& uuid, const Bytes& value) {
  if (state_ != PeripheralState::Connected || !subscribed(uuid)) return;
  auto characteristic = findCharacteristic(uuid);
  if (!characteristic) return;
  const Plan p = plan(Operation::Notify, uuid);
  if (!p.answer) return;
  Bytes sent = value;
  if (p.length) sent.resize(*p.length, 0);
  schedule(p.delay, [characteristic, sent](SimPeripheral& self) {
    characteristic->setValue(sent);
    if (auto d = self.delegate())
      d->didUpdateValueForCharacteristic(self, characteristic, std::nullopt);
  });
  finish(p);
}

}  // namespace ble::sim
HCF_NAMESPACE_END
