// hcf search | filters: the product catalogue searched from a shell, on a products store file.
#include <hcf/hcf.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include "await_answer.h"
#include "chart.h"
#include "cli.h"
#include "cloud_context.h"
#include "commands.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kSearchUsage =
    "usage: hcf search [--store FILE] (--lab L a b | --hex RRGGBB | --scan SCAN.json)\n"
    "                  [--illuminant NAME] [--observer 2|10] [--method NAME]\n"
    "                  [--filter key=value]... [--text TEXT] [--limit N] [--skip N] [--json]\n"
    "       hcf search [--store FILE] --text TEXT | (nothing: all products) ...\n"
    "\n"
    "The nearest products by colour difference (de_2000 by default; de_cmc_21, de_cmc_11,\n"
    "de_94_gfx, de_94_textiles), or the products whose attributes contain TEXT, or all\n"
    "products. FILE is a products store (hcf catalog build makes one); the default is the\n"
    "store of the kit's data directory. The store is only read, never changed. One line\n"
    "per result: rank, code, name, colour\n"
    "difference, hex and a swatch; --json prints the search results as JSON.\n"
    "--online sends the search to the cloud's search service (--sim: the reference cloud on\n"
    "loopback; else HCF_CLOUD_URL with --sdk-key KEY or HCF_SDK_KEY); --inspirations searches\n"
    "the inspirations, which only the service offers. The service ranks by de_2000 under D50,\n"
    "2 degrees.\n";

constexpr const char* kFiltersUsage =
    "usage: hcf filters [--store FILE] [--select key=value]...\n"
    "\n"
    "The filter panel of the store's products: the available values by key, each with the\n"
    "number of products choosing it would leave, the selected ones marked with '*'. Values\n"
    "of one key combine by OR: the other values of a key stay offered once one is chosen.\n";

// Takes every "--name value" of `name` out of `words`.
std::vector<std::string> takeRepeated(std::vector<std::string>& words, const std::string& name) {
  std::vector<std::string> values;
  for (std::size_t i = 0; i < words.size();) {
    if (words[i] == name && i + 1 < words.size()) {
      values.push_back(words[i + 1]);
      words.erase(words.begin() + static_cast<std::ptrdiff_t>(i),
                  words.begin() + static_cast<std::ptrdiff_t>(i + 2));
    } else if (words[i].rfind(name + "=", 0) == 0) {
      values.push_back(words[i].substr(name.size() + 1));
      words.erase(words.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return values;
}

std::vector<HCFProductKV> pairsOf(const std::vector<std::string>& texts) {
  std::vector<HCFProductKV> out;
  for (const auto& t : texts) {
    const auto eq = t.find('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError("a filter is key=value, not '" + t + "'");
    out.push_back(HCFProductKV::kvWithKey(t.substr(0, eq), t.substr(eq + 1)));
  }
  return out;
}

// The catalogue a command reads: FILE, or the kit's own products store. Opened read-only: a
// command never changes the file it reads.
HCFProductCatalog openCatalog(const std::optional<std::string>& file) {
  const std::filesystem::path path =
      file ? std::filesystem::path(*file)
           : HCFRealmManager::storeFile(StoreKind::Products, HCFCentral::creds().packageID);
  auto catalog = HCFProductCatalog::open(path);
  if (!catalog) {
    throw UsageError(file ? catalog.error().localizedDescription
                          : "no catalogue has been downloaded (hcf catalog download): " +
                                catalog.error().localizedDescription);
  }
  return std::move(*catalog);
}

// The answer of `start`; a usage error when none comes.
template <typename... Args, typename Start>
std::tuple<Args...> await(Start start) {
  auto answer = awaitAnswer<Args...>(std::move(start));
  if (!answer) throw UsageError("no answer within 60 s");
  return std::move(*answer);
}

std::shared_ptr<const HCFColorSearchTerm> termOf(const Args& args,
                                                 const std::vector<std::string>& lab) {
  const auto hex = args.option("--hex");
  const auto scan = args.option("--scan");
  if (static_cast<int>(!lab.empty()) + static_cast<int>(hex.has_value()) +
          static_cast<int>(scan.has_value()) >
      1) {
    throw UsageError("give one of --lab, --hex and --scan");
  }
  if (!lab.empty()) {
    auto term = std::make_shared<HCFGenericColorSearchTerm>();
    term->auxLab = HCFLabColor::labColorWithL(parseNumber(lab[0]), parseNumber(lab[1]),
                                              parseNumber(lab[2]), HCFIlluminant::D50);
    return term;
  }
  if (hex) {
    std::string h = *hex;
    if (!h.empty() && h[0] == '#') h.erase(0, 1);
    unsigned r = 0, g = 0, b = 0;
    if (h.size() != 6 || std::sscanf(h.c_str(), "%02x%02x%02x", &r, &g, &b) != 3) {
      throw UsageError("--hex takes RRGGBB, not '" + *hex + "'");
    }
    auto term = std::make_shared<HCFGenericColorSearchTerm>();
    term->auxLab = HCFRGBColor::rgbColorWithR(r / 255.0, g / 255.0, b / 255.0, HCFRGBSpace::sRGB)
                       .labColor(HCFIlluminant::D50);
    return term;
  }
  if (scan) {
    std::ifstream in(*scan, std::ios::binary);
    if (!in) throw UsageError("cannot read '" + *scan + "'");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto json = JsonValue::parse(text, nullptr, false);
    if (json.is_discarded()) throw UsageError("'" + *scan + "' is not JSON");
    auto parsed = HCFTintVaultSerialization::colorScanFromDictionary(json);
    if (!parsed)
      throw UsageError("'" + *scan + "' is not a scan: " + parsed.error().localizedDescription);
    return *parsed;
  }
  return nullptr;
}

std::uint64_t count(const Args& args, const std::string& name, std::uint64_t fallback) {
  const auto text = args.option(name);
  if (!text) return fallback;
  const double n = parseNumber(*text);
  if (n < 0 || n > 1e9 || n != static_cast<double>(static_cast<std::uint64_t>(n))) {
    throw UsageError(name + " takes a whole number, not '" + *text + "'");
  }
  return static_cast<std::uint64_t>(n);
}

int runSearch(std::vector<std::string> words) {
  const auto filters = pairsOf(takeRepeated(words, "--filter"));
  // --lab takes three numbers.
  std::vector<std::string> lab;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] != "--lab") continue;
    if (i + 3 >= words.size()) throw UsageError("--lab takes L a b");
    lab.assign(words.begin() + static_cast<std::ptrdiff_t>(i + 1),
               words.begin() + static_cast<std::ptrdiff_t>(i + 4));
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(i),
                words.begin() + static_cast<std::ptrdiff_t>(i + 4));
    break;
  }
  const Args args = Args::parse(words,
                                {"--store", "--hex", "--scan", "--illuminant", "--observer",
                                 "--method", "--text", "--limit", "--skip", "--sdk-key"},
                                {"--json", "--online", "--sim", "--inspirations"});
  if (args.help) {
    std::cout << kSearchUsage;
    return kExitOk;
  }
  if (!args.positional.empty()) throw UsageError("unexpected '" + args.positional[0] + "'");
  auto search = HCFProductSearch::productSearch();
  search.colorTerm = termOf(args, lab);
  if (!filters.empty()) search.filters = filters;
  search.textTerm = args.option("--text");
  search.limit = count(args, "--limit", 20);
  search.skip = count(args, "--skip", 0);
  if (const auto name = args.option("--illuminant")) {
    const auto illuminant = HTColorUtils::fromIlluminantStr(*name);
    if (HTColorUtils::toIlluminantStr(illuminant) != *name) {
      throw UsageError("unknown illuminant '" + *name + "' (D50, D65, A, B, C, F2, F7, F11)");
    }
    search.colorSearchOptions.illuminant = illuminant;
  }
  if (const auto name = args.option("--observer")) {
    if (*name != "2" && *name != "10")
      throw UsageError("unknown observer '" + *name + "' (2 or 10)");
    search.colorSearchOptions.observer =
        *name == "10" ? HCFStdObserver::TenDegree : HCFStdObserver::TwoDegree;
  }
  if (const auto name = args.option("--method")) {
    const auto method = HTColorUtils::fromDeltaEStr(*name);
    if (HTColorUtils::toDeltaEStr(method) != *name)
      throw UsageError("unknown method '" + *name + "'");
    search.colorSearchOptions.deltaEMethod = method;
  }
  if (args.option("--inspirations")) search.searchType = 1;
  std::vector<HCFProductSearchResult> results;
  std::optional<HCFError> error;
  if (args.option("--online") || search.searchType == 1) {
    // The cloud's search service answers from the cloud's catalogue.
    if (args.option("--store")) throw UsageError("--online searches the cloud, not a store");
    CloudContext cloud(args);
    if (auto e = cloud.logIn(); !e.empty()) throw UsageError("login failed: " + e);
    const JsonValue body{
        {"search", HCFTintVaultSerialization::productSearchToServerDictionary(search)}};
    std::tie(results, error) =
        await<std::vector<HCFProductSearchResult>, std::optional<HCFError>>([&](auto done) {
          HCFNetTintVault::performTintVaultProductSearchUsingCredentials(HCFCentral::creds(), body,
                                                                         done);
        });
  } else {
    auto found = openCatalog(args.option("--store")).search(search);
    if (found) {
      results = std::move(*found);
    } else {
      error = found.error();
    }
  }
  if (error) {
    std::cerr << "hcf search: " << printable(error->localizedDescription) << '\n';
    return kExitBadLines;
  }
  if (args.option("--json")) {
    std::cout << printableJson(HCFTintVaultSerialization::productSearchResultsToArray(results))
              << '\n';
    return kExitOk;
  }
  std::uint64_t rank = search.skip;
  for (const auto& r : results) {
    const auto hex = r.product.internalColors && !r.product.internalColors->empty()
                         ? printable(r.product.internalColors->front().hex())
                         : std::string("-");
    char difference[32] = "-";
    if (r.deltaE)
      std::snprintf(difference, sizeof difference, "%.2f", static_cast<double>(*r.deltaE));
    std::printf("%4llu  %-12s %-32s %8s  %-8s %s\n", static_cast<unsigned long long>(++rank),
                printable(r.product.code()).c_str(), printable(r.product.name()).c_str(),
                difference, hex.c_str(), swatch(hex, isatty(STDOUT_FILENO) == 1).c_str());
  }
  return kExitOk;
}

int runFilters(std::vector<std::string> words) {
  const auto selections = pairsOf(takeRepeated(words, "--select"));
  const Args args = Args::parse(words, {"--store"});
  if (args.help) {
    std::cout << kFiltersUsage;
    return kExitOk;
  }
  if (!args.positional.empty()) throw UsageError("unexpected '" + args.positional[0] + "'");
  auto counts = openCatalog(args.option("--store")).filterCounts(false, selections);
  if (!counts) {
    std::cerr << "hcf filters: " << printable(counts.error().localizedDescription) << '\n';
    return kExitBadLines;
  }
  // By key; a selected value is shown even when nothing else would be left with it.
  std::map<std::string, std::vector<HCFProductFilterCount>> byKey;
  for (const auto& c : *counts) byKey[c.filter.key.value_or("")].push_back(c);
  for (const auto& kv : selections) {
    auto& values = byKey[kv.key.value_or("")];
    const bool shown = std::any_of(values.begin(), values.end(),
                                   [&](const auto& c) { return c.filter.val == kv.val; });
    if (!shown) values.push_back({kv, 0});
  }
  for (const auto& [key, values] : byKey) {
    std::cout << printable(key) << '\n';
    for (const auto& c : values) {
      const bool selected = std::any_of(selections.begin(), selections.end(), [&](const auto& kv) {
        return kv.key == c.filter.key && kv.val == c.filter.val;
      });
      std::cout << (selected ? "  * " : "    ")
                << printable(c.filter.valTranslated.value_or(c.filter.val.value_or(""))) << " ("
                << c.products << ")\n";
    }
  }
  return kExitOk;
}

}  // namespace

int searchCommand(const std::vector<std::string>& args) {
  try {
    return runSearch(args);
  } catch (const UsageError& e) {
    std::cerr << "hcf search: " << printable(e.what()) << '\n';
    return kExitUsage;
  }
}

int filtersCommand(const std::vector<std::string>& args) {
  try {
    return runFilters(args);
  } catch (const UsageError& e) {
    std::cerr << "hcf filters: " << printable(e.what()) << '\n';
    return kExitUsage;
  }
}

}  // namespace hcf_tool
