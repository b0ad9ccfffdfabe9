// The colour-checker chart and terminal swatches, shared by the demo commands.
#pragma once

#include <hcf/hcf.h>

#include <string>
#include <vector>

namespace hcf_tool {

struct Patch {
  std::string name;
  hcf::HCFLabColor lab;  ///< D50, 2°
};

/// The 24 patches, chart order.
std::vector<Patch> colorChecker();
/// Four blanks in the colour itself when `terminal`, else nothing.
std::string swatch(const hcf::HCFRGBColor& rgb, bool terminal);
/// The same for a hex colour ("#rrggbb" or "rrggbb"); nothing for text of another form.
std::string swatch(const std::string& hex, bool terminal);

}  // namespace hcf_tool
