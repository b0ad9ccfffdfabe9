#include "hcf/color/xyz_color.h"

#include <algorithm>
#include <cmath>

#include "../core/number_text.h"
#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/exception.h"

HCF_NAMESPACE_BEGIN

namespace {
constexpr const char* kInvalidRgbSpace = "Invalid RGB color space.";
}  // namespace

HCFXYZColor HCFXYZColor::XYZColorWithX(double X, double Y, double Z, HCFIlluminant illuminant) {
  return {X, Y, Z, illuminant, HCFStdObserver::TwoDegree};
}

HCFXYZColor HCFXYZColor::XYZColorWithX(double X, double Y, double Z, HCFIlluminant illuminant,
                                       HCFStdObserver observer) {
  return {X, Y, Z, illuminant, observer};
}

HCFRGBColor HCFXYZColor::RGBColorInSpace(HCFRGBSpace space) const {
  if (space != HCFRGBSpace::sRGB) throw HCFException(kInvalidRgbSpace, kInvalidRgbSpace);
  const RGBTriple t = CieStdMath::xyz2sRGBWithX(X, Y, Z, illuminant, stdObserver);
  return {t.R, t.G, t.B, space};
}

HCFXYZColor HCFXYZColor::toXYZWithIlluminant(HCFIlluminant target) const {
  if (illuminant == target) return *this;
  const XYZTriple t = CieStdMath::adapt(X, Y, Z, illuminant, stdObserver, target, stdObserver);
  return {t.X, t.Y, t.Z, target, stdObserver};
}

HCFLabColor HCFXYZColor::toLab() const {
  const LabTriple t = CieStdMath::xyz2LabWith(X, Y, Z, illuminant, stdObserver);
  return {t.L, t.a, t.b, illuminant, stdObserver};
}

HCFLuvColor HCFXYZColor::toLUV() const {
  const Vector3& w = CieStdMath::wpArrayForObserver(stdObserver, illuminant);
  const double yr = (Y / 100.0) / w[1];
  const double Ls = yr > cie::kEpsilon ? 116.0 * std::cbrt(yr) - 16.0 : cie::kKappa * yr;
  // Black: u* and v* are 13·L* times a chromaticity difference, so 0 whatever X and Z say.
  if (Ls == 0) return {0.0, 0.0, 0.0, illuminant, stdObserver};
  // u' and v' depend on the ratios of X, Y and Z only. Scaled by a power of two (exact) to a
  // largest magnitude below 1, X + 15Y + 3Z cannot overflow.
  int e = 0;
  std::frexp(std::max({std::fabs(X), std::fabs(Y), std::fabs(Z)}), &e);
  const double x = std::ldexp(X, -e);
  const double y = std::ldexp(Y, -e);
  const double z = std::ldexp(Z, -e);
  const double d = x + 15.0 * y + 3.0 * z;
  if (d == 0) {
    throw HCFException(kIllegalArgumentException,
                       "XYZ " + description() + " has no chromaticity: X + 15Y + 3Z is 0");
  }
  const double dn = w[0] + 15.0 * w[1] + 3.0 * w[2];
  const double u = 13.0 * Ls * (4.0 * x / d - 4.0 * w[0] / dn);
  const double v = 13.0 * Ls * (9.0 * y / d - 9.0 * w[1] / dn);
  cie::requireFiniteResult("CIELUV", {X, Y, Z}, {Ls, u, v});
  return {Ls, u, v, illuminant, stdObserver};
}

HCFLchColor HCFXYZColor::toLCH() const { return toLab().lchColor(); }

std::string HCFXYZColor::description() const {
  return "HCFXYZColor: X: " + text::fixed(X, 2) + ", Y: " + text::fixed(Y, 2) +
         ", Z: " + text::fixed(Z, 2);
}

HCF_NAMESPACE_END
