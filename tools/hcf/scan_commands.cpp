// hcf scan lab | show: a saved scan dictionary looked at from a shell.
#include <hcf/hcf.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "cli.h"
#include "commands.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kScanUsage =
    "usage: hcf scan <command> [options] FILE\n"
    "\n"
    "FILE holds a scan dictionary (JSON) as the kit writes it; '-' reads standard input.\n"
    "\n"
    "commands:\n"
    "  lab [--illuminant NAME] [--observer NAME] FILE\n"
    "      The scan's L a b. Illuminant D50 (default), D65, A, B, C, F2, F7, F11;\n"
    "      observer 2 (default) or 10.\n"
    "  show FILE\n"
    "      The kind of scan, its instrument, hex colour and Lab under every illuminant and both\n"
    "      observers.\n";

HCFIlluminant illuminantNamed(const std::string& name) {
  const HCFIlluminant illuminant = HTColorUtils::fromIlluminantStr(name);
  std::string upper;
  for (const char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (HTColorUtils::toIlluminantStr(illuminant) != upper) {
    throw UsageError("unknown illuminant '" + name + "' (D50, D65, A, B, C, F2, F7, F11)");
  }
  return illuminant;
}

HCFStdObserver observerNamed(const std::string& name) {
  if (name == "2" || name == "2°" || name == "TWO_DEGREE") return HCFStdObserver::TwoDegree;
  if (name == "10" || name == "10°" || name == "TEN_DEGREE") return HCFStdObserver::TenDegree;
  throw UsageError("unknown observer '" + name + "' (2 or 10)");
}

std::shared_ptr<HCFColorScan> readScan(const std::string& file) {
  std::string text;
  if (file == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw UsageError("cannot read '" + file + "'");
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const JsonValue json = JsonValue::parse(text, nullptr, false);
  if (json.is_discarded()) throw UsageError("'" + file + "' is not JSON");
  auto scan = HCFTintVaultSerialization::colorScanFromDictionary(json);
  if (!scan) {
    throw UsageError("'" + file + "' is not a scan: " + scan.error().localizedDescription);
  }
  return *scan;
}

std::string labText(const std::optional<HCFLabColor>& lab) {
  if (!lab) return "-";
  return formatNumber(lab->L) + " " + formatNumber(lab->A) + " " + formatNumber(lab->B);
}

int labCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--illuminant", "--observer"});
  if (args.help) {
    std::cout << kScanUsage;
    return kExitOk;
  }
  if (args.positional.size() != 1) throw UsageError("scan lab takes one FILE");
  const auto illuminant = illuminantNamed(args.option("--illuminant").value_or("D50"));
  const auto observer = observerNamed(args.option("--observer").value_or("2"));
  const auto scan = readScan(args.positional[0]);
  const auto lab = scan->lab(observer, illuminant);
  if (!lab) throw UsageError("the scan has no Lab for that observer");
  std::cout << labText(lab) << '\n';
  return kExitOk;
}

int showCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {});
  if (args.help) {
    std::cout << kScanUsage;
    return kExitOk;
  }
  if (args.positional.size() != 1) throw UsageError("scan show takes one FILE");
  const auto scan = readScan(args.positional[0]);
  const bool spectral = dynamic_cast<const HCFSpectralScan*>(scan.get()) != nullptr;
  std::cout << "kind        " << (spectral ? "spectral" : "tristimulus") << '\n'
            << "serial      " << printable(scan->serial) << '\n'
            << "model       " << printable(scan->model) << '\n'
            << "hex         " << printable(scan->hex().value_or("-")) << '\n';
  std::cout << "illuminant  L a b (2°)  |  L a b (10°)\n";
  for (const auto& name : HTColorUtils::allIlluminants()) {
    const auto illuminant = HTColorUtils::fromIlluminantStr(name);
    std::cout << name << std::string(12 - name.size(), ' ')
              << labText(scan->lab(HCFStdObserver::TwoDegree, illuminant)) << "  |  "
              << labText(scan->lab(HCFStdObserver::TenDegree, illuminant)) << '\n';
  }
  return kExitOk;
}

}  // namespace

int scanCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    (args.empty() ? std::cerr : std::cout) << kScanUsage;
    return args.empty() ? kExitUsage : kExitOk;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  try {
    if (args[0] == "lab") return labCommand(rest);
    if (args[0] == "show") return showCommand(rest);
  } catch (const UsageError& e) {
    std::cerr << "hcf scan: " << printable(e.what()) << '\n';
    return kExitUsage;
  }
  std::cerr << "hcf scan: unknown command '" << args[0] << "'\n" << kScanUsage;
  return kExitUsage;
}

}  // namespace hcf_tool
