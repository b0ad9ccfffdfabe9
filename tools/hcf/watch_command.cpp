// hcf measure --watch: spot reading. One connection and one white calibration, then a reading
// on each Enter or press of the instrument's button, as spot-reading tools do for instruments on
// a cable: averaging, the difference to a reference, a tolerance that becomes the exit status,
// the nearest catalogue products, and a log in CGATS, CSV or JSON lines.
#include <hcf/platform/dispatch/poll_loop.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "await_answer.h"
#include "cgats.h"
#include "chart.h"
#include "cli.h"
#include "color_options.h"
#include "input_files.h"
#include "instrument_steps.h"
#include "interrupt.h"
#include "output_format.h"
#include "sim_session.h"
#include "watch.h"

namespace hcf_tool {

namespace {

using namespace hcf;
namespace fx = hcf_cloud::fixtures;
using namespace std::chrono_literals;

// What the person at the instrument asked for.
struct Request {
  enum Kind { Read, Button, Quit } kind = Read;
  std::optional<std::string> patch;  // simulated instruments: the chart patch to place first
};

// Counts the instrument's button presses and sees it go.
class ButtonWatch : public HCFColorInstrumentDelegate {
 public:
  int presses = 0;
  bool disconnected = false;
  void buttonPressed(HCFColorInstrument&) override { ++presses; }
  void onDisconnect(HCFColorInstrument&) override { disconnected = true; }
};

// The simulated instrument behind `device`, to place samples and press its button.
struct SimInstrument {
  fx::SimulatedColorimeter* colorimeter = nullptr;
  fx::SimulatedSpectrometer* spectrometer = nullptr;
};

SimInstrument simulatedBehind(SimSession& s, const HCFColorInstrument& device) {
  if (!s.simulated()) return {};
  if (device.serial() == s.irisel().serial()) return {nullptr, &s.irisel()};
  return {device.serial() == s.orla().serial() ? &s.orla() : &s.tintra(), nullptr};
}

void place(const SimInstrument& sim, const Patch& patch) {
  if (sim.spectrometer) sim.spectrometer->measure(fx::reflectanceForLab(patch.lab));
  if (sim.colorimeter) {
    const auto xyz = patch.lab.XYZColor();
    sim.colorimeter->measure(XYZTriple{xyz.X, xyz.Y, xyz.Z});
  }
}

std::size_t patchNamed(const std::vector<Patch>& chart, const std::string& name) {
  for (std::size_t i = 0; i < chart.size(); ++i) {
    if (chart[i].name == name) return i;
  }
  throw UsageError("no chart patch named '" + name + "'");
}

// One line of standard input as a request; nothing at the end of the input.
std::optional<Request> requestOf(const std::string& line, bool simulated) {
  std::string word = line;
  while (!word.empty() && (word.back() == '\r' || word.back() == ' ')) word.pop_back();
  while (!word.empty() && word.front() == ' ') word.erase(0, 1);
  if (word.empty()) return Request{};
  if (word == "q" || word == "quit") return Request{Request::Quit, {}};
  if (simulated && word == "button") return Request{Request::Button, {}};
  if (simulated) return Request{Request::Read, word};
  return Request{};  // anything typed before Enter: a reading
}

// Waits for the next request: a line on standard input or a button press, while the kit's
// events run (real instruments; simulated time stands still meanwhile). Ctrl-C ends the wait.
std::optional<Request> nextRequest(bool simulated, ButtonWatch& buttons, int& pressesSeen) {
  const auto line = [simulated]() -> std::optional<Request> {
    std::string text;
    if (!std::getline(std::cin, text)) return std::nullopt;
    return requestOf(text, simulated);
  };
  for (;;) {
    if (stopRequested() || buttons.disconnected) return std::nullopt;
    if (buttons.presses > pressesSeen) {
      pressesSeen = buttons.presses;
      return Request{};
    }
    if (std::cin.rdbuf()->in_avail() > 0) return line();
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (simulated) {
      // Simulated time stands still between requests: only standard input (and Ctrl-C).
      ::poll(&in, 1, 200);
    } else {
      dispatch::pollAndRunDue(std::span<pollfd>(&in, 1), 200);
    }
    if (in.revents & (POLLIN | POLLHUP | POLLERR)) return line();
  }
}

// A reading: `count` scans, averaged.
std::optional<Reading> takeReading(SimSession& s, HCFColorInstrument& device,
                                   const SimInstrument& sim, const Patch& patch, int count) {
  std::vector<std::shared_ptr<HCFColorScan>> scans;
  for (int i = 0; i < count; ++i) {
    if (s.simulated()) place(sim, patch);  // each placement reads with fresh noise
    std::optional<HCFError> error;
    auto scan = measureNow(device, error);
    if (!scan) fail("measure", *error);
    scans.push_back(std::move(scan));
  }
  return averageOf(scans);
}

}  // namespace

int watchCommand(const Args& args, Radio radio) {
  WatchOptions options = watchOptionsOf(args);
  const auto chart = colorChecker();
  std::size_t patch = patchNamed(chart, args.option("--patch").value_or("red"));
  SimSession s(radio, adapterOf(args));
  if (s.simulated() && options.nearest > 0) s.publishCatalog(500);
  if (auto error = s.startKit(); !error.empty()) throw Failure("the kit did not start: " + error);
  if (auto e = connect(s, args.option("--serial").value_or(""))) fail("connect", *e);
  auto device = HCFCentral::connectionManager()->connectedDevice();
  if (!device) throw Failure("connect: no instrument is connected");
  const SimInstrument sim = simulatedBehind(s, *device);
  // A simulated instrument reads with the noise of its kind, so that averaging shows.
  if (sim.colorimeter) sim.colorimeter->setNoise(sim.colorimeter->sensor().noise);
  if (sim.spectrometer) sim.spectrometer->setNoise(3);
  if (auto e = calibrate(s, *device)) fail("white calibration", *e);
  auto buttons = std::make_shared<ButtonWatch>();
  device->setDelegate(buttons);
  if (options.nearest > 0) prepareCatalog(s);

  WatchLog log(options, dynamic_cast<HCFSpectrometer*>(device.get()) != nullptr);
  std::fprintf(stderr,
               "Spot reading on %s: Enter or the instrument's button takes a reading%s; q or "
               "end of input stops.\n",
               device->serial().c_str(),
               s.simulated() ? " ('button' presses it, a patch name places that patch)" : "");
  StopRequests stops;
  int pressesSeen = 0;
  std::optional<double> lastDifference;
  int number = 0;
  while (auto request = nextRequest(s.simulated(), *buttons, pressesSeen)) {
    if (request->kind == Request::Quit) break;
    if (request->kind == Request::Button) {
      const int before = buttons->presses;
      if (sim.colorimeter) sim.colorimeter->radio().pressButton();
      if (sim.spectrometer) sim.spectrometer->radio().pressButton();
      s.runUntil([&] { return buttons->presses > before; }, 5s);
      if (buttons->presses == before) {
        std::fprintf(stderr, "the button press did not reach the kit\n");
        continue;
      }
      pressesSeen = buttons->presses;
    }
    if (request->patch) {
      try {
        patch = patchNamed(chart, *request->patch);
      } catch (const UsageError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        continue;
      }
    }
    auto reading = takeReading(s, *device, sim, chart[patch], options.average);
    if (!reading) continue;
    reading->number = ++number;
    lastDifference = report(*reading, options, s);
    log.add(*reading);
    std::fflush(stdout);
  }
  if (buttons->disconnected) throw Failure("the instrument disconnected");
  disconnectCurrent(s);
  if (!options.tolerance) return kExitOk;
  if (!lastDifference) throw Failure("no reading was taken to compare with the tolerance");
  return *lastDifference <= *options.tolerance ? kExitOk : kExitFailed;
}

}  // namespace hcf_tool
