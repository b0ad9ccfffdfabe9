#include "hcf/color/rgb_color.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "../core/number_text.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN

namespace {

// Truncation toward zero to a 32-bit signed integer, saturating out of range and giving 0 for
// not-a-number (what the phone's processors do; a plain cast would be undefined there).
std::int32_t truncateToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

}  // namespace

HCFRGBColor HCFRGBColor::rgbColorWithR(double r, double g, double b, HCFRGBSpace space) {
  return {r, g, b, space};
}

HCFRGBColor HCFRGBColor::rgbColorWithUIColor(const PlatformColor& color) {
  return {color.red, color.green, color.blue, HCFRGBSpace::sRGB};
}

std::string HCFRGBColor::hex() const {
  char buf[32];
  // %X prints the 32-bit pattern, so a negative component shows as its two's complement.
  std::snprintf(buf, sizeof buf, "%02X%02X%02X",
                static_cast<std::uint32_t>(truncateToInt32(r * 255.0)),
                static_cast<std::uint32_t>(truncateToInt32(g * 255.0)),
                static_cast<std::uint32_t>(truncateToInt32(b * 255.0)));
  return buf;
}

PlatformColor HCFRGBColor::color() const { return PlatformColor::colorWithRed(r, g, b, 1.0); }

JsonValue HCFRGBColor::json() const {
  JsonValue out = JsonValue::object();
  out["r"] = r * 255.0;
  out["g"] = g * 255.0;
  out["b"] = b * 255.0;
  return out;
}

HCFLabColor HCFRGBColor::labColor(HCFIlluminant illuminant) const {
  const XYZTriple xyz = CieStdMath::sRGB2XYZWith(r, g, b, illuminant);
  const LabTriple lab = CieStdMath::xyz2LabWith(xyz.X * 100.0, xyz.Y * 100.0, xyz.Z * 100.0,
                                                illuminant, HCFStdObserver::TwoDegree);
  return {lab.L, lab.a, lab.b, illuminant, HCFStdObserver::TwoDegree};
}

HCFLabColor HCFRGBColor::auxSearchLab() const { return labColor(HCFIlluminant::D50); }

std::string HCFRGBColor::description() const {
  return "HCFRGBColor: R: " + text::fixed(r * 255.0, 2) + ", G: " + text::fixed(g * 255.0, 2) +
         ", B: " + text::fixed(b * 255.0, 2);
}

HCF_NAMESPACE_END
