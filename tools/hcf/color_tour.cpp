// hcf tour: a short tour of the kit's colour science on the colour-checker chart.
#include <hcf/hcf.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "chart.h"
#include "cli.h"
#include "color_options.h"
#include "commands.h"
#include "embedded_data.h"
#include "output_format.h"

namespace hcf_tool {

using namespace hcf;

std::vector<Patch> colorChecker() {
  std::vector<Patch> patches;
  std::istringstream in(kColorChecker2014Csv);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    const auto fields = splitFields(line.substr(comma + 1));
    if (fields.size() != 3) continue;
    patches.push_back({line.substr(0, comma),
                       HCFLabColor::labColorWithL(parseNumber(fields[0]), parseNumber(fields[1]),
                                                  parseNumber(fields[2]), HCFIlluminant::D50)});
  }
  return patches;
}

std::string swatch(const HCFRGBColor& rgb, bool terminal) {
  if (!terminal) return "";
  char buf[64];
  const auto byte = [](double v) { return static_cast<int>(v * 255.0 + 0.5); };
  std::snprintf(buf, sizeof buf, "\x1b[48;2;%d;%d;%dm    \x1b[0m", byte(rgb.r), byte(rgb.g),
                byte(rgb.b));
  return buf;
}

std::string swatch(const std::string& hex, bool terminal) {
  unsigned r = 0, g = 0, b = 0;
  if (!terminal || (std::sscanf(hex.c_str(), "#%02x%02x%02x", &r, &g, &b) != 3 &&
                    std::sscanf(hex.c_str(), "%02x%02x%02x", &r, &g, &b) != 3)) {
    return "";
  }
  char out[48];
  std::snprintf(out, sizeof out, "\x1b[48;2;%u;%u;%um    \x1b[0m", r, g, b);
  return out;
}

int tourCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {});
  if (args.help) {
    std::cout << "usage: hcf tour\n"
                 "  The colour science on the 24-patch colour-checker chart: the patches under\n"
                 "  D50 and D65, as LCh and hex; one patch under every illuminant; the colour\n"
                 "  differences of two patches by every method; the nearest patches to a colour.\n"
                 "  Swatches are drawn on a terminal unless NO_COLOR is set or TERM is dumb.\n";
    return kExitOk;
  }
  if (!args.positional.empty()) throw UsageError("tour takes no arguments");
  const bool terminal = colourOutput();
  const auto patches = colorChecker();

  std::printf("hcf %s: colour science tour\n\n", hcf::version());
  std::printf(
      "The 24-patch colour checker (maker's reference values, CIELAB D50 2°),\n"
      "adapted to D65 by Bradford, as LCh, and as sRGB hex:\n\n");
  std::printf("%-21s %22s %22s %22s  %-6s\n", "patch", "Lab D50", "Lab D65", "LCh D65", "hex");
  for (const auto& p : patches) {
    const HCFLabColor d65 = p.lab.toLabWithIlluminant(HCFIlluminant::D65);
    const HCFLchColor lch = d65.lchColor();
    std::printf("%-21s %6.2f %7.2f %7.2f %6.2f %7.2f %7.2f %6.2f %6.2f %7.2f  %-6s %s\n",
                p.name.c_str(), p.lab.L, p.lab.A, p.lab.B, d65.L, d65.A, d65.B, lch.L, lch.c, lch.h,
                p.lab.hex().c_str(), swatch(p.lab.rgbColor(), terminal).c_str());
  }

  const HCFLabColor& red = patches.at(14).lab;  // "red"
  std::printf("\n'%s' seen under every illuminant (Bradford from D50, 2°):\n",
              patches.at(14).name.c_str());
  for (const auto& name : HTColorUtils::allIlluminants()) {
    const HCFLabColor seen = red.toLabWithIlluminant(named(illuminantNamed(name)));
    std::printf("  %-4s %s  hex %s %s\n", name.c_str(), seen.description().c_str(),
                seen.hex().c_str(), swatch(seen.rgbColor(), terminal).c_str());
  }

  const HCFLabColor& orange = patches.at(6).lab;      // "orange"
  const HCFLabColor& yellowish = patches.at(11).lab;  // "orange yellow"
  std::printf("\nColour difference, '%s' as sample against '%s':\n", patches.at(6).name.c_str(),
              patches.at(11).name.c_str());
  for (int m = 0; m <= 4; ++m) {
    const auto method = static_cast<HCFDeltaEMethod>(m);
    std::printf("  %-15s %8.4f\n", HTColorUtils::toDeltaEStr(method).c_str(),
                HTColorUtils::deltaEForSample(orange, yellowish, method));
  }

  // The nearest chart patches to a colour picked by its hex value, ranked by CIEDE2000.
  const HCFRGBColor picked = HCFRGBColor::rgbColorWithR(0.8, 0.45, 0.2, HCFRGBSpace::sRGB);
  const HCFLabColor target = picked.auxSearchLab();
  std::vector<double> L, a, b;
  for (const auto& p : patches) {
    L.push_back(p.lab.L);
    a.push_back(p.lab.A);
    b.push_back(p.lab.B);
  }
  std::vector<double> dE(patches.size());
  CieStdMath::deltaEBatch(HCFDeltaEMethod::CIEDE2000, {target.L, target.A, target.B}, {L, a, b},
                          dE);
  std::vector<std::size_t> order(patches.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return dE[x] < dE[y]; });
  std::printf("\nNearest patches to #%s %s(%s):\n", picked.hex().c_str(),
              swatch(picked, terminal).c_str(), target.displayString().c_str());
  for (std::size_t k = 0; k < 3; ++k) {
    const auto& p = patches[order[k]];
    std::printf("  %-14s dE00 %7.4f %s\n", p.name.c_str(), dE[order[k]],
                swatch(p.lab.rgbColor(), terminal).c_str());
  }
  std::printf(
      "\nTry: hcf color convert --from hex --to lab --illuminant D65 CC7333\n"
      "     hcf color delta-e --method de_cmc_21 50 20 5 52 18 9\n");
  return kExitOk;
}

}  // namespace hcf_tool
