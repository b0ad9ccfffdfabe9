// Spectral integration and its tables.
#include "hcf/color/hcf_cie_spectral_math.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "hcf/core/exception.h"

using namespace hcf;
using S = HCFCieSpectralMath;

namespace {
constexpr HCFIlluminant kAll[] = {HCFIlluminant::D50, HCFIlluminant::D65, HCFIlluminant::A,
                                  HCFIlluminant::B,   HCFIlluminant::C,   HCFIlluminant::F2,
                                  HCFIlluminant::F7,  HCFIlluminant::F11};
// Index of a wavelength in a 10-nm table.
std::size_t at(unsigned nm) { return (nm - 340) / 10; }
}  // namespace

TEST(SpectralTables, TellingRowsAreExact) {
  const auto x2 = S::stdObsSpectrum(1, HCFStdObserver::TwoDegree, 10);
  const auto y2 = S::stdObsSpectrum(2, HCFStdObserver::TwoDegree, 10);
  const auto z2 = S::stdObsSpectrum(3, HCFStdObserver::TwoDegree, 10);
  const auto x10 = S::stdObsSpectrum(1, HCFStdObserver::TenDegree, 10);
  const auto d65 = S::illuminantSpectrum(HCFIlluminant::D65, 10);
  const auto d50 = S::illuminantSpectrum(HCFIlluminant::D50, 10);
  const auto a = S::illuminantSpectrum(HCFIlluminant::A, 10);
  const auto f2 = S::illuminantSpectrum(HCFIlluminant::F2, 10);
  ASSERT_EQ(x2.size(), 50u);
  const struct Row {
    unsigned nm;
    double x2, y2, z2, x10, d65, d50, a, f2;
  } rows[] = {
      {340, 0, 0, 0, 0, 39.9488, 17.948, 3.58968, 0},
      {360, 0.0001299, 3.917e-06, 0.0006061, 1.222e-07, 46.6383, 23.942, 6.14462, 0},
      {380, 0.001368, 3.9e-05, 0.006450001, 0.000159952, 49.9755, 24.488, 9.7951, 1.18},
      {400, 0.01431, 0.000396, 0.06785001, 0.0191097, 82.7549, 49.308, 14.708, 3.44},
      {830, 1.251141e-06, 4.5181e-07, 0, 1.55314e-06, 60.3125, 74.48, 261.47, 0},
  };
  for (const Row& r : rows) {
    const std::size_t i = at(r.nm);
    EXPECT_EQ(x2[i], r.x2) << r.nm;
    EXPECT_EQ(y2[i], r.y2) << r.nm;
    EXPECT_EQ(z2[i], r.z2) << r.nm;
    EXPECT_EQ(x10[i], r.x10) << r.nm;
    EXPECT_EQ(d65[i], r.d65) << r.nm;
    EXPECT_EQ(d50[i], r.d50) << r.nm;
    EXPECT_EQ(a[i], r.a) << r.nm;
    EXPECT_EQ(f2[i], r.f2) << r.nm;
  }
  // 5-nm tables: 99 values; the 10-nm fluorescent tables are the 5-nm values at 10-nm points.
  const auto f11_5 = S::illuminantSpectrum(HCFIlluminant::F11, 5);
  const auto f11_10 = S::illuminantSpectrum(HCFIlluminant::F11, 10);
  ASSERT_EQ(f11_5.size(), 99u);
  for (std::size_t i = 0; i < 50; ++i) EXPECT_EQ(f11_10[i], f11_5[2 * i]);
  EXPECT_EQ(f11_5[(375 - 340) / 5], 0.0);                               // zero below 380 nm
  EXPECT_EQ(S::illuminantSpectrum(HCFIlluminant::D65, 7).size(), 50u);  // any other step: 10 nm
  EXPECT_EQ(S::stdObsSpectrum(9, HCFStdObserver::TwoDegree, 10).data(), x2.data());
}

TEST(SpectralTables, UnknownIlluminantRaisesTheStatedException) {
  try {
    (void)S::illuminantSpectrum(HCFIlluminant{8}, 10);
    FAIL() << "no exception";
  } catch (const HCFException& e) {
    EXPECT_EQ(e.name(), "Illegal Argument Exception");
    EXPECT_STREQ(e.what(), "Uknown Illuminant");
  }
}

TEST(SpectralIntegration, PerfectReflectorIsYHundredExactlyEverywhere) {
  const std::vector<double> ones(31, 1.0);
  const std::vector<double> halves(31, 0.5);
  for (const auto ill : kAll) {
    for (const auto obs : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      auto white = S::xyzFromSpectrum(ones, 400, ill, obs);
      ASSERT_TRUE(white.ok());
      EXPECT_EQ(white->Y, 100.0);
      EXPECT_EQ(white->illuminant, ill);
      EXPECT_EQ(white->stdObserver, obs);
      EXPECT_NEAR(S::xyzFromSpectrum(halves, 400, ill, obs)->Y, 50.0, 1e-12);
    }
  }
}

TEST(SpectralIntegration, WhitePointsOfTheFullRange) {
  // Requirement: a perfect reflector over 360–830 nm gives the white of the 5-nm tables (data/cie
  // README) within 1e-3 at 10-nm sampling and 2e-4 at 5-nm sampling (the F path).
  const std::vector<double> ones(48, 1.0);
  auto d65 = S::xyzFromSpectrum(ones, 360, HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  EXPECT_NEAR(d65->X / 100, 0.95047, 1e-3);
  EXPECT_NEAR(d65->Z / 100, 1.08897, 1e-3);
  auto f11 = S::xyzFromSpectrum(ones, 360, HCFIlluminant::F11, HCFStdObserver::TwoDegree);
  EXPECT_NEAR(f11->X / 100, 1.00961, 2e-4);  // the 5-nm path
  EXPECT_NEAR(f11->Z / 100, 0.64351, 2e-4);
}

TEST(SpectralIntegration, UsesTheTableIndicesOfItsStartAndTheFiveNanometrePathForF) {
  // Requirement: a curve's sample at λ meets the table rows of λ on the 10-nm path and on the
  // 5-nm path of the F illuminants alike, for a curve that does not start at 340 nm.
  // A curve that is 1 only at 500 nm picks exactly the table rows of 500 nm.
  std::vector<double> curve(31, 0.0);
  curve[(500 - 400) / 10] = 1.0;
  auto d65 = S::xyzFromSpectrum(curve, 400, HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  const auto S65 = S::illuminantSpectrum(HCFIlluminant::D65, 10);
  const auto y = S::stdObsSpectrum(2, HCFStdObserver::TwoDegree, 10);
  double N = 0;
  for (std::size_t i = 6; i <= 36; ++i) N += y[i] * S65[i];
  EXPECT_NEAR(d65->Y, 100.0 * (y[16] * S65[16] / N), 1e-12);
  // Under F11 the curve is doubled to 61 samples: the 500-nm 1 spreads half to 495 and 505.
  auto f11 = S::xyzFromSpectrum(curve, 400, HCFIlluminant::F11, HCFStdObserver::TwoDegree);
  const auto S11 = S::illuminantSpectrum(HCFIlluminant::F11, 5);
  const auto y5 = S::stdObsSpectrum(2, HCFStdObserver::TwoDegree, 5);
  double N5 = 0;
  for (std::size_t i = 12; i <= 72; ++i) N5 += y5[i] * S11[i];
  const std::size_t k = (500 - 340) / 5;
  const double num = y5[k] * S11[k] + 0.5 * y5[k - 1] * S11[k - 1] + 0.5 * y5[k + 1] * S11[k + 1];
  EXPECT_NEAR(f11->Y, 100.0 * (num / N5), 1e-12);
}

TEST(SpectralIntegration, CurvesOutsideTheTablesAreErrors) {
  const std::vector<double> ones(31, 1.0);
  EXPECT_FALSE(S::xyzFromSpectrum(ones, 330, HCFIlluminant::D65, HCFStdObserver::TwoDegree).ok());
  EXPECT_FALSE(S::xyzFromSpectrum(ones, 540, HCFIlluminant::D65, HCFStdObserver::TwoDegree).ok());
  EXPECT_TRUE(S::xyzFromSpectrum(ones, 530, HCFIlluminant::D65, HCFStdObserver::TwoDegree).ok());
  for (const auto illuminant : {HCFIlluminant::D65, HCFIlluminant::F2}) {
    EXPECT_FALSE(S::xyzFromSpectrum(ones, 405, illuminant, HCFStdObserver::TwoDegree).ok());
  }
  EXPECT_FALSE(S::xyzFromSpectrum({}, 400, HCFIlluminant::D65, HCFStdObserver::TwoDegree).ok());
  // Where the observer sees nothing (340–350 nm) there is nothing to normalise by.
  EXPECT_FALSE(S::xyzFromSpectrum(std::vector<double>{1, 1}, 340, HCFIlluminant::D65,
                                  HCFStdObserver::TwoDegree)
                   .ok());
}

TEST(SpectralIntegration, MidpointDoublingAndConstants) {
  std::vector<double> out(5);
  S::interpolate(std::vector<double>{0, 1, 0}, out, 5);
  EXPECT_EQ(out, (std::vector<double>{0, 0.5, 1, 0.5, 0}));
  EXPECT_THROW(S::interpolate(std::vector<double>{0, 1, 0}, out, 6), std::invalid_argument);
  EXPECT_EQ(S::cieWavelengthStart, 340u);
  EXPECT_EQ(S::cieWavelengthEnd, 830u);
  EXPECT_EQ(S::waveLengthEndFor("Irisel"), 710u);
}
