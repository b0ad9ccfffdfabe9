// hcf demo | discover | measure: the kit's measuring path, end to end.
#include <hcf/hcf.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "await_answer.h"
#include "catalog_demo.h"
#include "chart.h"
#include "cli.h"
#include "commands.h"
#include "fixtures.h"
#include "measurement_output.h"
#include "sim_session.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

// Products in the demo's catalogue: the first named colours of the list.
constexpr std::size_t kDemoCatalogSize = 2000;

using namespace hcf;
using namespace std::chrono_literals;
namespace fx = hcf_cloud::fixtures;

// Prints each new connectivity state once.
struct StatePrinter : HCFConnectionManagerDelegate {
  std::optional<HCFConnectivityState> last;
  void onStateChanged(HCFConnectivityState state, std::size_t) override {
    if (last == state) return;
    last = state;
    std::printf("    state: %s\n", stateName(state));
  }
  void onWarning(const HCFError& w) override {
    std::printf("    warning: %s\n", printable(w.localizedDescription).c_str());
  }
  void onError(const HCFError& e) override {
    std::printf("    error: %s\n", printable(e.localizedDescription).c_str());
  }
};

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

// Connects by serial (or the strongest when empty); the error, if any.
std::optional<HCFError> connect(SimSession& s, const std::string& serial) {
  auto m = HCFCentral::connectionManager();
  std::shared_ptr<ble::Peripheral> strongest;
  if (serial.empty()) {
    std::optional<HCFError> discoveryError;
    auto found = discover(s, false, discoveryError);
    if (!found || found->empty()) return discoveryError;
    strongest = found->front().peripheral;
  }
  auto answer = awaitAnswer<std::optional<HCFError>>([&](auto done) {
    if (strongest) {
      m->connectTo(strongest, done);
    } else {
      m->connectToSerial(serial, done);
    }
  });
  if (!answer) return HTUtility::errWithMsg("The connection did not finish", 0);
  return std::get<0>(*answer);
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

// Puts chart patch `p` in front of the instrument and measures it.
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

// What `--fault` can make a simulated instrument do: stay silent from a step on.
enum class Silence { None, Calibration, Measurement };

Silence silenceOf(const Args& args, Radio radio) {
  const auto fault = args.option("--fault");
  if (!fault) return Silence::None;
  if (radio != Radio::Simulated) throw UsageError("--fault needs simulated instruments (--sim)");
  if (*fault == "silent-calibration") return Silence::Calibration;
  if (*fault == "silent-measurement") return Silence::Measurement;
  throw UsageError("unknown fault '" + *fault + "' (silent-calibration or silent-measurement)");
}

// From now on the simulated instrument behind `device` never answers a measuring request:
// the colorimeter's sense reads and the spectrometer's scan notifications are lost.
void silence(SimSession& s, const HCFColorInstrument& device) {
  using ble::sim::Fault;
  using ble::sim::Operation;
  if (device.serial() == s.irisel().serial()) {
    s.irisel().radio().device().injectFault(Fault::dropAnswer(Operation::Notify).repeated(-1));
    return;
  }
  auto& sim = device.serial() == s.orla().serial() ? s.orla() : s.tintra();
  sim.radio().device().injectFault(Fault::dropAnswer(Operation::Read).repeated(-1));
}

int fail(const char* what, const HCFError& error) {
  std::fprintf(stderr, "hcf: %s: %s\n", what, printable(error.localizedDescription).c_str());
  return kExitBadLines;
}

void disconnectCurrent(SimSession& s) {
  auto m = HCFCentral::connectionManager();
  if (auto d = m->connectedDevice()) {
    d->disconnect();
    s.runUntil([&] { return !m->isConnected(); }, 5s);
  }
}

std::size_t patchIndex(const std::vector<Patch>& chart, const std::string& name) {
  for (std::size_t i = 0; i < chart.size(); ++i) {
    if (chart[i].name == name) return i;
  }
  throw UsageError("no chart patch named '" + name + "' (e.g. 'red', 'dark skin', 'cyan')");
}

}  // namespace

int demoCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--html"}, {});
  if (args.help) {
    std::cout << "usage: hcf demo [--html FILE]\n"
                 "  The whole path on simulated instruments and the reference cloud on\n"
                 "  loopback: log in, discover, connect, calibrate, measure, download the\n"
                 "  product catalogue and find the nearest products of each measured colour.\n"
                 "  --html also writes a page with swatches of each colour beside its matches.\n";
    return kExitOk;
  }
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  const auto chart = colorChecker();
  SimSession s;
  s.publishCatalog(kDemoCatalogSize);
  std::vector<MeasuredSample> measured;
  const auto started = dispatch::mainQueue().now();
  std::printf("hcf %s: measuring with simulated instruments\n", hcf::version());
  std::printf("reference cloud on %s, data in %s\n\n", s.cloudUrl().c_str(),
              s.dataDirectory().c_str());
  if (auto error = s.startKit(); !error.empty()) {
    std::fprintf(stderr, "hcf: the kit did not start: %s\n", printable(error).c_str());
    return kExitBadLines;
  }
  std::printf("Kit started: logged in, device-data service ready.\n\n");

  std::printf("Discovering for 3 s:\n");
  std::optional<HCFError> error;
  auto found = discover(s, false, error);
  if (error) return fail("discovery", *error);
  printDiscovered(*found);

  const std::size_t samples[] = {0, 14, 17};  // dark skin, red, cyan
  for (const auto* name : {"ColorOrla", "Irisel spectrometer"}) {
    const bool spectrometer = std::string(name) == "Irisel spectrometer";
    const std::string serial = spectrometer ? s.irisel().serial() : s.orla().serial();
    std::printf(
        "\nConnecting the %s %s (%s):\n", name, serial.c_str(),
        spectrometer ? "model package from the cloud" : "calibration record from the cloud");
    if (auto e = connect(s, serial)) return fail("connect", *e);
    auto device = HCFCentral::connectionManager()->connectedDevice();
    std::printf("  connected: serial %s, firmware %s, model %s\n",
                printable(device->serial()).c_str(), printable(device->firmwareVersion()).c_str(),
                printable(device->model()).c_str());
    if (auto e = calibrate(s, *device)) return fail("white calibration", *e);
    std::printf("  %s\n", spectrometer ? "no white calibration needed"
                                       : "white-calibrated on its white tile");
    for (const auto index : samples) {
      auto scan = measure(s, *device, chart[index], index, error);
      if (!scan) return fail("measure", *error);
      printScan(chart[index].name, *scan, terminal, chart[index].lab);
      measured.push_back({chart[index].name + " (" + name + ")", scan});
    }
    disconnectCurrent(s);
  }

  std::printf("\nMulti-connect: every instrument in range connects, a button press chooses:\n");
  auto m = HCFCentral::connectionManager();
  auto printer = std::make_shared<StatePrinter>();
  m->multiConnectStart(printer);
  s.runUntil([&] { return m->multiMgr()->state() == HCFConnectivityState::AwaitingConfirmation; });
  s.pass(1ms);  // the listener hears of it
  std::printf("  %zu instruments wait; pressing the button of the Tintra %s\n",
              m->multiMgr()->connectedDevices().size(), s.tintra().serial().c_str());
  s.tintra().radio().pressButton();
  s.runUntil([&] { return m->isConnected(); });
  s.pass(100ms);
  if (!m->isConnected()) {
    std::fprintf(stderr, "hcf: multi-connect did not connect\n");
    return kExitBadLines;
  }
  std::printf("  chosen and ready: %s (model %s)\n",
              printable(m->connectedDevice()->serial()).c_str(),
              printable(m->connectedDevice()->model()).c_str());
  m->multiConnectStop();
  disconnectCurrent(s);
  s.pass(10ms);  // the listener hears the cycle end before the next part begins
  if (const int status = catalogDemo(s, measured, terminal, args.option("--html"));
      status != kExitOk) {
    return status;
  }
  std::printf("\n%.1f s of simulated time.\n",
              std::chrono::duration<double>(dispatch::mainQueue().now() - started).count());
  std::printf(
      "\nTry: hcf measure --sim --serial %s --patch 'blue sky' --json\n"
      "     hcf tour    (the colour science on the chart)\n",
      s.irisel().serial().c_str());
  return kExitOk;
}

int discoverCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--ble"}, {"--sim", "--restricted"});
  if (args.help) {
    std::cout << "usage: hcf discover (--sim | --ble bluez) [--restricted]\n"
                 "  One 3 s discovery pass; --restricted ignores single-click advertisements.\n"
                 "  --sim: simulated instruments; --ble bluez: real ones through bluetoothd.\n";
    return kExitOk;
  }
  SimSession s(radioOf(args));
  if (auto error = s.startKit(); !error.empty()) throw UsageError(error);
  std::optional<HCFError> error;
  auto found = discover(s, args.option("--restricted").has_value(), error);
  if (error) return fail("discovery", *error);
  printDiscovered(*found);
  return kExitOk;
}

int measureCommand(const std::vector<std::string>& words) {
  const Args args =
      Args::parse(words, {"--serial", "--patch", "--ble", "--fault"}, {"--sim", "--json"});
  if (args.help) {
    std::cout << "usage: hcf measure (--sim | --ble bluez) [--serial SERIAL] [--patch NAME] "
                 "[--fault KIND] "
                 "[--json]\n"
                 "  Connects the instrument whose advertised name ends in SERIAL (else the\n"
                 "  strongest), calibrates, measures a chart patch (default 'red') and prints its\n"
                 "  colour, or its scan dictionary with --json.\n"
                 "  --sim: simulated instruments; --ble bluez: real ones through bluetoothd (you\n"
                 "  place the instrument on its white tile and on the patch when asked).\n"
                 "  --fault silent-calibration | silent-measurement (with --sim): the instrument\n"
                 "  never answers from that step on, to see how the kit reports it.\n";
    return kExitOk;
  }
  const auto chart = colorChecker();
  const std::size_t index = patchIndex(chart, args.option("--patch").value_or("red"));
  const Radio radio = radioOf(args);
  const Silence silent = silenceOf(args, radio);
  SimSession s(radio);
  if (auto error = s.startKit(); !error.empty()) throw UsageError(error);
  if (auto e = connect(s, args.option("--serial").value_or(""))) return fail("connect", *e);
  auto device = HCFCentral::connectionManager()->connectedDevice();
  if (silent == Silence::Calibration) silence(s, *device);
  if (auto e = calibrate(s, *device)) return fail("white calibration", *e);
  if (silent == Silence::Measurement) silence(s, *device);
  std::optional<HCFError> error;
  auto scan = measure(s, *device, chart[index], index, error);
  if (!scan) return fail("measure", *error);
  if (args.option("--json")) {
    std::cout << printableJson(HCFTintVaultSerialization::colorScanToDictionary(*scan)) << '\n';
  } else {
    printScan(chart[index].name, *scan, isatty(STDOUT_FILENO) == 1, chart[index].lab);
  }
  disconnectCurrent(s);
  return kExitOk;
}

}  // namespace hcf_tool
