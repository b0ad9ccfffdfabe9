// hcf doctor: what measuring with real instruments needs, checked one line each (bluetoothd and
// its adapter, access to them, the cloud and the SDK key, the data directory, the catalogue,
// the kit's keep-alive and time settings), with what to do about each thing that is missing.
// Every check waits a few seconds at most: the system bus is read on a thread of its own that
// is given up on after kBusWait, and the login has a request time-out of its own.
#include <grp.h>
#include <hcf/hcf.h>
#include <pwd.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <thread>

#include "await_answer.h"
#include "cli.h"
#include "commands.h"
#include "output_format.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

namespace fs = std::filesystem;
using namespace hcf;
using namespace std::chrono_literals;

// How long the whole look at the system bus may take, and each call on it.
constexpr auto kBusWait = 5s;
constexpr auto kBusCallWait = 2s;
// How long the login may take, and the store queries after it.
constexpr auto kCloudWait = 5s;
constexpr auto kStoreWait = 5s;
// The bus sd-bus connects to when DBUS_SYSTEM_BUS_ADDRESS is unset.
constexpr const char* kDefaultSystemBus = "unix:path=/run/dbus/system_bus_socket";
// A clock that reads earlier than this is wrong: no build of the kit is older.
constexpr auto kEarliestPlausibleDate = std::chrono::sys_days{std::chrono::January / 1 / 2025};

constexpr const char* kUsageText =
    "usage: hcf doctor [--adapter hciN] [--data DIR] [--sdk-key KEY] [--format text|json|csv]\n"
    "  Checks what measuring with real instruments needs, one line each: ok, warning or\n"
    "  problem, and what to do. bluetoothd on the system bus (that of DBUS_SYSTEM_BUS_ADDRESS\n"
    "  when set); the adapter (the first one, or --adapter) and whether it is powered; access\n"
    "  to bluetoothd; the cloud of HCF_CLOUD_URL and the SDK key (--sdk-key or HCF_SDK_KEY);\n"
    "  the data directory (--data DIR, else $XDG_DATA_HOME/hcf or ~/.local/share/hcf) and the\n"
    "  temporary directory; the catalogue installed; the kit's keep-alive and time settings.\n"
    "  Each check waits a few seconds at most. Exit status 0 when nothing is a problem\n"
    "  (warnings allowed), 1 otherwise.\n";

enum class Status { Ok, Warning, Problem };

const char* statusName(Status s) {
  switch (s) {
    case Status::Ok:
      return "ok";
    case Status::Warning:
      return "warning";
    case Status::Problem:
      return "problem";
  }
  return "problem";
}

struct Check {
  std::string name;
  Status status = Status::Ok;
  std::string detail;
  std::string advice;  // empty when there is nothing to do
};

// ---- the system bus and bluetoothd -------------------------------------------------------

struct Adapter {
  std::string name;  // "hci0"
  bool powered = false;
};

// What the system bus says about bluetoothd.
struct BusFacts {
  std::string address;
  std::optional<std::string> busError;  // the bus could not be reached or did not answer
  bool daemon = false;                  // org.bluez has an owner
  std::optional<std::string> daemonError;
  bool accessDenied = false;
  std::vector<Adapter> adapters;  // by object path, the order in which the backend picks
};

std::string systemBusAddress() {
  const char* env = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  return env && *env ? env : kDefaultSystemBus;
}

std::string busErrorText(const sdbus::Error& e) { return e.getName() + ": " + e.getMessage(); }

// Reads the adapters from bluetoothd's objects, as the BlueZ backend does at start.
void readAdapters(sdbus::IConnection& bus, BusFacts& facts) {
  using Properties = std::map<std::string, sdbus::Variant>;
  std::map<sdbus::ObjectPath, std::map<std::string, Properties>> objects;
  try {
    sdbus::createProxy(bus, "org.bluez", "/")
        ->callMethod("GetManagedObjects")
        .onInterface("org.freedesktop.DBus.ObjectManager")
        .withTimeout(kBusCallWait)
        .storeResultsTo(objects);
  } catch (const sdbus::Error& e) {
    facts.accessDenied = e.getName() == "org.freedesktop.DBus.Error.AccessDenied";
    facts.daemonError = busErrorText(e);
    return;
  }
  for (const auto& [path, interfaces] : objects) {
    const auto adapter = interfaces.find("org.bluez.Adapter1");
    if (adapter == interfaces.end()) continue;
    const std::string p = path;
    Adapter a{p.substr(p.rfind('/') + 1), false};
    if (const auto powered = adapter->second.find("Powered"); powered != adapter->second.end()) {
      a.powered = powered->second.containsValueOfType<bool>() && powered->second.get<bool>();
    }
    facts.adapters.push_back(a);
  }
}

BusFacts readBus() {
  BusFacts facts;
  facts.address = systemBusAddress();
  try {
    const auto bus = sdbus::createSystemBusConnection();
    sdbus::createProxy(*bus, "org.freedesktop.DBus", "/org/freedesktop/DBus")
        ->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withTimeout(kBusCallWait)
        .withArguments(std::string("org.bluez"))
        .storeResultsTo(facts.daemon);
    if (facts.daemon) readAdapters(*bus, facts);
  } catch (const sdbus::Error& e) {
    facts.busError = busErrorText(e);
  } catch (const std::exception& e) {
    facts.busError = e.what();
  }
  return facts;
}

// Reads the bus on a thread of its own; `wait()` gives up after kBusWait (the thread is left
// to end by itself: a bus that never answers must not hold the program).
class BusReader {
 public:
  BusReader() {
    auto promise = std::make_shared<std::promise<BusFacts>>();
    future_ = promise->get_future();
    std::thread([promise] { promise->set_value(readBus()); }).detach();
  }
  BusFacts wait() {
    if (future_.wait_for(kBusWait) == std::future_status::ready) return future_.get();
    BusFacts late;
    late.address = systemBusAddress();
    late.busError = "no answer within " + std::to_string(kBusWait.count()) + " s";
    return late;
  }

 private:
  std::future<BusFacts> future_;
};

Check daemonCheck(const BusFacts& f) {
  const std::string bus = "the system bus (" + f.address + ")";
  if (f.busError) {
    return {"bluetoothd", Status::Problem, "cannot reach " + bus + ": " + *f.busError,
            "start D-Bus (sudo systemctl start dbus), or correct DBUS_SYSTEM_BUS_ADDRESS"};
  }
  if (!f.daemon) {
    return {"bluetoothd", Status::Problem, "not running: no org.bluez on " + bus,
            "start it: sudo systemctl start bluetooth (install the bluez package if it is "
            "missing)"};
  }
  if (f.daemonError && !f.accessDenied) {
    return {"bluetoothd", Status::Problem, "org.bluez did not answer: " + *f.daemonError,
            "restart it: sudo systemctl restart bluetooth"};
  }
  return {"bluetoothd", Status::Ok, "org.bluez is on " + bus, ""};
}

// How the adapter `name` is blocked by rfkill: "hard", "soft", or empty.
std::string rfkillBlock(const std::string& name) {
  const auto read = [](const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
  };
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/rfkill", ec)) {
    if (read(entry.path() / "type") != "bluetooth" || read(entry.path() / "name") != name) continue;
    if (read(entry.path() / "hard") == "1") return "hard";
    if (read(entry.path() / "soft") == "1") return "soft";
  }
  return {};
}

Check adapterCheck(const BusFacts& f, const std::optional<std::string>& wanted) {
  if (f.busError || !f.daemon || f.daemonError) {
    return {"adapter", Status::Warning,
            f.accessDenied ? "not checked: bluetoothd refused the question"
                           : "not checked: bluetoothd did not answer",
            f.accessDenied ? "see the permission line" : "see the bluetoothd line"};
  }
  std::string names;
  for (const auto& a : f.adapters) names += (names.empty() ? "" : ", ") + a.name;
  if (f.adapters.empty()) {
    return {"adapter", Status::Problem, "bluetoothd has no adapter",
            "plug in a Bluetooth LE adapter; 'bluetoothctl list' and 'rfkill list bluetooth' "
            "show what the system sees"};
  }
  const auto it = wanted ? std::find_if(f.adapters.begin(), f.adapters.end(),
                                        [&](const Adapter& a) { return a.name == *wanted; })
                         : f.adapters.begin();
  if (it == f.adapters.end()) {
    return {"adapter", Status::Problem, "no adapter " + *wanted + " (bluetoothd has " + names + ")",
            "choose one of " + names + " with --adapter (Options::adapter in a program)"};
  }
  const std::string others = !wanted && f.adapters.size() > 1
                                 ? " (the first of " + names + "; --adapter picks another)"
                                 : "";
  if (it->powered) return {"adapter", Status::Ok, it->name + " is powered" + others, ""};
  const std::string block = rfkillBlock(it->name);
  if (block == "hard") {
    return {"adapter", Status::Problem, it->name + " is off, blocked by its radio switch",
            "turn the radio on with its switch or key, then: bluetoothctl power on"};
  }
  if (block == "soft") {
    return {"adapter", Status::Problem, it->name + " is off, blocked by rfkill",
            "rfkill unblock bluetooth, then: bluetoothctl power on"};
  }
  return {"adapter", Status::Problem, it->name + " is powered off" + others,
          "turn it on: bluetoothctl power on"};
}

// Whether this user is in the "bluetooth" group, which bluetoothd's bus policy lets in on most
// distributions.
struct Membership {
  std::string user;
  bool root = false;
  bool groupExists = false;
  bool listed = false;     // the group database names the user
  bool inSession = false;  // this process has the group
};

Membership bluetoothMembership() {
  Membership m;
  const uid_t uid = ::geteuid();
  m.root = uid == 0;
  const passwd* pw = ::getpwuid(uid);
  m.user = pw ? pw->pw_name : std::to_string(uid);
  const gid_t primary = pw ? pw->pw_gid : ::getegid();
  const group* gr = ::getgrnam("bluetooth");
  if (!gr) return m;
  m.groupExists = true;
  const gid_t gid = gr->gr_gid;
  m.listed = primary == gid;
  for (char** member = gr->gr_mem; member && *member; ++member) {
    if (m.user == *member) m.listed = true;
  }
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(static_cast<std::size_t>(std::max(n, 0)));
  m.inSession = ::getegid() == gid || std::find(groups.begin(), groups.end(), gid) != groups.end();
  return m;
}

std::string membershipText(const Membership& m) {
  if (m.root) return "running as root";
  if (!m.groupExists) return "there is no bluetooth group here";
  if (m.inSession) return m.user + " is in the bluetooth group";
  if (m.listed) return m.user + " joined the bluetooth group after this login began";
  return m.user + " is not in the bluetooth group";
}

std::string joinAdvice(const Membership& m) {
  if (m.listed && !m.inSession) return "log in again, so that the bluetooth group applies";
  if (m.inSession) {
    return "the bus policy refuses the bluetooth group as well: see "
           "/etc/dbus-1/system.d/bluetooth.conf";
  }
  if (!m.groupExists) {
    return "make the bluetooth group and join it: sudo groupadd bluetooth && sudo usermod -aG "
           "bluetooth $USER, then log in again";
  }
  return "join the bluetooth group: sudo usermod -aG bluetooth $USER, then log in again";
}

Check permissionCheck(const BusFacts& f, const Membership& m) {
  if (f.accessDenied) {
    return {"permission", Status::Problem,
            "bluetoothd refused " + m.user + " (AccessDenied); " + membershipText(m),
            joinAdvice(m)};
  }
  if (f.daemon && !f.busError && !f.daemonError) {
    return {"permission", Status::Ok, "bluetoothd answers " + m.user + "; " + membershipText(m),
            ""};
  }
  // bluetoothd could not be asked: the group tells what it will most likely say.
  if (m.root || m.inSession) {
    return {"permission", Status::Ok, "not asked (bluetoothd did not answer); " + membershipText(m),
            ""};
  }
  return {"permission", Status::Warning,
          "not asked (bluetoothd did not answer); " + membershipText(m) +
              ", which bluetoothd usually requires",
          joinAdvice(m)};
}

// ---- the cloud -----------------------------------------------------------------------------

struct Login {
  Check check;
  std::optional<std::string> packageID;  // set when the login succeeded
};

Login cloudCheck(const std::string& sdkKey) {
  const char* env = std::getenv("HCF_CLOUD_URL");
  if (!env || !*env) {
    return {
        {"cloud", Status::Problem, "HCF_CLOUD_URL is not set: the kit has no cloud to log in to",
         "set HCF_CLOUD_URL to your cloud's address (without it, hcf measure --ble bluez uses "
         "the reference cloud, which knows only the simulated instruments)"},
        {}};
  }
  const std::string url = printable(env);
  if (sdkKey.empty()) {
    return {{"cloud", Status::Problem, "no SDK key set for " + url,
             "set HCF_SDK_KEY (or give --sdk-key KEY) to your application's SDK key"},
            {}};
  }
  http::Session::shared().setDefaultTimeout(kCloudWait);
  const auto answer = awaitAnswer<std::optional<HCFError>>(
      [&](auto done) { HCFCentral::tryCasAuthWithSDKKey(sdkKey, done); }, kCloudWait + 1s);
  if (!answer) {
    return {{"cloud", Status::Problem,
             "cannot reach " + url + ": no answer within " +
                 std::to_string(std::chrono::seconds(kCloudWait + 1s).count()) + " s",
             "check HCF_CLOUD_URL and the network"},
            {}};
  }
  if (const auto& error = std::get<0>(*answer)) {
    const std::string why = printable(error->localizedDescription);
    if (error->isTransportError()) {
      return {{"cloud", Status::Problem, "cannot reach " + url + ": " + why,
               "check HCF_CLOUD_URL and the network"},
              {}};
    }
    if (error->code == error_code::kAuthenticationFailed &&
        *error != HTUtility::loginAnswerUnreadableError()) {
      return {{"cloud", Status::Problem, "key refused by " + url + ": " + why,
               "check HCF_SDK_KEY (or --sdk-key): it must be the SDK key this cloud issued for "
               "your application"},
              {}};
    }
    // Any other status, or an answer without credentials: most likely not the cloud's login
    // at all (a wrong address).
    const bool status = error->code >= 100 && error->code < 600;
    return {{"cloud", Status::Problem,
             url + " answered the login with " +
                 (status ? "HTTP " + std::to_string(error->code) : "an error") + ": " + why,
             "check that HCF_CLOUD_URL is the cloud's base address; if it is, tell the cloud's "
             "operator"},
            {}};
  }
  const auto package = HCFCentral::creds().packageID;
  return {{"cloud", Status::Ok,
           "logged in to " + url + (package ? " (package " + printable(*package) + ")" : ""), ""},
          package};
}

// ---- directories and the catalogue ----------------------------------------------------------

// The folder temporary files go to, chosen as std::filesystem::temp_directory_path chooses it
// (which fails, rather than naming it, when it is not a directory).
fs::path temporaryDirectory() {
  for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
    if (const char* dir = std::getenv(name); dir && *dir) return dir;
  }
  return "/tmp";
}

// The kit's data directory when the application sets none (HCFRealmManager::docDirectory
// makes it; the doctor only looks).
fs::path defaultDataDirectory() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "hcf";
  if (const char* home = std::getenv("HOME"); home && *home) {
    return fs::path(home) / ".local/share/hcf";
  }
  return temporaryDirectory() / "hcf";
}

// Why no file can be made in `dir`, or empty when one can: one is made and removed.
std::string cannotWrite(const fs::path& dir) {
  std::string name = (dir / ".hcf-doctor-XXXXXX").string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(name.c_str());
  return {};
}

// `dir` writable, or missing with the nearest folder above it writable (the kit makes it).
Check directoryCheck(const std::string& check, const fs::path& dir, const std::string& elsewhere) {
  const std::string path = printable(dir.string());
  std::error_code ec;
  const auto state = fs::status(dir, ec);
  if (fs::exists(state)) {
    if (!fs::is_directory(state)) {
      return {check, Status::Problem, path + " is not a directory",
              "move the file away, or " + elsewhere};
    }
    if (const auto why = cannotWrite(dir); !why.empty()) {
      return {check, Status::Problem, path + " is not writable: " + why,
              "make it writable for you (chmod u+rwx '" + path + "'), or " + elsewhere};
    }
    return {check, Status::Ok, path + " is writable", ""};
  }
  fs::path above = dir.parent_path();
  while (!above.empty() && !fs::exists(above, ec) && above != above.parent_path()) {
    above = above.parent_path();
  }
  const std::string parent = printable(above.string());
  if (!fs::is_directory(above, ec)) {
    return {check, Status::Problem,
            path + " is missing and cannot be made: " + parent + " is not a directory", elsewhere};
  }
  if (const auto why = cannotWrite(above); !why.empty()) {
    return {check, Status::Problem,
            path + " is missing and cannot be made in " + parent + ": " + why,
            "make it (mkdir -p '" + path + "') as a user who may, or " + elsewhere};
  }
  return {check, Status::Ok, path + " does not exist yet; the kit makes it when first used", ""};
}

// The products stores in `dir` ("halvern-products-*.realm"), newest first; only that of
// `packageID` when it is known.
std::vector<fs::path> installedStores(const fs::path& dir,
                                      const std::optional<std::string>& packageID) {
  std::vector<std::pair<fs::file_time_type, fs::path>> found;
  std::error_code ec;
  const std::string wanted =
      packageID ? HCFRealmManager::storeFile(StoreKind::Products, packageID).filename().string()
                : "";
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const auto name = entry.path().filename().string();
    if (!name.starts_with("halvern-products-") || !name.ends_with(".realm")) continue;
    if (!wanted.empty() && name != wanted) continue;
    if (!entry.is_regular_file(ec)) continue;
    found.emplace_back(entry.last_write_time(ec), entry.path());
  }
  std::sort(found.begin(), found.end(), std::greater<>());
  std::vector<fs::path> stores;
  for (auto& f : found) stores.push_back(std::move(f.second));
  return stores;
}

std::string dateText(dispatch::WallTime t) {
  return HCFNetCommon::RFC3339StringFromDate(t).substr(0, 10);
}

// When the catalogue in `store` was published: the date the download log keeps for the key,
// else the file's own date.
std::string catalogueDate(const fs::path& store, const std::string& sdkKey, bool loggedIn) {
  std::error_code ec;
  if (loggedIn && fs::exists(HCFRealmManager::urlForLogsRealm(), ec)) {
    const auto logged = awaitAnswer<dispatch::WallTime>(
        [&](auto done) { HCFRealmManager::lastOfflineProductDownloadForSDKKey(sdkKey, done); },
        kStoreWait);
    if (logged && std::get<0>(*logged) > dispatch::WallTime{}) {
      return "dated " + dateText(std::get<0>(*logged));
    }
  }
  const auto written = fs::last_write_time(store, ec);
  if (ec) return "of an unknown date";
  return "file written " + dateText(std::chrono::time_point_cast<dispatch::WallTime::duration>(
                               std::chrono::file_clock::to_sys(written)));
}

Check catalogueCheck(const fs::path& dir, const Login& login, const std::string& sdkKey,
                     const std::string& download, const Check& dataCheck) {
  if (dataCheck.status == Status::Problem) {
    return {"catalogue", Status::Warning, "not checked: the data directory cannot be used",
            "see the data directory line"};
  }
  const std::string none = "none installed in " + printable(dir.string());
  const std::string advice = "run " + download + " (measuring works without it)";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return {"catalogue", Status::Warning, none, advice};
  const auto stores = installedStores(dir, login.packageID);
  if (stores.empty()) {
    return {"catalogue", Status::Warning,
            none + (login.packageID ? " for package " + printable(*login.packageID) : ""), advice};
  }
  const std::string file = printable(stores.front().string());
  auto catalog = HCFProductCatalog::open(stores.front());
  const auto count = catalog ? catalog->count() : Result<std::uint64_t>(catalog.error());
  if (!count) {
    return {"catalogue", Status::Warning,
            file + " cannot be read: " + printable(count.error().localizedDescription),
            "download it again: " + download};
  }
  if (*count == 0) return {"catalogue", Status::Warning, file + " holds no products", advice};
  return {"catalogue", Status::Ok,
          std::to_string(*count) + " products, " +
              catalogueDate(stores.front(), sdkKey, login.packageID.has_value()) + " (" + file +
              ")",
          ""};
}

// ---- the kit's settings -----------------------------------------------------------------------

struct Setting {
  const char* name;
  dispatch::Duration value;
  dispatch::Duration lowest;  // below this, or above `highest`, it makes no sense
  dispatch::Duration highest;
};

std::string secondsText(dispatch::Duration d) {
  return formatNumber(std::chrono::duration<double>(d).count()) + " s";
}

// One line of settings: each printed, and a warning for each outside its sensible range.
Check settingsCheck(const std::string& name, const std::vector<Setting>& settings,
                    std::string detail = {}) {
  Check c{name, Status::Ok, std::move(detail), ""};
  for (const auto& s : settings) {
    c.detail += (c.detail.empty() ? "" : ", ") + std::string(s.name) + " " + secondsText(s.value);
    if (s.value < s.lowest || s.value > s.highest) {
      c.status = Status::Warning;
      c.advice += (c.advice.empty() ? "" : "; ") + std::string(s.name) + " should be between " +
                  secondsText(s.lowest) + " and " + secondsText(s.highest);
    }
  }
  return c;
}

Check keepAliveCheck() {
  using Multi = HCFMultiConnectController;
  using Direct = HCFDirectConnectController;
  return settingsCheck("keep-alive",
                       {
                           {"every", HCFColorInstrument::kKeepAliveInterval, 10s, 5min},
                           {"scan window", Multi::kScanWindow, 1s, 1min},
                           {"connect window", Multi::kConnectWindow, 1s, 2min},
                           {"confirmation window", Multi::kConfirmationWindow, 5s, 5min},
                           {"discovery pass", Direct::kDiscoveryWindow, 500ms, 1min},
                           {"connect time-out", Direct::kConnectTimeout, 1s, 2min},
                       });
}

Check timeCheck(dispatch::Duration cloudTimeout) {
  const ble::bluez::Options bluez;
  const auto now = dispatch::wallClockNow();
  Check c = settingsCheck("time",
                          {
                              {"handshake", HCFColorInstrument::kHandshakeTimeout, 1s, 2min},
                              {"measurement", HCFColorInstrument::kMeasurementTimeout, 1s, 2min},
                              {"battery", HCFColorInstrument::kBatteryTimeout, 1s, 2min},
                              {"services", bluez.serviceResolutionTimeout, 1s, 2min},
                              {"cloud requests", cloudTimeout, 1s, 10min},
                          },
                          "clock " + HCFNetCommon::RFC3339StringFromDate(now));
  if (now < kEarliestPlausibleDate) {
    c.status = Status::Warning;
    c.advice =
        "the clock is wrong (certificates and the catalogue's dates depend on it): "
        "sudo timedatectl set-ntp true" +
        (c.advice.empty() ? "" : "; " + c.advice);
  }
  return c;
}

// ---- output -----------------------------------------------------------------------------------

void print(const std::vector<Check>& checks, Format format) {
  if (format == Format::Json) {
    JsonValue list = JsonValue::array();
    for (const auto& c : checks) {
      list.push_back({{"check", c.name},
                      {"status", statusName(c.status)},
                      {"detail", c.detail},
                      {"advice", c.advice}});
    }
    std::cout << jsonText(list) << '\n';
    return;
  }
  if (format == Format::Csv) {
    std::cout << "check,status,detail,advice\n";
    for (const auto& c : checks) {
      std::cout << csvRow({c.name, statusName(c.status), c.detail, c.advice}) << '\n';
    }
    return;
  }
  std::size_t width = 0;
  for (const auto& c : checks) width = std::max(width, c.name.size());
  int problems = 0;
  int warnings = 0;
  for (const auto& c : checks) {
    const std::string status = statusName(c.status);
    std::cout << status << std::string(9 - status.size(), ' ') << c.name
              << std::string(width + 2 - c.name.size(), ' ') << c.detail
              << (c.advice.empty() ? "" : " -- " + c.advice) << '\n';
    problems += c.status == Status::Problem;
    warnings += c.status == Status::Warning;
  }
  const auto count = [](int n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  if (problems > 0) {
    std::cout << count(problems, "problem") << ", " << count(warnings, "warning")
              << ": measuring will fail until the problems are fixed\n";
  } else {
    std::cout << "everything a measurement needs is there"
              << (warnings > 0 ? " (" + count(warnings, "warning") + ")" : "") << '\n';
  }
}

bool validAdapterName(const std::string& name) {
  return name.size() > 3 && name.starts_with("hci") &&
         std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

int doctorCommand(const std::vector<std::string>& words) {
  const Args args =
      Args::parse(words, {"--adapter", "--data", "--sdk-key", "--format"}, {kJsonFlag});
  if (args.help) {
    std::cout << kUsageText;
    return kExitOk;
  }
  if (!args.positional.empty()) {
    throw UsageError("doctor takes no arguments, not '" + printable(args.positional[0]) + "'");
  }
  const Format format = formatOf(args);
  const auto adapter = args.option("--adapter");
  if (adapter && !validAdapterName(*adapter)) {
    throw UsageError("--adapter takes an adapter name such as hci0, not '" + printable(*adapter) +
                     "'");
  }
  BusReader bus;  // reads while the cloud is asked

  const auto data = args.option("--data");
  const fs::path dataDir = data ? fs::path(*data) : defaultDataDirectory();
  const std::string dataOption = data ? " --data '" + printable(*data) + "'" : "";
  std::vector<Check> checks;
  // Before the login, which may make the data directory.
  Check dataCheck = directoryCheck(
      "data directory", dataDir,
      data ? "choose another with --data DIR" : "choose another with --data DIR or XDG_DATA_HOME");
  Check tempCheck = directoryCheck(
      "temp directory", temporaryDirectory(),
      "point TMPDIR at one (hcf measure and discover keep their session files there)");
  HCFRealmManager::setDocDirectory(dataDir);
  const char* envKey = std::getenv("HCF_SDK_KEY");
  const std::string sdkKey = args.option("--sdk-key").value_or(envKey ? envKey : "");
  const auto cloudTimeout = http::Session::shared().defaultTimeout();
  const Login login = cloudCheck(sdkKey);

  const BusFacts facts = bus.wait();
  checks.push_back(daemonCheck(facts));
  checks.push_back(adapterCheck(facts, adapter));
  checks.push_back(permissionCheck(facts, bluetoothMembership()));
  checks.push_back(login.check);
  checks.push_back(dataCheck);
  checks.push_back(tempCheck);
  checks.push_back(
      catalogueCheck(dataDir, login, sdkKey, "hcf catalog download" + dataOption, dataCheck));
  checks.push_back(keepAliveCheck());
  checks.push_back(timeCheck(cloudTimeout));

  print(checks, format);
  const bool problem = std::any_of(checks.begin(), checks.end(),
                                   [](const Check& c) { return c.status == Status::Problem; });
  return problem ? kExitFailed : kExitOk;
}

}  // namespace hcf_tool
