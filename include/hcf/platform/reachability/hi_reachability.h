// Whether the network can be reached, and a notifier for when that changes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "hcf/core/export.h"
#include "hcf/platform/dispatch/queues.h"

struct sockaddr;

HCF_NAMESPACE_BEGIN

/// Reachability status values.
enum class NetworkStatus : std::int64_t {
  NotReachable = 0,
  ReachableViaWiFi = 1,  ///< any non-cellular path
  ReachableViaWWAN = 2,  ///< the cellular network
};

/// Flags of a reachability target, as the phone platform defines them; on Linux they are
/// derived from the machine's routes and interfaces.
namespace reachability_flags {
/// The target is reached over a connection set up for the moment (a dial-up link).
inline constexpr std::uint32_t kTransientConnection = 0x1;
/// A route to the target exists on an interface that is up.
inline constexpr std::uint32_t kReachable = 0x2;
/// A connection must be set up before the target can be reached (never on Linux).
inline constexpr std::uint32_t kConnectionRequired = 0x4;
/// The connection is set up by any traffic to the target (never on Linux).
inline constexpr std::uint32_t kConnectionOnTraffic = 0x8;
/// Setting up the connection needs the user (a password) (never on Linux).
inline constexpr std::uint32_t kInterventionRequired = 0x10;
/// The connection is set up on demand (never on Linux).
inline constexpr std::uint32_t kConnectionOnDemand = 0x20;
/// The target is an address of this machine.
inline constexpr std::uint32_t kIsLocalAddress = 0x10000;
/// The route to the target has no gateway: the target is on the local network.
inline constexpr std::uint32_t kIsDirect = 0x20000;
/// The route goes through the cellular network (a modem interface).
inline constexpr std::uint32_t kIsWWAN = 0x40000;
}  // namespace reachability_flags

/// Watches whether a host, an address, the internet or the local network can be reached.
/// On Linux the flags come from the routing table (/proc/net/route, /proc/net/ipv6_route) and
/// the interfaces' state (/sys/class/net): a target is reachable through a route on an
/// interface that is up; directly when that route has no gateway; over the cellular network
/// when the interface is a modem (wwan*, rmnet*, ppp*).
class HCF_API HIReachability : public std::enable_shared_from_this<HIReachability> {
 public:
  /// For a host name (an IPv4 or IPv6 literal is looked up as an address; "localhost" is the
  /// loopback; any other name is reachable when the internet is). Empty for an empty name.
  static std::shared_ptr<HIReachability> reachabilityWithHostName(const std::string& hostName);
  /// For a socket address (IPv4 or IPv6); empty for any other family or a null address.
  static std::shared_ptr<HIReachability> reachabilityWithAddress(const sockaddr* address);
  /// For any internet route (the zero IPv4 address).
  static std::shared_ptr<HIReachability> reachabilityForInternetConnection();
  /// For the local network (the link-local network 169.254.0.0); reports the local Wi-Fi status.
  static std::shared_ptr<HIReachability> reachabilityForLocalWiFi();

  /// Starts watching: whenever the status changes, logs "HI Apple Reachability is posting
  /// notification to callback: kNetworkReachabilityChangedNotification" and posts that
  /// notification (object: this reachability) on the main queue. The network is looked at
  /// every two seconds on the main queue's clock. Returns true.
  bool startNotifier();
  /// Stops watching; no notification is posted after it. Nothing happens when not watching.
  void stopNotifier();

  /// The status now: NotReachable when the flags cannot be read.
  NetworkStatus currentReachabilityStatus() const;
  /// Whether a connection must be set up first (never on Linux); false when unreadable.
  bool connectionRequired() const;
  /// The target's flags now; empty when the network state cannot be read.
  std::optional<std::uint32_t> reachabilityFlags() const;

  /// Status from flags: not reachable gives 0; reachable without ConnectionRequired gives 1,
  /// as does on-demand or on-traffic without InterventionRequired; IsWWAN gives 2.
  static NetworkStatus networkStatusForFlags(std::uint32_t flags);
  /// 1 when both Reachable and IsDirect are set, else 0.
  static NetworkStatus localWiFiStatusForFlags(std::uint32_t flags);

  /// True for the local-network reachability, whose status is the local Wi-Fi status.
  bool alwaysReturnLocalWiFiStatus() const { return alwaysReturnLocalWiFiStatus_; }

  /// Where the network state is read (default "/"): a test or a container points it at a
  /// folder holding proc/net/route, proc/net/ipv6_route and `sys/class/net/<interface>/`.
  static void setNetworkStateRoot(std::filesystem::path root);

  /// What is watched: a host, an address, or a network.
  struct Target;
  /// For the factories above: watches `target`; `localWiFi` reports the local Wi-Fi status.
  HIReachability(const Target& target, bool localWiFi);
  ~HIReachability();

 private:
  std::unique_ptr<Target> target_;
  bool alwaysReturnLocalWiFiStatus_ = false;
  dispatch::Timer poll_;
  std::optional<NetworkStatus> lastStatus_;
};

HCF_NAMESPACE_END
