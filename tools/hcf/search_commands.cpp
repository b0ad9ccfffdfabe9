// hcf search | filters: the product catalogue searched from a shell, on a products store file.
#include <hcf/hcf.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "await_answer.h"
#include "chart.h"
#include "cli.h"
#include "cloud_context.h"
#include "color_options.h"
#include "commands.h"
#include "input_files.h"
#include "output_format.h"
#include "store_file.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kSearchUsage =
    "usage: hcf search [--store FILE | --data DIR] (--lab L a b | --hex RRGGBB | --scan FILE)\n"
    "                  [--illuminant NAME] [--observer 2|10] [--method NAME]\n"
    "                  [--filter key=value]... [--text TEXT] [--limit N] [--skip N]\n"
    "                  [--format text|json|csv]\n"
    "       hcf search [--store FILE] --text TEXT | (no colour and no text: all products) ...\n"
    "       hcf search --online [--inspirations] (--sim | --sdk-key KEY) (--lab ...) ...\n"
    "\n"
    "The nearest products by colour difference (--method de_2000 by default; de_cmc_21 or cmc,\n"
    "de_cmc_11 or cmc11, de_94_gfx or cie94, de_94_textiles or cie94-textiles), or the products\n"
    "whose attributes contain TEXT, or all products. --lab is under D50, 2 degrees; --scan\n"
    "takes a file of one scan ('-': standard input). FILE is a products store (hcf catalog\n"
    "build makes one; '-' reads it from standard input); without --store, the catalogue that\n"
    "hcf catalog download installed in DIR or in the kit's data directory. Stores are only\n"
    "read, never changed.\n"
    "Text prints one line per result: rank, code, name, colour difference, hex and a swatch;\n"
    "json the search results; csv rank,code,name,delta_e,hex. Finding nothing is no failure:\n"
    "'no products found' goes to standard error and the exit status is 0.\n"
    "--online sends the search to the cloud's search service (--sim: the reference cloud on\n"
    "loopback; else HCF_CLOUD_URL with --sdk-key KEY or HCF_SDK_KEY); --inspirations searches\n"
    "the inspirations, which only the service offers. The service ranks by de_2000 under D50,\n"
    "2 degrees.\n";

constexpr const char* kFiltersUsage =
    "usage: hcf filters [--store FILE | --data DIR] [--select key=value]...\n"
    "                   [--format text|json|csv]\n"
    "\n"
    "The filter panel of the store's products: the available values by key, each with the\n"
    "number of products choosing it would leave, the selected ones marked with '*'. Values\n"
    "of one key combine by OR: the other values of a key stay offered once one is chosen.\n"
    "The store is that of hcf search. json prints a list of {key, value, label, products,\n"
    "selected}; csv the same columns.\n";

std::vector<HCFProductKV> pairsOf(const std::vector<std::string>& texts) {
  std::vector<HCFProductKV> out;
  for (const auto& t : texts) {
    const auto eq = t.find('=');
    if (eq == std::string::npos || eq == 0) {
      throw UsageError("a filter is key=value, not '" + t + "'");
    }
    out.push_back(HCFProductKV::kvWithKey(t.substr(0, eq), t.substr(eq + 1)));
  }
  return out;
}

// The answer of `start`; a failure when none comes.
template <typename... Args, typename Start>
std::tuple<Args...> await(Start start) {
  auto answer = awaitAnswer<Args...>(std::move(start));
  if (!answer) throw Failure("the search service did not answer within 60 s");
  return std::move(*answer);
}

HCFRGBColor hexColour(const std::string& text) {
  const auto rgb = HCFRGBColor::rgbColorWithHex(text);
  if (!rgb) throw UsageError("--hex takes RRGGBB, not '" + text + "'");
  return *rgb;
}

std::shared_ptr<const HCFColorSearchTerm> termOf(const Args& args) {
  const auto lab = args.values("--lab");
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
    auto term = std::make_shared<HCFGenericColorSearchTerm>();
    term->auxLab = hexColour(*hex).labColor(HCFIlluminant::D50);
    return term;
  }
  if (scan) {
    auto parsed = HCFTintVaultSerialization::colorScanFromText(readInput(*scan));
    if (!parsed) throw Failure(inputName(*scan) + ": " + parsed.error().localizedDescription);
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

std::vector<HCFProductSearchResult> searchOnline(const Args& args, const HCFProductSearch& search) {
  if (args.has("--store") || args.has("--data")) {
    throw UsageError("--online searches the cloud, not a store");
  }
  CloudContext cloud(args);
  if (auto e = cloud.logIn(); !e.empty()) throw Failure("login failed: " + e);
  const JsonValue body{
      {"search", HCFTintVaultSerialization::productSearchToServerDictionary(search)}};
  auto [results, error] =
      await<std::vector<HCFProductSearchResult>, std::optional<HCFError>>([&](auto done) {
        HCFNetTintVault::performTintVaultProductSearchUsingCredentials(HCFCentral::creds(), body,
                                                                       done);
      });
  if (error) throw Failure(error->localizedDescription);
  return results;
}

std::string productHex(const HCFHalvernCloudProduct& product) {
  return product.internalColors && !product.internalColors->empty()
             ? product.internalColors->front().hex()
             : std::string();
}

void printResults(const std::vector<HCFProductSearchResult>& results, std::uint64_t skip,
                  Format format) {
  if (format == Format::Json) {
    std::cout << jsonText(withFloatDigits(
                     HCFTintVaultSerialization::productSearchResultsToArray(results)))
              << '\n';
    return;
  }
  if (format == Format::Csv) std::cout << "rank,code,name,delta_e,hex\n";
  const bool colour = colourOutput();
  std::uint64_t rank = skip;
  for (const auto& r : results) {
    const std::string difference = r.deltaE ? formatNumber(*r.deltaE) : "";
    const std::string hex = productHex(r.product);
    if (format == Format::Csv) {
      std::cout << csvRow({std::to_string(++rank), r.product.code(), r.product.name(), difference,
                           hex})
                << '\n';
      continue;
    }
    char line[512];
    std::snprintf(line, sizeof line, "%4llu  %-12s %-32s %10s  %-8s %s\n",
                  static_cast<unsigned long long>(++rank), printable(r.product.code()).c_str(),
                  printable(r.product.name()).c_str(),
                  difference.empty() ? "-" : difference.c_str(),
                  hex.empty() ? "-" : printable(hex).c_str(), swatch(hex, colour).c_str());
    std::cout << line;
  }
  if (results.empty() && format == Format::Text) std::cerr << "hcf search: no products found\n";
}

int runSearch(const std::vector<std::string>& words) {
  const Args args =
      Args::parse(words,
                  {"--store", "--data", "--hex", "--scan", "--illuminant", "--observer", "--method",
                   "--text", "--limit", "--skip", "--sdk-key", "--filter", "--format"},
                  {kJsonFlag, "--online", "--sim", "--inspirations"}, {{"--lab", 3}});
  if (args.help) return std::cout << kSearchUsage, kExitOk;
  if (!args.positional.empty()) throw UsageError("unexpected '" + args.positional[0] + "'");
  const Format format = formatOf(args);
  auto search = HCFProductSearch::productSearch();
  if (const auto filters = pairsOf(args.values("--filter")); !filters.empty()) {
    search.filters = filters;
  }
  search.textTerm = args.option("--text");
  search.limit = count(args, "--limit", 20);
  search.skip = count(args, "--skip", 0);
  search.colorSearchOptions.illuminant = illuminantOption(args, "--illuminant");
  search.colorSearchOptions.observer = observerOption(args);
  search.colorSearchOptions.deltaEMethod = methodOption(args);
  if (args.has("--inspirations")) search.searchType = 1;
  search.colorTerm = termOf(args);
  std::vector<HCFProductSearchResult> results;
  if (args.has("--online") || search.searchType == 1) {
    // The cloud's search service answers from the cloud's catalogue.
    results = searchOnline(args, search);
  } else {
    const OpenedStore store = openStore(args);
    auto found = store.catalog.search(search);
    if (!found) throw Failure(found.error().localizedDescription);
    results = std::move(*found);
  }
  printResults(results, search.skip, format);
  return kExitOk;
}

int runFilters(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--store", "--data", "--select", "--format"}, {kJsonFlag});
  if (args.help) return std::cout << kFiltersUsage, kExitOk;
  if (!args.positional.empty()) throw UsageError("unexpected '" + args.positional[0] + "'");
  const Format format = formatOf(args);
  const auto selections = pairsOf(args.values("--select"));
  const OpenedStore store = openStore(args);
  auto counts = store.catalog.filterCounts(false, selections);
  if (!counts) throw Failure(counts.error().localizedDescription);
  // By key; a selected value is shown even when nothing else would be left with it.
  std::map<std::string, std::vector<HCFProductFilterCount>> byKey;
  for (const auto& c : *counts) byKey[c.filter.key.value_or("")].push_back(c);
  for (const auto& kv : selections) {
    auto& values = byKey[kv.key.value_or("")];
    const bool shown = std::any_of(values.begin(), values.end(),
                                   [&](const auto& c) { return c.filter.val == kv.val; });
    if (!shown) values.push_back({kv, 0});
  }
  const auto selected = [&](const HCFProductFilterCount& c) {
    return std::any_of(selections.begin(), selections.end(), [&](const auto& kv) {
      return kv.key == c.filter.key && kv.val == c.filter.val;
    });
  };
  JsonValue list = JsonValue::array();
  if (format == Format::Csv) std::cout << "key,value,label,products,selected\n";
  for (const auto& [key, values] : byKey) {
    if (format == Format::Text) std::cout << printable(key) << '\n';
    for (const auto& c : values) {
      const std::string value = c.filter.val.value_or("");
      const std::string label = c.filter.valTranslated.value_or(value);
      if (format == Format::Json) {
        list.push_back({{"key", key},
                        {"value", value},
                        {"label", label},
                        {"products", c.products},
                        {"selected", selected(c)}});
      } else if (format == Format::Csv) {
        std::cout << csvRow({key, value, label, std::to_string(c.products),
                             selected(c) ? "yes" : "no"})
                  << '\n';
      } else {
        std::cout << (selected(c) ? "  * " : "    ") << printable(label) << " (" << c.products
                  << ")\n";
      }
    }
  }
  if (format == Format::Json) std::cout << jsonText(list) << '\n';
  if (byKey.empty() && format == Format::Text) {
    std::cerr << "hcf filters: no filter values found\n";
  }
  return kExitOk;
}

}  // namespace

int searchCommand(const std::vector<std::string>& args) { return runSearch(args); }

int filtersCommand(const std::vector<std::string>& args) { return runFilters(args); }

}  // namespace hcf_tool
