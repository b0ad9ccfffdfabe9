#include "hcf/color/lch_color.h"

#include <cmath>

#include "../core/number_text.h"

HCF_NAMESPACE_BEGIN

HCFLchColor HCFLchColor::LchColorWithL(double L, double c, double h, HCFIlluminant illuminant) {
  return {L, c, h, illuminant, HCFStdObserver::TwoDegree};
}

HCFLchColor HCFLchColor::LchColorWithL(double L, double c, double h, HCFIlluminant illuminant,
                                       HCFStdObserver observer) {
  return {L, c, h, illuminant, observer};
}

HCFLabColor HCFLchColor::toLAB() const {
  // Whole turns come off first, exactly, so that a hue of any size gives a finite angle.
  const double radians = std::fmod(h, 360.0) * M_PI / 180.0;
  return {L, c * std::cos(radians), c * std::sin(radians), illuminant, stdObserver};
}

std::string HCFLchColor::description() const {
  return "HCFLCHColor: L: " + text::fixed(L, 2) + ", c: " + text::fixed(c, 2) +
         ", h: " + text::fixed(h, 2);
}

HCF_NAMESPACE_END
