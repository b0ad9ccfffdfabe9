#include "fake_bluez_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace hcf_bluez {

namespace {

constexpr const char* kMockInterface = "org.bluez.Mock";

std::string hex(const hcf::Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (const auto b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

std::string lower(const hcf::ble::UUID& u) { return u.lowercaseString(); }

// Starts `argv` with stdout and stderr sent to the given descriptors, in a process group of
// its own (Ctrl-C at the terminal is not for it).
pid_t spawn(const std::vector<std::string>& argv, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
}

std::string python() {
  // Debian's interpreter has python3-dbusmock; a python3 of a virtual environment may not.
  return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

FakeBluez::FakeBluez(const std::string& parameters, std::optional<std::filesystem::path> busConfig)
    : parameters_(parameters),
      config_(busConfig.value_or(std::filesystem::path(HCF_FAKE_BLUEZ_DIR) / "private-bus.conf")) {
  char pattern[] = "/tmp/hcf-fake-bluez-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary directory");
  dir_ = pattern;
  // A fixed socket and no server guid in the address, so a restarted bus is the same bus to
  // the clients that connect again.
  address_ = "unix:path=" + (dir_ / "system_bus_socket").string();
  if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) savedAddress_ = old;
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
  try {
    startBus();
    startDaemon();
  } catch (...) {
    shutdown();
    throw;
  }
}

void FakeBluez::startBus() {
  const int log = ::open((dir_ / "bus.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  busPid_ = spawn({"dbus-daemon", "--config-file=" + config_.string(), "--address=" + address_,
                   "--nofork", "--print-address=1"},
                  pipeFds[1], log);
  ::close(pipeFds[1]);
  ::close(log);
  std::string line;
  char c = 0;
  pollfd fd{pipeFds[0], POLLIN, 0};
  while (::poll(&fd, 1, 20000) > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(pipeFds[0]);
  if (line.empty()) {
    stop(busPid_);
    throw std::runtime_error("dbus-daemon did not start: " + readFile(dir_ / "bus.log"));
  }
  connection_ = sdbus::createSystemBusConnection();
}

FakeBluez::~FakeBluez() { shutdown(); }

void FakeBluez::shutdown() {
  mock_.reset();
  connection_.reset();
  stop(daemonPid_);
  stop(busPid_);
  if (savedAddress_) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_->c_str(), 1);
  } else {
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void FakeBluez::startDaemon() {
  const auto logPath = dir_ / "bluetoothd.log";
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  daemonPid_ = spawn({python(), "-m", "dbusmock", "--system", "-t",
                      std::string(HCF_FAKE_BLUEZ_DIR) + "/fake_bluez.py", "-p", parameters_},
                     log, log);
  const pid_t wait = spawn({"gdbus", "wait", "--system", "--timeout", "20", "org.bluez"}, log, log);
  ::close(log);
  int status = 0;
  ::waitpid(wait, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    stop(daemonPid_);
    throw std::runtime_error("the fake bluetoothd did not start: " + readFile(logPath));
  }
  mock_ = sdbus::createProxy(*connection_, "org.bluez", "/");
}

sdbus::IProxy& FakeBluez::mock() {
  if (!mock_) throw std::logic_error("the fake bluetoothd is not running");
  return *mock_;
}

std::string FakeBluez::addDevice(const std::string& address, const nlohmann::json& description) {
  sdbus::ObjectPath path;
  mock()
      .callMethod("AddLEDevice")
      .onInterface(kMockInterface)
      .withArguments(address, description.dump())
      .storeResultsTo(path);
  return path;
}

std::string FakeBluez::addDevice(const std::string& address, const hcf::ble::sim::Device& device,
                                 int rssi, const std::vector<hcf::ble::UUID>& notifyOnWrite) {
  nlohmann::json d;
  const auto& adv = device.advertisement();
  d["name"] = device.name() ? nlohmann::json(*device.name()) : nlohmann::json(nullptr);
  d["rssi"] = rssi;
  d["uuids"] = nlohmann::json::array();
  if (adv.serviceUUIDs) {
    for (const auto& u : *adv.serviceUUIDs) d["uuids"].push_back(lower(u));
  }
  d["manufacturerData"] = nlohmann::json::object();
  if (adv.manufacturerData && adv.manufacturerData->size() >= 2) {
    const auto& m = *adv.manufacturerData;
    const int company = m[0] | (m[1] << 8);
    d["manufacturerData"][std::to_string(company)] = hex(hcf::Bytes(m.begin() + 2, m.end()));
  }
  d["services"] = nlohmann::json::array();
  for (const auto& s : device.services()) {
    nlohmann::json service{{"uuid", lower(s.uuid)}, {"characteristics", nlohmann::json::array()}};
    for (const auto& c : s.characteristics) {
      nlohmann::json flags = nlohmann::json::array();
      if (c.properties.read) flags.push_back("read");
      if (c.properties.write) flags.push_back("write");
      if (c.properties.writeWithoutResponse) flags.push_back("write-without-response");
      if (c.properties.notify) flags.push_back("notify");
      const bool answers =
          std::find(notifyOnWrite.begin(), notifyOnWrite.end(), c.uuid) != notifyOnWrite.end();
      service["characteristics"].push_back({{"uuid", lower(c.uuid)},
                                            {"flags", flags},
                                            {"value", hex(c.value)},
                                            {"notifyOnWrite", answers}});
    }
    d["services"].push_back(service);
  }
  return addDevice(address, d);
}

void FakeBluez::setAdvertising(const std::string& address, bool on) {
  mock().callMethod("SetAdvertising").onInterface(kMockInterface).withArguments(address, on);
}

void FakeBluez::setRSSI(const std::string& address, std::int16_t rssi) {
  mock().callMethod("SetRSSI").onInterface(kMockInterface).withArguments(address, rssi);
}

void FakeBluez::setManufacturerData(const std::string& address, std::uint16_t company,
                                    const hcf::Bytes& data) {
  mock()
      .callMethod("SetManufacturerData")
      .onInterface(kMockInterface)
      .withArguments(address, company, data);
}

void FakeBluez::setValue(const std::string& address, const hcf::ble::UUID& uuid,
                         const hcf::Bytes& value) {
  mock()
      .callMethod("SetValue")
      .onInterface(kMockInterface)
      .withArguments(address, lower(uuid), value);
}

void FakeBluez::setValueSequence(const std::string& address, const hcf::ble::UUID& uuid,
                                 const std::vector<hcf::Bytes>& values) {
  mock()
      .callMethod("SetValueSequence")
      .onInterface(kMockInterface)
      .withArguments(address, lower(uuid), values);
}

bool FakeBluez::notify(const std::string& address, const hcf::ble::UUID& uuid,
                       const hcf::Bytes& value) {
  bool sent = false;
  mock()
      .callMethod("Notify")
      .onInterface(kMockInterface)
      .withArguments(address, lower(uuid), value)
      .storeResultsTo(sent);
  return sent;
}

bool FakeBluez::changeValue(const std::string& address, const hcf::ble::UUID& uuid,
                            const hcf::Bytes& value) {
  bool sent = false;
  mock()
      .callMethod("ChangeValue")
      .onInterface(kMockInterface)
      .withArguments(address, lower(uuid), value)
      .storeResultsTo(sent);
  return sent;
}

void FakeBluez::dropLink(const std::string& address) {
  mock().callMethod("DropLink").onInterface(kMockInterface).withArguments(address);
}

void FakeBluez::failNext(const std::string& address, const std::optional<hcf::ble::UUID>& uuid,
                         const std::string& method, const std::string& errorName, int times) {
  mock()
      .callMethod("FailNext")
      .onInterface(kMockInterface)
      .withArguments(address, uuid ? lower(*uuid) : std::string(), method, errorName,
                     std::string("injected failure"), times);
}

void FakeBluez::holdServiceResolution(const std::string& address, bool hold) {
  mock()
      .callMethod("HoldServiceResolution")
      .onInterface(kMockInterface)
      .withArguments(address, hold);
}

void FakeBluez::resolveServices(const std::string& address,
                                const std::vector<hcf::ble::UUID>& withheld) {
  std::vector<std::string> uuids;
  for (const auto& u : withheld) uuids.push_back(lower(u));
  mock().callMethod("ResolveServices").onInterface(kMockInterface).withArguments(address, uuids);
}

void FakeBluez::exportWithheld(const std::string& address) {
  mock().callMethod("ExportWithheld").onInterface(kMockInterface).withArguments(address);
}

std::vector<hcf::Bytes> FakeBluez::writes(const std::string& address, const hcf::ble::UUID& uuid) {
  std::vector<std::vector<std::uint8_t>> values;
  mock()
      .callMethod("Writes")
      .onInterface(kMockInterface)
      .withArguments(address, lower(uuid))
      .storeResultsTo(values);
  return {values.begin(), values.end()};
}

void FakeBluez::setPowered(bool on) {
  mock().callMethod("SetPowered").onInterface(kMockInterface).withArguments(on);
}

std::map<std::string, std::string> FakeBluez::discoveryFilter() {
  std::map<std::string, sdbus::Variant> filter;
  mock().callMethod("DiscoveryFilter").onInterface(kMockInterface).storeResultsTo(filter);
  std::map<std::string, std::string> out;
  for (const auto& [key, v] : filter) {
    if (v.containsValueOfType<std::string>()) {
      out[key] = v.get<std::string>();
    } else if (v.containsValueOfType<bool>()) {
      out[key] = v.get<bool>() ? "true" : "false";
    } else if (v.containsValueOfType<std::vector<std::string>>()) {
      std::string joined;
      for (const auto& s : v.get<std::vector<std::string>>()) {
        joined += (joined.empty() ? "" : ",") + s;
      }
      out[key] = joined;
    } else {
      out[key] = "(" + v.peekValueType() + ")";
    }
  }
  return out;
}

void FakeBluez::vanish() {
  mock_.reset();
  stop(daemonPid_);
}

void FakeBluez::comeBack() { startDaemon(); }

void FakeBluez::busGoesDown() {
  mock_.reset();
  connection_.reset();
  stop(daemonPid_);
  stop(busPid_);
  std::error_code ec;
  std::filesystem::remove(dir_ / "system_bus_socket", ec);
}

void FakeBluez::busComesBack() {
  startBus();
  startDaemon();
}

void FakeBluez::expireTemporaryDevices() {
  mock().callMethod("ExpireTemporary").onInterface(kMockInterface);
}

std::string FakeBluez::rotateAddress(const std::string& address, const std::string& next) {
  sdbus::ObjectPath path;
  mock()
      .callMethod("RotateAddress")
      .onInterface(kMockInterface)
      .withArguments(address, next)
      .storeResultsTo(path);
  return path;
}

}  // namespace hcf_bluez
