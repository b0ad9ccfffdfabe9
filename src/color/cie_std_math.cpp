// White points, XYZ <-> Lab, XYZ <-> sRGB, Bradford adaptation and the colorimeter's light.
#include "hcf/color/cie_std_math.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

#include "cie_constants.h"
#include "hcf/color/matrix_math.h"
#include "hcf/core/exception.h"

HCF_NAMESPACE_BEGIN

using namespace cie;

std::size_t cie::illuminantIndex(HCFIlluminant illuminant) {
  if (!isKnownIlluminant(illuminant)) {
    throw HCFException(kIllegalArgumentException,
                       "Unknown illuminant " +
                           std::to_string(static_cast<std::int64_t>(illuminant)) +
                           ": it has no white point");
  }
  return static_cast<std::size_t>(illuminant);
}

void cie::requireFiniteResult(const char* what, const Vector3& in, const Vector3& out) {
  const auto finite = [](const Vector3& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
  };
  if (!finite(in) || finite(out)) return;
  char text[160];
  std::snprintf(text, sizeof text, "%s of (%.17g, %.17g, %.17g) is out of range", what, in[0],
                in[1], in[2]);
  throw HCFException(kIllegalArgumentException, text);
}

namespace {

// f(t) of XYZ -> Lab.
double labF(double t) {
  return t > kEpsilon ? std::pow(t, kCubeRootExponent) : (kKappa * t + 16.0) / 116.0;
}

// Beyond this the cube of Lab -> XYZ no longer fits in single precision.
constexpr double kSingleCubeLimit = 6.9e12;

// The cube of Lab -> XYZ, taken in single precision where it fits and in double beyond.
double cubeSingle(double v) {
  if (std::fabs(v) > kSingleCubeLimit) return v * v * v;
  return static_cast<double>(std::pow(static_cast<float>(v), 3.0f));
}

double compand(double c) {
  if (c > kSrgbLinearThreshold) {
    const double p = static_cast<double>(std::pow(static_cast<float>(c), kSrgbInverseGamma));
    return kSrgbScale * p - kSrgbOffset;
  }
  return kSrgbLinearSlope * c;
}

double linearize(double c) {
  return c <= kSrgbCompandedThreshold ? c / kSrgbLinearSlope
                                      : std::pow((c + kSrgbOffset) / kSrgbScale, kSrgbGamma);
}

double clamp01(double v) { return v > 1.0 ? 1.0 : (v < 0.0 ? 0.0 : v); }

// Linear sRGB -> XYZ (0–1) per illuminant. D50 and D65 start from their published matrices,
// the others from the inverse of their XYZ -> sRGB matrix. Those carry six or seven decimals,
// which put sRGB white up to 1e-6 off the illuminant's white (L* 100.00002, a* and b* 1e-4), so
// each column is scaled to send (1, 1, 1) onto the 2° white: m · diag(m⁻¹ · white). A matrix
// that already lands on it (D50's) is kept as published.
const Matrix3x3& rgbToXyz(std::size_t illuminant) {
  static const std::array<Matrix3x3, 8> matrices = [] {
    std::array<Matrix3x3, 8> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
      Matrix3x3 m = i == 0 ? kRgbToXyzD50 : kRgbToXyzD65;
      if (i > 1 && !MatrixMath::matrixInv(kXyzToRgb[i], 3, m)) {
        throw std::logic_error("sRGB matrix is singular");
      }
      const Vector3& w = kWhite2[i];
      out[i] = m;
      if (mul3(m, 1.0, 1.0, 1.0) == w) continue;
      Matrix3x3 inverse{};
      if (!MatrixMath::matrixInv(m, 3, inverse)) throw std::logic_error("sRGB matrix is singular");
      const Vector3 scale = mul3(inverse, w[0], w[1], w[2]);
      for (std::size_t k = 0; k < 9; ++k) out[i][k] = m[k] * scale[k % 3];
    }
    return out;
  }();
  return matrices[illuminant];
}

// The cone responses M·w of a white; a white whose responses are not all finite and positive
// (zero, negative or not a number) cannot be adapted from or to.
Vector3 coneResponses(const Vector3& white) {
  Vector3 rho{};
  MatrixMath::matrixMult(kBradford, white, 3, 3, 1, rho);
  for (const double r : rho) {
    if (!(r > 0) || !std::isfinite(r)) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "(%.17g, %.17g, %.17g) is not a white point: its cone responses must be "
                    "positive",
                    white[0], white[1], white[2]);
      throw HCFException(kIllegalArgumentException, text);
    }
  }
  return rho;
}

// Bradford matrix M⁻¹ · diag(M·dst / M·src) · M, built with the matrix helpers.
Matrix3x3 bradfordBetween(const Vector3& src, const Vector3& dst) {
  const Vector3 rhoS = coneResponses(src);
  const Vector3 rhoD = coneResponses(dst);
  Matrix3x3 inverse{};
  if (!MatrixMath::matrixInv(kBradford, 3, inverse)) {
    throw std::logic_error("Bradford matrix is singular");
  }
  const Matrix3x3 scale = {rhoD[0] / rhoS[0], 0, 0, 0, rhoD[1] / rhoS[1], 0, 0, 0,
                           rhoD[2] / rhoS[2]};
  Matrix3x3 left{};
  Matrix3x3 out{};
  MatrixMath::matrixMult(inverse, scale, 3, 3, 3, left);
  MatrixMath::matrixMult(left, kBradford, 3, 3, 3, out);
  for (const double v : out) {
    if (!std::isfinite(v)) {
      throw HCFException(kIllegalArgumentException,
                         "The adaptation between these white points is out of range");
    }
  }
  return out;
}

void applyToTriples(const Matrix3x3& m, std::span<const double> input, std::size_t len,
                    std::span<double> output) {
  if (input.size() / 3 < len || output.size() / 3 < len) {
    throw std::invalid_argument("XYZ array shorter than " + std::to_string(len) + " triples");
  }
  // Every triple is checked before any is written, so a refused array leaves the output (which
  // may be the input) as it was.
  for (std::size_t i = 0; i < len; ++i) {
    const Vector3 in = {input[3 * i], input[3 * i + 1], input[3 * i + 2]};
    requireFiniteResult("Adaptation", in, mul3(m, in[0], in[1], in[2]));
  }
  for (std::size_t i = 0; i < len; ++i) {
    const Vector3 v = mul3(m, input[3 * i], input[3 * i + 1], input[3 * i + 2]);
    output[3 * i] = v[0];
    output[3 * i + 1] = v[1];
    output[3 * i + 2] = v[2];
  }
}

const Vector3& whiteD50() { return kWhite2[0]; }
const Vector3& whiteD65() { return kWhite2[1]; }

}  // namespace

const Vector3& CieStdMath::wpArrayForObserver(HCFStdObserver observer, HCFIlluminant refSpace) {
  const std::size_t i = illuminantIndex(refSpace);
  return observer == HCFStdObserver::TenDegree ? kWhite10[i] : kWhite2[i];
}

const Matrix3x3& CieStdMath::xyzrgbmatrixforIll(HCFIlluminant illuminant) {
  return isKnownIlluminant(illuminant) ? kXyzToRgb[static_cast<std::size_t>(illuminant)]
                                       : kXyzToRgb[1];
}

std::optional<Vector3> CieStdMath::refIllumXYZfor(std::string_view version) {
  static constexpr std::pair<std::string_view, Vector3> kLights[] = {
      {"1.0", {1.0123352, 1.0, 1.00891578}},
      {"1.1", {0.988754, 1.0, 0.7768643664821}},
      {"1.3", {0.96, 1.0, 0.92}},
      {"2.0", {0.96, 1.0, 0.92}},
      {"2.1", {1.007, 1.0, 1.075}},
      {"3.0", {0.98, 1.0, 0.88}},
      {"3.01.00", {0.98, 1.0, 0.88}},
      {"3.01.02", {0.98, 1.0, 0.88}},
      {"4.0", {0.974, 1.0, 1.082}},
  };
  for (const auto& [name, white] : kLights) {
    if (name == version) return white;
  }
  return std::nullopt;
}

LabTriple CieStdMath::xyz2LabWith(double x, double y, double z, HCFIlluminant wp,
                                  HCFStdObserver observer) {
  const Vector3& w = wpArrayForObserver(observer, wp);
  const double fx = labF(x / (w[0] * 100.0));
  const double fy = labF(y / (w[1] * 100.0));
  const double fz = labF(z / (w[2] * 100.0));
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

XYZTriple CieStdMath::lab2xyzWithL(double L, double a, double b, HCFIlluminant wp,
                                   HCFStdObserver observer) {
  const Vector3& w = wpArrayForObserver(observer, wp);
  const double fy = (L + 16.0) / 116.0;
  const double fx = a / 500.0 + fy;
  const double fz = fy - b / 200.0;
  const double fx3 = cubeSingle(fx);
  const double fy3 = cubeSingle(fy);
  const double fz3 = cubeSingle(fz);
  const double xr = fx3 > kEpsilon ? fx3 : (116.0 * fx - 16.0) / kKappa;
  const double yr = L > kLinearLightnessLimit ? fy3 : L / kKappa;
  const double zr = fz3 > kEpsilon ? fz3 : (116.0 * fz - 16.0) / kKappa;
  const Vector3 out = {w[0] * 100.0 * xr, w[1] * 100.0 * yr, w[2] * 100.0 * zr};
  requireFiniteResult("XYZ", {L, a, b}, out);
  return {out[0], out[1], out[2]};
}

RGBTriple CieStdMath::xyz2sRGBWithX(double x, double y, double z, HCFIlluminant wp,
                                    HCFStdObserver observer) {
  double xs = x / 100.0 < 0 ? 0.0 : x / 100.0;
  double ys = y / 100.0 < 0 ? 0.0 : y / 100.0;
  double zs = z / 100.0 < 0 ? 0.0 : z / 100.0;
  if (observer == HCFStdObserver::TenDegree) {
    const XYZTriple t =
        adapt(xs, ys, zs, wp, HCFStdObserver::TenDegree, wp, HCFStdObserver::TwoDegree);
    xs = t.X;
    ys = t.Y;
    zs = t.Z;
  }
  const Vector3 lin = mul3(xyzrgbmatrixforIll(wp), xs, ys, zs);
  return {clamp01(compand(lin[0])), clamp01(compand(lin[1])), clamp01(compand(lin[2]))};
}

XYZTriple CieStdMath::sRGB2XYZWith(double r, double g, double b, HCFIlluminant wp) {
  const double lr = linearize(r);
  const double lg = linearize(g);
  const double lb = linearize(b);
  // An illuminant outside 0–7 gets D65's matrix, as the XYZ -> sRGB direction does.
  const Matrix3x3& m = rgbToXyz(isKnownIlluminant(wp) ? static_cast<std::size_t>(wp) : 1);
  const Vector3 v = mul3(m, lr, lg, lb);
  requireFiniteResult("XYZ", {r, g, b}, v);
  return {v[0], v[1], v[2]};
}

LabTriple CieStdMath::sRGB2LabWith(double r, double g, double b, HCFIlluminant wp) {
  const XYZTriple xyz = sRGB2XYZWith(r, g, b, wp);
  return xyz2LabWith(xyz.X * 100.0, xyz.Y * 100.0, xyz.Z * 100.0, wp, HCFStdObserver::TwoDegree);
}

XYZTriple CieStdMath::adapt(double sX, double sY, double sZ, HCFIlluminant sWP, HCFStdObserver sObs,
                            HCFIlluminant dWP, HCFStdObserver dObs) {
  const Vector3& sw = wpArrayForObserver(sObs, sWP);
  const Vector3& dw = wpArrayForObserver(dObs, dWP);
  const Vector3 rhoS = mul3(kBradford, sw[0], sw[1], sw[2]);
  const Vector3 rhoD = mul3(kBradford, dw[0], dw[1], dw[2]);
  const double d[3] = {rhoD[0] / rhoS[0], rhoD[1] / rhoS[1], rhoD[2] / rhoS[2]};
  // T = M⁻¹ · diag(d) · M
  Matrix3x3 t{};
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < 3; ++k) {
        sum += kBradfordInverse[i * 3 + k] * d[k] * kBradford[k * 3 + j];
      }
      t[i * 3 + j] = sum;
    }
  }
  const Vector3 out = mul3(t, sX, sY, sZ);
  requireFiniteResult("Adaptation", {sX, sY, sZ}, out);
  return {out[0], out[1], out[2]};
}

Matrix3x3 CieStdMath::d50toNewIll(const Vector3& newIll) {
  return bradfordBetween(whiteD50(), newIll);
}
Matrix3x3 CieStdMath::d65toNewIll(const Vector3& newIll) {
  return bradfordBetween(whiteD65(), newIll);
}
Matrix3x3 CieStdMath::toD50FromNewIll(const Vector3& newIll) {
  return bradfordBetween(newIll, whiteD50());
}
Matrix3x3 CieStdMath::toD65FromNewIll(const Vector3& newIll) {
  return bradfordBetween(newIll, whiteD65());
}

void CieStdMath::d50XYZArr2CustomIllumn(std::span<const double> input, std::size_t len,
                                        const Vector3& newIllumXYZ, std::span<double> outputArr) {
  applyToTriples(d50toNewIll(newIllumXYZ), input, len, outputArr);
}
void CieStdMath::d65XYZArr2CustomIllumn(std::span<const double> input, std::size_t len,
                                        const Vector3& newIllumXYZ, std::span<double> outputArr) {
  applyToTriples(d65toNewIll(newIllumXYZ), input, len, outputArr);
}
void CieStdMath::tod50FromCustomIllumn(std::span<const double> input, std::size_t len,
                                       const Vector3& newIllumXYZ, std::span<double> outputArr) {
  applyToTriples(toD50FromNewIll(newIllumXYZ), input, len, outputArr);
}
void CieStdMath::tod65FromCustomIllumn(std::span<const double> input, std::size_t len,
                                       const Vector3& newIllumXYZ, std::span<double> outputArr) {
  applyToTriples(toD65FromNewIll(newIllumXYZ), input, len, outputArr);
}

std::optional<XYZTriple> CieStdMath::tintra2newLight(double cX, double cY, double cZ, bool isD65,
                                                     std::string_view tintraVersion) {
  const std::optional<Vector3> light = refIllumXYZfor(tintraVersion);
  if (!light) return std::nullopt;
  std::array<double, 3> xyz = {cX, cY, cZ};
  if (isD65) {
    tod65FromCustomIllumn(xyz, 1, *light, xyz);
  } else {
    tod50FromCustomIllumn(xyz, 1, *light, xyz);
  }
  return XYZTriple{xyz[0], xyz[1], xyz[2]};
}

HCF_NAMESPACE_END
