// CIE conversions, white points and chromatic adaptation.
#include "hcf/color/cie_std_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "hcf/core/exception.h"

using namespace hcf;

namespace {

constexpr HCFIlluminant kAllIlluminants[] = {
    HCFIlluminant::D50, HCFIlluminant::D65, HCFIlluminant::A,  HCFIlluminant::B,
    HCFIlluminant::C,   HCFIlluminant::F2,  HCFIlluminant::F7, HCFIlluminant::F11};
constexpr HCFStdObserver kBothObservers[] = {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree};

}  // namespace

TEST(WhitePoints, TableLooksUpByIlluminantAndObserver) {
  // Requirement: each illuminant and observer reads its tabulated reference white, every digit.
  EXPECT_EQ(CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, HCFIlluminant::D50),
            (Vector3{0.96422, 1.0, 0.82521}));
  EXPECT_EQ(CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, HCFIlluminant::D65),
            (Vector3{0.95047, 1.0, 1.08883}));
  EXPECT_EQ(CieStdMath::wpArrayForObserver(HCFStdObserver::TenDegree, HCFIlluminant::A),
            (Vector3{1.11142, 1.0, 0.3519978}));
  EXPECT_EQ(CieStdMath::wpArrayForObserver(HCFStdObserver::TenDegree, HCFIlluminant::F11),
            (Vector3{1.038197, 1.0, 0.6556}));
  // Any observer value other than 1 reads the 2° column.
  EXPECT_EQ(CieStdMath::wpArrayForObserver(HCFStdObserver{5}, HCFIlluminant::D65),
            CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, HCFIlluminant::D65));
}

TEST(WhitePoints, IlluminantOutsideTheEnumerationIsRejected) {
  for (const auto bad : {HCFIlluminant{8}, HCFIlluminant{-1}, HCFIlluminant{1000}}) {
    try {
      (void)CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, bad);
      FAIL() << "no exception";
    } catch (const HCFException& e) {
      EXPECT_EQ(e.name(), "Illegal Argument Exception");
      EXPECT_NE(std::string(e.what()).find("Unknown illuminant"), std::string::npos);
    }
    EXPECT_THROW(CieStdMath::xyz2LabWith(1, 1, 1, bad, HCFStdObserver::TwoDegree), HCFException);
    EXPECT_THROW(CieStdMath::lab2xyzWithL(50, 0, 0, bad, HCFStdObserver::TwoDegree), HCFException);
    EXPECT_THROW(CieStdMath::adapt(1, 1, 1, bad, HCFStdObserver::TwoDegree, HCFIlluminant::D50,
                                   HCFStdObserver::TwoDegree),
                 HCFException);
  }
  // The sRGB matrix alone falls back to D65.
  EXPECT_EQ(CieStdMath::xyzrgbmatrixforIll(HCFIlluminant{8}),
            CieStdMath::xyzrgbmatrixforIll(HCFIlluminant::D65));
  EXPECT_EQ(CieStdMath::xyzrgbmatrixforIll(HCFIlluminant{-3}),
            CieStdMath::xyzrgbmatrixforIll(HCFIlluminant::D65));
}

TEST(XyzToLab, WhiteAndBlack) {
  const LabTriple white =
      CieStdMath::xyz2LabWith(96.422, 100, 82.521, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  EXPECT_NEAR(white.L, 100, 1e-9);
  EXPECT_NEAR(white.a, 0, 1e-9);
  EXPECT_NEAR(white.b, 0, 1e-9);
  const LabTriple black =
      CieStdMath::xyz2LabWith(0, 0, 0, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  EXPECT_EQ(black.L, 0);
  EXPECT_EQ(black.a, 0);
  EXPECT_EQ(black.b, 0);
}

TEST(XyzToLab, CubeRootIsTheTwelveDigitPower) {
  // Y = 50 under D50: L = 116·0.5^0.333333333333 − 16, not the exact cube root.
  const LabTriple lab =
      CieStdMath::xyz2LabWith(48.211, 50, 41.2605, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  EXPECT_EQ(lab.L, 116.0 * std::pow(0.5, 0.333333333333) - 16.0);
  EXPECT_NE(lab.L, 116.0 * std::cbrt(0.5) - 16.0);
}

TEST(LabToXyz, SegmentsAndSinglePrecisionCubes) {
  const XYZTriple zero =
      CieStdMath::lab2xyzWithL(0, 0, 0, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  EXPECT_EQ(zero.X, 0);
  EXPECT_EQ(zero.Y, 0);
  EXPECT_EQ(zero.Z, 0);
  // L = 8 takes Y from the linear segment, L = 8.0001 from the cube.
  const double kappa = 24389.0 / 27.0;
  EXPECT_EQ(CieStdMath::lab2xyzWithL(8, 0, 0, HCFIlluminant::D50, HCFStdObserver::TwoDegree).Y,
            100.0 * (8.0 / kappa));
  const double fy = (8.0001 + 16.0) / 116.0;
  const double cube = static_cast<double>(std::pow(static_cast<float>(fy), 3.0f));
  EXPECT_EQ(CieStdMath::lab2xyzWithL(8.0001, 0, 0, HCFIlluminant::D50, HCFStdObserver::TwoDegree).Y,
            100.0 * cube);
  // The cube is single precision: a double cube differs by about 1e-8 relative here.
  EXPECT_NE(cube, fy * fy * fy);
}

TEST(LabToXyz, RoundTripsThroughXyzToLab) {
  // Requirement: Lab -> XYZ -> Lab returns to within the single-precision cube, 1e-4 in L*a*b*.
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> L(0, 100);
  std::uniform_real_distribution<double> ab(-80, 80);
  for (const auto ill : kAllIlluminants) {
    for (const auto obs : kBothObservers) {
      for (int i = 0; i < 200; ++i) {
        const double l = L(rng), a = ab(rng), b = ab(rng);
        const XYZTriple xyz = CieStdMath::lab2xyzWithL(l, a, b, ill, obs);
        const LabTriple back = CieStdMath::xyz2LabWith(xyz.X, xyz.Y, xyz.Z, ill, obs);
        ASSERT_NEAR(back.L, l, 1e-4);
        ASSERT_NEAR(back.a, a, 1e-4);
        ASSERT_NEAR(back.b, b, 1e-4);
      }
    }
  }
}

TEST(XyzToSrgb, WhitesMapToOneUnderBothObservers) {
  for (const auto ill : kAllIlluminants) {
    for (const auto obs : kBothObservers) {
      const Vector3& w = CieStdMath::wpArrayForObserver(obs, ill);
      const RGBTriple rgb = CieStdMath::xyz2sRGBWithX(w[0] * 100, w[1] * 100, w[2] * 100, ill, obs);
      // The stored matrices carry six decimals; their whites land within 1e-5 of 1.
      EXPECT_NEAR(rgb.R, 1, 1e-5) << static_cast<int>(ill) << "/" << static_cast<int>(obs);
      EXPECT_NEAR(rgb.G, 1, 1e-5);
      EXPECT_NEAR(rgb.B, 1, 1e-5);
    }
  }
  const RGBTriple d65 = CieStdMath::xyz2sRGBWithX(95.047, 100, 108.883, HCFIlluminant::D65,
                                                  HCFStdObserver::TwoDegree);
  EXPECT_NEAR(d65.R, 1, 1e-6);
  EXPECT_NEAR(d65.G, 1, 1e-6);
  EXPECT_NEAR(d65.B, 1, 1e-6);
  const RGBTriple d65ten = CieStdMath::xyz2sRGBWithX(94.811, 100, 107.304, HCFIlluminant::D65,
                                                     HCFStdObserver::TenDegree);
  EXPECT_NEAR(d65ten.R, 1, 1e-6);
  EXPECT_NEAR(d65ten.G, 1, 1e-6);
  EXPECT_NEAR(d65ten.B, 1, 1e-6);
}

TEST(XyzToSrgb, NegativeInputsCountAsZeroAndResultsAreClamped) {
  const auto ill = HCFIlluminant::D65;
  const auto obs = HCFStdObserver::TwoDegree;
  const RGBTriple withNegative = CieStdMath::xyz2sRGBWithX(20, -5, 10, ill, obs);
  const RGBTriple withZero = CieStdMath::xyz2sRGBWithX(20, 0, 10, ill, obs);
  EXPECT_EQ(withNegative.R, withZero.R);
  EXPECT_EQ(withNegative.G, withZero.G);
  EXPECT_EQ(withNegative.B, withZero.B);
  const RGBTriple bright = CieStdMath::xyz2sRGBWithX(300, 300, 300, ill, obs);
  EXPECT_EQ(bright.R, 1.0);
  EXPECT_EQ(bright.G, 1.0);
  EXPECT_EQ(bright.B, 1.0);
  const RGBTriple saturated = CieStdMath::xyz2sRGBWithX(0, 50, 0, ill, obs);
  EXPECT_EQ(saturated.R, 0.0);  // negative linear red clamps to 0
}

TEST(XyzToSrgb, CompandingUsesTheSinglePrecisionPower) {
  // Pure linear green of 0.5 through the D65 matrix: companding of m·y with the float power.
  const double y = 0.5;
  const double lin = 1.876011 * y;  // G row: −0.969266·0 + 1.876011·y + 0.041556·0
  const double p = static_cast<double>(std::pow(static_cast<float>(lin), 0.41666666f));
  const double expected = lin > 1 ? 1.0 : 1.055 * p - 0.055;
  const RGBTriple rgb =
      CieStdMath::xyz2sRGBWithX(0, 50, 0, HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  EXPECT_EQ(rgb.G, expected);
  // Below the threshold the linear slope applies.
  const RGBTriple dark =
      CieStdMath::xyz2sRGBWithX(0, 0.01, 0, HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  EXPECT_EQ(dark.G, 12.92 * (1.876011 * (0.01 / 100.0)));
}

TEST(SrgbToXyz, WhiteLandsOnTheIlluminantsWhite) {
  for (const auto ill : kAllIlluminants) {
    const XYZTriple w = CieStdMath::sRGB2XYZWith(1, 1, 1, ill);
    const Vector3& ref = CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, ill);
    EXPECT_NEAR(w.X, ref[0], 1e-15) << static_cast<int>(ill);
    EXPECT_NEAR(w.Y, ref[1], 1e-15) << static_cast<int>(ill);
    EXPECT_NEAR(w.Z, ref[2], 1e-15) << static_cast<int>(ill);
  }
  // D50's published matrix already lands on its white and is used as it is.
  EXPECT_EQ(CieStdMath::sRGB2XYZWith(1, 0, 0, HCFIlluminant::D50).X, 0.4360747);
  EXPECT_EQ(CieStdMath::sRGB2XYZWith(0, 0, 1, HCFIlluminant::D50).Z, 0.7141733);
  // Companded 0.04045 is on the linear side, just above it on the power curve.
  const double fullRed = CieStdMath::sRGB2XYZWith(1, 0, 0, HCFIlluminant::D65).Y;
  EXPECT_DOUBLE_EQ(CieStdMath::sRGB2XYZWith(0.04045, 0, 0, HCFIlluminant::D65).Y,
                   fullRed * (0.04045 / 12.92));
}

TEST(SrgbToLab, WhiteIsTheIlluminantsWhiteUnderTheTwoDegreeObserver) {
  for (const auto ill : kAllIlluminants) {
    const LabTriple white = CieStdMath::sRGB2LabWith(1, 1, 1, ill);
    EXPECT_NEAR(white.L, 100, 1e-9) << static_cast<int>(ill);
    EXPECT_NEAR(white.a, 0, 1e-9) << static_cast<int>(ill);
    EXPECT_NEAR(white.b, 0, 1e-9) << static_cast<int>(ill);
    const XYZTriple xyz = CieStdMath::sRGB2XYZWith(0.2, 0.5, 0.7, ill);
    const LabTriple expected = CieStdMath::xyz2LabWith(xyz.X * 100, xyz.Y * 100, xyz.Z * 100, ill,
                                                       HCFStdObserver::TwoDegree);
    const LabTriple lab = CieStdMath::sRGB2LabWith(0.2, 0.5, 0.7, ill);
    EXPECT_EQ(lab.L, expected.L);
    EXPECT_EQ(lab.a, expected.a);
    EXPECT_EQ(lab.b, expected.b);
  }
}

TEST(Adaptation, IdentityAndWhiteToWhite) {
  const XYZTriple same = CieStdMath::adapt(30, 40, 50, HCFIlluminant::C, HCFStdObserver::TenDegree,
                                           HCFIlluminant::C, HCFStdObserver::TenDegree);
  EXPECT_NEAR(same.X, 30, 1e-5);
  EXPECT_NEAR(same.Y, 40, 1e-5);
  EXPECT_NEAR(same.Z, 50, 1e-5);
  // The source white lands on the destination white (M⁻¹ is stored to seven decimals).
  for (const auto src : kAllIlluminants) {
    for (const auto dst : kAllIlluminants) {
      const Vector3& s = CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, src);
      const Vector3& d = CieStdMath::wpArrayForObserver(HCFStdObserver::TwoDegree, dst);
      const XYZTriple t = CieStdMath::adapt(s[0], s[1], s[2], src, HCFStdObserver::TwoDegree, dst,
                                            HCFStdObserver::TwoDegree);
      EXPECT_NEAR(t.X, d[0], 1e-6);
      EXPECT_NEAR(t.Y, d[1], 1e-6);
      EXPECT_NEAR(t.Z, d[2], 1e-6);
    }
  }
}

TEST(Adaptation, MatricesToAndFromCustomWhites) {
  const Vector3 light = *CieStdMath::refIllumXYZfor("4.0");
  const Matrix3x3 to = CieStdMath::d50toNewIll(light);
  const Matrix3x3 back = CieStdMath::toD50FromNewIll(light);
  // The two directions are inverse to each other (requirement 1e-12: both use the computed M⁻¹).
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += to[i * 3 + k] * back[k * 3 + j];
      EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12);
    }
  }
  // D50 white maps onto the new white.
  std::array<double, 3> w = {0.96422, 1.0, 0.82521};
  CieStdMath::d50XYZArr2CustomIllumn(w, 1, light, w);  // in place
  EXPECT_NEAR(w[0], light[0], 1e-12);
  EXPECT_NEAR(w[1], light[1], 1e-12);
  EXPECT_NEAR(w[2], light[2], 1e-12);
  std::array<double, 6> two = {0.95047, 1.0, 1.08883, 0.5, 0.5, 0.5};
  std::array<double, 6> out{};
  CieStdMath::d65XYZArr2CustomIllumn(two, 2, light, out);
  EXPECT_NEAR(out[0], light[0], 1e-12);
  CieStdMath::tod65FromCustomIllumn(out, 2, light, out);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], two[i], 1e-12);
  std::array<double, 5> tooShort{};
  EXPECT_THROW(CieStdMath::tod50FromCustomIllumn(tooShort, 2, light, out), std::invalid_argument);
}

TEST(Adaptation, AWhiteWithoutPositiveConeResponsesIsRefused) {
  const Vector3 notWhites[] = {{0, 0, 0}, {-0.9, 1, 0.8}, {1, -1, 1}, {NAN, 1, 1}};
  for (const Vector3& w : notWhites) {
    std::array<double, 3> xyz = {0.5, 0.5, 0.5};
    EXPECT_THROW(CieStdMath::d50toNewIll(w), HCFException) << w[0];
    EXPECT_THROW(CieStdMath::toD65FromNewIll(w), HCFException) << w[0];
    EXPECT_THROW(CieStdMath::tod50FromCustomIllumn(xyz, 1, w, xyz), HCFException) << w[0];
    EXPECT_EQ(xyz[0], 0.5);
  }
}

TEST(InstrumentLight, VersionsAndTheirWhites) {
  EXPECT_EQ(CieStdMath::refIllumXYZfor("2.0"), CieStdMath::refIllumXYZfor("1.3"));
  EXPECT_EQ(*CieStdMath::refIllumXYZfor("2.0"), (Vector3{0.96, 1.0, 0.92}));
  EXPECT_EQ(*CieStdMath::refIllumXYZfor("1.1"), (Vector3{0.988754, 1.0, 0.7768643664821}));
  EXPECT_EQ(CieStdMath::refIllumXYZfor("3.01.02"), CieStdMath::refIllumXYZfor("3.0"));
  // Unknown versions have no light: no guess.
  for (const char* unknown : {"", "5.0", "2.00", "4.0 ", "3.01"}) {
    EXPECT_FALSE(CieStdMath::refIllumXYZfor(unknown).has_value()) << unknown;
    EXPECT_FALSE(CieStdMath::tintra2newLight(1, 1, 1, true, unknown).has_value()) << unknown;
  }
}

TEST(InstrumentLight, AdaptsToD65OrD50ByFlag) {
  const Vector3 light = *CieStdMath::refIllumXYZfor("2.1");
  const auto d65 = CieStdMath::tintra2newLight(light[0], light[1], light[2], true, "2.1");
  const auto d50 = CieStdMath::tintra2newLight(light[0], light[1], light[2], false, "2.1");
  ASSERT_TRUE(d65 && d50);
  EXPECT_NEAR(d65->X, 0.95047, 1e-12);
  EXPECT_NEAR(d65->Z, 1.08883, 1e-12);
  EXPECT_NEAR(d50->X, 0.96422, 1e-12);
  EXPECT_NEAR(d50->Z, 0.82521, 1e-12);
}
