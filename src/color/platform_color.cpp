#include "hcf/color/platform_color.h"

#include <algorithm>
#include <cmath>
#include <limits>

HCF_NAMESPACE_BEGIN

PlatformHSB PlatformColor::hsb() const noexcept {
  const double max = std::max({red, green, blue});
  const double min = std::min({red, green, blue});
  PlatformHSB out;
  out.alpha = alpha;
  out.brightness = max;
  // Hue and saturation are ratios of differences. The difference of two huge components of
  // opposite signs can overflow; that of their halves cannot, and no ratio changes.
  const double k = std::isinf(max - min) ? 0.5 : 1.0;
  const double r = red * k;
  const double g = green * k;
  const double b = blue * k;
  const double chroma = max * k - min * k;
  if (max > 0) {
    // Above 1 for a colour with a negative component; the largest double where even that
    // does not fit (a tiny largest component against a huge negative one).
    out.saturation = std::min(chroma / (max * k), std::numeric_limits<double>::max());
  }
  if (chroma <= 0) return out;  // a grey has hue 0
  double h;                     // in sixths of a turn
  if (max == red) {
    h = (g - b) / chroma;
    if (h < 0) h += 6.0;
  } else if (max == green) {
    h = (b - r) / chroma + 2.0;
  } else {
    h = (r - g) / chroma + 4.0;
  }
  if (h >= 6.0) h = 0.0;  // a hair below a full turn rounds up to it
  out.hue = h / 6.0;
  return out;
}

HCF_NAMESPACE_END
