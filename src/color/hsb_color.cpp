#include "hcf/color/hsb_color.h"

#include "cie_constants.h"

HCF_NAMESPACE_BEGIN

HCFHSBColor HCFHSBColor::colorWithUIColor(const PlatformColor& color) {
  const PlatformHSB hsb = color.hsb();
  const HCFHSBColor out = {hsb.hue * 360.0, hsb.saturation * 100.0, hsb.brightness * 100.0};
  cie::requireFiniteResult("HSB", {color.red, color.green, color.blue},
                           {out.hue, out.saturation, out.brightness});
  return out;
}

HCF_NAMESPACE_END
