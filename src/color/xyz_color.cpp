#include "hcf/color/xyz_color.h"

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
  const double d = X + 15.0 * Y + 3.0 * Z;
  const double up = 4.0 * X / d;
  const double vp = 9.0 * Y / d;
  const double dn = w[0] + 15.0 * w[1] + 3.0 * w[2];
  const double upn = 4.0 * w[0] / dn;
  const double vpn = 9.0 * w[1] / dn;
  const double yr = (Y / 100.0) / w[1];
  const double Ls = yr > cie::kEpsilon ? 116.0 * std::cbrt(yr) - 16.0 : cie::kKappa * yr;
  return {Ls, 13.0 * Ls * (up - upn), 13.0 * Ls * (vp - vpn), illuminant, stdObserver};
}

HCFLchColor HCFXYZColor::toLCH() const { return toLab().lchColor(); }

std::string HCFXYZColor::description() const {
  return "HCFXYZColor: X: " + text::fixed(X, 2) + ", Y: " + text::fixed(Y, 2) +
         ", Z: " + text::fixed(Z, 2);
}

HCF_NAMESPACE_END
