// The platform colour: what a user interface draws with. A plain RGBA value with its
// hue/saturation/brightness read-back.
#pragma once

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// Hue, saturation and brightness of a platform colour, each 0 to 1 for in-gamut colours.
struct PlatformHSB {
  double hue = 0;         ///< a fraction of a full turn, [0, 1); 0 for a grey
  double saturation = 0;  ///< 0 (grey) to 1 (no white in it)
  double brightness = 0;  ///< the largest component
  double alpha = 1;       ///< opacity, 0 (transparent) to 1 (opaque)
};

/// An sRGB colour with alpha, components nominally 0 to 1. Components are kept as given
/// (extended range), as a display system's colour object keeps them.
struct HCF_API PlatformColor {
  double red = 0;    ///< red, nominally 0 to 1
  double green = 0;  ///< green, nominally 0 to 1
  double blue = 0;   ///< blue, nominally 0 to 1
  double alpha = 1;  ///< opacity, 0 (transparent) to 1 (opaque)

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
