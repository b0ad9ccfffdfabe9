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
// ill-conditioned (a zero chroma, hues within 0.06° of opposite, a mean hue on the 0°/360°
// line) take the pair formula.
//
// The standards go through in chunks, in three passes: the algebra before the mean-hue angle
// and the algebra after it have no branches and no calls, so the compiler runs them on vector
// registers; the middle pass takes the atan2, exp and sin that remain.
#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>

#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"
#include "lightness_weights.h"

HCF_NAMESPACE_BEGIN

using namespace cie;

namespace {

// Below this |u1 + u2| (hues within about 0.06° of opposite) the bisector loses digits.
constexpr double kMinBisector = 1e-3;
// Mean hues within about 6e-8° of the 0°/360° line take the pair formula.
constexpr double kWrapGuard = 1e-9;
// Degrees per radian with the formula's π.
constexpr double kDegreesPerRadian = 180.0 / kDeltaEPi;
// Below 2^-26, sin x rounds to x.
constexpr double kSinIsIdentity = 0x1p-26;
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

// Standards per chunk: the scratch columns stay in the first-level cache.
constexpr std::size_t kChunk = 128;

// What the first pass hands on, one column per quantity.
struct Scratch {
  std::array<double, kChunk> C1p, C2p, ct, st, kMean, sinHalf, Hbar, sin2Theta;
  std::array<double, kChunk> fallback;  // 1 where the pair formula takes over
};

// Pass 1: chromas, unit hue vectors, the bisector and the branch counts.
void hueGeometry(double a1, double b1, double C1, const double* a2s, const double* b2s,
                 std::size_t m, Scratch& w) {
  // The sample's hue is shifted by 360° when its atan2 is negative: b < 0, or b = −0 with a < 0
  // (a1' has the sign of a1).
  const bool shifted1 = b1 < 0 || (b1 == 0 && std::signbit(b1) && a1 < 0);
  const double n1 = shifted1 ? 1.0 : 0.0;
  for (std::size_t j = 0; j < m; ++j) {
    const double a2 = a2s[j];
    const double b2 = b2s[j];
    const double C2 = std::sqrt(a2 * a2 + b2 * b2);
    const double Cbar7 = pow7((C1 + C2) / 2.0);
    const double G1 = 1.0 + 0.5 * (1.0 - std::sqrt(Cbar7 / (Cbar7 + k25Pow7)));
    const double a1p = G1 * a1;
    const double a2p = G1 * a2;
    const double C1p = std::sqrt(a1p * a1p + b1 * b1);
    const double C2p = std::sqrt(a2p * a2p + b2 * b2);
    const double r1 = 1.0 / C1p;
    const double r2 = 1.0 / C2p;
    const double u1x = a1p * r1;
    const double u1y = b1 * r1;
    const double u2x = a2p * r2;
    const double u2y = b2 * r2;
    const double sx = u1x + u2x;
    const double sy = u1y + u2y;
    const double sn = std::sqrt(sx * sx + sy * sy);
    const double dx = u1x - u2x;
    const double dy = u1y - u2y;
    const double dn = std::sqrt(dx * dx + dy * dy);
    // cos and sin of the true mean hue θ. For hues more than 90° apart u1 − u2 (at right
    // angles to u1 + u2) gives the bisector with more digits.
    const bool useDiff = dn > sn;
    const double turn = (sy * dx - sx * dy) < 0 ? -1.0 : 1.0;
    const double k = useDiff ? turn / dn : 1.0 / sn;
    const double ct = useDiff ? -dy * k : sx * k;
    const double st = useDiff ? dx * k : sy * k;
    const double cross = u1x * u2y - u1y * u2x;  // sin Δh

    // The pair formula's branches, from signs alone. A hue whose atan2 is negative is shifted
    // up by 360°; the hues are more than 180° apart only when exactly one was shifted, and then
    // the shorter arc crosses 0°. The mean hue then moves by ±360°/2 (up when the bisector is
    // below the a axis) and the hue difference by ∓360°, which cancels the one shifted hue.
    // (Bitwise & and | keep the loop free of branches.)
    const bool shifted2 = (std::copysign(1.0, b2) < 0) & ((b2 < 0) | (a2 < 0));
    const double n2 = shifted2 ? 1.0 : 0.0;
    const bool apart = (!shifted1 & shifted2 & (cross < 0)) | (shifted1 & !shifted2 & (cross > 0));
    const double meanShift = apart ? (st < 0 ? 1.0 : -1.0) : 0.0;
    const double diffTurns = apart ? 0.0 : n2 - n1;
    const double kMean = (n1 + n2 + meanShift) * kPiExcess;  // mean-hue angle minus θ
    const double kDiff = diffTurns * kPiExcess;              // half-difference angle minus Δh/2

    w.C1p[j] = C1p;
    w.C2p[j] = C2p;
    w.ct[j] = ct;
    w.st[j] = st;
    w.kMean[j] = kMean;
    // |sin(Δh'/2)| = |u1 − u2| / 2, with the sign of sin Δh'.
    w.sinHalf[j] = std::copysign(dn / 2.0, cross) + kDiff * (sn / 2.0);
    w.fallback[j] = ((C1p == 0.0) | (C2p == 0.0) | !(sn >= kMinBisector) |
                     ((ct > 0) & (std::fabs(st) < kWrapGuard)))
                        ? 1.0
                        : 0.0;
  }
}

// Pass 2: the mean hue in the formula's degrees and the rotation term's sine.
void meanHueTerms(std::size_t m, Scratch& w) {
  for (std::size_t j = 0; j < m; ++j) {
    if (w.fallback[j] != 0.0) continue;
    double theta = std::atan2(w.st[j], w.ct[j]);
    if (theta < 0) theta += 2.0 * M_PI;
    const double Hbar = (theta + w.kMean[j]) * kDegreesPerRadian;
    const double q = (Hbar - 275.0) * (1.0 / 25.0);
    const double dTheta = 30.0 * std::exp(-q * q);
    // sin x is x itself in double precision below 2^-26; most hues are far enough from 275°.
    const double x = 2.0 * dTheta * kDeltaEPi / 180.0;
    w.Hbar[j] = Hbar;
    w.sin2Theta[j] = x < kSinIsIdentity ? x : std::sin(x);
  }
}

// Pass 3: the weights and the difference.
void weightedDifference(double L1, const double* L2s, std::size_t m, const Scratch& w,
                        double* out) {
  static const Phase p30 = phase(30.0);
  static const Phase p6 = phase(6.0);
  static const Phase p63 = phase(63.0);
  const double c30 = p30.c, s30 = p30.s, c6 = p6.c, s6 = p6.s, c63 = p63.c, s63 = p63.s;
  for (std::size_t j = 0; j < m; ++j) {
    // cos and sin of the mean hue as the formula has it, and its multiples.
    const double kMean = w.kMean[j];
    const double c1 = w.ct[j] - kMean * w.st[j];
    const double s1 = w.st[j] + kMean * w.ct[j];
    const double c2 = c1 * c1 - s1 * s1;
    const double s2 = 2.0 * s1 * c1;
    const double c3 = c2 * c1 - s2 * s1;
    const double s3 = s2 * c1 + c2 * s1;
    const double c4 = c2 * c2 - s2 * s2;
    const double s4 = 2.0 * s2 * c2;
    const double T = 1.0 - 0.17 * (c1 * c30 + s1 * s30) + 0.24 * c2 + 0.32 * (c3 * c6 - s3 * s6) -
                     0.20 * (c4 * c63 + s4 * s63);

    const double C1p = w.C1p[j];
    const double C2p = w.C2p[j];
    const double dHp = 2.0 * std::sqrt(C1p * C2p) * w.sinHalf[j];
    const double L2 = L2s[j];
    const double Cbarp = (C1p + C2p) / 2.0;
    const double Lbar = (L1 + L2) / 2.0;
    const double SL = delta_e::ciede2000LightnessWeight(Lbar);
    const double SC = 1.0 + 0.045 * Cbarp;
    const double SH = 1.0 + 0.015 * Cbarp * T;
    const double Cbarp7 = pow7(Cbarp);
    const double RC = 2.0 * std::sqrt(Cbarp7 / (Cbarp7 + k25Pow7));

    const double l = (L2 - L1) / SL;
    const double c = (C2p - C1p) / SC;
    const double h = dHp / SH;
    out[j] = std::sqrt(l * l + c * c + h * h - c * RC * w.sin2Theta[j] * h);
  }
}

void deltaE2000Batch(const LabTriple& s, const LabColumns& std2, std::span<double> out) {
  const double C1 = std::sqrt(s.a * s.a + s.b * s.b);
  const std::size_t n = std2.L.size();
  Scratch w;
  for (std::size_t start = 0; start < n; start += kChunk) {
    const std::size_t m = std::min(kChunk, n - start);
    hueGeometry(s.a, s.b, C1, std2.a.data() + start, std2.b.data() + start, m, w);
    meanHueTerms(m, w);
    weightedDifference(s.L, std2.L.data() + start, m, w, out.data() + start);
    for (std::size_t j = 0; j < m; ++j) {
      if (w.fallback[j] != 0.0) {
        const std::size_t i = start + j;
        out[i] = CieStdMath::deltaE2000WithL(s.L, s.a, s.b, std2.L[i], std2.a[i], std2.b[i]);
      }
    }
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
