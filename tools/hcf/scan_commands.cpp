// hcf scan lab | show: saved scan files looked at from a shell.
#include <hcf/hcf.h>

#include <algorithm>
#include <iostream>

#include "cgats.h"
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
    "Python module's hcf.save_scans writes it, or a CGATS file (as ArgyllCMS and Little CMS\n"
    "write them, known by its first line, a file type such as CGATS.17 or CTI3); '-' reads\n"
    "standard input. Each CGATS row is a scan: a spectrometer's when it has a reflectance\n"
    "curve from 400 to 700 nm (SPECTRAL_NM_400, SPEC_400 or nm400 columns, every 10 nm or\n"
    "finer), else one of its D50 2° colour (LAB_L/A/B or XYZ_X/Y/Z), which has no 10° colour.\n"
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
    "Both take --format text|json|csv|cgats (--json is --format json). cgats prints one\n"
    "CGATS.17 table, a row per scan with its SAMPLE_ID (a CGATS input's, else the scan's\n"
    "number from 0): lab the L a b asked for (a scan without them is left out, exit status\n"
    "1); show LAB_L/A/B and XYZ_X/Y/Z under D50 for the 2° observer and, when every scan is a\n"
    "spectrometer's, the reflectance from SPECTRAL_NM_400 to SPECTRAL_NM_700.\n";

// The scans of a file, and the sample id of each for CGATS output.
struct ReadScans {
  Scans scans;
  std::vector<std::string> ids;
};

// A CGATS row as a scan: a spectrometer's when its curve covers 400 to 700 nm, else a
// colorimeter's of its D50 2° colour.
std::shared_ptr<HCFColorScan> scanOf(const CgatsSample& sample, const std::string& model) {
  const unsigned start = HCFSpectralScan::kWaveLengthStart;
  const unsigned step = HCFSpectralScan::kWavelengthStep;
  if (const auto& spectrum = sample.spectrum; spectrum && spectrum->startNm <= start) {
    const std::size_t skip = (start - spectrum->startNm) / step;
    const std::size_t end = (HCFCieSpectralMath::cieWavelengthEnd - start) / step + 1;
    const auto& values = spectrum->reflectance;
    if (values.size() >= skip + (kCgatsSpectralEndNm - start) / step + 1) {
      std::vector<double> curve(
          values.begin() + static_cast<std::ptrdiff_t>(skip),
          values.begin() + static_cast<std::ptrdiff_t>(std::min(values.size(), skip + end)));
      auto scan = HCFSpectralScan::initWithSerial("", model, {}, std::move(curve));
      if (!scan) throw Failure("sample " + sample.id + ": " + scan.error().localizedDescription);
      return *scan;
    }
  }
  auto scan = std::make_shared<HCFTristimScan>();
  scan->model = model;
  scan->adjusted2DegreeLab = sample.lab;
  return scan;
}

ReadScans readScans(const std::string& file) {
  const std::string text = readInput(file);
  ReadScans out;
  if (looksLikeCgats(text)) {
    try {
      const CgatsTable table = readCgats(text);
      const std::string model = table.keyword("INSTRUMENTATION")
                                    .value_or(table.keyword("TARGET_INSTRUMENT").value_or(""));
      for (const auto& sample : samplesFrom(table)) {
        out.scans.push_back(scanOf(sample, model));
        out.ids.push_back(sample.id);
      }
    } catch (const CgatsError& e) {
      throw Failure(inputName(file) + ", " + e.what());
    }
    if (out.scans.empty()) throw Failure(inputName(file) + " holds no rows of data");
    return out;
  }
  auto scans = HCFTintVaultSerialization::colorScansFromText(text);
  if (!scans) throw Failure(inputName(file) + ": " + scans.error().localizedDescription);
  if (scans->empty()) throw Failure(inputName(file) + " holds an empty list of scans");
  out.scans = std::move(*scans);
  for (std::size_t i = 0; i < out.scans.size(); ++i) out.ids.push_back(std::to_string(i));
  return out;
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
  const Format format = formatOf(args, true);
  const auto [scans, ids] = readScans(args.positional[0]);
  CgatsTable table;
  table.keywords = {{"DESCRIPTOR", "hcf scan lab"},
                    {"ILLUMINANT", HTColorUtils::toIlluminantStr(illuminant).value_or("")},
                    {"OBSERVER", observerDegrees(observer)}};
  table.fields = {"SAMPLE_ID", "LAB_L", "LAB_A", "LAB_B"};
  int status = kExitOk;
  if (format == Format::Csv) std::cout << "L,a,b\n";
  for (std::size_t i = 0; i < scans.size(); ++i) {
    if (const auto lab = scans[i]->lab(observer, illuminant)) {
      if (format == Format::Cgats) {
        table.rows.push_back(
            {ids[i], formatNumber(lab->L), formatNumber(lab->A), formatNumber(lab->B)});
      } else {
        std::cout << renderFields({{"L", lab->L}, {"a", lab->A}, {"b", lab->B}}, format) << '\n';
      }
      continue;
    }
    const std::string reason = (scans.size() > 1 ? "scan " + ids[i] + " has" : "the scan has") +
                               std::string(" no Lab for the ") + observerDegrees(observer) +
                               "° observer";
    std::cerr << "hcf scan lab: " << reason << '\n';
    if (format != Format::Cgats) std::cout << errorLine(reason, format) << '\n';
    status = kExitFailed;
  }
  if (format == Format::Cgats) std::cout << cgatsText(table);
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
  const Format format = formatOf(args, true);
  const auto [scans, ids] = readScans(args.positional[0]);
  if (format == Format::Cgats) {
    const bool spectral = std::all_of(
        scans.begin(), scans.end(), [](const auto& scan) { return scanKind(*scan) == "spectral"; });
    CgatsTable table = measurementTable("hcf scan show", spectral);
    for (std::size_t i = 0; i < scans.size(); ++i) appendScan(table, *scans[i], ids[i]);
    std::cout << cgatsText(table);
    return kExitOk;
  }
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
    warnIfOverRange(*scans[i], "scan " + std::to_string(i));
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
