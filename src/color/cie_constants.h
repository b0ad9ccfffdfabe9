// Named constants of the CIE formulas, shared by the conversion and difference routines.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "hcf/color/cie_std_math.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace cie {

// CIE Lab: ε = 216/24389 and κ = 24389/27.
inline constexpr double kEpsilon = 216.0 / 24389.0;
inline constexpr double kKappa = 24389.0 / 27.0;
// The cube root of XYZ -> Lab is a power with this twelve-digit exponent, not the exact third.
inline constexpr double kCubeRootExponent = 0.333333333333;
// Lab -> XYZ: below this lightness Y comes from the linear segment.
inline constexpr double kLinearLightnessLimit = 8.0;

// sRGB companding (IEC 61966-2-1).
inline constexpr double kSrgbLinearThreshold = 0.0031308;  // linear -> companded
inline constexpr double kSrgbLinearSlope = 12.92;
inline constexpr double kSrgbScale = 1.055;
inline constexpr double kSrgbOffset = 0.055;
// 1/2.4 held in single precision, as the companding power is taken in single precision.
inline constexpr float kSrgbInverseGamma = 0.41666666f;
static_assert(std::bit_cast<std::uint32_t>(kSrgbInverseGamma) == 0x3ED55555u);
inline constexpr double kSrgbCompandedThreshold = 0.04045;  // companded -> linear
inline constexpr double kSrgbGamma = 2.4;

// Bradford cone-response matrix and its inverse as stored (seven decimals), row-major.
inline constexpr Matrix3x3 kBradford = {0.8951,  0.2664,  -0.1614,  //
                                        -0.7502, 1.7135,  0.0367,   //
                                        0.0389,  -0.0685, 1.0296};
inline constexpr Matrix3x3 kBradfordInverse = {0.9869929,  -0.1470543, 0.1599627,  //
                                               0.4323053,  0.5183603,  0.0492912,  //
                                               -0.0085287, 0.0400428,  0.9684867};

// Reference whites (Y = 1) per illuminant (enumeration order) for the 2° and 10° observers.
inline constexpr std::array<Vector3, 8> kWhite2 = {{{0.96422, 1.0, 0.82521},
                                                    {0.95047, 1.0, 1.08883},
                                                    {1.0985, 1.0, 0.35585},
                                                    {0.99072, 1.0, 0.85223},
                                                    {0.98074, 1.0, 1.18232},
                                                    {0.99186, 1.0, 0.67393},
                                                    {0.95041, 1.0, 1.08747},
                                                    {1.00962, 1.0, 0.6435}}};
inline constexpr std::array<Vector3, 8> kWhite10 = {{{0.9672, 1.0, 0.81427},
                                                     {0.94811, 1.0, 1.07304},
                                                     {1.11142, 1.0, 0.3519978},
                                                     {0.99177, 1.0, 0.84349},
                                                     {0.97286, 1.0, 1.16145},
                                                     {1.03245, 1.0, 0.6899},
                                                     {0.9578, 1.0, 1.07618},
                                                     {1.038197, 1.0, 0.6556}}};

// XYZ (0–1) -> linear sRGB: the sRGB primaries adapted by Bradford to each illuminant's white.
inline constexpr std::array<Matrix3x3, 8> kXyzToRgb = {{
    {3.133856, -1.616866, -0.490615, -0.978768, 1.916141, 0.033454, 0.071945, -0.228991, 1.405243},
    {3.240454, -1.537138, -0.498532, -0.969266, 1.876011, 0.041556, 0.055643, -0.204026, 1.057225},
    {2.907412, -2.012059, -0.510701, -1.071738, 2.180039, -0.007685, 0.159296, -0.374451, 3.3707},
    {3.111665, -1.671782, -0.482272, -0.992484, 1.953565, 0.034859, 0.071858, -0.227974, 1.35736},
    {3.230293, -1.587713, -0.490869, -0.983364, 1.912496, 0.04392, 0.053868, -0.200449, 0.97065},
    {3.058588, -1.705798, -0.486539, -0.995816, 1.969929, 0.026384, 0.087412, -0.253521, 1.731368},
    {3.240057, -1.537264, -0.498513, -0.969248, 1.876029, 0.041523, 0.055702, -0.204115, 1.058581},
    {3.033506, -1.751646, -0.483361, -1.006511, 2.00025, 0.024777, 0.092064, -0.260777, 1.814806},
}};

// Linear sRGB -> XYZ (0–1) used directly for D50 and D65.
inline constexpr Matrix3x3 kRgbToXyzD50 = {0.4360747, 0.3850649, 0.1430804,  //
                                           0.2225045, 0.7168786, 0.0606169,  //
                                           0.0139322, 0.0971045, 0.7141733};
inline constexpr Matrix3x3 kRgbToXyzD65 = {0.4124564, 0.3575761, 0.1804375,  //
                                           0.2126729, 0.7151522, 0.072175,   //
                                           0.0193339, 0.119192,  0.9503041};

// The colour-difference formulas convert between degrees and radians with π to ten decimals.
inline constexpr double kDeltaEPi = 3.141592654;
// 25^7, in CIEDE2000's chroma compensation.
inline constexpr double k25Pow7 = 6103515625.0;

/// The index of an illuminant in the tables above; raises HCFException outside 0–7.
std::size_t illuminantIndex(HCFIlluminant illuminant);

/// Whether the sample sets the weights of CMC and CIE94 under `reference`: true for Sample,
/// false for Standard; raises HCFException (name "Illegal Argument Exception") for any other.
bool weightsFromSample(HCFDeltaEReference reference);

/// Raises HCFException (name "Illegal Argument Exception") when a finite input gave a result
/// that is not finite, i.e. one beyond the range of a double: "`what` of (in) is out of range".
/// An input that is not finite already is passed on as it is.
void requireFiniteResult(const char* what, const Vector3& in, const Vector3& out);

/// (r, g, b) = m × (x, y, z) for a row-major 3×3 matrix.
inline Vector3 mul3(const Matrix3x3& m, double x, double y, double z) noexcept {
  return {m[0] * x + m[1] * y + m[2] * z, m[3] * x + m[4] * y + m[5] * z,
          m[6] * x + m[7] * y + m[8] * z};
}

}  // namespace cie
HCF_NAMESPACE_END
