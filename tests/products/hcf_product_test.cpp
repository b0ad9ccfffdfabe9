// The product model: attributes, colours, filters, equality and the groupings.
#include "hcf/products/hcf_product.h"

#include <gtest/gtest.h>

using namespace hcf;

namespace {

HCFProductBatchedLabColor entry(const std::string& batch, double L, std::int64_t index = 0,
                                HCFIlluminant illuminant = HCFIlluminant::D50,
                                HCFStdObserver observer = HCFStdObserver::TwoDegree) {
  HCFProductBatchedLabColor c;
  c.batch = batch;
  c.lab = HCFLabColor::labColorWithL(L, 10, -5, illuminant, observer);
  c.colorIndex = index;
  c.model = "2.1";
  return c;
}

HCFHalvernCloudProduct product() {
  HCFHalvernCloudProduct p;
  p.uuid = "p-1";
  p.attributes = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("NAME", "Réséda"),
                                           HCFProductKV::kvWithKey("code", "R-12"),
                                           HCFProductKV::kvWithKey("vendor", "Acme")};
  p.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "matte"),
                                        HCFProductKV::kvWithKey("base", "water")};
  p.internalColors = std::vector<HCFProductBatchedLabColor>{
      entry("95", 51), entry("Adjusted", 49), entry("adjusted", 50),
      entry("s1-1", 50.5, 0, HCFIlluminant::D65, HCFStdObserver::TenDegree)};
  p.images = std::vector<HCFProductImage>{{"swatch", "https://img.example/p-1.png"}};
  return p;
}

}  // namespace

TEST(Product, AttributesColoursAndSearchTerm) {
  const auto p = product();
  EXPECT_EQ(p.name(), "Réséda");  // key "NAME" in capitals
  EXPECT_EQ(p.code(), "R-12");
  EXPECT_EQ(p.collection(), "");     // none: empty, not absent
  ASSERT_EQ(p.colors().size(), 1u);  // "Adjusted" does not count
  EXPECT_EQ(p.colors()[0].L, 50);
  EXPECT_EQ(p.auxSearchLab()->L, 50);
  EXPECT_EQ(p.displayColor().red, p.colors()[0].uiColor().red);
  EXPECT_EQ(p.description(), "R-12 - Réséda (matte, water)");

  const auto all = p.batchedLabsWithIllum(std::nullopt, std::nullopt);
  ASSERT_EQ(all.size(), 3u);  // never "adjusted"
  EXPECT_EQ(all[0].batch, "95");
  EXPECT_EQ(all[1].batch, "Adjusted");
  const auto d65ten = p.batchedLabsWithIllum("D65", "TEN_DEGREE");
  ASSERT_EQ(d65ten.size(), 1u);
  EXPECT_EQ(d65ten[0].batch, "s1-1");

  HCFHalvernCloudProduct bare;
  EXPECT_TRUE(bare.colors().empty());
  EXPECT_EQ(bare.displayColor().red, 1.0);
  EXPECT_EQ(bare.displayColor().blue, 1.0);
  EXPECT_FALSE(bare.auxSearchLab());
}

TEST(Product, KeyValuePairsSortGroupAndHash) {
  const auto kv = HCFProductKV::kvWithKey("finish", "matte");
  EXPECT_EQ(kv.filterPredicate().text(),
            R"(SUBQUERY(filters, $filter, $filter.kvHash == "finish$$matte$$f").@count > 0)");
  EXPECT_EQ(kv.description(), "finish - matte");
  HCFProductKV translated = kv;
  translated.valTranslated = "Mat";
  EXPECT_TRUE(translated == kv);  // key and value only
  EXPECT_EQ(translated.hash(), kv.hash());
  EXPECT_TRUE(kv.isEqualTo(kv));
  EXPECT_FALSE(translated.isEqualTo(kv));  // its translation is set and differs
  HCFProductKV partial;
  partial.key = "finish";
  partial.val = "matte";
  EXPECT_TRUE(partial.isEqualTo(translated));  // unset texts on the receiver do not count

  const std::vector<HCFProductKV> kvs = {
      HCFProductKV::kvWithKey("finish", "satin"), HCFProductKV::kvWithKey("Base", "oil"),
      HCFProductKV::kvWithKey("finish", "Matte"), HCFProductKV::kvWithKey("base", "water")};
  const auto sorted = HCFProductKV::sortedKVs(kvs);
  EXPECT_EQ(sorted[0].val, "oil");
  EXPECT_EQ(sorted[1].val, "water");
  EXPECT_EQ(sorted[2].val, "Matte");
  EXPECT_EQ(sorted[3].val, "satin");
  const auto byKey = HCFProductKV::kvsByKey(kvs);
  ASSERT_EQ(byKey.size(), 3u);
  EXPECT_EQ(byKey[0].first, "Base");
  EXPECT_EQ(byKey[1].first, "base");
  EXPECT_EQ(byKey[2].first, "finish");
  ASSERT_EQ(byKey[2].second.size(), 2u);
  EXPECT_EQ(byKey[2].second[0].val, "Matte");
}

TEST(Product, ColourGroupingsSpectraAndImages) {
  const std::vector<HCFProductBatchedLabColor> colors = {
      entry("95", 40, 1), entry("adjusted", 41, 0),
      entry("s1-1", 42, 1, HCFIlluminant::D50, HCFStdObserver::TenDegree), entry("s1-1", 43, 1)};
  const auto byIndex = HCFProductBatchedLabColor::colorsByColorIndex(colors);
  ASSERT_EQ(byIndex.size(), 2u);
  EXPECT_EQ(byIndex[0].first, 0);
  EXPECT_EQ(byIndex[1].second.size(), 3u);
  const auto byBatch = HCFProductBatchedLabColor::colorsByBatch(colors);
  ASSERT_EQ(byBatch.size(), 3u);
  EXPECT_EQ(byBatch[0].first, "95");
  EXPECT_EQ(byBatch[2].first, "s1-1");
  // The D50 10° entry that comes first is skipped.
  EXPECT_EQ(HCFProductBatchedLabColor::d502degBatchedLabFrom(byBatch[2].second)->lab.L, 43);
  EXPECT_FALSE(
      HCFProductBatchedLabColor::d502degBatchedLabFrom({entry("x", 1, 0, HCFIlluminant::D65)}));
  auto withHex = colors[0];
  EXPECT_EQ(withHex.hex(), withHex.lab.hex());
  withHex.storedHex = "ABCDEF";
  EXPECT_EQ(withHex.hex(), "ABCDEF");

  HCFProductSpectrum a{std::nullopt, 400, 10, "s1-1", "11.0", 0};
  HCFProductSpectrum b = a;
  b.curve = std::vector<double>{0.1, 0.2};
  EXPECT_TRUE(a.isEqualToSpectrum(b));  // the receiver's curve is unset
  EXPECT_FALSE(b.isEqualToSpectrum(a));
  ASSERT_EQ(b.spectralCurve().size(), 2u);
  EXPECT_EQ(b.spectralCurve()[1].wavelength, 410u);
  b.start = 380;
  EXPECT_FALSE(a.isEqualToSpectrum(b));

  const std::vector<HCFProductImage> one = {{"swatch", "https://a/1.png"}};
  EXPECT_TRUE(HCFProductImage::areImagesEqualTo(std::nullopt, one));
  EXPECT_FALSE(HCFProductImage::areImagesEqualTo(one, std::nullopt));
  EXPECT_TRUE(HCFProductImage::areImagesEqualTo(std::vector<HCFProductImage>{},
                                                std::vector<HCFProductImage>{}));
  EXPECT_FALSE(HCFProductImage::areImagesEqualTo(
      one, std::vector<HCFProductImage>{{"swatch", "https://a/2.png"}}));
}

TEST(Product, EqualityFollowsItsStepsInOrder) {
  const auto p = product();
  EXPECT_TRUE(p.isEqualToProduct(p));
  auto q = product();
  std::swap((*q.filters)[0], (*q.filters)[1]);
  EXPECT_FALSE(p.isEqualToProduct(q)) << "the same entries in another order";
  q = product();
  q.uuid.reset();
  EXPECT_FALSE(q.isEqualToProduct(q)) << "an unset uuid never equals";
  q = product();
  (*q.internalColors)[2].lab.L = 50.0001;
  EXPECT_FALSE(p.isEqualToProduct(q));
  q = product();
  q.spectra = std::vector<HCFProductSpectrum>{{}};
  EXPECT_TRUE(p.isEqualToProduct(q));  // unset spectra on the receiver
  EXPECT_FALSE(q.isEqualToProduct(p));
  q = product();
  q.attributes->push_back(HCFProductKV::kvWithKey("collection", "Spring"));
  EXPECT_FALSE(p.isEqualToProduct(q)) << "attribute lists of different length";
  q = product();
  (*q.attributes)[1].val = "R-13";
  EXPECT_FALSE(p.isEqualToProduct(q));
}
