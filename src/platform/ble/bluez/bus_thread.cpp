#include "bus_thread.h"

#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

namespace {

using VariantMap = std::map<std::string, sdbus::Variant>;
using InterfacesAndProperties = std::map<std::string, VariantMap>;

constexpr const char* kDisconnectedError = "org.freedesktop.DBus.Error.Disconnected";
constexpr const char* kBadReplyError = "org.freedesktop.DBus.Error.InvalidSignature";

// A method call waits this long for its reply; connections may take most of it.
constexpr std::uint64_t kCallTimeoutUs = 30'000'000;

template <typename T>
std::optional<T> take(const sdbus::Variant& v) {
  if (!v.containsValueOfType<T>()) return std::nullopt;
  return v.get<T>();
}

std::optional<std::string> takePath(const sdbus::Variant& v) {
  if (auto p = take<sdbus::ObjectPath>(v)) return std::string(*p);
  return std::nullopt;
}

std::optional<std::map<std::uint16_t, Bytes>> takeManufacturerData(const sdbus::Variant& v) {
  auto entries = take<std::map<std::uint16_t, sdbus::Variant>>(v);
  if (!entries) return std::nullopt;
  std::map<std::uint16_t, Bytes> out;
  for (const auto& [company, data] : *entries) {
    auto bytes = take<std::vector<std::uint8_t>>(data);
    if (!bytes) return std::nullopt;
    out.emplace(company, std::move(*bytes));
  }
  return out;
}

Properties decode(const VariantMap& map) {
  Properties p;
  for (const auto& [key, v] : map) {
    if (key == "Powered") {
      p.powered = take<bool>(v);
    } else if (key == "Discovering") {
      p.discovering = take<bool>(v);
    } else if (key == "Address") {
      p.address = take<std::string>(v);
    } else if (key == "AddressType") {
      p.addressType = take<std::string>(v);
    } else if (key == "Name") {
      p.name = take<std::string>(v);
    } else if (key == "Alias") {
      p.alias = take<std::string>(v);
    } else if (key == "Adapter") {
      p.adapter = takePath(v);
    } else if (key == "RSSI") {
      p.rssi = take<std::int16_t>(v);
    } else if (key == "UUIDs") {
      p.uuids = take<std::vector<std::string>>(v);
    } else if (key == "ManufacturerData") {
      p.manufacturerData = takeManufacturerData(v);
    } else if (key == "Connected") {
      p.connected = take<bool>(v);
    } else if (key == "ServicesResolved") {
      p.servicesResolved = take<bool>(v);
    } else if (key == "UUID") {
      p.uuid = take<std::string>(v);
    } else if (key == "Device") {
      p.device = takePath(v);
    } else if (key == "Service") {
      p.service = takePath(v);
    } else if (key == "Flags") {
      p.flags = take<std::vector<std::string>>(v);
    } else if (key == "Value") {
      p.value = take<std::vector<std::uint8_t>>(v);
    } else if (key == "Notifying") {
      p.notifying = take<bool>(v);
    }
  }
  return p;
}

ObjectAdded decodeObject(const std::string& path, const InterfacesAndProperties& interfaces) {
  ObjectAdded added{path, {}};
  for (const auto& [name, props] : interfaces) added.interfaces.emplace(name, decode(props));
  return added;
}

sdbus::Variant toVariant(const OptionValue& value) {
  return std::visit([](const auto& v) { return sdbus::Variant(v); }, value);
}

}  // namespace

struct BusThread::Impl {
  struct Pending {
    std::string member;
    ReplyHandler done;
    std::unique_ptr<dispatch::WorkInFlight> hold;
  };

  EventHandler handler;
  std::unique_ptr<sdbus::IConnection> connection;
  std::vector<sdbus::Slot> matches;
  int wakeFd = -1;
  std::thread thread;

  struct Command {
    Call call;
    Pending pending;
  };
  std::mutex mutex;  // guards `commands` and `stopping`
  std::deque<Command> commands;
  bool stopping = false;

  // Bus thread only.
  std::map<std::pair<std::string, std::string>, std::unique_ptr<sdbus::IProxy>> proxies;
  std::unordered_map<std::uint64_t, Pending> pending;
  std::uint64_t nextCall = 1;
  bool lost = false;

  ~Impl() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void post(BusEvent event) {
    dispatch::mainQueue().async([h = handler, e = std::move(event)]() mutable { h(std::move(e)); });
  }

  static void deliver(Pending p, Reply reply) {
    // The hold ends only once the reply is queued, so a manual clock never jumps past it.
    dispatch::mainQueue().async(
        [done = std::move(p.done), r = std::move(reply)]() mutable { done(std::move(r)); });
  }

  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
  }

  void enqueue(Command command) {
    {
      const std::lock_guard lock(mutex);
      commands.push_back(std::move(command));
    }
    wake();
  }

  void installMatches() {
    const auto add = [&](const std::string& rule, void (Impl::*on)(sdbus::Message&)) {
      matches.push_back(connection->addMatch(rule, [this, on](sdbus::Message& m) {
        try {
          (this->*on)(m);
        } catch (const sdbus::Error& e) {
          logLine("bluez: a signal could not be read: " + e.getMessage());
        }
      }));
    };
    add("type='signal',sender='org.bluez',path='/',"
        "interface='org.freedesktop.DBus.ObjectManager'",
        &Impl::onObjectManagerSignal);
    add("type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',"
        "member='PropertiesChanged',path_namespace='/org/bluez'",
        &Impl::onPropertiesChanged);
    add("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'",
        &Impl::onNameOwnerChanged);
  }

  void onObjectManagerSignal(sdbus::Message& m) {
    sdbus::ObjectPath path;
    if (m.getMemberName() == "InterfacesAdded") {
      InterfacesAndProperties interfaces;
      m >> path >> interfaces;
      post(decodeObject(path, interfaces));
    } else if (m.getMemberName() == "InterfacesRemoved") {
      std::vector<std::string> interfaces;
      m >> path >> interfaces;
      post(ObjectRemoved{path, std::move(interfaces)});
    }
  }

  void onPropertiesChanged(sdbus::Message& m) {
    std::string interface;
    VariantMap changed;
    std::vector<std::string> invalidated;
    m >> interface >> changed >> invalidated;
    post(PropertiesChanged{m.getPath(), std::move(interface), decode(changed),
                           std::move(invalidated)});
  }

  void onNameOwnerChanged(sdbus::Message& m) {
    std::string name, oldOwner, newOwner;
    m >> name >> oldOwner >> newOwner;
    if (name == kBluezName) post(DaemonChanged{!newOwner.empty(), false});
  }

  sdbus::IProxy& proxyFor(const std::string& destination, const std::string& path) {
    auto& p = proxies[{destination, path}];
    if (!p) p = sdbus::createProxy(*connection, destination, path);
    return *p;
  }

  // Bus thread.
  void send(Call call, Pending p) {
    if (lost) {
      deliver(std::move(p),
              Reply{BusError{kDisconnectedError, "the system bus went away"}, {}, {}});
      return;
    }
    const std::uint64_t id = nextCall++;
    pending.emplace(id, std::move(p));
    try {
      auto& proxy = proxyFor(call.destination, call.path);
      auto message = proxy.createMethodCall(call.interface, call.member);
      if (call.bytes) message << std::vector<std::uint8_t>(*call.bytes);
      if (call.options) {
        VariantMap options;
        for (const auto& [key, value] : *call.options) options.emplace(key, toVariant(value));
        message << options;
      }
      proxy.callMethod(
          message,
          [this, id](sdbus::MethodReply& reply, const sdbus::Error* error) {
            onReply(id, reply, error);
          },
          kCallTimeoutUs);
    } catch (const sdbus::Error& e) {
      // The call never left: its caller still gets an answer.
      if (auto it = pending.find(id); it != pending.end()) {
        Pending failed = std::move(it->second);
        pending.erase(it);
        deliver(std::move(failed), Reply{BusError{e.getName(), e.getMessage()}, {}, {}});
      }
    }
  }

  void onReply(std::uint64_t id, sdbus::MethodReply& message, const sdbus::Error* error) {
    auto it = pending.find(id);
    if (it == pending.end()) return;
    Pending p = std::move(it->second);
    pending.erase(it);
    Reply reply;
    if (error) {
      reply.error = BusError{error->getName(), error->getMessage()};
    } else {
      try {
        if (p.member == "ReadValue") {
          std::vector<std::uint8_t> bytes;
          message >> bytes;
          reply.bytes = std::move(bytes);
        } else if (p.member == "GetManagedObjects") {
          std::map<sdbus::ObjectPath, InterfacesAndProperties> objects;
          message >> objects;
          reply.objects.emplace();
          for (const auto& [path, interfaces] : objects) {
            reply.objects->push_back(decodeObject(path, interfaces));
          }
        }
      } catch (const sdbus::Error& e) {
        reply = Reply{
            BusError{kBadReplyError, "the reply could not be read: " + e.getMessage()}, {}, {}};
      }
    }
    deliver(std::move(p), std::move(reply));
  }

  void busLost(const std::string& why) {
    logLine("bluez: the system bus connection ended: " + why);
    lost = true;
    auto outstanding = std::move(pending);
    pending.clear();
    for (auto& [id, p] : outstanding) {
      deliver(std::move(p), Reply{BusError{kDisconnectedError, why}, {}, {}});
    }
    post(DaemonChanged{false, true});
  }

  void loop() {
    for (;;) {
      std::deque<Command> batch;
      {
        const std::lock_guard lock(mutex);
        if (stopping) return;
        batch.swap(commands);
      }
      for (auto& c : batch) send(std::move(c.call), std::move(c.pending));
      pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
      int timeout = -1;
      if (!lost) {
        try {
          while (connection->processPendingRequest()) {
          }
          const auto data = connection->getEventLoopPollData();
          fds[1] = {data.fd, data.events, 0};
          timeout = data.getPollTimeout();
        } catch (const sdbus::Error& e) {
          busLost(e.getMessage());
          continue;
        }
      }
      if (::poll(fds, lost ? 1 : 2, timeout) < 0 && errno != EINTR) {
        busLost(std::string("poll failed: ") + std::strerror(errno));
        continue;
      }
      if (fds[0].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(wakeFd, &count, sizeof count);
      }
    }
  }
};

BusThread::BusThread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<BusThread> BusThread::start(EventHandler handler, BusError& error) {
  auto impl = std::make_unique<Impl>();
  impl->handler = std::move(handler);
  try {
    impl->connection = sdbus::createSystemBusConnection();
    impl->installMatches();  // before anyone asks for the objects, so no change is missed
  } catch (const sdbus::Error& e) {
    error = BusError{e.getName(), e.getMessage()};
    return nullptr;
  }
  impl->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl->wakeFd < 0) {
    error = BusError{"org.freedesktop.DBus.Error.Failed", "eventfd failed"};
    return nullptr;
  }
  auto* raw = impl.get();
  impl->thread = std::thread([raw] { raw->loop(); });
  return std::make_unique<BusThread>(std::move(impl));
}

BusThread::~BusThread() {
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake();
  impl_->thread.join();
  // Outstanding calls are dropped with their holds; the proxies go before the connection.
  impl_->pending.clear();
  impl_->proxies.clear();
  impl_->matches.clear();
}

void BusThread::call(Call call, ReplyHandler done) {
  Impl::Pending p{call.member, std::move(done), std::make_unique<dispatch::WorkInFlight>()};
  impl_->enqueue({std::move(call), std::move(p)});
}

}  // namespace ble::bluez
HCF_NAMESPACE_END
