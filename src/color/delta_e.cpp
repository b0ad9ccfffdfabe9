// Colour differences: CIEDE2000, CMC l:c, CIE94 and CIE 1976, one pair at a time or one sample
// against many standards, and the CIELAB difference components.
#include <cmath>
#include <stdexcept>
#include <string>

#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/exception.h"
#include "lightness_weights.h"

HCF_NAMESPACE_BEGIN

using namespace cie;

namespace {

// Degree <-> radian conversions of the difference formulas, with π to ten decimals.
constexpr double toRadians(double degrees) { return degrees * kDeltaEPi / 180.0; }
constexpr double toDegrees(double radians) { return radians * 180.0 / kDeltaEPi; }

// Hue angle in [0, 360) degrees, converted with the formulas' π.
double hueDegrees(double radians) {
  const double h = toDegrees(radians);
  return h < 0 ? h + 360.0 : h;
}

// The same hue with the true π. π to ten decimals shrinks every angle by about 1.3e-10 of
// itself, 5e-8° on a hue shifted up by 360°; the hue branches are decided on these exact angles.
double trueHueDegrees(double radians) {
  const double h = radians * (180.0 / M_PI);
  return h < 0 ? h + 360.0 : h;
}

// How far beyond half a turn two hues must be before the formula's branches count them as
// more than 180° apart. Hues exactly opposite (one colour's a and b the other's times any
// negative number) come out up to a few ulps of 360° (6e-14° each) either side of 180° apart,
// and taking the wrapped branch for them moves the mean hue by 180° and the difference by up
// to about 50. This margin is a thousand times that rounding and far below any measured hue.
constexpr double kHalfTurnMargin = 1e-10;

// Whether two hues in [0°, 360°) are more than half a turn apart, so that the shorter arc
// between them crosses 0° and the mean hue and the hue difference wrap.
bool huesApart(double h1t, double h2t) { return std::fabs(h1t - h2t) > 180.0 + kHalfTurnMargin; }

}  // namespace

bool cie::weightsFromSample(HCFDeltaEReference reference) {
  switch (reference) {
    case HCFDeltaEReference::Sample:
      return true;
    case HCFDeltaEReference::Standard:
      return false;
  }
  throw HCFException(kIllegalArgumentException,
                     "Unknown colour-difference reference " +
                         std::to_string(static_cast<std::int64_t>(reference)) +
                         ": it is the sample (0) or the standard (1)");
}

double CieStdMath::deltaE2000WithL(double L1, double a1, double b1, double L2, double a2,
                                   double b2) {
  const double C1 = std::sqrt(a1 * a1 + b1 * b1);
  const double C2 = std::sqrt(a2 * a2 + b2 * b2);
  const double Cbar = (C1 + C2) / 2.0;
  const double Cbar7 = std::pow(Cbar, 7.0);
  const double G = 0.5 * (1.0 - std::sqrt(Cbar7 / (Cbar7 + k25Pow7)));

  const double a1p = (1.0 + G) * a1;
  const double a2p = (1.0 + G) * a2;
  const double C1p = std::sqrt(a1p * a1p + b1 * b1);
  const double C2p = std::sqrt(a2p * a2p + b2 * b2);
  const double Cbarp = (C1p + C2p) / 2.0;

  const double r1 = std::atan2(b1, a1p);
  const double r2 = std::atan2(b2, a2p);
  const double h1p = hueDegrees(r1);
  const double h2p = hueDegrees(r2);
  const double h1t = trueHueDegrees(r1);
  const double h2t = trueHueDegrees(r2);
  const bool apart = huesApart(h1t, h2t);

  double Hbarp = (h1p + h2p) / 2.0;
  if (apart) Hbarp = h1t + h2t < 360.0 ? (h1p + h2p + 360.0) / 2.0 : (h1p + h2p - 360.0) / 2.0;

  const double T = 1.0 - 0.17 * std::cos(toRadians(Hbarp - 30.0)) +
                   0.24 * std::cos(toRadians(2.0 * Hbarp)) +
                   0.32 * std::cos(toRadians(3.0 * Hbarp + 6.0)) -
                   0.20 * std::cos(toRadians(4.0 * Hbarp - 63.0));

  double dhp = h2p - h1p;
  if (apart) dhp += h2t <= h1t ? 360.0 : -360.0;
  const double dHp = 2.0 * std::sqrt(C1p * C2p) * std::sin(toRadians(dhp / 2.0));

  const double dLp = L2 - L1;
  const double dCp = C2p - C1p;
  const double Lbar = (L1 + L2) / 2.0;
  const double SL = delta_e::ciede2000LightnessWeight(Lbar);
  const double SC = 1.0 + 0.045 * Cbarp;
  const double SH = 1.0 + 0.015 * Cbarp * T;

  const double dTheta = 30.0 * std::exp(-((Hbarp - 275.0) / 25.0) * ((Hbarp - 275.0) / 25.0));
  const double Cbarp7 = std::pow(Cbarp, 7.0);
  const double RC = 2.0 * std::sqrt(Cbarp7 / (Cbarp7 + k25Pow7));

  const double l = dLp / SL;
  const double c = dCp / SC;
  const double h = dHp / SH;
  return std::sqrt(l * l + c * c + h * h - c * RC * std::sin(toRadians(2.0 * dTheta)) * h);
}

double CieStdMath::deltaEcmc_l(float l, float c, double L1, double a1, double b1, double L2,
                               double a2, double b2) {
  const double C1 = std::sqrt(a1 * a1 + b1 * b1);
  const double C2 = std::sqrt(a2 * a2 + b2 * b2);
  const double dC = C2 - C1;
  const double dL = L2 - L1;
  // The hue difference squared; rounding can take it a hair below zero for near-neutral
  // colours, which would make the square root not-a-number.
  const double dHsq = (a2 - a1) * (a2 - a1) + (b2 - b1) * (b2 - b1) - dC * dC;
  const double dH = std::sqrt(dHsq > 0.0 ? dHsq : 0.0);

  double H1 = toDegrees(std::atan2(b1, a1));
  if (H1 < 0) {
    H1 += 360.0;
  } else if (H1 >= 360.0) {
    H1 -= 360.0;
  }
  const double SL = delta_e::cmcLightnessWeight(L1);
  const double SC = 0.0638 * C1 / (1.0 + 0.0131 * C1) + 0.638;
  const double T = (H1 >= 164.0 && H1 <= 345.0)
                       ? 0.56 + std::fabs(0.2 * std::cos(toRadians(H1 + 168.0)))
                       : 0.36 + std::fabs(0.4 * std::cos(toRadians(H1 + 35.0)));
  const double C14 = std::pow(C1, 4.0);
  const double F = std::sqrt(C14 / (C14 + 1900.0));
  const double SH = SC * (F * T + 1.0 - F);

  const double tl = dL / (static_cast<double>(l) * SL);
  const double tc = dC / (static_cast<double>(c) * SC);
  const double th = dH / SH;
  return std::sqrt(tl * tl + tc * tc + th * th);
}

double CieStdMath::deltaE1994WithL(double L1, double a1, double b1, double L2, double a2, double b2,
                                   std::int32_t tg) {
  const double C1 = std::sqrt(a1 * a1 + b1 * b1);
  const double C2 = std::sqrt(a2 * a2 + b2 * b2);
  const double dC = C1 - C2;
  const double dL = L1 - L2;
  const double dHsq = (a1 - a2) * (a1 - a2) + (b1 - b2) * (b1 - b2) - dC * dC;
  const double dH = std::sqrt(dHsq > 0.0 ? dHsq : 0.0);  // clamped as in CMC

  const bool textiles = tg != 0;
  const double kL = textiles ? 2.0 : 1.0;
  const double K1 = textiles ? 0.048 : 0.045;
  const double K2 = textiles ? 0.014 : 0.015;
  const double SC = 1.0 + K1 * C1;
  const double SH = 1.0 + K2 * C1;

  const double tl = dL / kL;
  const double tc = dC / SC;
  const double th = dH / SH;
  return std::sqrt(tl * tl + tc * tc + th * th);
}

double CieStdMath::deltaE1976WithL(double L1, double a1, double b1, double L2, double a2,
                                   double b2) {
  return std::hypot(L2 - L1, a2 - a1, b2 - b1);
}

LabDifference CieStdMath::labDifference(const LabTriple& sample, const LabTriple& standard) {
  const double Cs = std::hypot(sample.a, sample.b);
  const double Cr = std::hypot(standard.a, standard.b);
  double dH = 0.0;  // 0 when either colour is neutral
  if (Cs > 0 && Cr > 0) {
    // The hue difference from the unit hue vectors, whose cross product is its sine and dot
    // product its cosine: no wrap at 0° to get wrong.
    const double xs = sample.a / Cs;
    const double ys = sample.b / Cs;
    const double xr = standard.a / Cr;
    const double yr = standard.b / Cr;
    double dh = std::atan2(xr * ys - yr * xs, xr * xs + yr * ys);
    // Hues exactly opposite have no side; they count as half a turn anticlockwise.
    if (std::fabs(dh) > M_PI - kHalfTurnMargin * (M_PI / 180.0)) dh = M_PI;
    dH = 2.0 * std::sqrt(Cs) * std::sqrt(Cr) * std::sin(dh / 2.0);
  }
  return {sample.L - standard.L, Cs - Cr, dH,
          deltaE1976WithL(standard.L, standard.a, standard.b, sample.L, sample.a, sample.b)};
}

HCF_NAMESPACE_END
