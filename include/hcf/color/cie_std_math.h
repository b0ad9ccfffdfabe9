// CIE colorimetry: white points, XYZ <-> Lab, XYZ <-> sRGB, Bradford chromatic adaptation, the
// instrument's own light, and the colour-difference formulas.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The three components of a CIELAB colour, without illuminant or observer (those are the
/// caller's to keep).
struct LabTriple {
  double L = 0;  ///< lightness L*, 0 (black) to 100 (the white)
  double a = 0;  ///< a*: positive towards red, negative towards green
  double b = 0;  ///< b*: positive towards yellow, negative towards blue
};
/// The three components of a CIE XYZ colour, on the scale the routine that returns it names
/// (white Y = 100 or Y = 1).
struct XYZTriple {
  double X = 0;  ///< X
  double Y = 0;  ///< Y, the luminance
  double Z = 0;  ///< Z
};
/// The three components of an RGB colour, 0 to 1.
struct RGBTriple {
  double R = 0;  ///< red
  double G = 0;  ///< green
  double B = 0;  ///< blue
};

/// The CIELAB differences of a sample from a standard, each the sample's value minus the
/// standard's. ΔE*ab² = ΔL*² + ΔC*ab² + ΔH*ab² to rounding.
struct LabDifference {
  double dL = 0;  ///< ΔL*: positive when the sample is lighter
  double dC = 0;  ///< ΔC*ab: positive when the sample has more chroma
  /// ΔH*ab = 2·√(C*sample·C*standard)·sin(Δh/2), signed by the hue-angle difference Δh, the
  /// sample's hue minus the standard's taken the short way round, in (−180°, 180°]: positive
  /// when the sample's hue lies anticlockwise of the standard's (from +a* towards +b*),
  /// negative when clockwise, 0 when either colour is neutral. Hues exactly opposite (within
  /// 1e-10°) count as +180°.
  double dH = 0;
  double dE = 0;  ///< ΔE*ab (CIE 1976), never negative
};

/// A white point or other 3-vector.
using Vector3 = std::array<double, 3>;
/// A 3×3 matrix, row-major.
using Matrix3x3 = std::array<double, 9>;

/// Many Lab colours held as three columns of equal length (the compact form colour ranking
/// scans). Element i of each column belongs to colour i.
struct LabColumns {
  std::span<const double> L;  ///< lightness L* of each colour
  std::span<const double> a;  ///< a* of each colour
  std::span<const double> b;  ///< b* of each colour
};

/// The kit's colorimetric constants and conversions. Units: XYZ handed to and returned by the
/// Lab and sRGB routines is on the scale where the white has Y = 100; white points have Y = 1;
/// sRGB components are 0 to 1. Every routine that needs a white point raises `HCFException`
/// (name "Illegal Argument Exception") for an illuminant outside 0–7. A conversion or adaptation
/// of finite values whose result would not fit in a double raises the same exception instead of
/// returning an infinity or not-a-number; values that are not finite already go through as the
/// arithmetic takes them. All routines are stateless and callable from any thread.
class HCF_API CieStdMath {
 public:
  CieStdMath() = delete;

  // ---- White points and matrices -------------------------------------------------------

  /// The reference white (Y = 1) of `refSpace` seen by `observer` (10° for 1, else 2°).
  static const Vector3& wpArrayForObserver(HCFStdObserver observer, HCFIlluminant refSpace);
  /// XYZ (0–1 scale) to linear sRGB, the sRGB primaries adapted by Bradford to the
  /// illuminant's white. An illuminant outside 0–7 gets the D65 matrix.
  static const Matrix3x3& xyzrgbmatrixforIll(HCFIlluminant illuminant);
  /// The white (Y = 1) of the colorimeter's own light for the hardware-version string of its
  /// calibration record ("1.0", "1.1", "1.3", "2.0", "2.1", "3.0", "3.01.00", "3.01.02",
  /// "4.0", compared exactly). Empty for any other version: there is no light to assume.
  static std::optional<Vector3> refIllumXYZfor(std::string_view version);

  // ---- Conversions ---------------------------------------------------------------------

  /// CIELAB of X, Y, Z (white Y = 100) under the illuminant's white for `observer`.
  static LabTriple xyz2LabWith(double x, double y, double z, HCFIlluminant wp,
                               HCFStdObserver observer);
  /// XYZ (white Y = 100) of a CIELAB colour. The three cubes are taken in single precision (in
  /// double for values beyond single precision's range).
  static XYZTriple lab2xyzWithL(double L, double a, double b, HCFIlluminant wp,
                                HCFStdObserver observer);
  /// sRGB (0–1, clamped) of X, Y, Z (white Y = 100); negative inputs count as 0. Under the
  /// 10° observer the colour is first adapted to the 2° white of the same illuminant.
  static RGBTriple xyz2sRGBWithX(double x, double y, double z, HCFIlluminant wp,
                                 HCFStdObserver observer);
  /// XYZ on the 0–1 scale of an sRGB colour whose white is the illuminant's 2° white: (1, 1, 1)
  /// gives that white to rounding. An illuminant outside 0–7 gets D65's matrix.
  static XYZTriple sRGB2XYZWith(double r, double g, double b, HCFIlluminant wp);
  /// CIELAB under the illuminant and the 2° observer of an sRGB colour (its XYZ is relative to
  /// the 2° white), as `HCFRGBColor::labColor` gives it: sRGB white is (100, 0, 0) under every
  /// illuminant. @throws HCFException for an illuminant outside 0–7.
  static LabTriple sRGB2LabWith(double r, double g, double b, HCFIlluminant wp);

  // ---- Chromatic adaptation ------------------------------------------------------------

  /// Bradford adaptation of (sX, sY, sZ) from the white of (sWP, sObs) to that of (dWP, dObs).
  /// The output is on the scale of the input.
  static XYZTriple adapt(double sX, double sY, double sZ, HCFIlluminant sWP, HCFStdObserver sObs,
                         HCFIlluminant dWP, HCFStdObserver dObs);
  /// Bradford matrix from the D50 2° white to `newIll` (a white with Y = 1). This and the
  /// routines below that take a white raise `HCFException` (name "Illegal Argument Exception")
  /// for a white whose cone responses (the Bradford matrix times it) are not all positive and
  /// finite, such as (0, 0, 0): there is no adapting to or from it.
  static Matrix3x3 d50toNewIll(const Vector3& newIll);
  /// Bradford matrix from the D65 2° white to `newIll`.
  static Matrix3x3 d65toNewIll(const Vector3& newIll);
  /// Bradford matrix from `newIll` to the D50 2° white.
  static Matrix3x3 toD50FromNewIll(const Vector3& newIll);
  /// Bradford matrix from `newIll` to the D65 2° white.
  static Matrix3x3 toD65FromNewIll(const Vector3& newIll);
  /// Adapts `len` XYZ triples from D50 2° to `newIllumXYZ`. `outputArr` may be `input`.
  /// @throws std::invalid_argument when a span holds fewer than 3·len values; HCFException when
  ///         a triple's result would not fit in a double, before anything is written.
  static void d50XYZArr2CustomIllumn(std::span<const double> input, std::size_t len,
                                     const Vector3& newIllumXYZ, std::span<double> outputArr);
  /// Adapts `len` XYZ triples from D65 2° to `newIllumXYZ`.
  static void d65XYZArr2CustomIllumn(std::span<const double> input, std::size_t len,
                                     const Vector3& newIllumXYZ, std::span<double> outputArr);
  /// Adapts `len` XYZ triples from `newIllumXYZ` to D50 2°.
  static void tod50FromCustomIllumn(std::span<const double> input, std::size_t len,
                                    const Vector3& newIllumXYZ, std::span<double> outputArr);
  /// Adapts `len` XYZ triples from `newIllumXYZ` to D65 2°.
  static void tod65FromCustomIllumn(std::span<const double> input, std::size_t len,
                                    const Vector3& newIllumXYZ, std::span<double> outputArr);
  /// XYZ measured under the colorimeter's light of `tintraVersion`, adapted to D65 (isD65) or
  /// D50. Empty when the version has no known light (see `refIllumXYZfor`).
  static std::optional<XYZTriple> tintra2newLight(double cX, double cY, double cZ, bool isD65,
                                                  std::string_view tintraVersion);

  // ---- Colour differences --------------------------------------------------------------

  /// CIEDE2000 (kL = kC = kH = 1), symmetric in its two colours.
  static double deltaE2000WithL(double L1, double a1, double b1, double L2, double a2, double b2);
  /// CMC l:c; colour 1 sets the weights (its L*, C*ab and hue, the hue weight switching at
  /// 164° ≤ h ≤ 345° inclusive). The kit passes the sample as colour 1 (`deltaEForSample`,
  /// `HCFLabColor::deltaEcmc`, `deltaEBatch`), so its CMC takes the weights from the sample,
  /// the reverse of ISO 105-J03, whose standard (reference) sets them: pass the standard as
  /// colour 1, or ask for `HCFDeltaEReference::Standard`, for that orientation.
  static double deltaEcmc_l(float l, float c, double L1, double a1, double b1, double L2, double a2,
                            double b2);
  /// CIE94; colour 1 sets the chroma weights, which makes the kit's CIE94 take them from the
  /// sample, the reverse of CIE 116 (as for CMC above). tg 0 uses the graphic-arts weights
  /// (kL = 1, K1 = 0.045, K2 = 0.015), any other value the textile weights (2, 0.048, 0.014).
  static double deltaE1994WithL(double L1, double a1, double b1, double L2, double a2, double b2,
                                std::int32_t tg);
  /// ΔE*ab (CIE 1976): the distance √(ΔL*² + Δa*² + Δb*²) between the two colours, symmetric,
  /// with no overflow in the squares.
  static double deltaE1976WithL(double L1, double a1, double b1, double L2, double a2, double b2);
  /// ΔL*, ΔC*ab, ΔH*ab (signed) and ΔE*ab of `sample` from `standard`; see `LabDifference`.
  static LabDifference labDifference(const LabTriple& sample, const LabTriple& standard);

  /// One sample against many standards: out[i] is the difference by `method` of `sample`
  /// (colour 1, the one that sets the weights of CMC and CIE94: the kit's orientation) and
  /// standard i, equal within 1e-12 to the single-pair routine. Methods outside 1–4 use
  /// CIEDE2000.
  /// @throws std::invalid_argument when the columns differ in length or `out` is shorter.
  static void deltaEBatch(HCFDeltaEMethod method, const LabTriple& sample,
                          const LabColumns& standards, std::span<double> out);
};

HCF_NAMESPACE_END
