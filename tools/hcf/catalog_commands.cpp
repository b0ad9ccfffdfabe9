// hcf catalog build | info | fixture: preparing the products store a catalogue download
// delivers, and looking into one.
#include "catalog_commands.h"

#include <hcf/hcf.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "catalog_fixture.h"
#include "cli.h"
#include "commands.h"
#include "package_builder.h"
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
    "  info [--plans] FILE\n"
    "      Products, inspirations, colours, spectra, filter values, colour groups and the\n"
    "      schema version of a products store; --plans adds SQLite's plans of its key\n"
    "      queries.\n"
    "  check FILE\n"
    "      Checks a products store against the published layout (docs/store-format.md) and\n"
    "      names each problem; exits 1 when there is one. The file is only read.\n"
    "  fixture [--count N] [--synthetic N] [--names CSV] --out FILE\n"
    "      Writes a catalogue as product lines: the fixture catalogue of the named-colour\n"
    "      list (CSV, default data/colors/color-name-list.csv; --count limits it), or N\n"
    "      synthetic products.\n";

std::size_t countOption(const Args& args, const std::string& name) {
  const auto text = args.option(name);
  if (!text) return 0;
  const double n = parseNumber(*text);
  if (n < 1 || n > 1e9 || n != static_cast<double>(static_cast<std::size_t>(n))) {
    throw UsageError(name + " takes a whole number from 1, not '" + *text + "'");
  }
  return static_cast<std::size_t>(n);
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

void printSummary(const HCFProductStoreSummary& s) {
  std::cout << "products       " << s.products << '\n'
            << "inspirations   " << s.inspirations << '\n'
            << "colours        " << s.colors << '\n'
            << "spectra        " << s.spectra << '\n'
            << "filter values  " << s.filters << '\n'
            << "colour groups  " << s.colorGroups
            << (s.scanLayoutReady ? "" : " (scan layout not prepared)") << '\n'
            << "schema version " << s.schemaVersion << '\n';
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
    file.open(args.positional[0], std::ios::binary);
    if (!file) throw UsageError("cannot read '" + args.positional[0] + "'");
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
      std::cerr << args.positional[0] << ":" << p.line << ": " << printable(p.reason) << '\n';
    }
    std::cerr << "hcf catalog: " << printable(build.error->localizedDescription) << '\n';
    return kExitBadLines;
  }
  try {
    fx::zipFileTo(archive, store.filename().string(), store);
  } catch (const std::exception& e) {
    std::cerr << "hcf catalog: " << printable(e.what()) << '\n';
    return kExitBadLines;
  }
  printSummary(*build.summary);
  std::error_code ec;
  std::printf("store          %s (%.1f MB)\narchive        %s (%.1f MB)\n", store.c_str(),
              static_cast<double>(std::filesystem::file_size(store, ec)) / 1e6, archive.c_str(),
              static_cast<double>(std::filesystem::file_size(archive, ec)) / 1e6);
  std::printf("built in       %.2f s (%.0f products/s)\n", seconds,
              static_cast<double>(build.summary->products) / std::max(seconds, 1e-9));
  return kExitOk;
}

int infoCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {}, {"--plans"});
  if (args.help) {
    std::cout << kCatalogUsage;
    return kExitOk;
  }
  if (args.positional.size() != 1) throw UsageError("catalog info takes one FILE");
  const auto summary = HCFProductStoreBuilder::summarize(args.positional[0]);
  if (!summary) {
    std::cerr << "hcf catalog: " << printable(summary.error().localizedDescription) << '\n';
    return kExitBadLines;
  }
  printSummary(*summary);
  if (args.option("--plans")) {
    const auto plans = HCFProductStoreBuilder::queryPlans(args.positional[0]);
    if (!plans) {
      std::cerr << "hcf catalog: " << printable(plans.error().localizedDescription) << '\n';
      return kExitBadLines;
    }
    for (const auto& plan : *plans) {
      std::cout << '\n' << printable(plan.name) << ":\n";
      for (const auto& step : plan.steps) std::cout << "  " << printable(step) << '\n';
    }
  }
  return kExitOk;
}

int checkCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {});
  if (args.help) {
    std::cout << kCatalogUsage;
    return kExitOk;
  }
  if (args.positional.size() != 1) throw UsageError("catalog check takes one FILE");
  const auto& file = args.positional[0];
  const auto problems = HCFProductStoreBuilder::check(file);
  if (!problems) {
    std::cerr << "hcf catalog check: " << printable(problems.error().localizedDescription) << '\n';
    return kExitBadLines;
  }
  for (const auto& p : *problems) std::cout << file << ": " << printable(p) << '\n';
  if (!problems->empty()) return kExitBadLines;
  const auto summary = HCFProductStoreBuilder::summarize(file);
  std::cout << file << ": a sound products store";
  if (summary) std::cout << " of " << summary->products << " products";
  std::cout << '\n';
  return kExitOk;
}

int fixtureCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--count", "--synthetic", "--names", "--out"});
  if (args.help) {
    std::cout << kCatalogUsage;
    return kExitOk;
  }
  const auto outFile = args.option("--out");
  if (!outFile || !args.positional.empty()) throw UsageError("catalog fixture needs --out FILE");
  const std::size_t synthetic = countOption(args, "--synthetic");
  std::ofstream out(*outFile, std::ios::binary | std::ios::trunc);
  if (!out) throw UsageError("cannot write '" + *outFile + "'");
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
    const auto names =
        fx::namedColors(args.option("--names").value_or("data/colors/color-name-list.csv"));
    const std::size_t count = countOption(args, "--count");
    const auto catalog = fx::catalogProducts(names, count > 0 ? count : names.size());
    bytes = fx::writeProductLines(out, catalog);
    products = catalog.size();
  }
  out.close();
  if (!out) throw UsageError("could not write '" + *outFile + "'");
  std::printf("%llu products, %.1f MB in %s\n", static_cast<unsigned long long>(products),
              static_cast<double>(bytes) / 1e6, outFile->c_str());
  return kExitOk;
}

}  // namespace

int catalogCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    (args.empty() ? std::cerr : std::cout) << kCatalogUsage;
    return args.empty() ? kExitUsage : kExitOk;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  try {
    if (args[0] == "build") return buildCommand(rest);
    if (args[0] == "info") return infoCommand(rest);
    if (args[0] == "check") return checkCommand(rest);
    if (args[0] == "fixture") return fixtureCommand(rest);
    if (args[0] == "download") return catalogDownloadCommand(rest);
    if (args[0] == "status") return catalogStatusCommand(rest);
  } catch (const UsageError& e) {
    std::cerr << "hcf catalog: " << printable(e.what()) << '\n';
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "hcf catalog: " << printable(e.what()) << '\n';
    return kExitBadLines;
  }
  std::cerr << "hcf catalog: unknown command '" << args[0] << "'\n" << kCatalogUsage;
  return kExitUsage;
}

}  // namespace hcf_tool
