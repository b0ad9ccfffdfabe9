// CIE XYZ colour value.
#pragma once

#include <string>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

struct HCFLabColor;
struct HCFLchColor;
struct HCFLuvColor;
struct HCFRGBColor;

/// A CIE XYZ colour on the scale where the reference white has Y = 100, under an illuminant and
/// standard observer.
struct HCF_API HCFXYZColor {
  double X = 0;  ///< X
  double Y = 0;  ///< Y, the luminance: 100 for the white
  double Z = 0;  ///< Z
  /// The illuminant whose white the values are relative to.
  HCFIlluminant illuminant = HCFIlluminant::D50;
  /// The standard observer, 2° or 10°.
  HCFStdObserver stdObserver = HCFStdObserver::TwoDegree;

  /// A colour under `illuminant` and the 2° observer.
  static HCFXYZColor XYZColorWithX(double X, double Y, double Z, HCFIlluminant illuminant);
  /// A colour under `illuminant` and `observer`.
  static HCFXYZColor XYZColorWithX(double X, double Y, double Z, HCFIlluminant illuminant,
                                   HCFStdObserver observer);

  /// The sRGB colour, components clamped to 0–1, white at the illuminant's white (an
  /// illuminant outside 0–7 gets D65's matrix). Under the 10° observer the colour is first
  /// adapted to the 2° white of the same illuminant, which needs a known illuminant.
  /// @throws HCFException named and with reason "Invalid RGB color space." for any space other
  ///         than sRGB; HCFException for an unknown illuminant under the 10° observer.
  HCFRGBColor RGBColorInSpace(HCFRGBSpace space) const;
  /// Bradford adaptation to `illuminant` (observer kept); unchanged when already under it.
  /// @throws HCFException for an illuminant outside 0–7.
  HCFXYZColor toXYZWithIlluminant(HCFIlluminant illuminant) const;
  /// CIELAB under the same illuminant and observer. @throws HCFException for an unknown illuminant.
  HCFLabColor toLab() const;
  /// CIELUV under the same illuminant and observer. Black (L* = 0) is (0, 0, 0).
  /// @throws HCFException (name "Illegal Argument Exception") for an unknown illuminant, for a
  ///         colour with X + 15Y + 3Z = 0 but Y not 0 (possible only with negative components),
  ///         which has no chromaticity, and when u* or v* of finite values would not fit in a
  ///         double.
  HCFLuvColor toLUV() const;
  /// `toLab()` then its LCh.
  HCFLchColor toLCH() const;
  /// "HCFXYZColor: X: 96.42, Y: 100.00, Z: 82.52".
  std::string description() const;
};

HCF_NAMESPACE_END

#include "hcf/color/lab_color.h"
#include "hcf/color/lch_color.h"
#include "hcf/color/luv_color.h"
#include "hcf/color/rgb_color.h"
