// hcf discover | measure: instruments found and measured from a shell.
#include <hcf/hcf.h>

#include <iostream>

#include "chart.h"
#include "cli.h"
#include "commands.h"
#include "instrument_steps.h"
#include "measurement_output.h"
#include "output_format.h"
#include "sim_session.h"
#include "terminal_text.h"
#include "watch.h"

namespace hcf_tool {

namespace {

using namespace hcf;

// What `--fault` can make a simulated instrument do: stay silent from a step on, or measure a
// fluorescent sample that drives its counts to full scale.
enum class Silence { None, Calibration, Measurement, Fluorescent };

Silence silenceOf(const Args& args, Radio radio) {
  const auto fault = args.option("--fault");
  if (!fault) return Silence::None;
  if (radio != Radio::Simulated) throw UsageError("--fault needs simulated instruments (--sim)");
  if (*fault == "silent-calibration") return Silence::Calibration;
  if (*fault == "silent-measurement") return Silence::Measurement;
  if (*fault == "fluorescent") return Silence::Fluorescent;
  throw UsageError("unknown fault '" + *fault +
                   "' (silent-calibration, silent-measurement or fluorescent)");
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

std::size_t patchIndex(const std::vector<Patch>& chart, const std::string& name) {
  for (std::size_t i = 0; i < chart.size(); ++i) {
    if (chart[i].name == name) return i;
  }
  std::string names;
  for (const auto& p : chart) names += (names.empty() ? "'" : ", '") + p.name + "'";
  throw UsageError("no chart patch named '" + name + "' (" + names + ")");
}

}  // namespace

int discoverCommand(const std::vector<std::string>& words) {
  const Args args =
      Args::parse(words, {"--ble", "--format", "--adapter"}, {"--sim", "--restricted", kJsonFlag});
  if (args.help) {
    std::cout << "usage: hcf discover (--sim | --ble bluez) [--adapter hciN] [--restricted]\n"
                 "                    [--format text|json|csv]\n"
                 "  One 3 s discovery pass; --restricted ignores single-click advertisements.\n"
                 "  --sim: simulated instruments; --ble bluez: real ones through bluetoothd.\n"
                 "  text: name, serial and signal strength a line; json: a list of {name, serial,\n"
                 "  rssi}; csv: those columns. Finding none is no failure: 'no instruments\n"
                 "  found' goes to standard error and the exit status is 0.\n";
    return kExitOk;
  }
  const Format format = formatOf(args);
  SimSession s(radioOf(args), adapterOf(args));
  if (auto error = s.startKit(); !error.empty()) throw Failure("the kit did not start: " + error);
  std::optional<HCFError> error;
  auto found = discover(s, args.has("--restricted"), error);
  if (error) fail("discovery", *error);
  printDiscovered(found.value_or(std::vector<HPeripheralWRSSI>{}), format);
  return kExitOk;
}

int measureCommand(const std::vector<std::string>& words) {
  const Args args =
      Args::parse(words,
                  {"--serial", "--patch", "--ble", "--fault", "--format", "--adapter", "--average",
                   "--reference", "--method", "--tolerance", "--nearest", "--log", "--log-format"},
                  {"--sim", "--watch", kJsonFlag});
  if (args.help) {
    std::cout
        << "usage: hcf measure (--sim | --ble bluez) [--adapter hciN] [--serial SERIAL]\n"
           "                   [--patch NAME] [--fault KIND] [--format text|json|csv]\n"
           "       hcf measure --watch (--sim | --ble bluez) [--adapter hciN] [--serial SERIAL]\n"
           "                   [--average N] [--reference L,a,b|HEX|FILE] [--method NAME]\n"
           "                   [--tolerance T] [--nearest K] [--log FILE]\n"
           "                   [--log-format cgats|csv|jsonl]\n"
           "  Connects the instrument whose advertised name ends in SERIAL (else the\n"
           "  strongest), calibrates, measures a chart patch (default 'red') and prints its\n"
           "  colour. json prints the scan dictionary, which hcf scan and hcf search --scan\n"
           "  read back; csv the scan's Lab under every illuminant and observer.\n"
           "  --sim: simulated instruments; --ble bluez: real ones through bluetoothd (you\n"
           "  place the instrument on its white tile and on the patch when asked).\n"
           "  --fault silent-calibration | silent-measurement (with --sim): the instrument\n"
           "  never answers from that step on, to see how the kit reports it.\n"
           "  --adapter hci1: the Bluetooth adapter to use (--ble bluez; default the first).\n"
           "Spot reading (--watch): one connection and one white calibration, then a\n"
           "  reading each time Enter is pressed or the instrument's button; q or the end\n"
           "  of input stops. --average N scans per reading; --reference the colour to\n"
           "  compare with (CIELAB D50 as L,a,b, hexadecimal sRGB, or a scan file: JSON\n"
           "  or CGATS), printing the difference by --method (default CIEDE2000) and\n"
           "  \u0394L* \u0394C* \u0394H*; --tolerance T: exit status 0 when the last reading is\n"
           "  within T, 1 when not; --nearest K catalogue products per reading; --log FILE\n"
           "  keeps every reading: CGATS (SAMPLE_ID, LAB_*, XYZ_*, and SPECTRAL_NM_* for the\n"
           "  spectrometer, as ArgyllCMS reads it), CSV or JSON lines, by --log-format or\n"
           "  the extension. On simulated instruments a line 'button' presses the\n"
           "  instrument's button and a chart patch's name places that patch.\n";
    return kExitOk;
  }
  if (args.has("--watch")) {
    if (args.has("--fault")) throw UsageError("--fault does not go with --watch");
    return watchCommand(args, radioOf(args));
  }
  for (const char* option : {"--average", "--reference", "--method", "--tolerance", "--nearest",
                             "--log", "--log-format"}) {
    if (args.has(option)) throw UsageError(std::string(option) + " goes with --watch");
  }
  const Format format = formatOf(args);
  const auto chart = colorChecker();
  const std::size_t index = patchIndex(chart, args.option("--patch").value_or("red"));
  const Radio radio = radioOf(args);
  const Silence silent = silenceOf(args, radio);
  SimSession s(radio, adapterOf(args));
  if (auto error = s.startKit(); !error.empty()) throw Failure("the kit did not start: " + error);
  if (auto e = connect(s, args.option("--serial").value_or(""))) fail("connect", *e);
  auto device = HCFCentral::connectionManager()->connectedDevice();
  if (!device) throw Failure("connect: no instrument is connected");
  if (silent == Silence::Calibration) silence(s, *device);
  if (auto e = calibrate(s, *device)) fail("white calibration", *e);
  if (silent == Silence::Measurement) silence(s, *device);
  if (silent == Silence::Fluorescent) {
    // Twice the light the patch reflects: bright patches reach full scale.
    s.orla().setFluorescence(2.0);
    s.tintra().setFluorescence(2.0);
    s.irisel().setFluorescence(2.0);
  }
  std::optional<HCFError> error;
  auto scan = measure(s, *device, chart[index], index, error);
  if (!scan) fail("measure", *error);
  if (format == Format::Json) {
    const auto dictionary = HCFTintVaultSerialization::colorScanToCheckedDictionary(*scan);
    if (!dictionary) throw Failure(dictionary.error().localizedDescription);
    warnIfOverRange(*scan, chart[index].name);
    std::cout << jsonText(*dictionary) << '\n';
  } else if (format == Format::Csv) {
    printScanColoursCsv({scan});
  } else {
    printScan(chart[index].name, *scan, colourOutput(), chart[index].lab);
  }
  disconnectCurrent(s);
  return kExitOk;
}

}  // namespace hcf_tool
