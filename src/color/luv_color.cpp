#include "hcf/color/luv_color.h"

#include <cmath>

#include "../core/number_text.h"
#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/exception.h"

HCF_NAMESPACE_BEGIN

HCFLuvColor HCFLuvColor::luvColorWithL(double L, double u, double v, HCFIlluminant illuminant) {
  return {L, u, v, illuminant, HCFStdObserver::TwoDegree};
}

HCFLuvColor HCFLuvColor::luvColorWithL(double L, double u, double v, HCFIlluminant illuminant,
                                       HCFStdObserver observer) {
  return {L, u, v, illuminant, observer};
}

HCFXYZColor HCFLuvColor::toXYZ() const {
  const Vector3& w = CieStdMath::wpArrayForObserver(stdObserver, illuminant);
  // L* = 0 is black, whatever u* and v* say.
  if (L == 0) return {0.0, 0.0, 0.0, illuminant, stdObserver};
  // U = 13·L*·u' and V = 13·L*·v': with them nothing is divided by a tiny L*.
  const double dn = w[0] + 15.0 * w[1] + 3.0 * w[2];
  const double U = u + 13.0 * L * (4.0 * w[0] / dn);
  const double V = v + 13.0 * L * (9.0 * w[1] / dn);
  if (V == 0) {
    throw HCFException(kIllegalArgumentException,
                       "CIELUV " + description() + " has no XYZ: its v' is 0");
  }
  const bool cube = L > cie::kLinearLightnessLimit;
  const double Y = cube ? std::pow((L + 16.0) / 116.0, 3.0) : L / cie::kKappa;
  // Y / V. On the linear segment L* goes over V before it is made smaller by κ: as L* tends to
  // 0 with u* and v* kept, X and Z tend to finite values, and a tiny L* must not take them to 0
  // or to not-a-number.
  const double yOverV = cube ? Y / V : (L / V) / cie::kKappa;
  const double X = yOverV * (9.0 * U / 4.0);
  const double Z = yOverV * ((156.0 * L - 3.0 * U - 20.0 * V) / 4.0);
  const Vector3 out = {100.0 * X, 100.0 * Y, 100.0 * Z};
  cie::requireFiniteResult("XYZ", {L, u, v}, out);
  return {out[0], out[1], out[2], illuminant, stdObserver};
}

std::string HCFLuvColor::description() const {
  return "Luv: " + text::fixed(L, 2) + ", " + text::fixed(u, 2) + ", " + text::fixed(v, 2);
}

HCF_NAMESPACE_END
