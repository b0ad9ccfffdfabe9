// How the commands print instruments they found and colours they measured or read.
#pragma once

#include <hcf/hcf.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output_format.h"

namespace hcf_tool {

/// One line per discovered instrument (name, serial when advertised, signal strength), a JSON
/// list of {name, serial, rssi}, or CSV with those columns. Nothing found is said on standard
/// error ("no instruments found") in text.
void printDiscovered(const std::vector<hcf::HPeripheralWRSSI>& found, Format format);
/// Lab under D50 and D65 for both observers, LCh (D50, 2°), hex and a swatch when `colour`;
/// with a reference, the difference to it by every method. A scan over range says so in the
/// text and warns on standard error.
void printScan(const std::string& title, const hcf::HCFColorScan& scan, bool colour,
               const std::optional<hcf::HCFLabColor>& reference = std::nullopt);
/// When the scan is over range, warns on standard error: "hcf: warning: over range: a count of
/// <what> reached full scale, so its colour is not reliable; measure again" (`what` a patch's
/// name, "scan 2"); nothing otherwise.
void warnIfOverRange(const hcf::HCFColorScan& scan, const std::string& what);
/// "spectral" or "tristimulus".
std::string scanKind(const hcf::HCFColorScan& scan);
/// The scan's kind, serial, model, hex, over-range mark and its Lab under every illuminant and
/// observer it has: {kind, serial, model, hex, over_range, lab: [{illuminant, observer, L, a,
/// b}, ...]}.
hcf::JsonValue scanColoursJson(const hcf::HCFColorScan& scan);
/// A header and one row per scan, illuminant and observer:
/// scan,kind,serial,model,hex,illuminant,observer,L,a,b (L, a, b empty where the scan has none).
/// Each scan over range is warned of on standard error.
void printScanColoursCsv(const std::vector<std::shared_ptr<hcf::HCFColorScan>>& scans);
/// A connectivity state's name ("Scanning", ...).
const char* stateName(hcf::HCFConnectivityState state);

}  // namespace hcf_tool
