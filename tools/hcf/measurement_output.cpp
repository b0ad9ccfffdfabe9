#include "measurement_output.h"

#include <hcf/core/json.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "chart.h"
#include "color_options.h"
#include "terminal_text.h"

namespace hcf_tool {

using namespace hcf;

namespace {

std::string observerText(HCFStdObserver observer) {
  return observer == HCFStdObserver::TenDegree ? "10" : "2";
}

// Every illuminant with both observers, in the order of HTColorUtils::allIlluminants.
template <typename Visit>
void eachColour(const HCFColorScan& scan, Visit visit) {
  for (const auto& name : HTColorUtils::allIlluminants()) {
    const auto illuminant = named(illuminantNamed(name));
    for (const auto observer : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      visit(name, observer, scan.lab(observer, illuminant));
    }
  }
}

}  // namespace

void warnIfOverRange(const HCFColorScan& scan, const std::string& what) {
  if (!scan.overRange) return;
  std::fflush(stdout);  // after what is already printed
  std::cerr << "hcf: warning: over range: a count of " << printable(what)
            << " reached full scale, so its colour is not reliable; measure again\n";
}

void printDiscovered(const std::vector<HPeripheralWRSSI>& found, Format format) {
  if (format == Format::Json) {
    JsonValue list = JsonValue::array();
    for (const auto& r : found) {
      const auto name = r.peripheral ? r.peripheral->name() : std::nullopt;
      const auto serial = r.serial();
      list.push_back({{"name", name ? JsonValue(*name) : JsonValue(nullptr)},
                      {"serial", serial ? JsonValue(*serial) : JsonValue(nullptr)},
                      {"rssi", r.rssi ? JsonValue(*r.rssi) : JsonValue(nullptr)}});
    }
    std::cout << jsonText(list) << '\n';
    return;
  }
  if (format == Format::Csv) {
    std::cout << "name,serial,rssi\n";
    for (const auto& r : found) {
      const auto name = r.peripheral ? r.peripheral->name() : std::nullopt;
      std::cout << csvRow({name.value_or(""), r.serial().value_or(""),
                           r.rssi ? std::to_string(*r.rssi) : ""})
                << '\n';
    }
    return;
  }
  if (found.empty()) {
    std::cerr << "no instruments found\n";
    return;
  }
  std::printf("  %-26s %-14s %s\n", "name", "serial", "RSSI");
  for (const auto& r : found) {
    const auto name = r.peripheral ? r.peripheral->name() : std::nullopt;
    const auto serial = r.serial();
    std::printf("  %-26s %-14s %s\n", name ? printable(*name).c_str() : "(no name)",
                serial ? printable(*serial).c_str() : "-",
                r.rssi ? (std::to_string(*r.rssi) + " dBm").c_str() : "connected");
  }
}

void printScan(const std::string& title, const HCFColorScan& scan, bool colour,
               const std::optional<HCFLabColor>& reference) {
  eachColour(scan, [](const std::string& illuminant, HCFStdObserver observer,
                      const std::optional<HCFLabColor>& lab) {
    if (lab && !(std::isfinite(lab->L) && std::isfinite(lab->A) && std::isfinite(lab->B))) {
      throw Failure("the scan's Lab under " + illuminant + " " + observerText(observer) +
                    "° is not a finite number");
    }
  });
  const auto rgb = scan.rgbColor();
  std::printf("  %s  hex #%s %s\n", printable(title).c_str(),
              printable(scan.hex().value_or("------")).c_str(),
              rgb ? swatch(*rgb, colour).c_str() : "");
  warnIfOverRange(scan, title);
  if (scan.overRange) {
    std::printf("    over range: a count reached full scale; these colours are not reliable\n");
  }
  for (const auto illuminant : {HCFIlluminant::D50, HCFIlluminant::D65}) {
    for (const auto observer : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      const auto lab = scan.lab(observer, illuminant);
      const auto name = HTColorUtils::toIlluminantStr(illuminant).value_or("?");
      const auto obs = HTColorUtils::toObserverStr(observer);
      if (lab) {
        std::printf("    Lab %-3s %-3s  L %7.3f  a %8.3f  b %8.3f\n", name.c_str(), obs.c_str(),
                    lab->L, lab->A, lab->B);
      } else {
        std::printf("    Lab %-3s %-3s  (not measured for this observer)\n", name.c_str(),
                    obs.c_str());
      }
    }
  }
  if (const auto lch = scan.lchColor(HCFStdObserver::TwoDegree, HCFIlluminant::D50)) {
    std::printf("    LCh D50 2°   L %7.3f  C %8.3f  h %8.3f\n", lch->L, lch->c, lch->h);
  }
  if (reference) {
    if (const auto lab = scan.lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)) {
      std::printf("    against the chart's reference:");
      for (int m = 0; m <= 4; ++m) {
        const auto method = static_cast<HCFDeltaEMethod>(m);
        std::printf(" %s %.3f", HTColorUtils::toDeltaEStr(method).c_str(),
                    HTColorUtils::deltaEForSample(*lab, *reference, method));
      }
      std::printf("\n");
    }
  }
}

std::string scanKind(const HCFColorScan& scan) {
  return dynamic_cast<const HCFSpectralScan*>(&scan) ? "spectral" : "tristimulus";
}

JsonValue scanColoursJson(const HCFColorScan& scan) {
  JsonValue colours = JsonValue::array();
  eachColour(scan, [&](const std::string& illuminant, HCFStdObserver observer,
                       const std::optional<HCFLabColor>& lab) {
    if (!lab) return;
    colours.push_back({{"illuminant", illuminant},
                       {"observer", observerText(observer)},
                       {"L", lab->L},
                       {"a", lab->A},
                       {"b", lab->B}});
  });
  JsonValue out = {{"kind", scanKind(scan)}, {"serial", scan.serial}, {"model", scan.model}};
  out["hex"] = scan.hex() ? JsonValue(*scan.hex()) : JsonValue(nullptr);
  out["over_range"] = scan.overRange;
  out["lab"] = std::move(colours);
  return out;
}

void printScanColoursCsv(const std::vector<std::shared_ptr<HCFColorScan>>& scans) {
  std::cout << "scan,kind,serial,model,hex,illuminant,observer,L,a,b\n";
  for (std::size_t i = 0; i < scans.size(); ++i) {
    const HCFColorScan& scan = *scans[i];
    warnIfOverRange(scan, "scan " + std::to_string(i));
    eachColour(scan, [&](const std::string& illuminant, HCFStdObserver observer,
                         const std::optional<HCFLabColor>& lab) {
      std::vector<std::string> row = {
          std::to_string(i),       scanKind(scan), scan.serial,           scan.model,
          scan.hex().value_or(""), illuminant,     observerText(observer)};
      if (lab) {
        row.insert(row.end(), {formatNumber(lab->L), formatNumber(lab->A), formatNumber(lab->B)});
      } else {
        row.insert(row.end(), 3, "");
      }
      std::cout << csvRow(row) << '\n';
    });
  }
}

const char* stateName(HCFConnectivityState state) {
  switch (state) {
    case HCFConnectivityState::NotStarted:
      return "NotStarted";
    case HCFConnectivityState::Idle:
      return "Idle";
    case HCFConnectivityState::Scanning:
      return "Scanning";
    case HCFConnectivityState::Connecting:
      return "Connecting";
    case HCFConnectivityState::AwaitingConfirmation:
      return "AwaitingConfirmation";
    case HCFConnectivityState::Initializing:
      return "Initializing";
    case HCFConnectivityState::Connected:
      return "Connected";
  }
  return "?";
}

}  // namespace hcf_tool
