#include "network_state.h"

#include <fstream>
#include <sstream>

HCF_NAMESPACE_BEGIN
namespace net {

namespace {

constexpr unsigned kRouteUp = 0x1;        // RTF_UP
constexpr unsigned kRouteReject = 0x200;  // RTF_REJECT (an "unreachable" route)
constexpr unsigned kInterfaceUp = 0x1;    // IFF_UP
constexpr unsigned kInterfaceLoopback = 0x8;

// By name alone, when the kernel does not say: the drivers' own modem names.
bool isCellularName(const std::string& name) {
  return name.rfind("wwan", 0) == 0 || name.rfind("rmnet", 0) == 0 || name.rfind("ppp", 0) == 0;
}

// The DEVTYPE of the interface's uevent file: "wwan" for a modem, "wlan" for Wi-Fi; empty when
// the file is missing or names none (wired links name none).
std::string deviceType(const std::filesystem::path& dir) {
  std::ifstream in(dir / "uevent");
  std::string line;
  while (in && std::getline(in, line)) {
    if (line.rfind("DEVTYPE=", 0) == 0) return line.substr(8);
  }
  return "";
}

std::optional<std::string> readFirstLine(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

Interface readInterface(const std::filesystem::path& dir, const std::string& name) {
  Interface i;
  const std::string type = deviceType(dir);
  i.cellular = type == "wwan" || (type != "wlan" && isCellularName(name));
  if (auto flags = readFirstLine(dir / "flags")) {
    try {
      const unsigned long f = std::stoul(*flags, nullptr, 16);
      i.up = (f & kInterfaceUp) != 0;
      i.loopback = (f & kInterfaceLoopback) != 0;
    } catch (const std::exception&) {
    }
  }
  if (auto state = readFirstLine(dir / "operstate")) {
    // "unknown" is what the loopback and many virtual links report while working.
    if (*state != "up" && *state != "unknown") i.up = false;
  }
  return i;
}

}  // namespace

Interface NetworkState::interface(const std::string& name) const {
  auto it = interfaces.find(name);
  if (it != interfaces.end()) return it->second;
  Interface i;
  i.cellular = isCellularName(name);
  i.loopback = name == "lo";
  return i;
}

std::optional<NetworkState> readNetworkState(const std::filesystem::path& root) {
  std::ifstream routes(root / "proc/net/route");
  if (!routes) return std::nullopt;
  NetworkState state;
  std::string line;
  std::getline(routes, line);  // header
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    try {
      Route4 r;
      r.interface = iface;
      r.destination = static_cast<std::uint32_t>(std::stoul(dest, nullptr, 16));
      r.gateway = static_cast<std::uint32_t>(std::stoul(gateway, nullptr, 16));
      r.mask = static_cast<std::uint32_t>(std::stoul(mask, nullptr, 16));
      const unsigned long f = std::stoul(flags, nullptr, 16);
      r.up = (f & kRouteUp) != 0 && (f & kRouteReject) == 0;
      state.routes4.push_back(r);
    } catch (const std::exception&) {
      // a malformed line is skipped
    }
  }

  std::ifstream routes6(root / "proc/net/ipv6_route");
  while (routes6 && std::getline(routes6, line)) {
    std::istringstream fields(line);
    std::string dest, destLen, src, srcLen, next, metric, refcnt, use, flags, iface;
    if (!(fields >> dest >> destLen >> src >> srcLen >> next >> metric >> refcnt >> use >> flags >>
          iface)) {
      continue;
    }
    try {
      const unsigned long f = std::stoul(flags, nullptr, 16);
      const bool isDefault = dest == std::string(32, '0') && destLen == "00";
      if (isDefault && iface != "lo" && (f & kRouteUp) && !(f & kRouteReject)) {
        state.ipv6DefaultInterface = iface;
      }
    } catch (const std::exception&) {
    }
  }

  std::error_code ec;
  const auto sys = root / "sys/class/net";
  for (const auto& entry : std::filesystem::directory_iterator(sys, ec)) {
    const std::string name = entry.path().filename().string();
    state.interfaces[name] = readInterface(entry.path(), name);
  }
  return state;
}

}  // namespace net
HCF_NAMESPACE_END
