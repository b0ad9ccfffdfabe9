#include "hcf/color/rgb_color.h"

#include <cmath>
#include <cstdio>

#include "../core/number_text.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/exception.h"
#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN

namespace {

// A component's two hexadecimal digits: times 255, rounded to the nearest integer and clamped
// to 0–255.
unsigned hexByte(double component, const HCFRGBColor& color) {
  if (std::isnan(component)) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "RGB (%.17g, %.17g, %.17g) has no hex: a component is not a number", color.r,
                  color.g, color.b);
    throw HCFException(kIllegalArgumentException, text);
  }
  const double v = std::round(component * 255.0);
  return v <= 0.0 ? 0u : v >= 255.0 ? 255u : static_cast<unsigned>(v);
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

HCFRGBColor HCFRGBColor::rgbColorWithR(double r, double g, double b, HCFRGBSpace space) {
  return {r, g, b, space};
}

HCFRGBColor HCFRGBColor::rgbColorWithUIColor(const PlatformColor& color) {
  return {color.red, color.green, color.blue, HCFRGBSpace::sRGB};
}

std::optional<HCFRGBColor> HCFRGBColor::rgbColorWithHex(std::string_view hex) {
  if (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
  if (hex.size() != 6) return std::nullopt;
  double components[3];
  for (std::size_t i = 0; i < 3; ++i) {
    const int high = hexDigitValue(hex[2 * i]);
    const int low = hexDigitValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    components[i] = static_cast<double>(16 * high + low) / 255.0;
  }
  return HCFRGBColor{components[0], components[1], components[2], HCFRGBSpace::sRGB};
}

std::string HCFRGBColor::hex() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const unsigned bytes[] = {hexByte(r, *this), hexByte(g, *this), hexByte(b, *this)};
  std::string out;
  for (const unsigned byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
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
