// CIELUV colour value.
#pragma once

#include <string>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

struct HCFXYZColor;

/// A CIELUV colour (L*, u*, v*) under an illuminant and standard observer.
struct HCF_API HCFLuvColor {
  double L = 0;  ///< lightness L*, 0 (black) to 100 (the white)
  double u = 0;  ///< u*
  double v = 0;  ///< v*
  /// The illuminant whose white the values are relative to.
  HCFIlluminant illuminant = HCFIlluminant::D50;
  /// The standard observer, 2° or 10°.
  HCFStdObserver stdObserver = HCFStdObserver::TwoDegree;

  /// A colour under `illuminant` and the 2° observer.
  static HCFLuvColor luvColorWithL(double L, double u, double v, HCFIlluminant illuminant);
  /// A colour under `illuminant` and `observer`.
  static HCFLuvColor luvColorWithL(double L, double u, double v, HCFIlluminant illuminant,
                                   HCFStdObserver observer);

  /// CIE XYZ (white Y = 100), same illuminant and observer. L* = 0 is black, (0, 0, 0), whatever
  /// u* and v* are.
  /// @throws HCFException (name "Illegal Argument Exception") for an unknown illuminant, for a
  ///         colour whose v' = v*/(13·L*) + v'n is 0 (no XYZ has it), and when the XYZ of finite
  ///         values would not fit in a double.
  HCFXYZColor toXYZ() const;
  /// "Luv: 50.00, 1.00, -2.00".
  std::string description() const;
};

HCF_NAMESPACE_END

#include "hcf/color/xyz_color.h"
