// The machine's routes and interfaces, read from /proc and /sys.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace net {

struct Route4 {
  std::string interface;
  std::uint32_t destination = 0;  // network byte order, as the kernel prints it
  std::uint32_t gateway = 0;
  std::uint32_t mask = 0;
  bool up = false;
};

struct Interface {
  bool up = true;
  bool loopback = false;
  bool cellular = false;  // a modem: DEVTYPE=wwan in its uevent, else named wwan*, rmnet*, ppp*
};

struct NetworkState {
  std::vector<Route4> routes4;
  std::optional<std::string> ipv6DefaultInterface;
  std::map<std::string, Interface> interfaces;

  /// The interface's state (an interface missing from /sys counts as up, not a modem).
  Interface interface(const std::string& name) const;
};

/// Reads the state under `root` (normally "/"); empty when the IPv4 routing table cannot be read.
std::optional<NetworkState> readNetworkState(const std::filesystem::path& root);

}  // namespace net
HCF_NAMESPACE_END
