#include "hcf/color/luv_color.h"

#include <cmath>

#include "../core/number_text.h"
#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"

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
  const double dn = w[0] + 15.0 * w[1] + 3.0 * w[2];
  const double un = 4.0 * w[0] / dn;
  const double vn = 9.0 * w[1] / dn;
  const double Y =
      L > cie::kLinearLightnessLimit ? std::pow((L + 16.0) / 116.0, 3.0) : L / cie::kKappa;
  const double a = (52.0 * L / (u + 13.0 * L * un) - 1.0) / 3.0;
  const double bb = -5.0 * Y;
  const double d = Y * (39.0 * L / (v + 13.0 * L * vn) - 5.0);
  const double X = (d - bb) / (a + 1.0 / 3.0);
  const double Z = X * a + bb;
  return {100.0 * X, 100.0 * Y, 100.0 * Z, illuminant, stdObserver};
}

std::string HCFLuvColor::description() const {
  return "Luv: " + text::fixed(L, 2) + ", " + text::fixed(u, 2) + ", " + text::fixed(v, 2);
}

HCF_NAMESPACE_END
