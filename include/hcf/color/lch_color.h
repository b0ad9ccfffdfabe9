// CIE LCh colour value.
#pragma once

#include <string>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

struct HCFLabColor;

/// Lightness, chroma and hue angle (degrees, [0, 360)) of a CIELAB colour.
struct HCF_API HCFLchColor {
  double L = 0;  ///< lightness L*, as in CIELAB
  double c = 0;  ///< chroma C*ab, √(a*² + b*²), never negative for a converted colour
  double h = 0;  ///< hue angle in degrees from +a* towards +b*
  /// The illuminant whose white the values are relative to.
  HCFIlluminant illuminant = HCFIlluminant::D50;
  /// The standard observer, 2° or 10°.
  HCFStdObserver stdObserver = HCFStdObserver::TwoDegree;

  /// A colour under `illuminant` and the 2° observer.
  static HCFLchColor LchColorWithL(double L, double c, double h, HCFIlluminant illuminant);
  /// A colour under `illuminant` and `observer`.
  static HCFLchColor LchColorWithL(double L, double c, double h, HCFIlluminant illuminant,
                                   HCFStdObserver observer);

  /// The CIELAB colour: a = c·cos h, b = c·sin h; same illuminant and observer. A hue outside
  /// [0, 360) counts by its remainder of whole turns.
  HCFLabColor toLAB() const;
  /// "HCFLCHColor: L: 50.00, c: 10.00, h: 270.00".
  std::string description() const;
};

HCF_NAMESPACE_END

#include "hcf/color/lab_color.h"
