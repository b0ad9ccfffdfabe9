// One sample against many standards: the shape of catalogue ranking.
//
// CIEDE2000 is evaluated here with fewer transcendental calls than the pair formula, while
// keeping its every branch and its ten-decimal π. The two hue angles are still taken with
// atan2 (the branches and the Δθ term need them), but the mean hue and the hue difference enter
// the formula only through sines and cosines, which follow from the unit hue vectors
// u1 = (a1', b1)/C1' and u2 = (a2', b2)/C2':
//   - the mean hue θ is the bisector of the shorter arc: (cos θ, sin θ) = (u1 + u2)/|u1 + u2|,
//     or u1 − u2 turned by 90° where that is the longer vector;
//   - |sin(Δh'/2)| = |u1 − u2|/2 with the sign of u1 × u2, and cos(Δh'/2) = |u1 + u2|/2;
//   - cos 2θ, cos 3θ, cos 4θ by the multiple-angle formulas.
// The pair formula turns degrees into radians with π to ten decimals (π + δ, δ ≈ 4.1e-10).
// Its angles are then the true ones plus a whole number of δ: every 180° it adds (the shift
// of a negative atan2 by 360°, the ±360° of the branches, halved) comes back as π + δ. Those
// counts are known from the same branches, and the δ terms are added to first order (their
// squares are below 1e-18), so both routines agree to rounding. Pairs where the bisector is
// ill-conditioned (a zero chroma, hues within 0.06° of opposite) take the pair formula.
#include <cmath>
#include <stdexcept>
#include <string>

#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"

HCF_NAMESPACE_BEGIN

using namespace cie;

namespace {

// Below this |u1 + u2| (hues within about 0.06° of opposite) the bisector loses digits.
constexpr double kMinBisector = 1e-3;
// The formula's π minus the true one.
constexpr double kPiExcess = kDeltaEPi - M_PI;

struct Phase {
  double c;
  double s;
};

Phase phase(double degrees) {
  const double r = degrees * kDeltaEPi / 180.0;
  return {std::cos(r), std::sin(r)};
}

double pow7(double x) {
  const double x2 = x * x;
  const double x3 = x2 * x;
  return x3 * x3 * x;
}

void deltaE2000Batch(const LabTriple& s, const LabColumns& std2, std::span<double> out) {
  static const Phase p30 = phase(30.0);
  static const Phase p6 = phase(6.0);
  static const Phase p63 = phase(63.0);
  const double L1 = s.L;
  const double a1 = s.a;
  const double b1 = s.b;
  const double C1 = std::sqrt(a1 * a1 + b1 * b1);
  const std::size_t n = std2.L.size();

  for (std::size_t i = 0; i < n; ++i) {
    const double L2 = std2.L[i];
    const double a2 = std2.a[i];
    const double b2 = std2.b[i];
    const double C2 = std::sqrt(a2 * a2 + b2 * b2);
    const double Cbar7 = pow7((C1 + C2) / 2.0);
    const double G1 = 1.0 + 0.5 * (1.0 - std::sqrt(Cbar7 / (Cbar7 + k25Pow7)));
    const double a1p = G1 * a1;
    const double a2p = G1 * a2;
    const double C1p = std::sqrt(a1p * a1p + b1 * b1);
    const double C2p = std::sqrt(a2p * a2p + b2 * b2);
    if (C1p == 0.0 || C2p == 0.0) {
      out[i] = CieStdMath::deltaE2000WithL(L1, a1, b1, L2, a2, b2);
      continue;
    }
    const double u1x = a1p / C1p;
    const double u1y = b1 / C1p;
    const double u2x = a2p / C2p;
    const double u2y = b2 / C2p;
    const double sx = u1x + u2x;
    const double sy = u1y + u2y;
    const double sn = std::sqrt(sx * sx + sy * sy);
    if (sn < kMinBisector) {
      out[i] = CieStdMath::deltaE2000WithL(L1, a1, b1, L2, a2, b2);
      continue;
    }

    // The hue branches, exactly as the pair formula takes them.
    const double r1 = std::atan2(b1, a1p);
    const double r2 = std::atan2(b2, a2p);
    const int n1 = r1 < 0 ? 1 : 0;  // hue shifted up by 360°
    const int n2 = r2 < 0 ? 1 : 0;
    const double h1p = r1 * 180.0 / kDeltaEPi + 360.0 * n1;
    const double h2p = r2 * 180.0 / kDeltaEPi + 360.0 * n2;
    const double h1t = r1 * (180.0 / M_PI) + 360.0 * n1;
    const double h2t = r2 * (180.0 / M_PI) + 360.0 * n2;
    const bool apart = std::fabs(h1t - h2t) > 180.0;
    int meanShift = 0;  // ±360° of the mean hue
    int diffShift = 0;  // ±360° of the hue difference
    if (apart) {
      meanShift = h1t + h2t < 360.0 ? 1 : -1;
      diffShift = h2t <= h1t ? 1 : -1;
    }
    const double Hbar = (h1p + h2p + 360.0 * meanShift) / 2.0;
    const double kMean = (n1 + n2 + meanShift) * kPiExcess;  // mean-hue angle minus θ
    const double kDiff = (n2 - n1 + diffShift) * kPiExcess;  // half-difference angle minus Δh/2

    // cos and sin of the mean hue as the formula has it, and its multiples. For hues more than
    // 90° apart u1 − u2 (at right angles to u1 + u2) gives the bisector with more digits.
    const double dx = u1x - u2x;
    const double dy = u1y - u2y;
    const double dn = std::sqrt(dx * dx + dy * dy);
    double ct = sx / sn;
    double st = sy / sn;
    if (dn > sn) {
      const double sign = (sy * dx - sx * dy) < 0 ? -1.0 : 1.0;
      ct = -dy / dn * sign;
      st = dx / dn * sign;
    }
    const double c1 = ct - kMean * st;
    const double s1 = st + kMean * ct;
    const double c2 = c1 * c1 - s1 * s1;
    const double s2 = 2.0 * s1 * c1;
    const double c3 = c2 * c1 - s2 * s1;
    const double s3 = s2 * c1 + c2 * s1;
    const double c4 = c2 * c2 - s2 * s2;
    const double s4 = 2.0 * s2 * c2;
    const double T = 1.0 - 0.17 * (c1 * p30.c + s1 * p30.s) + 0.24 * c2 +
                     0.32 * (c3 * p6.c - s3 * p6.s) - 0.20 * (c4 * p63.c + s4 * p63.s);

    // |sin(Δh'/2)| = |u1 − u2| / 2, with the sign of sin Δh' = u1 × u2.
    const double sinHalf =
        std::copysign(dn / 2.0, u1x * u2y - u1y * u2x) + kDiff * (sn / 2.0);
    const double dHp = 2.0 * std::sqrt(C1p * C2p) * sinHalf;

    const double Cbarp = (C1p + C2p) / 2.0;
    const double Lbar = (L1 + L2) / 2.0;
    const double Lm50sq = (Lbar - 50.0) * (Lbar - 50.0);
    const double SL = 1.0 + 0.015 * Lm50sq / std::sqrt(20.0 + Lm50sq);
    const double SC = 1.0 + 0.045 * Cbarp;
    const double SH = 1.0 + 0.015 * Cbarp * T;
    const double q = (Hbar - 275.0) / 25.0;
    const double dTheta = 30.0 * std::exp(-q * q);
    const double Cbarp7 = pow7(Cbarp);
    const double RC = 2.0 * std::sqrt(Cbarp7 / (Cbarp7 + k25Pow7));

    const double l = (L2 - L1) / SL;
    const double c = (C2p - C1p) / SC;
    const double h = dHp / SH;
    out[i] = std::sqrt(l * l + c * c + h * h -
                       c * RC * std::sin(2.0 * dTheta * kDeltaEPi / 180.0) * h);
  }
}

}  // namespace

void CieStdMath::deltaEBatch(HCFDeltaEMethod method, const LabTriple& sample,
                             const LabColumns& standards, std::span<double> out) {
  const std::size_t n = standards.L.size();
  if (standards.a.size() != n || standards.b.size() != n) {
    throw std::invalid_argument("deltaEBatch: the L, a and b columns differ in length");
  }
  if (out.size() < n) {
    throw std::invalid_argument("deltaEBatch: output holds " + std::to_string(out.size()) +
                                " values for " + std::to_string(n) + " standards");
  }
  const auto [L1, a1, b1] = sample;
  switch (method) {
    case HCFDeltaEMethod::CMC21:
    case HCFDeltaEMethod::CMC11: {
      const float l = method == HCFDeltaEMethod::CMC21 ? 2.0f : 1.0f;
      for (std::size_t i = 0; i < n; ++i) {
        out[i] = deltaEcmc_l(l, 1.0f, L1, a1, b1, standards.L[i], standards.a[i], standards.b[i]);
      }
      return;
    }
    case HCFDeltaEMethod::CIE94GraphicArts:
    case HCFDeltaEMethod::CIE94Textiles: {
      const std::int32_t tg = method == HCFDeltaEMethod::CIE94Textiles ? 1 : 0;
      for (std::size_t i = 0; i < n; ++i) {
        out[i] = deltaE1994WithL(L1, a1, b1, standards.L[i], standards.a[i], standards.b[i], tg);
      }
      return;
    }
    default:
      deltaE2000Batch(sample, standards, out);
  }
}

HCF_NAMESPACE_END
