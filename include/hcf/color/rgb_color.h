// RGB colour value (sRGB, components 0–1).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hcf/color/color_enums.h"
#include "hcf/color/platform_color.h"
#include "hcf/core/export.h"
#include "hcf/core/json_fwd.h"

HCF_NAMESPACE_BEGIN

struct HCFLabColor;

/// An RGB colour with components nominally 0 to 1 (not clamped when set).
struct HCF_API HCFRGBColor {
  double r = 0;                              ///< red, nominally 0 to 1
  double g = 0;                              ///< green, nominally 0 to 1
  double b = 0;                              ///< blue, nominally 0 to 1
  HCFRGBSpace rgbSpace = HCFRGBSpace::sRGB;  ///< the space the components are in

  /// A colour from its three components in `space`.
  static HCFRGBColor rgbColorWithR(double r, double g, double b, HCFRGBSpace space);
  /// The sRGB colour of exactly six hexadecimal digits (either case), optionally after one '#':
  /// each pair of digits over 255. Empty for anything else (a sign, "0x", spaces, another
  /// number of digits).
  static std::optional<HCFRGBColor> rgbColorWithHex(std::string_view hex);
  /// The red, green and blue of a platform colour (alpha ignored), in sRGB.
  static HCFRGBColor rgbColorWithUIColor(const PlatformColor& color);

  double red() const noexcept { return r; }    ///< `r`, 0 to 1
  double green() const noexcept { return g; }  ///< `g`, 0 to 1
  double blue() const noexcept { return b; }   ///< `b`, 0 to 1
  /// The component times 255, neither rounded nor clamped.
  ///@{
  double r255() const noexcept { return r * 255.0; }
  double g255() const noexcept { return g * 255.0; }
  double b255() const noexcept { return b * 255.0; }
  ///@}

  /// Six upper-case hexadecimal digits, two a component: the component times 255 rounded to the
  /// nearest integer (halves away from zero) and clamped to 00–FF. 1, 0.5, 0 gives "FF8000";
  /// a component above 1 gives FF and a negative one 00. `rgbColorWithHex` reads the digits back
  /// to a colour with the same digits.
  /// @throws HCFException (name "Illegal Argument Exception") when a component is not a number.
  std::string hex() const;
  /// The platform colour with alpha 1.
  PlatformColor color() const;
  /// {"r": r×255, "g": g×255, "b": b×255}, doubles.
  JsonValue json() const;
  /// CIELAB under `illuminant` and the 2° observer, this colour read as sRGB.
  /// @throws HCFException for an illuminant outside 0–7.
  HCFLabColor labColor(HCFIlluminant illuminant) const;
  /// The colour a colour search starts from: `labColor(D50)`.
  HCFLabColor auxSearchLab() const;
  /// "HCFRGBColor: R: 255.00, G: 127.50, B: 0.00".
  std::string description() const;
};

HCF_NAMESPACE_END

#include "hcf/color/lab_color.h"
