#include <algorithm>

#include "bluez_internal.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

namespace {

constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";

// The platform's error codes for the daemon's errors that have one.
int codeFor(const std::string& name) {
  static const std::map<std::string, int> codes = {
      {"org.bluez.Error.InvalidArguments", 1},   {"org.bluez.Error.InvalidValueLength", 1},
      {"org.bluez.Error.NotConnected", 3},       {"org.bluez.Error.NotSupported", 13},
      {"org.freedesktop.DBus.Error.NoReply", 6}, {"org.freedesktop.DBus.Error.Timeout", 6},
  };
  auto it = codes.find(name);
  return it == codes.end() ? 0 : it->second;
}

bool daemonMissing(const BusError& e) {
  return e.name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
         e.name == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

}  // namespace

Error errorFromBus(const BusError& error) {
  return Error{codeFor(error.name), error.message.empty() ? error.name : error.message, error.name};
}

bool isInProgress(const std::optional<BusError>& error) {
  return error && error->name == "org.bluez.Error.InProgress";
}

template <typename F>
void Backend::Impl::forEachCentral(F&& f) {
  std::erase_if(centrals, [](const auto& w) { return w.expired(); });
  const auto live = centrals;  // a copy: delegates may make or drop centrals
  for (const auto& w : live) {
    if (auto c = w.lock()) f(*c);
  }
}

BusThread::EventHandler Backend::Impl::eventHandler() {
  std::weak_ptr<Impl> weak = weak_from_this();
  return [weak](BusEvent event) {
    if (auto self = weak.lock()) self->onEvent(std::move(event));
  };
}

void Backend::Impl::start() {
  BusError error;
  bus = BusThread::start(eventHandler(), error);
  if (!bus) {
    logLine("bluez: the system bus cannot be reached: " + error.name + ": " + error.message);
    failure = error;
    loaded = true;
    return;
  }
  load();
}

void Backend::Impl::reconnectLater() {
  std::weak_ptr<Impl> weak = weak_from_this();
  reconnectTimer = dispatch::mainQueue().after(options.busReconnectInterval, [weak] {
    auto self = weak.lock();
    if (!self || !self->busDown) return;
    BusError error;
    auto fresh = BusThread::start(self->eventHandler(), error);
    if (!fresh) {
      self->reconnectLater();
      return;
    }
    logLine("bluez: the system bus is back");
    self->bus = std::move(fresh);  // the old thread, whose calls were all answered, ends
    self->busDown = false;
    self->loaded = false;  // Unknown until the objects are read again
    self->load();
  });
}

void Backend::Impl::load() {
  std::weak_ptr<Impl> weak = weak_from_this();
  call({"/", kObjectManager, "GetManagedObjects", {}, {}}, [weak](Reply reply) {
    auto self = weak.lock();
    if (!self) return;
    self->loaded = true;
    self->accessDenied =
        reply.error && reply.error->name == "org.freedesktop.DBus.Error.AccessDenied";
    if (reply.error) {
      if (!daemonMissing(*reply.error)) {
        logLine("bluez: the objects could not be read: " + reply.error->name + ": " +
                reply.error->message);
      }
      self->daemonPresent = false;
      self->cache.clear();
    } else {
      self->daemonPresent = true;
      self->daemonLost = false;
      self->cache.reset(*reply.objects);
    }
    self->forEachCentral([](BluezCentral& c) { c.reportState(); });
    self->updateDiscovery();
  });
}

void Backend::Impl::call(Call c, BusThread::ReplyHandler done) {
  if (!bus) {
    dispatch::mainQueue().async([done = std::move(done), name = failure ? failure->name : ""] {
      done(Reply{BusError{name, "the system bus cannot be reached"}, {}, {}});
    });
    return;
  }
  bus->call(std::move(c), std::move(done));
}

void Backend::Impl::callRetrying(Call c, BusThread::ReplyHandler done, int triesLeft) {
  std::weak_ptr<Impl> weak = weak_from_this();
  call(c, [weak, c, done, triesLeft](Reply reply) {
    auto self = weak.lock();
    if (self && isInProgress(reply.error) && triesLeft > 0) {
      dispatch::mainQueue().after(self->options.inProgressRetryDelay, [weak, c, done, triesLeft] {
        if (auto s = weak.lock()) s->callRetrying(c, done, triesLeft - 1);
      });
      return;
    }
    done(std::move(reply));
  });
}

ManagerState Backend::Impl::radioState() const {
  if (busDown) return ManagerState::Unknown;
  if (failure) {
    return failure->name.find("AccessDenied") != std::string::npos ? ManagerState::Unauthorized
                                                                   : ManagerState::Unsupported;
  }
  if (!loaded) return ManagerState::Unknown;
  if (accessDenied) return ManagerState::Unauthorized;
  if (!daemonPresent) return daemonLost ? ManagerState::Resetting : ManagerState::Unsupported;
  const auto* a = cache.adapter(options.adapter);
  if (!a) return ManagerState::Unsupported;
  return a->powered ? ManagerState::PoweredOn : ManagerState::PoweredOff;
}

std::string Backend::Impl::adapterPath() const {
  const auto* a = cache.adapter(options.adapter);
  return a ? a->path : std::string();
}

void Backend::Impl::onEvent(BusEvent event) {
  if (auto* added = std::get_if<ObjectAdded>(&event)) {
    cache.apply(*added);
    const auto& ifs = added->interfaces;
    if (ifs.count(kAdapterInterface)) {
      forEachCentral([](BluezCentral& c) { c.reportState(); });
      updateDiscovery();
    }
    if (auto d = ifs.find(kDeviceInterface); d != ifs.end()) {
      if (const auto* device = cache.device(added->path)) {
        const DeviceObject copy = *device;
        const Properties props = d->second;
        forEachCentral([&](BluezCentral& c) {
          if (copy.rssi) c.deviceAdvertised(copy);
          c.deviceChanged(copy, props);
        });
      }
    }
    if (ifs.count(kCharacteristicInterface)) {
      forEachCentral([&](BluezCentral& c) { c.characteristicAdded(added->path); });
    }
  } else if (auto* removed = std::get_if<ObjectRemoved>(&event)) {
    const auto& ifs = removed->interfaces;
    const bool device = std::find(ifs.begin(), ifs.end(), kDeviceInterface) != ifs.end();
    const bool adapter = std::find(ifs.begin(), ifs.end(), kAdapterInterface) != ifs.end();
    cache.apply(*removed);
    if (device) forEachCentral([&](BluezCentral& c) { c.deviceRemoved(removed->path); });
    if (adapter) {
      discoveryOn = false;
      forEachCentral([](BluezCentral& c) { c.reportState(); });
    }
  } else if (auto* changed = std::get_if<PropertiesChanged>(&event)) {
    cache.apply(*changed);
    const Properties& p = changed->changed;
    if (changed->interface == kAdapterInterface && changed->path == adapterPath()) {
      if (p.powered && !*p.powered) discoveryOn = false;
      if (p.discovering && !*p.discovering) discoveryOn = false;
      forEachCentral([](BluezCentral& c) { c.reportState(); });
      if (p.powered || p.discovering) updateDiscovery();
    } else if (changed->interface == kDeviceInterface) {
      const auto* device = cache.device(changed->path);
      if (!device) return;
      const DeviceObject copy = *device;
      const bool advertised = p.rssi || p.manufacturerData || p.name || p.uuids;
      forEachCentral([&](BluezCentral& c) {
        if (advertised && copy.rssi) c.deviceAdvertised(copy);
        c.deviceChanged(copy, p);
      });
    } else if (changed->interface == kCharacteristicInterface && p.value) {
      forEachCentral([&](BluezCentral& c) { c.valueChanged(changed->path, *p.value); });
    }
  } else if (auto* daemon = std::get_if<DaemonChanged>(&event)) {
    if (daemon->present) {
      load();
      return;
    }
    if (daemon->busLost && !busDown) {
      busDown = true;
      reconnectLater();
    }
    daemonPresent = false;
    daemonLost = true;
    discoveryOn = false;
    discoveryStarting = false;
    cache.clear();
    forEachCentral([&](BluezCentral& c) { c.daemonGone(daemon->busLost); });
  }
}

void Backend::Impl::updateDiscovery() {
  bool want = false;
  std::optional<std::vector<std::string>> merged = std::vector<std::string>{};
  forEachCentral([&](BluezCentral& c) {
    if (!c.wantsDiscovery()) return;
    want = true;
    const auto filter = c.discoveryFilter();
    if (!filter) {
      merged.reset();
    } else if (merged) {
      for (const auto& u : *filter) {
        if (std::find(merged->begin(), merged->end(), u) == merged->end()) merged->push_back(u);
      }
    }
  });
  if (radioState() != ManagerState::PoweredOn) return;
  const std::string adapter = adapterPath();
  const auto logFailure = [](const char* what) {
    return [what](Reply r) {
      if (r.error) logLine(std::string("bluez: ") + what + ": " + r.error->name);
    };
  };
  // LE only, every advertisement (so changed advertisements are seen), the centrals' services.
  const auto setFilter = [&] {
    std::map<std::string, OptionValue> filter{{"Transport", std::string("le")},
                                              {"DuplicateData", true}};
    if (merged) filter.emplace("UUIDs", *merged);
    discoveryFilter = merged;
    call({adapter, kAdapterInterface, "SetDiscoveryFilter", {}, filter},
         logFailure("SetDiscoveryFilter"));
  };
  if (!want) {
    if (discoveryOn) {
      discoveryOn = false;
      call({adapter, kAdapterInterface, "StopDiscovery", {}, {}}, logFailure("StopDiscovery"));
    }
    return;
  }
  if (!discoveryOn && !discoveryStarting) {
    setFilter();
    discoveryStarting = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    callRetrying(
        {adapter, kAdapterInterface, "StartDiscovery", {}, {}},
        [weak](Reply r) {
          auto self = weak.lock();
          if (!self) return;
          self->discoveryStarting = false;
          // "InProgress" after the retries: this connection already discovers.
          if (r.error && !isInProgress(r.error)) {
            logLine("bluez: StartDiscovery: " + r.error->name + ": " + r.error->message);
            return;
          }
          self->discoveryOn = true;
          self->updateDiscovery();  // the centrals may have stopped meanwhile
        },
        options.inProgressRetries);
    return;
  }
  if (discoveryOn && merged != discoveryFilter) {
    setFilter();
  }
}

Backend::Backend(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
Backend::~Backend() = default;

std::shared_ptr<Backend> Backend::open(const Options& options) {
  auto impl = std::make_shared<Impl>();
  impl->options = options;
  impl->start();
  return std::make_shared<Backend>(std::move(impl));
}

std::shared_ptr<CentralManager> Backend::makeCentralManager(
    std::weak_ptr<CentralManagerDelegate> delegate) {
  auto central = std::make_shared<BluezCentral>(impl_);
  central->setDelegate(std::move(delegate));
  impl_->centrals.push_back(central);
  std::weak_ptr<BluezCentral> weak = central;
  dispatch::mainQueue().async([weak] {
    if (auto c = weak.lock()) c->reportState();
  });
  return central;
}

std::optional<std::string> Backend::failure() const {
  if (!impl_->failure) return std::nullopt;
  return impl_->failure->name + ": " + impl_->failure->message;
}

void Backend::sync(std::function<void()> done) {
  impl_->call({"/", "org.freedesktop.DBus.Peer", "Ping", {}, {}},
              [done = std::move(done)](const Reply&) { done(); });
}

CentralFactory centralFactory(const Options& options) {
  auto backend = std::make_shared<std::shared_ptr<Backend>>();
  return [backend, options](std::weak_ptr<CentralManagerDelegate> delegate) {
    if (!*backend) *backend = Backend::open(options);
    return (*backend)->makeCentralManager(std::move(delegate));
  };
}

}  // namespace ble::bluez
HCF_NAMESPACE_END
