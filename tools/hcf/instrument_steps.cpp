#include "instrument_steps.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "await_answer.h"
#include "fixtures.h"

namespace hcf_tool {

using namespace hcf;
using namespace std::chrono_literals;
namespace fx = hcf_cloud::fixtures;

namespace {

// What the radio's state means for a person at the shell, and what to do about it.
std::string radioAdvice() {
  const auto manager = HCFCentral::connectionManager();
  const auto central = manager ? manager->central() : nullptr;
  if (!central) return "no Bluetooth central was made";
  switch (central->state()) {
    case ble::ManagerState::Unsupported:
      return "Bluetooth state Unsupported: no adapter, or bluetoothd is not running (start it "
             "with 'sudo systemctl start bluetooth')";
    case ble::ManagerState::Unauthorized:
      return "Bluetooth state Unauthorized: bluetoothd refuses this user (join the bluetooth "
             "group: sudo usermod -aG bluetooth $USER, then log in again)";
    case ble::ManagerState::PoweredOff:
      return "Bluetooth state PoweredOff: the adapter is off (turn it on with 'bluetoothctl "
             "power on')";
    case ble::ManagerState::Unknown:
    case ble::ManagerState::Resetting:
      return "Bluetooth state Unknown: the adapter is not ready yet (try again in a moment)";
    case ble::ManagerState::PoweredOn:
      break;
  }
  return "Bluetooth state PoweredOn";
}

// Asks the person at a real instrument to place it; waits for Enter when they can answer.
void prompt(const std::string& what) {
  const bool interactive = isatty(STDIN_FILENO) == 1;
  std::fprintf(stderr, "  %s%s\n", what.c_str(), interactive ? ", then press Enter" : "");
  if (interactive) {
    std::string line;
    std::getline(std::cin, line);
  }
}

}  // namespace

void fail(const std::string& step, const HCFError& error) {
  std::string message = step + ": " + error.localizedDescription;
  if (error.code == error_code::kNoBle) message += " [" + radioAdvice() + "]";
  throw Failure(message);
}

// Every wait below keeps its answer in state of its own (awaitAnswer): an answer that comes
// after the wait gave up is dropped, and a wait that gives up says so as an error.

std::optional<std::vector<HPeripheralWRSSI>> discover(SimSession&, bool restricted,
                                                      std::optional<HCFError>& error) {
  auto answer = awaitAnswer<std::optional<std::vector<HPeripheralWRSSI>>, std::optional<HCFError>>(
      [restricted](auto done) {
        HCFCentral::connectionManager()->bleDiscoverWithRestricted(restricted, done);
      });
  if (!answer) {
    error = HTUtility::instrumentTimeoutError("The discovery's answer");
    return std::nullopt;
  }
  error = std::move(std::get<1>(*answer));
  return std::move(std::get<0>(*answer));
}

std::optional<HCFError> connect(SimSession& s, const std::string& serial) {
  auto m = HCFCentral::connectionManager();
  std::shared_ptr<ble::Peripheral> strongest;
  if (serial.empty()) {
    std::optional<HCFError> discoveryError;
    auto found = discover(s, false, discoveryError);
    if (!found || found->empty()) {
      return discoveryError ? discoveryError : HTUtility::noBlePeripheralsError();
    }
    strongest = found->front().peripheral;
  }
  auto answer = awaitAnswer<std::optional<HCFError>>([&](auto done) {
    if (strongest) {
      m->connectTo(strongest, done);
    } else {
      m->connectToSerial(serial, done);
    }
  });
  if (!answer) return HTUtility::operationHaltedError();
  return std::get<0>(*answer);
}

// The Bluetooth backend a command asked for.
Radio radioOf(const Args& args) {
  if (args.option("--sim")) return Radio::Simulated;
  const auto ble = args.option("--ble");
  if (!ble) {
    throw UsageError(
        "choose the Bluetooth backend: --sim for simulated instruments, --ble bluez for real "
        "ones");
  }
  if (*ble == "sim") return Radio::Simulated;
  if (*ble == "bluez") return Radio::Bluez;
  throw UsageError("unknown Bluetooth backend '" + *ble + "' (sim or bluez)");
}

std::string adapterOf(const Args& args) {
  const auto adapter = args.option("--adapter");
  if (!adapter) return {};
  if (radioOf(args) != Radio::Bluez) throw UsageError("--adapter goes with --ble bluez");
  const bool named = adapter->size() > 3 && adapter->rfind("hci", 0) == 0 &&
                     adapter->find_first_not_of("0123456789", 3) == std::string::npos &&
                     adapter->size() < 8;
  if (!named)
    throw UsageError("--adapter takes an adapter's name such as hci0 or hci1, not '" + *adapter +
                     "'");
  return *adapter;
}

std::optional<HCFError> calibrate(SimSession& s, HCFColorInstrument& device) {
  if (dynamic_cast<HCFColorimeter*>(&device)) {
    // The instrument measures its own white tile.
    if (!s.simulated()) {
      prompt("Place the instrument on its white tile");
    } else if (device.serial() == s.orla().serial()) {
      s.orla().presentWhiteTile();
    } else if (device.serial() == s.tintra().serial()) {
      s.tintra().presentWhiteTile();
    }
  }
  auto answer = awaitAnswer<bool, std::optional<HCFError>>(
      [&](auto done) { device.requestCalibration(done); });
  if (!answer) return HTUtility::instrumentTimeoutError("The white calibration");
  const auto& [ok, error] = *answer;
  return ok ? std::nullopt : (error ? error : HTUtility::wpCalError());
}

std::shared_ptr<HCFColorScan> measure(SimSession& s, HCFColorInstrument& device, const Patch& patch,
                                      std::size_t index, std::optional<HCFError>& error) {
  if (!s.simulated()) {
    prompt("Place the instrument on the sample '" + patch.name + "'");
  } else if (device.serial() == s.irisel().serial()) {
    s.irisel().measure(fx::reflectanceForLab(patch.lab));
  } else {
    auto& sim = device.serial() == s.orla().serial() ? s.orla() : s.tintra();
    sim.measure(fx::colorCheckerXYZD50()[index]);
  }
  return measureNow(device, error);
}

std::shared_ptr<HCFColorScan> measureNow(HCFColorInstrument& device,
                                         std::optional<HCFError>& error) {
  auto answer =
      awaitAnswer<std::shared_ptr<HCFColorScan>, std::shared_ptr<HCFColorScan>,
                  std::optional<HCFError>>([&](auto done) { device.requestColorScan(done); });
  if (!answer) {
    error = HTUtility::instrumentTimeoutError("The measurement");
    return nullptr;
  }
  auto& [tristimulus, spectral, e] = *answer;
  error = std::move(e);
  auto scan = tristimulus ? tristimulus : spectral;
  // A scan or an error, always: a failure without a message still fails with one.
  if (!scan && !error) error = HTUtility::scanError();
  return scan;
}

void disconnectCurrent(SimSession& s) {
  auto m = HCFCentral::connectionManager();
  if (auto d = m->connectedDevice()) {
    d->disconnect();
    s.runUntil([&] { return !m->isConnected(); }, 5s);
  }
}

}  // namespace hcf_tool
