#include "hcf/color/hsb_color.h"

HCF_NAMESPACE_BEGIN

HCFHSBColor HCFHSBColor::colorWithUIColor(const PlatformColor& color) {
  const PlatformHSB hsb = color.hsb();
  return {hsb.hue * 360.0, hsb.saturation * 100.0, hsb.brightness * 100.0};
}

HCF_NAMESPACE_END
