// Colour values of both scan kinds and the batched-Lab filter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hcf/color/cie_std_math.h"
#include "hcf/color/hcf_cie_spectral_math.h"
#include "hcf/core/ht_utility.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"

using namespace hcf;

namespace {

// A yellowish reflectance, 31 samples from 400 nm.
std::vector<double> yellowCurve() {
  std::vector<double> c;
  for (int i = 0; i < 31; ++i)
    c.push_back(0.08 + 0.7 / (1 + std::exp(-(400 + 10 * i - 510) / 12.0)));
  return c;
}

std::shared_ptr<HCFSpectralScan> spectral() {
  auto scan = HCFSpectralScan::initWithSerial("00E15E000001", "Irisel S1",
                                              {0.1, 0.2, 0.3, 0.4, 0.5}, yellowCurve());
  EXPECT_TRUE(scan.ok());
  return *scan;
}

HCFTristimScan tristim() {
  HCFTristimScan t;
  t.serial = "00A1B2C3D4E5";
  t.model = "4.0";
  t.batch = "12";
  t.colorSense = {1200, 3400, 560};
  t.adjusted2DegreeLab = HCFLabColor::labColorWithL(52.1, 12.5, -30.25, HCFIlluminant::D50);
  t.adjusted10DegreeLab =
      HCFLabColor::labColorWithL(52.4, 13.0, -29.75, HCFIlluminant::D50, HCFStdObserver::TenDegree);
  t.batchedLabs = {HCFGenericBatchedLab::batchedLabWith(t.adjusted2DegreeLab, "adjusted"),
                   HCFGenericBatchedLab::batchedLabWith(
                       HCFLabColor::labColorWithL(51, 12, -30, HCFIlluminant::D50), "95"),
                   HCFGenericBatchedLab::batchedLabWith(
                       HCFLabColor::labColorWithL(50, 11, -31, HCFIlluminant::D65), "7")};
  return t;
}

}  // namespace

TEST(SpectralScan, SixteenBatchedLabsInIlluminantOrderTwoDegreesFirst) {
  const auto scan = spectral();
  ASSERT_EQ(scan->batchedLabs.size(), 16u);
  const HCFIlluminant order[] = {HCFIlluminant::D50, HCFIlluminant::D65, HCFIlluminant::C,
                                 HCFIlluminant::B,   HCFIlluminant::A,   HCFIlluminant::F2,
                                 HCFIlluminant::F7,  HCFIlluminant::F11};
  for (std::size_t i = 0; i < 16; ++i) {
    const auto& entry = scan->batchedLabs[i];
    EXPECT_EQ(entry.batch, "s1-1");
    EXPECT_EQ(entry.lab.illuminant, order[i / 2]) << i;
    const auto observer = i % 2 ? HCFStdObserver::TenDegree : HCFStdObserver::TwoDegree;
    EXPECT_EQ(entry.lab.stdObserver, observer) << i;
    const auto direct =
        HCFCieSpectralMath::xyzFromSpectrum(yellowCurve(), 400, order[i / 2], observer);
    ASSERT_TRUE(direct.ok());
    EXPECT_TRUE(entry.lab.isEqualToLab(direct->toLab())) << i;
    EXPECT_TRUE(scan->lab(observer, order[i / 2])->isEqualToLab(entry.lab)) << i;
  }
  EXPECT_EQ(scan->batch(), "s1-1");
  EXPECT_EQ(scan->colorSense(), (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
  EXPECT_EQ(HCFSpectralScan::waveLengthStartFor("anything"), 400u);
  EXPECT_EQ(HCFSpectralScan::waveLengthStepFor("anything"), 10u);

  const auto d65ten = scan->batchedLabsWithIllum("D65", "TEN_DEGREE");
  ASSERT_EQ(d65ten.size(), 1u);
  EXPECT_EQ(d65ten[0].lab.illuminant, HCFIlluminant::D65);
  EXPECT_EQ(d65ten[0].lab.stdObserver, HCFStdObserver::TenDegree);
  EXPECT_EQ(scan->batchedLabsWithIllum(std::nullopt, std::nullopt).size(), 16u);
  EXPECT_EQ(scan->batchedLabsWithIllum(std::nullopt, "2°").size(), 8u);
}

TEST(SpectralScan, ColourValuesCurvePointsAndCurvesThatCannotBeIntegrated) {
  const auto scan = spectral();
  const auto points = scan->spectralCurve();
  ASSERT_TRUE(points);
  ASSERT_EQ(points->size(), 31u);
  EXPECT_EQ(points->front().wavelength, 400u);
  EXPECT_EQ(points->back().wavelength, 700u);
  EXPECT_EQ(points->back().intensity, yellowCurve().back());

  const auto lab50 = *scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
  EXPECT_GT(lab50.B, 40);  // yellow
  EXPECT_EQ(scan->rgbColor()->hex(), lab50.rgbColor().hex());
  EXPECT_EQ(*scan->hex(), lab50.hex());
  const auto display = *scan->displayColor();
  const auto d65 = scan->toXYZ(HCFStdObserver::TwoDegree, HCFIlluminant::D65)
                       ->RGBColorInSpace(HCFRGBSpace::sRGB);
  EXPECT_EQ(display.red, d65.r);
  EXPECT_EQ(display.alpha, 1.0);
  EXPECT_NEAR(scan->lchColor(HCFStdObserver::TwoDegree, HCFIlluminant::D50)->L, lab50.L, 1e-12);
  EXPECT_FALSE(scan->auxSearchLab());

  HCFSpectralScan blank;
  EXPECT_FALSE(blank.lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50));
  EXPECT_FALSE(blank.hex());
}

TEST(SpectralScan, CurvesMustCover400To700NmWithinTheTables) {
  // From 400 nm, 31 samples reach 700 nm and 44 the end of the tables (830 nm).
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    std::vector<double> curve;
    const char* error;  // the message after "Invalid data: "; nullptr when the scan is made
  };
  const Row rows[] = {
      {std::vector<double>(31, 0.5), nullptr},
      {std::vector<double>(32, 0.5), nullptr},
      {std::vector<double>(44, 0.5), nullptr},
      {{},
       "\"curve\" has 0 samples: a scan's curve needs 31 to 44 (400 nm to 700–830 nm every 10 nm)"},
      {{0.5},
       "\"curve\" has 1 sample: a scan's curve needs 31 to 44 (400 nm to 700–830 nm every 10 nm)"},
      {std::vector<double>(30, 0.5),
       "\"curve\" has 30 samples: a scan's curve needs 31 to 44 (400 nm to 700–830 nm every 10 "
       "nm)"},
      {std::vector<double>(45, 0.5),
       "\"curve\" has 45 samples: a scan's curve needs 31 to 44 (400 nm to 700–830 nm every 10 "
       "nm)"},
      {[&] {
         auto c = std::vector<double>(31, 0.5);
         c[30] = nan;
         return c;
       }(),
       "\"curve[30]\" is not a finite number (nan)"},
  };
  for (const auto& row : rows) {
    const auto scan = HCFSpectralScan::initWithSerial("s", "m", {}, row.curve);
    if (!row.error) {
      EXPECT_TRUE(scan.ok()) << row.curve.size();
      continue;
    }
    ASSERT_FALSE(scan.ok()) << row.curve.size();
    EXPECT_EQ(scan.error().code, error_code::kInvalidData);
    EXPECT_EQ(scan.error().localizedDescription, std::string("Invalid data: ") + row.error);
  }
}

TEST(SpectralIntegration, PerfectWhiteAgainstTheTableAndTheIntegratedWhite) {
  using M = HCFCieSpectralMath;
  const std::vector<double> white(31, 1.0);
  // The default pairs the 400–700 nm sums with the tabulated white: a faint cast, kept because
  // the catalogue's colours are computed the same way.
  const auto d50 = M::xyzFromSpectrum(white, 400, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  ASSERT_TRUE(d50.ok());
  EXPECT_EQ(d50->Y, 100.0);
  EXPECT_NEAR(d50->toLab().A, -0.19, 0.005);
  EXPECT_NEAR(d50->toLab().B, 0.09, 0.005);
  // Beyond 660 nm z̄ is zero: the integrated white has no Z to be relative to.
  const std::vector<double> red(14, 1.0);
  EXPECT_TRUE(M::xyzFromSpectrum(red, 700, HCFIlluminant::D50, HCFStdObserver::TwoDegree).ok());
  EXPECT_FALSE(M::xyzFromSpectrum(red, 700, HCFIlluminant::D50, HCFStdObserver::TwoDegree,
                                  HCFWhiteReference::Integrated)
                   .ok());
  const auto yellow = yellowCurve();
  for (const auto ill :
       {HCFIlluminant::D50, HCFIlluminant::D65, HCFIlluminant::A, HCFIlluminant::B,
        HCFIlluminant::C, HCFIlluminant::F2, HCFIlluminant::F7, HCFIlluminant::F11}) {
    for (const auto obs : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      const auto lab =
          M::xyzFromSpectrum(white, 400, ill, obs, HCFWhiteReference::Integrated)->toLab();
      EXPECT_NEAR(lab.L, 100.0, 1e-12) << static_cast<int>(ill) << "/" << static_cast<int>(obs);
      EXPECT_NEAR(lab.A, 0.0, 1e-12) << static_cast<int>(ill) << "/" << static_cast<int>(obs);
      EXPECT_NEAR(lab.B, 0.0, 1e-12) << static_cast<int>(ill) << "/" << static_cast<int>(obs);
      // A colour keeps its Y and moves by the white's cast, no more.
      const auto table = *M::xyzFromSpectrum(yellow, 400, ill, obs);
      const auto tableWhite = *M::xyzFromSpectrum(white, 400, ill, obs);
      const auto integrated =
          *M::xyzFromSpectrum(yellow, 400, ill, obs, HCFWhiteReference::Integrated);
      const auto& wp = CieStdMath::wpArrayForObserver(obs, ill);
      EXPECT_EQ(integrated.Y, table.Y);
      EXPECT_NEAR(integrated.X, table.X / tableWhite.X * wp[0] * 100, 1e-9);
      EXPECT_NEAR(integrated.Z, table.Z / tableWhite.Z * wp[2] * 100, 1e-9);
    }
  }
}

TEST(TristimScan, StoredLabsPerObserverSeenUnderAnyIlluminant) {
  const auto t = tristim();
  const auto ten = t.lab(HCFStdObserver::TenDegree, HCFIlluminant::D50);
  ASSERT_TRUE(ten);
  EXPECT_TRUE(ten->isEqualToLab(*t.adjusted10DegreeLab));
  EXPECT_EQ(ten->L, t.adjusted10DegreeLab->L);
  const auto twoD65 = t.lab(HCFStdObserver::TwoDegree, HCFIlluminant::D65);
  EXPECT_TRUE(twoD65->isEqualToLab(t.adjusted2DegreeLab.toLabWithIlluminant(HCFIlluminant::D65)));
  EXPECT_TRUE(t.auxSearchLab()->isEqualToLab(t.adjusted2DegreeLab));
  EXPECT_EQ(*t.hex(), t.adjusted2DegreeLab.hex());
  EXPECT_EQ(t.displayColor()->green, t.adjusted2DegreeLab.rgbColor().g);
  EXPECT_FALSE(t.spectralCurve());

  HCFTristimScan noTen = t;
  noTen.adjusted10DegreeLab.reset();
  EXPECT_FALSE(noTen.lab(HCFStdObserver::TenDegree, HCFIlluminant::D65));
  EXPECT_FALSE(noTen.lchColor(HCFStdObserver::TenDegree, HCFIlluminant::D65));
}

TEST(BatchedLab, FilterDropsAdjustedThenKeepsIlluminantAndObserver) {
  const auto t = tristim();
  const auto all = t.batchedLabsWithIllum(std::nullopt, std::nullopt);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].batch, "95");
  EXPECT_EQ(all[1].batch, "7");
  const auto d65 = t.batchedLabsWithIllum("d65", std::nullopt);
  ASSERT_EQ(d65.size(), 1u);
  EXPECT_EQ(d65[0].batch, "7");
  EXPECT_TRUE(t.batchedLabsWithIllum("D50", "TEN_DEGREE").empty());
  // Unknown names read as D50 and 2°.
  EXPECT_EQ(t.batchedLabsWithIllum("Moonlight", "sideways").size(), 1u);

  const auto mock = HCFMockBatchedLab::mockBatchedLab();
  EXPECT_EQ(mock.batch, "95");
  EXPECT_EQ(mock.lab.L, 80.7115619089663);
  EXPECT_EQ(mock.lab.A, -5.63983896150011);
  EXPECT_EQ(mock.lab.B, 5.07148213172008);
  EXPECT_EQ(mock.hex(), mock.lab.hex());
}
