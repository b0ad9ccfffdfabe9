#include "measurement_output.h"

#include <cstdio>

#include "chart.h"
#include "terminal_text.h"

namespace hcf_tool {

using namespace hcf;

void printDiscovered(const std::vector<HPeripheralWRSSI>& found) {
  std::printf("  %-26s %-14s %s\n", "name", "serial", "RSSI");
  for (const auto& r : found) {
    const auto name = r.peripheral ? r.peripheral->name() : std::nullopt;
    const auto serial = r.serial();
    std::printf("  %-26s %-14s %s\n", name ? printable(*name).c_str() : "(no name)",
                serial ? printable(*serial).c_str() : "-",
                r.rssi ? (std::to_string(*r.rssi) + " dBm").c_str() : "connected");
  }
}

void printScan(const std::string& title, const HCFColorScan& scan, bool terminal,
               const std::optional<HCFLabColor>& reference) {
  const auto rgb = scan.rgbColor();
  std::printf("  %s  hex #%s %s\n", printable(title).c_str(),
              printable(scan.hex().value_or("------")).c_str(),
              rgb ? swatch(*rgb, terminal).c_str() : "");
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
