// The products store: writing the fixture catalogue, queries with sorting and paging, counts,
// filter values in use, and the download log.
#include <gtest/gtest.h>

#include <set>

#include "../support/store_test_support.h"
#include "catalog_fixture.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/store/hcf_realm_manager.h"

using namespace hcf;
namespace fx = hcf_cloud::fixtures;
using predicate::Predicate;
using R = HCFRealmManager;

namespace {

class ProductStoreTest : public hcf_test::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
    const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
    products_ = fx::catalogProducts(colors, 60);
    ASSERT_TRUE(R::addOfflineProducts(products_));
  }
  template <typename T, typename Start>
  T await(Start start) {
    std::optional<T> result;
    start([&](T value) { result = std::move(value); });
    dispatch::mainQueue().runUntil([&] { return result.has_value(); },
                                   dispatch::mainQueue().now() + std::chrono::seconds(5));
    EXPECT_TRUE(result.has_value());
    return result ? std::move(*result) : T{};
  }
  std::vector<HCFHalvernCloudProduct> query(const Predicate& where,
                                            std::vector<HCFProductSearchSortDescriptor> sorts = {},
                                            std::uint64_t offset = 0,
                                            std::uint64_t limit = R::kDefaultLimit) {
    return await<std::vector<HCFHalvernCloudProduct>>(
        [&](auto done) { R::offlineProductsMatchingPredicate(where, sorts, offset, limit, done); });
  }
  std::uint64_t count(const Predicate& where) {
    return await<std::uint64_t>(
        [&](auto done) { R::offlineProductCountForPredicate(where, done); });
  }
  std::vector<HCFHalvernCloudProduct> products_;
};

}  // namespace

TEST_F(ProductStoreTest, ProductsComeBackInTheDefaultOrderWithEverything) {
  const auto all = query(Predicate());
  ASSERT_EQ(all.size(), 60u);
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].uuid, products_[i].uuid);  // vendorOrder ascending
  }
  const auto& first = all[0];
  EXPECT_EQ(first.name(), products_[0].name());
  EXPECT_EQ(first.internalColors->size(), products_[0].internalColors->size());
  EXPECT_NEAR(first.colors()[0].L, products_[0].colors()[0].L, 1e-4);  // stored in single precision
  EXPECT_EQ(first.spectra->size(), 1u);
  EXPECT_EQ((*first.spectra)[0].curve->size(), 31u);
  EXPECT_EQ(first.images->size(), 1u);
  EXPECT_EQ(*first.filters->front().key, "category");

  // Paging: offset 10, limit 5 over 12 matching products gives indexes 10 and 11.
  std::vector<predicate::Value> twelve;
  for (std::size_t i = 0; i < 12; ++i) twelve.push_back(*products_[i].uuid);
  const auto page = query(Predicate::in("uuid", twelve), {}, 10, 5);
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0].uuid, products_[10].uuid);
  EXPECT_TRUE(query(Predicate(), {}, 60, 5).empty());

  // Sorting by name descending, as people read names (case and diacritics do not count);
  // unknown keys are dropped.
  const auto byName = query(Predicate(), {{"bogus", true}, {"name", false}}, 0, 3);
  std::vector<std::string> names;
  for (const auto& p : products_) names.push_back(p.name());
  const auto collated = [](const std::string& x, const std::string& y) {
    const auto fx = predicate::foldCaseAndDiacritics(x), fy = predicate::foldCaseAndDiacritics(y);
    return fx != fy ? fx < fy : x < y;
  };
  std::sort(names.rbegin(), names.rend(), collated);
  ASSERT_EQ(byName.size(), 3u);
  EXPECT_EQ(byName[0].name(), names[0]);
  const auto valid = R::validedSortDescriptorsFromArray({{"bogus", true}, {"name", false}});
  ASSERT_EQ(valid.size(), 1u);
  EXPECT_EQ(valid[0].sortKey, "name");
  EXPECT_EQ(R::validedSortDescriptorsFromArray({{"bogus", true}}).size(), 6u);
}

TEST_F(ProductStoreTest, PredicatesCountsAndFilterValues) {
  const auto matte = HCFProductKV::kvWithKey("finish", "matte").filterPredicate();
  std::size_t expected = 0;
  for (const auto& p : products_) {
    for (const auto& kv : *p.filters) expected += kv.key == "finish" && kv.val == "matte";
  }
  EXPECT_EQ(count(matte), expected);
  EXPECT_EQ(count(Predicate::equal("isInspiration", true)), 3u);  // one in twenty
  EXPECT_EQ(count(Predicate::equal("isInspiration", false)), 57u);
  // Text search over the translated attribute values, ignoring case and accents.
  const auto name = products_[5].name();
  const auto text =
      Predicate::anyElement("attributes", "attr", Predicate::containsCD("valTranslated", name));
  EXPECT_GE(count(text), 1u);
  EXPECT_EQ(count(Predicate::equal("name", "x' OR '1'='1")), 0u);
  EXPECT_EQ(count(Predicate::equal("noSuchKey", 1.0)), 0u);

  const auto inUse = await<std::vector<HCFProductKV>>(
      [&](auto done) { R::allOfflineProductFiltersWithCompletionHandler(done); });
  std::set<std::string> keys;
  for (const auto& kv : inUse) keys.insert(*kv.key);
  EXPECT_EQ(keys, (std::set<std::string>{"base", "category", "collection", "finish", "line",
                                         "sheen", "vendor"}));
  for (std::size_t i = 0; i < inUse.size(); ++i) {
    for (std::size_t j = i + 1; j < inUse.size(); ++j) EXPECT_FALSE(inUse[i] == inUse[j]);
  }
  const auto inspirations = await<std::vector<HCFProductKV>>([&](auto done) {
    R::offlineProductFiltersForProductsMatchingPredicate(Predicate::equal("isInspiration", true),
                                                         done);
  });
  for (const auto& kv : inspirations) {
    if (kv.key == "category") {
      EXPECT_EQ(kv.val, "Inspirations");
    }
  }
}

TEST_F(ProductStoreTest, DownloadLogKeepsTheLatestDatePerKey) {
  const auto never = await<dispatch::WallTime>(
      [&](auto done) { R::lastOfflineProductDownloadForSDKKey("k1", done); });
  EXPECT_EQ(never.time_since_epoch().count(), 0);
  const dispatch::WallTime older{std::chrono::seconds(1700000000)};
  const dispatch::WallTime newer{std::chrono::seconds(1800000000)};
  for (const auto& d : {newer, older}) {
    await<int>(
        [&](auto done) { R::insertProductDownloadEntryForSDKKey("k1", d, [done] { done(1); }); });
  }
  const auto last = await<dispatch::WallTime>(
      [&](auto done) { R::lastOfflineProductDownloadForSDKKey("k1", done); });
  EXPECT_EQ(last, newer);
  const auto other = await<dispatch::WallTime>(
      [&](auto done) { R::lastOfflineProductDownloadForSDKKey("k2", done); });
  EXPECT_EQ(other.time_since_epoch().count(), 0);
}
