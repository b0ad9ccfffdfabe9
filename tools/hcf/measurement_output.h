// How the measuring commands print what they found and measured.
#pragma once

#include <hcf/hcf.h>

#include <optional>
#include <string>
#include <vector>

namespace hcf_tool {

/// One line per discovered instrument: name, serial when advertised, signal strength.
void printDiscovered(const std::vector<hcf::HPeripheralWRSSI>& found);
/// Lab under D50 and D65 for both observers, LCh (D50, 2°), hex and a swatch; with a
/// reference, the CIEDE2000 difference to it.
void printScan(const std::string& title, const hcf::HCFColorScan& scan, bool terminal,
               const std::optional<hcf::HCFLabColor>& reference = std::nullopt);
/// A connectivity state's name ("Scanning", ...).
const char* stateName(hcf::HCFConnectivityState state);

}  // namespace hcf_tool
