// hcf catalog build | info | fixture: preparing the products store a catalogue download
// delivers, and looking into one.
#include "catalog_commands.h"

#include <hcf/hcf.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "catalog_fixture.h"
#include "cli.h"
#include "commands.h"
#include "input_files.h"
#include "output_format.h"
#include "package_builder.h"
#include "store_file.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;
namespace fx = hcf_cloud::fixtures;

constexpr const char* kCatalogUsage =
    "usage: hcf catalog <command> [options]\n"
    "\n"
    "commands:\n"
    "  build PRODUCTS.jsonl --package-id ID --out DIR\n"
    "      Prepares DIR/halvern-products-ID.realm, the products store of package ID, and its\n"
    "      download archive DIR/prod-dbs-ID.zip from product dictionaries, one per line\n"
    "      ('-' reads standard input). Bad lines are listed with their numbers and nothing\n"
    "      is written.\n"
    "  info [--plans] [--format text|json|csv] FILE\n"
    "      Products, inspirations, colours, spectra, filter values, colour groups and the\n"
    "      schema version of a products store ('-': standard input); --plans adds SQLite's\n"
    "      plans of its key queries.\n"
    "  check FILE\n"
    "      Checks a products store against the published layout (docs/store-format.md) and\n"
    "      names each problem; exits 1 when there is one. The file is only read.\n"
    "  fixture [--count N] [--synthetic N] [--names CSV] --out FILE\n"
    "      Writes a catalogue as product lines ('-': standard output): the fixture catalogue\n"
    "      of the named-colour list built into the program (or of the list in CSV, with the\n"
    "      columns name,hex; --count limits it), or N synthetic products.\n"
    "  download [--sim] [--sdk-key KEY] [--data DIR]\n"
    "      Downloads and installs the product catalogue from the cloud (--sim: the reference\n"
    "      cloud on loopback) into the kit's data directory.\n"
    "  status [--sim] [--sdk-key KEY] [--data DIR] [--format text|json|csv]\n"
    "      When the cloud's catalogue changed, how many products are stored, and whether a\n"
    "      download is needed.\n"
    "\n"
    "'hcf catalog COMMAND --help' tells more.\n";

std::size_t countOption(const Args& args, const std::string& name) {
  const auto text = args.option(name);
  if (!text) return 0;
  const double n = parseNumber(*text);
  if (n < 1 || n > 1e9 || n != static_cast<double>(static_cast<std::size_t>(n))) {
    throw UsageError(name + " takes a whole number from 1, not '" + *text + "'");
  }
  return static_cast<std::size_t>(n);
}

// Raises Failure with the system's reason when `file` cannot be opened for reading.
void readable(const std::string& file) {
  errno = 0;
  if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
    std::fclose(f);
    return;
  }
  throw Failure("cannot read '" + file + "': " + std::strerror(errno));
}

bool validPackageId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (const char c : id) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') {
      return false;
    }
  }
  return id != "." && id != "..";
}

void printSummary(const HCFProductStoreSummary& s, Format format) {
  const std::pair<const char*, std::uint64_t> counts[] = {
      {"products", s.products}, {"inspirations", s.inspirations}, {"colours", s.colors},
      {"spectra", s.spectra},   {"filter values", s.filters},     {"colour groups", s.colorGroups},
  };
  if (format == Format::Json) {
    JsonValue out = JsonValue::object();
    for (const auto& [name, n] : counts) {
      std::string key = name;
      std::replace(key.begin(), key.end(), ' ', '_');
      out[key] = n;
    }
    out["scan_layout_ready"] = s.scanLayoutReady;
    out["schema_version"] = s.schemaVersion;
    std::cout << jsonText(out) << '\n';
    return;
  }
  if (format == Format::Csv) {
    std::cout << "products,inspirations,colours,spectra,filter_values,colour_groups,"
                 "scan_layout_ready,schema_version\n";
    std::vector<std::string> row;
    for (const auto& [name, n] : counts) row.push_back(std::to_string(n));
    row.push_back(s.scanLayoutReady ? "yes" : "no");
    row.push_back(std::to_string(s.schemaVersion));
    std::cout << csvRow(row) << '\n';
    return;
  }
  for (const auto& [name, n] : counts) {
    std::cout << name << std::string(15 - std::string_view(name).size(), ' ') << n;
    if (std::string_view(name) == "colour groups" && !s.scanLayoutReady) {
      std::cout << " (scan layout not prepared)";
    }
    std::cout << '\n';
  }
  std::cout << "schema version " << s.schemaVersion << '\n';
}

int buildCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--package-id", "--out"});
  if (args.help) {
    std::cout << kCatalogUsage;
    return kExitOk;
  }
  if (args.positional.size() != 1) throw UsageError("catalog build takes one PRODUCTS file");
  const auto id = args.option("--package-id");
  const auto dir = args.option("--out");
  if (!id || !dir) throw UsageError("catalog build needs --package-id and --out");
  if (!validPackageId(*id)) {
    throw UsageError("a package id is letters, digits, '-', '_' and '.', not '" + *id + "'");
  }
  std::ifstream file;
  std::istream* in = &std::cin;
  if (args.positional[0] != "-") {
    readable(args.positional[0]);
    file.open(args.positional[0], std::ios::binary);
    in = &file;
  }
  const std::filesystem::path out(*dir);
  const auto store = out / ("halvern-products-" + *id + ".realm");
  const auto archive = out / ("prod-dbs-" + *id + ".zip");
  const auto started = std::chrono::steady_clock::now();
  const auto build = HCFProductStoreBuilder::build(*in, store);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!build.ok()) {
    for (const auto& p : build.problems) {
      std::cerr << printable(args.positional[0]) << ":" << p.line << ": " << printable(p.reason)
                << '\n';
    }
    throw Failure(build.error->localizedDescription);
  }
  try {
    fx::zipFileTo(archive, store.filename().string(), store);
  } catch (const std::exception& e) {
    hcf::logLine(e.what());
    throw Failure("cannot write the archive " + archive.string() +
                  (errno ? std::string(": ") + std::strerror(errno) : std::string()));
  }
  printSummary(*build.summary, Format::Text);
  std::error_code ec;
  std::printf("store          %s (%.1f MB)\narchive        %s (%.1f MB)\n", store.c_str(),
              static_cast<double>(std::filesystem::file_size(store, ec)) / 1e6, archive.c_str(),
              static_cast<double>(std::filesystem::file_size(archive, ec)) / 1e6);
  std::printf("built in       %.2f s (%.0f products/s)\n", seconds,
              static_cast<double>(build.summary->products) / std::max(seconds, 1e-9));
  return kExitOk;
}

int infoCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--format"}, {"--plans", kJsonFlag});
  if (args.help) return std::cout << kCatalogUsage, kExitOk;
  if (args.positional.size() != 1) throw UsageError("catalog info takes one FILE");
  const Format format = formatOf(args);
  if (args.has("--plans") && format != Format::Text) {
    throw UsageError("--plans prints text only");
  }
  std::unique_ptr<TempFolder> copy;
  const auto file = readablePath(args.positional[0], copy, "hcf-store");
  const auto summary = HCFProductStoreBuilder::summarize(file);
  if (!summary) throw Failure(summary.error().localizedDescription);
  printSummary(*summary, format);
  if (args.has("--plans")) {
    const auto plans = HCFProductStoreBuilder::queryPlans(file);
    if (!plans) throw Failure(plans.error().localizedDescription);
    for (const auto& plan : *plans) {
      std::cout << '\n' << printable(plan.name) << ":\n";
      for (const auto& step : plan.steps) std::cout << "  " << printable(step) << '\n';
    }
  }
  return kExitOk;
}

int checkCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {});
  if (args.help) return std::cout << kCatalogUsage, kExitOk;
  if (args.positional.size() != 1) throw UsageError("catalog check takes one FILE");
  const std::string& name = args.positional[0];
  std::unique_ptr<TempFolder> copy;
  const auto file = readablePath(args.positional[0], copy, "hcf-store");
  const auto problems = HCFProductStoreBuilder::check(file);
  if (!problems) throw Failure(problems.error().localizedDescription);
  for (const auto& p : *problems) std::cout << printable(name) << ": " << printable(p) << '\n';
  if (!problems->empty()) return kExitFailed;
  const auto summary = HCFProductStoreBuilder::summarize(file);
  std::cout << printable(name) << ": a sound products store";
  if (summary) std::cout << " of " << summary->products << " products";
  std::cout << '\n';
  return kExitOk;
}

// The named colours of --names CSV ('-': standard input), else those built into the program.
std::vector<fx::NamedColor> namedColours(const Args& args) {
  const auto file = args.option("--names");
  if (!file) return fx::builtInNamedColors();
  std::unique_ptr<TempFolder> copy;
  const auto path = readablePath(*file, copy, "hcf-names");
  if (*file != "-") readable(*file);
  auto colours = fx::namedColors(path);
  if (colours.empty()) throw Failure(inputName(*file) + " holds no named colours (name,hex)");
  return colours;
}

int fixtureCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--count", "--synthetic", "--names", "--out"});
  if (args.help) return std::cout << kCatalogUsage, kExitOk;
  const auto outFile = args.option("--out");
  if (!outFile || !args.positional.empty()) throw UsageError("catalog fixture needs --out FILE");
  const std::size_t synthetic = countOption(args, "--synthetic");
  const std::size_t count = countOption(args, "--count");
  const auto names = synthetic > 0 ? std::vector<fx::NamedColor>{} : namedColours(args);
  const bool toStdout = *outFile == "-";
  std::ofstream file;
  if (!toStdout) {
    errno = 0;
    file.open(*outFile, std::ios::binary | std::ios::trunc);
    if (!file) throw Failure("cannot write '" + *outFile + "': " + std::strerror(errno));
  }
  std::ostream& out = toStdout ? std::cout : file;
  std::uint64_t bytes = 0, products = 0;
  if (synthetic > 0) {
    // In slices, so that a large catalogue never sits in memory whole.
    constexpr std::size_t kSlice = 10000;
    for (std::size_t first = 0; first < synthetic; first += kSlice) {
      std::vector<HCFHalvernCloudProduct> slice;
      for (std::size_t i = first; i < std::min(synthetic, first + kSlice); ++i) {
        slice.push_back(fx::syntheticProduct(i, synthetic));
      }
      bytes += fx::writeProductLines(out, slice);
      products += slice.size();
    }
  } else {
    const auto catalog = fx::catalogProducts(names, count > 0 ? count : names.size());
    bytes = fx::writeProductLines(out, catalog);
    products = catalog.size();
  }
  if (!toStdout) {
    errno = 0;
    file.close();
    if (!file) throw Failure("could not write '" + *outFile + "': " + std::strerror(errno));
  }
  char summary[160];
  std::snprintf(summary, sizeof summary, "%llu products, %.1f MB in ",
                static_cast<unsigned long long>(products), static_cast<double>(bytes) / 1e6);
  (toStdout ? std::cerr : std::cout)
      << summary << (toStdout ? "standard output" : *outFile) << '\n';
  return kExitOk;
}

}  // namespace

int catalogCommand(const std::vector<std::string>& words) {
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    (words.empty() ? std::cerr : std::cout) << kCatalogUsage;
    return words.empty() ? kExitUsage : kExitOk;
  }
  static const std::pair<const char*, int (*)(const std::vector<std::string>&)> kVerbs[] = {
      {"build", buildCommand},
      {"info", infoCommand},
      {"check", checkCommand},
      {"fixture", fixtureCommand},
      {"download", catalogDownloadCommand},
      {"status", catalogStatusCommand},
  };
  for (const auto& [name, body] : kVerbs) {
    if (words[0] == name) {
      return reported(std::string("hcf catalog ") + name,
                      [&, body = body] { return body(after(words)); });
    }
  }
  throw UsageError("unknown command '" + words[0] +
                   "' (build, info, check, fixture, download, status)");
}

}  // namespace hcf_tool
