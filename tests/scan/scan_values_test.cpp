// Colour values of both scan kinds and the batched-Lab filter.
#include <gtest/gtest.h>

#include "hcf/color/hcf_cie_spectral_math.h"
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

  EXPECT_FALSE(HCFSpectralScan::initWithSerial("s", "m", {}, {}).ok());
  // From 400 nm, 44 samples end at 830 nm, the end of the tables; 45 go beyond.
  EXPECT_TRUE(HCFSpectralScan::initWithSerial("s", "m", {}, std::vector<double>(44, 0.5)).ok());
  EXPECT_FALSE(HCFSpectralScan::initWithSerial("s", "m", {}, std::vector<double>(45, 0.5)).ok());
  EXPECT_TRUE(HCFSpectralScan::initWithSerial("s", "m", {}, std::vector<double>(5, 0.5)).ok());
  HCFSpectralScan blank;
  EXPECT_FALSE(blank.lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50));
  EXPECT_FALSE(blank.hex());
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
