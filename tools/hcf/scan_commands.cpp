// hcf scan lab | show: saved scan files looked at from a shell.
#include <hcf/hcf.h>

#include <iostream>

#include "cli.h"
#include "color_options.h"
#include "commands.h"
#include "input_files.h"
#include "measurement_output.h"
#include "output_format.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;
using Scans = std::vector<std::shared_ptr<HCFColorScan>>;

constexpr const char* kScanUsage =
    "usage: hcf scan <command> [options] FILE\n"
    "\n"
    "FILE holds one scan dictionary (JSON) as the kit writes it, or a list of them as the\n"
    "Python module's hcf.save_scans writes it; '-' reads standard input.\n"
    "\n"
    "commands:\n"
    "  lab [--illuminant NAME] [--observer NAME] FILE\n"
    "      The L a b of each scan, one line per scan. Illuminant D50 (default), D65, A, B, C,\n"
    "      F2, F7, F11; observer 2 (default) or 10. A scan without a colour for the observer\n"
    "      prints 'error' in its place and the exit status is 1.\n"
    "  show FILE\n"
    "      The kind of each scan, its instrument, hex colour and Lab under every illuminant and\n"
    "      both observers.\n"
    "\n"
    "Both take --format text|json|csv (--json is --format json).\n";

Scans readScans(const std::string& file) {
  auto scans = HCFTintVaultSerialization::colorScansFromText(readInput(file));
  if (!scans) throw Failure(inputName(file) + ": " + scans.error().localizedDescription);
  if (scans->empty()) throw Failure(inputName(file) + " holds an empty list of scans");
  return std::move(*scans);
}

std::string observerDegrees(HCFStdObserver observer) {
  return observer == HCFStdObserver::TenDegree ? "10" : "2";
}

int labCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--illuminant", "--observer", "--format"}, {kJsonFlag});
  if (args.help) return std::cout << kScanUsage, kExitOk;
  if (args.positional.size() != 1) throw UsageError("scan lab takes one FILE");
  const auto illuminant = illuminantOption(args, "--illuminant");
  const auto observer = observerOption(args);
  const Format format = formatOf(args);
  const auto scans = readScans(args.positional[0]);
  int status = kExitOk;
  if (format == Format::Csv) std::cout << "L,a,b\n";
  for (std::size_t i = 0; i < scans.size(); ++i) {
    if (const auto lab = scans[i]->lab(observer, illuminant)) {
      std::cout << renderFields({{"L", lab->L}, {"a", lab->A}, {"b", lab->B}}, format) << '\n';
      continue;
    }
    const std::string reason =
        (scans.size() > 1 ? "scan " + std::to_string(i) + " has" : "the scan has") +
        std::string(" no Lab for the ") + observerDegrees(observer) + "° observer";
    std::cerr << "hcf scan lab: " << reason << '\n';
    std::cout << errorLine(reason, format) << '\n';
    status = kExitFailed;
  }
  return status;
}

std::string labText(const std::optional<HCFLabColor>& lab) {
  if (!lab) return "-";
  return formatNumber(lab->L) + " " + formatNumber(lab->A) + " " + formatNumber(lab->B);
}

void showText(const HCFColorScan& scan) {
  std::cout << "kind        " << scanKind(scan) << '\n'
            << "serial      " << printable(scan.serial) << '\n'
            << "model       " << printable(scan.model) << '\n'
            << "hex         " << printable(scan.hex().value_or("-")) << '\n';
  std::cout << "illuminant  L a b (2°)  |  L a b (10°)\n";
  for (const auto& name : HTColorUtils::allIlluminants()) {
    const auto illuminant = named(illuminantNamed(name));
    std::cout << name << std::string(12 - name.size(), ' ')
              << labText(scan.lab(HCFStdObserver::TwoDegree, illuminant)) << "  |  "
              << labText(scan.lab(HCFStdObserver::TenDegree, illuminant)) << '\n';
  }
}

int showCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--format"}, {kJsonFlag});
  if (args.help) return std::cout << kScanUsage, kExitOk;
  if (args.positional.size() != 1) throw UsageError("scan show takes one FILE");
  const Format format = formatOf(args);
  const auto scans = readScans(args.positional[0]);
  if (format == Format::Json) {
    JsonValue list = JsonValue::array();
    for (const auto& scan : scans) list.push_back(scanColoursJson(*scan));
    std::cout << jsonText(list) << '\n';
    return kExitOk;
  }
  if (format == Format::Csv) {
    printScanColoursCsv(scans);
    return kExitOk;
  }
  for (std::size_t i = 0; i < scans.size(); ++i) {
    if (scans.size() > 1) std::cout << (i > 0 ? "\n" : "") << "scan        " << i << '\n';
    showText(*scans[i]);
  }
  return kExitOk;
}

}  // namespace

int scanCommand(const std::vector<std::string>& words) {
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    (words.empty() ? std::cerr : std::cout) << kScanUsage;
    return words.empty() ? kExitUsage : kExitOk;
  }
  if (words[0] == "lab") return reported("hcf scan lab", [&] { return labCommand(after(words)); });
  if (words[0] == "show") {
    return reported("hcf scan show", [&] { return showCommand(after(words)); });
  }
  throw UsageError("unknown command '" + words[0] + "' (lab, show)");
}

}  // namespace hcf_tool
