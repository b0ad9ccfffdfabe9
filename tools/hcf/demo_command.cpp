// hcf demo: the kit's measuring path on simulated instruments, end to end.
#include <hcf/hcf.h>

#include <cstdio>
#include <iostream>

#include "catalog_demo.h"
#include "chart.h"
#include "cli.h"
#include "commands.h"
#include "instrument_steps.h"
#include "measurement_output.h"
#include "output_format.h"
#include "sim_session.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

// Products in the demo's catalogue: the first named colours of the list.
constexpr std::size_t kDemoCatalogSize = 2000;

using namespace hcf;
using namespace std::chrono_literals;

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
  const bool terminal = colourOutput();
  const auto chart = colorChecker();
  SimSession s;
  s.publishCatalog(kDemoCatalogSize);
  std::vector<MeasuredSample> measured;
  const auto started = dispatch::mainQueue().now();
  std::printf("hcf %s: measuring with simulated instruments\n", hcf::version());
  std::printf("reference cloud on %s, data in %s\n\n", s.cloudUrl().c_str(),
              s.dataDirectory().c_str());
  if (auto error = s.startKit(); !error.empty()) throw Failure("the kit did not start: " + error);
  std::printf("Kit started: logged in, device-data service ready.\n\n");

  std::printf("Discovering for 3 s:\n");
  std::optional<HCFError> error;
  auto found = discover(s, false, error);
  if (error) fail("discovery", *error);
  printDiscovered(*found, Format::Text);

  const std::size_t samples[] = {0, 14, 17};  // dark skin, red, cyan
  for (const auto* name : {"ColorOrla", "Irisel spectrometer"}) {
    const bool spectrometer = std::string(name) == "Irisel spectrometer";
    const std::string serial = spectrometer ? s.irisel().serial() : s.orla().serial();
    std::printf(
        "\nConnecting the %s %s (%s):\n", name, serial.c_str(),
        spectrometer ? "model package from the cloud" : "calibration record from the cloud");
    if (auto e = connect(s, serial)) fail("connect", *e);
    auto device = HCFCentral::connectionManager()->connectedDevice();
    std::printf("  connected: serial %s, firmware %s, model %s\n",
                printable(device->serial()).c_str(), printable(device->firmwareVersion()).c_str(),
                printable(device->model()).c_str());
    if (auto e = calibrate(s, *device)) fail("white calibration", *e);
    std::printf("  %s\n", spectrometer ? "no white calibration needed"
                                       : "white-calibrated on its white tile");
    for (const auto index : samples) {
      auto scan = measure(s, *device, chart[index], index, error);
      if (!scan) fail("measure", *error);
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
  if (!m->isConnected()) throw Failure("multi-connect did not connect");
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

}  // namespace hcf_tool
