// CIELAB colour value.
#pragma once

#include <cstdint>
#include <string>

#include "hcf/color/cie_std_math.h"
#include "hcf/color/color_enums.h"
#include "hcf/color/platform_color.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

struct HCFXYZColor;
struct HCFLchColor;
struct HCFRGBColor;

/// A CIELAB colour (L*, a*, b*) under an illuminant and standard observer. A plain value: every
/// field may be set freely, nothing validates it, and conversions return new values.
struct HCF_API HCFLabColor {
  double L = 0;  ///< lightness L*
  double A = 0;  ///< a*
  double B = 0;  ///< b*
  /// The illuminant whose white the values are relative to.
  HCFIlluminant illuminant = HCFIlluminant::D50;
  /// The standard observer, 2° or 10°.
  HCFStdObserver stdObserver = HCFStdObserver::TwoDegree;

  /// A colour under `illuminant` and the 2° observer.
  static HCFLabColor labColorWithL(double L, double a, double b, HCFIlluminant illuminant);
  /// A colour under `illuminant` and `observer`.
  static HCFLabColor labColorWithL(double L, double a, double b, HCFIlluminant illuminant,
                                   HCFStdObserver observer);
  /// A copy of `color` (L, a, b, illuminant and observer).
  static HCFLabColor labColorWithColor(const HCFLabColor& color);

  /// The same colour seen under `illuminant` (Bradford adaptation through XYZ, observer kept).
  /// A colour already under `illuminant` comes back unchanged.
  /// @throws HCFException for an illuminant outside 0–7 (on either side).
  HCFLabColor toLabWithIlluminant(HCFIlluminant illuminant) const;

  /// CIE XYZ (white Y = 100) under the same illuminant and observer.
  /// @throws HCFException when the illuminant is outside 0–7.
  HCFXYZColor XYZColor() const;
  /// Lightness, chroma and hue angle in degrees, always in [0, 360). A neutral colour (chroma 0,
  /// whatever the signs of its zeros) gets hue 0.
  /// @throws HCFException (name "Illegal Argument Exception") when the chroma of finite a and b
  ///         would not fit in a double.
  HCFLchColor lchColor() const;
  /// The sRGB colour (components clamped to 0–1). @throws HCFException for an unknown illuminant.
  HCFRGBColor rgbColor() const;
  /// `rgbColor()` as a platform colour with alpha 1.
  PlatformColor uiColor() const;
  /// `rgbColor()` as six hexadecimal digits, upper case, no leading '#' (see `HCFRGBColor::hex`).
  /// @throws HCFException for an unknown illuminant or a component that is not a number.
  std::string hex() const;

  /// CIEDE2000 difference with this colour first and `other` second (symmetric).
  /// Illuminant and observer are not looked at.
  double deltaE00(const HCFLabColor& other) const;
  /// CMC difference with this colour as the one that sets the weights: type 0 is l:c = 2:1,
  /// any other value 1:1. The kit calls this colour the sample and `other` the standard, so
  /// the sample sets the weights: the reverse of ISO 105-J03 (see `HCFDeltaEReference`).
  double deltaEcmc(const HCFLabColor& other, std::int32_t dEcmcType) const;
  /// CMC difference of this colour, the sample, from `standard`, with the weights set by the
  /// colour `reference` names; `HCFDeltaEReference::Standard` is the CMC of ISO 105-J03.
  /// @throws HCFException (name "Illegal Argument Exception") for a `reference` outside the
  ///         enumeration.
  double deltaEcmc(const HCFLabColor& standard, std::int32_t dEcmcType,
                   HCFDeltaEReference reference) const;
  /// CIE94 difference with this colour setting the chroma weights: type 0 uses the
  /// graphic-arts weights, any other value the textile weights. As for CMC, this colour is the
  /// sample, and the sample setting the weights is the reverse of CIE 116.
  double deltaE94(const HCFLabColor& other, std::int32_t dE94Type) const;
  /// CIE94 difference of this colour, the sample, from `standard`, with the chroma weights set
  /// by the colour `reference` names; `HCFDeltaEReference::Standard` is the CIE94 of CIE 116.
  /// @throws HCFException (name "Illegal Argument Exception") for a `reference` outside the
  ///         enumeration.
  double deltaE94(const HCFLabColor& standard, std::int32_t dE94Type,
                  HCFDeltaEReference reference) const;
  /// ΔE*ab (CIE 1976), the distance to `other` in L*a*b* (symmetric).
  double deltaE76(const HCFLabColor& other) const;
  /// ΔL*, ΔC*ab, ΔH*ab (signed) and ΔE*ab of this colour, the sample, from `standard`; see
  /// `LabDifference`. Illuminant and observer are not looked at, as in the differences above.
  LabDifference labDifference(const HCFLabColor& standard) const;

  /// "HCFLabColor: L: 50.00, a: 1.00, b: -2.00".
  std::string description() const;
  /// Illuminant name, observer short name and the values with no separator between the three:
  /// "D502°L: 50.00, a: 1.00, b: -2.00".
  std::string displayString() const;
  /// True when L, a and b each differ by at most 1e-11 and illuminant and observer are equal.
  bool isEqualToLab(const HCFLabColor& other) const;
};

HCF_NAMESPACE_END

// The colours returned above, so that callers have them complete.
#include "hcf/color/lch_color.h"
#include "hcf/color/rgb_color.h"
#include "hcf/color/xyz_color.h"
