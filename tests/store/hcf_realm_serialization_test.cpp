// Store records to products and back.
#include "hcf/store/hcf_realm_serialization.h"

#include <gtest/gtest.h>

#include "hcf/core/log.h"

using namespace hcf;
using R = HCFRealmSerialization;

TEST(RealmSerialization, ProductsSurviveTheStoreFormInSinglePrecision) {
  HCFHalvernCloudProduct p;
  p.uuid = "u-9";
  p.attributes = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("name", "Moss"),
                                           HCFProductKV::kvWithKey("code", "M-9")};
  p.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "satin")};
  p.images = std::vector<HCFProductImage>{{"swatch", "https://img/m9.png"}};
  HCFProductBatchedLabColor c;
  c.batch = "adjusted";
  c.lab = HCFLabColor::labColorWithL(45.25, -12.5, 20.125, HCFIlluminant::D65,
                                     HCFStdObserver::TenDegree);  // exact in single precision
  c.model = "4.0";
  c.composition = 2;
  c.colorIndex = 1;
  p.internalColors = std::vector<HCFProductBatchedLabColor>{c};
  HCFProductSpectrum s{std::vector<double>{0.25, 0.5}, 400, 10, "s1-1", "11.0", 1};
  p.spectra = std::vector<HCFProductSpectrum>{s};
  p.hue = 95.5;

  const auto stored = R::realmProductFromProduct(p);
  EXPECT_EQ(stored.name, "Moss");
  EXPECT_EQ(stored.code, "M-9");
  EXPECT_EQ(stored.filters[0].kvHash, "finish$$satin$$f");
  EXPECT_TRUE(stored.filters[0].isFilter);
  EXPECT_EQ(stored.colors[0].observer, "10°");
  EXPECT_EQ(stored.colors[0].illuminant, "D65");
  EXPECT_EQ(stored.hex, c.lab.hex());

  const auto back = R::productFromRealmProduct(stored);
  EXPECT_TRUE(p.isEqualToProduct(back));
  EXPECT_TRUE(back.isEqualToProduct(p));
  EXPECT_EQ((*back.internalColors)[0].lab.stdObserver, HCFStdObserver::TenDegree);
  EXPECT_EQ((*back.internalColors)[0].colorIndex, 1);
  EXPECT_EQ((*back.spectra)[0].colorIndex, 1);
  EXPECT_EQ(back.hue, 95.5);
}

TEST(RealmSerialization, ColourWithoutItsObserverReadsAsD50TwoDegrees) {
  std::vector<std::string> log;
  setLogHandler([&](std::string_view line) { log.emplace_back(line); });
  HRLMBatchedLab stored;
  stored.d50L = 50.5f;
  stored.batch = "95";
  stored.illuminant = "D65";
  stored.comp = 2.9f;
  const auto colors = R::measuredColorsFromRealmBatchedLabs({stored});
  setLogHandler({});
  ASSERT_EQ(colors.size(), 1u);
  EXPECT_EQ(colors[0].lab.illuminant, HCFIlluminant::D50);
  EXPECT_EQ(colors[0].lab.stdObserver, HCFStdObserver::TwoDegree);
  EXPECT_EQ(colors[0].composition, 2);
  EXPECT_EQ(log, (std::vector<std::string>{"Missing obs/illum info"}));
}
