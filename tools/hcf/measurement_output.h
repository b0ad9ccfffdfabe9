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
/// with a reference, the difference to it by every method.
void printScan(const std::string& title, const hcf::HCFColorScan& scan, bool colour,
               const std::optional<hcf::HCFLabColor>& reference = std::nullopt);
/// "spectral" or "tristimulus".
std::string scanKind(const hcf::HCFColorScan& scan);
/// The scan's kind, serial, model, hex and its Lab under every illuminant and observer it has:
/// {kind, serial, model, hex, lab: [{illuminant, observer, L, a, b}, ...]}.
hcf::JsonValue scanColoursJson(const hcf::HCFColorScan& scan);
/// A header and one row per scan, illuminant and observer:
/// scan,kind,serial,model,hex,illuminant,observer,L,a,b (L, a, b empty where the scan has none).
void printScanColoursCsv(const std::vector<std::shared_ptr<hcf::HCFColorScan>>& scans);
/// A connectivity state's name ("Scanning", ...).
const char* stateName(hcf::HCFConnectivityState state);

}  // namespace hcf_tool
