// The lightness weights of the colour differences, written once: the differences use them, and
// the exact colour ranking bounds a difference from below by its lightness term alone.
#pragma once

#include <cmath>

#include "hcf/color/color_enums.h"

HCF_NAMESPACE_BEGIN
namespace delta_e {

/// CIEDE2000's lightness weight S_L at the mean lightness `Lbar` of the two colours.
inline double ciede2000LightnessWeight(double Lbar) {
  const double m = (Lbar - 50.0) * (Lbar - 50.0);
  return 1.0 + 0.015 * m / std::sqrt(20.0 + m);
}

/// CMC's lightness weight S_L, set by the lightness `L1` of the colour that sets the weights.
inline double cmcLightnessWeight(double L1) {
  return L1 < 16.0 ? 0.511 : 0.040975 * L1 / (1.0 + 0.01765 * L1);
}

/// Whether `method` is computed as CIEDE2000 (every value but the CMC and CIE94 ones).
inline bool isCiede2000(HCFDeltaEMethod method) {
  return method != HCFDeltaEMethod::CMC21 && method != HCFDeltaEMethod::CMC11 &&
         method != HCFDeltaEMethod::CIE94GraphicArts && method != HCFDeltaEMethod::CIE94Textiles;
}

/// A lower bound of the difference by `method` from a sample of lightness `sampleL` (the colour
/// that sets the weights) to any colour of lightness `L`: the lightness term alone, since the
/// other terms add a non-negative amount (for CIEDE2000 the rotation term is bounded by the
/// chroma and hue terms: |RT| ≤ 2).
inline double lightnessLowerBound(HCFDeltaEMethod method, double sampleL, double L) {
  const double dL = std::fabs(L - sampleL);
  switch (method) {
    case HCFDeltaEMethod::CMC21:
      return dL / (2.0 * cmcLightnessWeight(sampleL));
    case HCFDeltaEMethod::CMC11:
      return dL / cmcLightnessWeight(sampleL);
    case HCFDeltaEMethod::CIE94GraphicArts:
      return dL;
    case HCFDeltaEMethod::CIE94Textiles:
      return dL / 2.0;
    default:
      return dL / ciede2000LightnessWeight((L + sampleL) / 2.0);
  }
}

}  // namespace delta_e
HCF_NAMESPACE_END
