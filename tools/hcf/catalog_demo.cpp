#include "catalog_demo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "await_answer.h"
#include "chart.h"
#include "cli.h"
#include "download_progress.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;
using Results = std::vector<HCFProductSearchResult>;

constexpr std::uint64_t kMatches = 3;

// "#rrggbb" of the product's first colour, "-" without one.
std::string productHex(const HCFHalvernCloudProduct& p) {
  return p.internalColors && !p.internalColors->empty()
             ? "#" + printable(p.internalColors->front().hex())
             : std::string("-");
}

void printMatches(const Results& results, bool terminal) {
  for (std::size_t i = 0; i < results.size(); ++i) {
    const auto& r = results[i];
    const auto hex = productHex(r.product);
    std::printf("      %zu  %-12s %-30s  \u0394E00 %5.2f  %s %s\n", i + 1,
                printable(r.product.code()).c_str(), printable(r.product.name()).c_str(),
                static_cast<double>(r.deltaE.value_or(0)), hex.c_str(),
                swatch(hex, terminal).c_str());
  }
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A page with each measured colour beside its matches: nothing to fetch, no script.
void writePage(const std::string& file, const std::vector<MeasuredSample>& samples,
               const std::vector<Results>& matches, const Results& inspirations) {
  errno = 0;
  std::ofstream out(file);
  if (!out) throw Failure("cannot write '" + file + "': " + std::strerror(errno));
  const auto chip = [](const std::string& hex, const std::string& label) {
    return "<div class=\"chip\"><div class=\"sw\" style=\"background:" + escaped(hex) +
           "\"></div><div>" + label + "</div></div>";
  };
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<title>hcf: measured colours and their nearest products</title><style>"
         "body{font-family:sans-serif;margin:2em}.row{display:flex;gap:1em;align-items:flex-start;"
         "margin-bottom:1.5em}.chip{width:9em;font-size:.85em}.sw{height:5em;border:1px solid "
         "#999;border-radius:4px;margin-bottom:.3em}.measured .sw{border:3px solid #000}"
         "</style></head><body><h1>Measured colours and their nearest products</h1>\n";
  const auto row = [&](const MeasuredSample& sample, const Results& results) {
    out << "<h2>" << escaped(sample.title) << "</h2><div class=\"row\"><div class=\"measured\">"
        << chip("#" + sample.scan->hex().value_or("000000"),
                "measured<br>#" + escaped(sample.scan->hex().value_or("")))
        << "</div>";
    for (const auto& r : results) {
      char de[32];
      std::snprintf(de, sizeof de, "%.2f", static_cast<double>(r.deltaE.value_or(0)));
      out << chip(productHex(r.product), escaped(r.product.code()) + " " +
                                             escaped(r.product.name()) + "<br>\u0394E00 " + de);
    }
    out << "</div>\n";
  };
  for (std::size_t i = 0; i < samples.size(); ++i) row(samples[i], matches[i]);
  if (!samples.empty()) {
    out << "<h1>Inspirations</h1>\n";
    row(samples.front(), inspirations);
  }
  out << "</body></html>\n";
  errno = 0;
  out.close();
  if (!out) throw Failure("could not write '" + file + "': " + std::strerror(errno));
}

}  // namespace

int catalogDemo(SimSession& s, const std::vector<MeasuredSample>& samples, bool terminal,
                const std::optional<std::string>& htmlFile) {
  auto manager = HCFCentral::productManager();
  std::printf("\nProduct catalogue:\n");
  const auto required = awaitAnswer<bool, std::optional<HCFError>>(
      [&](auto done) { manager->checkIfProductDownloadRequired(done); });
  if (!required) throw Failure("the kit did not tell whether a catalogue download is needed");
  const auto& [needed, whyNot] = *required;
  std::printf("  download needed: %s%s\n", needed ? "yes" : "no",
              whyNot ? (" (" + printable(whyNot->localizedDescription) + ")").c_str() : "");
  if (needed) {
    std::fflush(stdout);
    auto bar = std::make_shared<ProgressBar>("catalogue");
    manager->downloadProductsWithDelegate(bar);
    s.runUntil([&] { return bar->ended(); }, std::chrono::minutes(5));
    if (const auto failure = bar->failure()) {
      throw Failure("catalogue download: " + failure->localizedDescription);
    }
  }
  const auto count = awaitAnswer<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager->countDownloadedProducts(done); });
  std::printf("  %llu products stored\n",
              static_cast<unsigned long long>(count ? std::get<0>(*count) : 0));

  std::vector<Results> matches;
  for (const auto& sample : samples) {
    auto search = HCFProductSearch::productSearch();
    search.colorTerm = sample.scan;
    search.limit = kMatches;
    const auto found =
        awaitAnswer<Results, std::optional<HCFError>>([&](auto done) { search.execute(done); });
    std::printf("\n  nearest products to %s (#%s) %s\n", sample.title.c_str(),
                sample.scan->hex().value_or("------").c_str(),
                sample.scan->rgbColor() ? swatch(*sample.scan->rgbColor(), terminal).c_str() : "");
    if (!found || std::get<1>(*found)) {
      std::printf("      (search failed)\n");
      matches.emplace_back();
      continue;
    }
    printMatches(std::get<0>(*found), terminal);
    matches.push_back(std::get<0>(*found));
  }

  Results inspirations;
  if (!samples.empty()) {
    auto search = HCFProductSearch::inspirationsSearch();
    search.colorTerm = samples.front().scan;
    search.limit = kMatches;
    const auto found =
        awaitAnswer<Results, std::optional<HCFError>>([&](auto done) { search.execute(done); });
    std::printf("\n  nearest inspirations to %s (online search service):\n",
                samples.front().title.c_str());
    if (found && !std::get<1>(*found)) {
      inspirations = std::get<0>(*found);
      printMatches(inspirations, terminal);
    } else {
      std::printf("      (search failed: %s)\n",
                  found && std::get<1>(*found)
                      ? printable(std::get<1>(*found)->localizedDescription).c_str()
                      : "no answer");
    }
  }
  if (htmlFile) {
    writePage(*htmlFile, samples, matches, inspirations);
    std::printf("\n  page with swatches: %s\n", htmlFile->c_str());
  }
  return kExitOk;
}

}  // namespace hcf_tool
