#include "hcf/platform/reachability/hi_reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <mutex>

#include "hcf/core/log.h"
#include "hcf/platform/notify/notification_center.h"
#include "network_state.h"

HCF_NAMESPACE_BEGIN

using namespace reachability_flags;

namespace {

// How often a started notifier looks at the network.
constexpr auto kPollInterval = std::chrono::seconds(2);

std::mutex& rootMutex() {
  static std::mutex m;
  return m;
}

std::filesystem::path& rootPath() {
  static std::filesystem::path root = "/";
  return root;
}

std::filesystem::path currentRoot() {
  const std::lock_guard lock(rootMutex());
  return rootPath();
}

constexpr std::uint32_t kLoopbackFlags = kReachable | kIsLocalAddress | kIsDirect;

}  // namespace

struct HIReachability::Target {
  enum class Kind { Internet, LocalNetwork, IPv4, IPv6, Loopback };
  Kind kind = Kind::Internet;
  std::uint32_t ipv4 = 0;  // network byte order
  std::array<std::uint8_t, 16> ipv6{};
};

namespace {

std::uint32_t flagsFor(const HIReachability::Target& t, const net::NetworkState& s) {
  using Kind = HIReachability::Target::Kind;
  const auto viaInterface = [&](const std::string& iface, bool direct) {
    const net::Interface i = s.interface(iface);
    if (!i.up) return 0u;
    return kReachable | (direct ? kIsDirect : 0u) | (i.cellular ? kIsWWAN : 0u);
  };
  switch (t.kind) {
    case Kind::Loopback:
      return kLoopbackFlags;
    case Kind::LocalNetwork:
      // A directly connected network on an interface that is neither the loopback nor a modem.
      for (const auto& r : s.routes4) {
        const net::Interface i = s.interface(r.interface);
        if (r.up && r.gateway == 0 && i.up && !i.loopback && !i.cellular) {
          return kReachable | kIsDirect;
        }
      }
      return 0;
    case Kind::Internet:
    case Kind::IPv4: {
      // The longest matching prefix on an up route wins.
      const net::Route4* best = nullptr;
      for (const auto& r : s.routes4) {
        if (!r.up || (t.ipv4 & r.mask) != (r.destination & r.mask)) continue;
        if (t.kind == Kind::Internet && r.mask != 0) continue;  // any internet route: the default
        if (!best || ntohl(r.mask) > ntohl(best->mask)) best = &r;
      }
      if (best) {
        if (const auto f = viaInterface(best->interface, best->gateway == 0); f != 0) return f;
      }
      if (t.kind == Kind::Internet && s.ipv6DefaultInterface) {
        return viaInterface(*s.ipv6DefaultInterface, false);
      }
      return 0;
    }
    case Kind::IPv6:
      if (s.ipv6DefaultInterface) return viaInterface(*s.ipv6DefaultInterface, false);
      return 0;
  }
  return 0;
}

HIReachability::Target ipv4Target(std::uint32_t networkOrder) {
  HIReachability::Target t;
  t.kind = (ntohl(networkOrder) >> 24) == 127 ? HIReachability::Target::Kind::Loopback
                                              : HIReachability::Target::Kind::IPv4;
  t.ipv4 = networkOrder;
  return t;
}

HIReachability::Target ipv6Target(const in6_addr& a) {
  HIReachability::Target t;
  std::memcpy(t.ipv6.data(), a.s6_addr, 16);
  static const std::array<std::uint8_t, 16> kLoopback = {0, 0, 0, 0, 0, 0, 0, 0,
                                                         0, 0, 0, 0, 0, 0, 0, 1};
  t.kind = t.ipv6 == kLoopback ? HIReachability::Target::Kind::Loopback
                               : HIReachability::Target::Kind::IPv6;
  return t;
}

}  // namespace

HIReachability::HIReachability(const Target& target, bool localWiFi)
    : target_(std::make_unique<Target>(target)), alwaysReturnLocalWiFiStatus_(localWiFi) {}

HIReachability::~HIReachability() { poll_.cancel(); }

void HIReachability::setNetworkStateRoot(std::filesystem::path root) {
  const std::lock_guard lock(rootMutex());
  rootPath() = std::move(root);
}

std::shared_ptr<HIReachability> HIReachability::reachabilityWithHostName(
    const std::string& hostName) {
  if (hostName.empty()) return nullptr;
  in_addr v4{};
  if (inet_pton(AF_INET, hostName.c_str(), &v4) == 1) {
    return std::make_shared<HIReachability>(ipv4Target(v4.s_addr), false);
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, hostName.c_str(), &v6) == 1) {
    return std::make_shared<HIReachability>(ipv6Target(v6), false);
  }
  Target t;
  t.kind = hostName == "localhost" ? Target::Kind::Loopback : Target::Kind::Internet;
  return std::make_shared<HIReachability>(t, false);
}

std::shared_ptr<HIReachability> HIReachability::reachabilityWithAddress(const sockaddr* address) {
  if (!address) return nullptr;
  if (address->sa_family == AF_INET) {
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    return std::make_shared<HIReachability>(ipv4Target(in.sin_addr.s_addr), false);
  }
  if (address->sa_family == AF_INET6) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, address, sizeof in6);
    return std::make_shared<HIReachability>(ipv6Target(in6.sin6_addr), false);
  }
  return nullptr;
}

std::shared_ptr<HIReachability> HIReachability::reachabilityForInternetConnection() {
  return std::make_shared<HIReachability>(Target{}, false);
}

std::shared_ptr<HIReachability> HIReachability::reachabilityForLocalWiFi() {
  Target t;
  t.kind = Target::Kind::LocalNetwork;
  t.ipv4 = htonl(0xA9FE0000);  // 169.254.0.0
  return std::make_shared<HIReachability>(t, true);
}

std::optional<std::uint32_t> HIReachability::reachabilityFlags() const {
  const auto state = net::readNetworkState(currentRoot());
  if (!state) return std::nullopt;
  return flagsFor(*target_, *state);
}

NetworkStatus HIReachability::networkStatusForFlags(std::uint32_t flags) {
  if ((flags & kReachable) == 0) return NetworkStatus::NotReachable;
  NetworkStatus status = NetworkStatus::NotReachable;
  if ((flags & kConnectionRequired) == 0) status = NetworkStatus::ReachableViaWiFi;
  if (((flags & kConnectionOnDemand) != 0 || (flags & kConnectionOnTraffic) != 0) &&
      (flags & kInterventionRequired) == 0) {
    status = NetworkStatus::ReachableViaWiFi;
  }
  if ((flags & kIsWWAN) != 0) status = NetworkStatus::ReachableViaWWAN;
  return status;
}

NetworkStatus HIReachability::localWiFiStatusForFlags(std::uint32_t flags) {
  return ((flags & kReachable) != 0 && (flags & kIsDirect) != 0) ? NetworkStatus::ReachableViaWiFi
                                                                 : NetworkStatus::NotReachable;
}

NetworkStatus HIReachability::currentReachabilityStatus() const {
  const auto flags = reachabilityFlags();
  if (!flags) return NetworkStatus::NotReachable;
  return alwaysReturnLocalWiFiStatus_ ? localWiFiStatusForFlags(*flags)
                                      : networkStatusForFlags(*flags);
}

bool HIReachability::connectionRequired() const {
  const auto flags = reachabilityFlags();
  return flags && (*flags & kConnectionRequired) != 0;
}

bool HIReachability::startNotifier() {
  poll_.cancel();
  lastStatus_ = currentReachabilityStatus();
  std::weak_ptr<HIReachability> weak = weak_from_this();
  poll_ = dispatch::mainQueue().every(kPollInterval, [weak] {
    auto self = weak.lock();
    if (!self) return;
    const NetworkStatus now = self->currentReachabilityStatus();
    if (self->lastStatus_ && *self->lastStatus_ == now) return;
    self->lastStatus_ = now;
    logLine(std::string("HI Apple Reachability is posting notification to callback: ") +
            notify::kNetworkReachabilityChangedNotification);
    notify::NotificationCenter::defaultCenter().post(
        notify::kNetworkReachabilityChangedNotification, self);
  });
  return true;
}

void HIReachability::stopNotifier() { poll_.cancel(); }

HCF_NAMESPACE_END
