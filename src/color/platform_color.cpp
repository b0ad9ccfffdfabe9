#include "hcf/color/platform_color.h"

#include <algorithm>

HCF_NAMESPACE_BEGIN

PlatformHSB PlatformColor::hsb() const noexcept {
  const double max = std::max({red, green, blue});
  const double min = std::min({red, green, blue});
  const double chroma = max - min;
  PlatformHSB out;
  out.alpha = alpha;
  out.brightness = max;
  out.saturation = max > 0 ? chroma / max : 0.0;
  if (chroma <= 0) return out;  // a grey has hue 0
  double h;                     // in sixths of a turn
  if (max == red) {
    h = (green - blue) / chroma;
    if (h < 0) h += 6.0;
  } else if (max == green) {
    h = (blue - red) / chroma + 2.0;
  } else {
    h = (red - green) / chroma + 4.0;
  }
  out.hue = h / 6.0;
  return out;
}

HCF_NAMESPACE_END
