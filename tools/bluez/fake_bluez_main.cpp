// hcf-fake-bluez: runs a command against a fake bluetoothd serving the reference instruments,
// so the kit's real BlueZ backend can be tried on a machine without Bluetooth.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "fake_bluez_bus.h"
#include "fixtures.h"
#include "simulated_instruments.h"

extern char** environ;

namespace {

namespace fx = hcf_cloud::fixtures;

const hcf::ble::UUID kSense =
    hcf::ble::UUID::UUIDWithString("1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2");
const hcf::ble::UUID kScan = hcf::ble::UUID::UUIDWithString("80db9d9a-6db9-43fa-ac23-c38062ef3c9e");

constexpr const char* kUsage =
    "usage: hcf-fake-bluez [--patch NAME] [--] COMMAND [ARG...]\n"
    "  Starts a private system bus with a fake bluetoothd on it, serving the reference\n"
    "  instruments of the reference cloud (a ColorOrla, a Tintra and an Irisel spectrometer in\n"
    "  range), runs COMMAND with DBUS_SYSTEM_BUS_ADDRESS set to that bus, then stops both and\n"
    "  exits with COMMAND's status. The colorimeters read their white tile first and the chart\n"
    "  patch NAME (default 'red') after; the spectrometer reads the patch.\n"
    "  Example: hcf-fake-bluez --patch red -- hcf measure --ble bluez --patch red\n";

// The colorimeter's sense readings: its white tile, then the patch.
void addColorimeter(hcf_bluez::FakeBluez& fake, fx::SimulatedColorimeter& sim,
                    const std::string& address, int rssi, std::size_t patch) {
  sim.radio().advertiseClick(true);
  sim.presentWhiteTile();
  const auto white = sim.radio().device().value(kSense);
  sim.measure(fx::colorCheckerXYZD50()[patch]);
  const auto sample = sim.radio().device().value(kSense);
  fake.addDevice(address, sim.radio().device(), rssi);
  fake.setValueSequence(address, kSense, {white, sample});
}

int run(std::vector<std::string> command) {
  std::vector<char*> argv;
  for (auto& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "hcf-fake-bluez: cannot run %s: %s\n", argv[0], std::strerror(errno));
    return 127;
  }
  // Ctrl-C is for the command; the bus is stopped once it has ended.
  ::signal(SIGINT, SIG_IGN);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  std::string patchName = "red";
  std::vector<std::string> command;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (command.empty() && (a == "-h" || a == "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (command.empty() && a == "--patch" && i + 1 < argc) {
      patchName = argv[++i];
    } else if (command.empty() && a == "--") {
      for (++i; i < argc; ++i) command.emplace_back(argv[i]);
    } else {
      command.push_back(a);
    }
  }
  if (command.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const auto& chart = fx::colorCheckerPatches();
  std::size_t patch = chart.size();
  for (std::size_t i = 0; i < chart.size(); ++i) {
    if (chart[i].name == patchName) patch = i;
  }
  if (patch == chart.size()) {
    std::fprintf(stderr, "hcf-fake-bluez: no chart patch named '%s'\n", patchName.c_str());
    return 2;
  }
  try {
    hcf_bluez::FakeBluez fake;
    // The instruments, and what they answer, come from the simulated world of the fixtures.
    auto world = hcf::ble::sim::World::create();
    fx::SimulatedColorimeter orla(*world, "4.0");
    fx::SimulatedColorimeter tintra(*world, "3.0");
    fx::SimulatedSpectrometer irisel(*world);
    addColorimeter(fake, orla, "C0:FF:EE:00:00:01", -48, patch);
    addColorimeter(fake, tintra, "C0:FF:EE:00:00:02", -71, patch);
    const auto& p = chart[patch];
    irisel.measure(fx::reflectanceForLab(
        hcf::HCFLabColor::labColorWithL(p.L, p.a, p.b, hcf::HCFIlluminant::D50)));
    fake.addDevice("C0:FF:EE:00:00:03", irisel.radio().device(), -59, {kScan});
    fake.setValue("C0:FF:EE:00:00:03", kScan, irisel.radio().response());
    return run(std::move(command));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hcf-fake-bluez: %s\n", e.what());
    return 1;
  }
}
