// The platform colour: what a user interface draws with. A plain RGBA value with its
// hue/saturation/brightness read-back.
#pragma once

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// Hue, saturation and brightness of a platform colour, each 0 to 1 for in-gamut colours.
struct PlatformHSB {
  double hue = 0;
  double saturation = 0;
  double brightness = 0;
  double alpha = 1;
};

/// An sRGB colour with alpha, components nominally 0 to 1. Components are kept as given
/// (extended range), as a display system's colour object keeps them.
struct HCF_API PlatformColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  /// A colour from red, green, blue and alpha.
  static PlatformColor colorWithRed(double red, double green, double blue, double alpha) {
    return PlatformColor{red, green, blue, alpha};
  }

  /// Hue (in [0, 1), a full turn), saturation and brightness of the colour: brightness is the
  /// largest component, saturation the spread over it (0 when no component is positive), hue 0
  /// for a grey. Finite components give finite values: a negative component takes saturation
  /// above 1, and where the spread over a tiny largest component would not fit in a double the
  /// saturation is the largest double.
  PlatformHSB hsb() const noexcept;
};

HCF_NAMESPACE_END
