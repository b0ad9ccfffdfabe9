// Filter panels: the setters' invariants, fresh panels, and selections recomputed from the
// store.
#include <gtest/gtest.h>

#include "search_fixture.h"

using namespace hcf;
namespace fx = hcf_cloud::fixtures;
using KV = HCFProductKV;

namespace {

std::vector<std::string> texts(const std::vector<KV>& kvs) {
  std::vector<std::string> out;
  for (const auto& kv : kvs) out.push_back(kv.key.value_or("?") + "=" + kv.val.value_or("?"));
  return out;
}

class FilterSetTest : public hcf_test::SearchTest {
 protected:
  // Products with the given filter pairs ("key=value" each).
  void useFilters(const std::vector<std::vector<std::string>>& perProduct) {
    std::vector<HCFHalvernCloudProduct> products;
    for (std::size_t i = 0; i < perProduct.size(); ++i) {
      auto p = fx::catalogProduct({"P" + std::to_string(i), "#808080"}, i);
      std::vector<KV> filters;
      for (const auto& f : perProduct[i]) {
        const auto eq = f.find('=');
        filters.push_back(KV::kvWithKey(f.substr(0, eq), f.substr(eq + 1)));
      }
      p.filters = filters;
      products.push_back(p);
    }
    useCatalog(products);
  }
  std::shared_ptr<HCFProductFilterSet> change(
      const std::function<void(HCFProductFilterSet::Completion)>& start) {
    auto [set, error] = await<std::shared_ptr<HCFProductFilterSet>, std::optional<HCFError>>(start);
    EXPECT_FALSE(error.has_value());
    return set;
  }
};

}  // namespace

TEST(FilterSetInvariants, ListsAreUniqueSortedAndSingleValuedKeysArePruned) {
  auto set = HCFProductFilterSet::emptyFilterSet();
  set->setAllFilters({KV::kvWithKey("finish", "matt"), KV::kvWithKey("finish", "gloss"),
                      KV::kvWithKey("base", "white"), KV::kvWithKey("finish", "gloss"),
                      KV::kvWithKey("category", "Interior")});
  // A single category is kept; a single base is not; duplicates go; sorted by key, value.
  EXPECT_EQ(texts(set->allFilters()),
            (std::vector<std::string>{"category=Interior", "finish=gloss", "finish=matt"}));
  ASSERT_EQ(set->allFiltersByKey().size(), 2u);
  EXPECT_EQ(set->allFiltersByKey()[1].first, "finish");

  // A fresh panel leaves out every single-valued key, category included, and of keys with
  // identical value lists keeps the first.
  const auto fresh = HCFProductFilterSet::filterSetWithFilters(
      {KV::kvWithKey("finish", "matt"), KV::kvWithKey("finish", "gloss"),
       KV::kvWithKey("base", "white"), KV::kvWithKey("category", "Interior"),
       KV::kvWithKey("volume", "1 L"), KV::kvWithKey("volume", "5 L"), KV::kvWithKey("size", "1 L"),
       KV::kvWithKey("size", "5 L")});
  EXPECT_EQ(texts(fresh->allFilters()),
            (std::vector<std::string>{"finish=gloss", "finish=matt", "size=1 L", "size=5 L"}));
  EXPECT_EQ(fresh->availableFilters().size(), 4u);
  EXPECT_TRUE(fresh->selectedFilters().empty());

  // Panel accessors follow the by-key order.
  EXPECT_EQ(fresh->availableFiltersKeyCount(), 2u);
  EXPECT_EQ(fresh->availableFilterKeyAtIndex(1), "size");
  EXPECT_EQ(fresh->availableFiltersValCountForKey("finish"), 2u);
  EXPECT_EQ(fresh->availableFilterAtIndexPath(0, 1)->val, "matt");
  EXPECT_FALSE(fresh->availableFilterAtIndexPath(5, 0).has_value());
  EXPECT_EQ(fresh->availableFiltersValCountForKeyAtIndex(9), 0u);

  // OR within a key, AND across keys; nothing selected matches everything.
  const auto selection = HCFProductFilterSet::filterSetWithSelectedFilters(
      {KV::kvWithKey("finish", "matt"), KV::kvWithKey("base", "white"),
       KV::kvWithKey("finish", "gloss")});
  const auto text = selection->searchPredicate().text();
  EXPECT_NE(text.find(" AND "), std::string::npos) << text;
  EXPECT_NE(text.find(" OR "), std::string::npos) << text;
  EXPECT_EQ(selection->selectedVals(), (std::vector<std::string>{"white", "gloss", "matt"}));
  EXPECT_TRUE(HCFProductFilterSet::emptyFilterSet()->searchPredicate().isTrue() ||
              HCFProductFilterSet::emptyFilterSet()->searchPredicate().text() == "TRUEPREDICATE");
}

TEST_F(FilterSetTest, SelectingKeepsTheKeysOtherValuesAndNarrowsTheRest) {
  useFilters({{"finish=matt", "base=water", "category=Interior"},
              {"finish=gloss", "base=oil", "category=Interior"},
              {"finish=matt", "base=oil", "category=Exterior"},
              {"finish=satin", "base=water", "category=Exterior"}});
  auto set = change([](auto done) { HCFProductFilterSet::offlineProductsFilterSet(done); });
  EXPECT_EQ(set->allFilters().size(), 7u);

  set = change([&](auto done) { set->selectFilter(KV::kvWithKey("finish", "matt"), done); });
  const auto available = texts(set->availableFilters());
  // Other finishes stay available although no product is both matt and gloss.
  EXPECT_NE(std::find(available.begin(), available.end(), "finish=gloss"), available.end());
  EXPECT_NE(std::find(available.begin(), available.end(), "finish=satin"), available.end());
  // Matt products are water- or oil-based, Interior or Exterior: all stay.
  EXPECT_EQ(available.size(), 7u) << ::testing::PrintToString(available);

  set = change([&](auto done) { set->selectFilter(KV::kvWithKey("category", "Interior"), done); });
  const auto narrowed = texts(set->availableFilters());
  // Matt and Interior: only the water-based product remains, so oil is no longer offered.
  EXPECT_EQ(std::find(narrowed.begin(), narrowed.end(), "base=oil"), narrowed.end());
  EXPECT_NE(std::find(narrowed.begin(), narrowed.end(), "base=water"), narrowed.end());
  EXPECT_NE(std::find(narrowed.begin(), narrowed.end(), "category=Exterior"), narrowed.end());

  // Toggling a selected pair deselects it.
  set = change([&](auto done) { set->toggleFilter(KV::kvWithKey("category", "Interior"), done); });
  EXPECT_EQ(texts(set->selectedFilters()), (std::vector<std::string>{"finish=matt"}));
  EXPECT_TRUE(set->filterIsSelected(KV::kvWithKey("finish", "matt")));
  set = change([&](auto done) { set->toggleFilter(KV::kvWithKey("finish", "matt"), done); });
  EXPECT_TRUE(set->selectedFilters().empty());
  EXPECT_EQ(set->availableFilters().size(), 7u);
}

TEST_F(FilterSetTest, ASelectedValueThatVanishesIsDeselected) {
  useFilters({{"finish=matt", "base=water"}, {"finish=gloss", "base=oil"}});
  auto set = change([](auto done) { HCFProductFilterSet::filterSet(done); });
  // A pair the store does not have: its availability is empty, so it is deselected again.
  set = change([&](auto done) { set->selectFilter(KV::kvWithKey("colour", "teal"), done); });
  EXPECT_TRUE(set->selectedFilters().empty());

  set = change([&](auto done) { set->load(done); });
  EXPECT_EQ(set->allFilters().size(), 4u);
  EXPECT_EQ(set->availableFilters().size(), 4u);
}

TEST_F(FilterSetTest, ASearchFetchesTheProductPanel) {
  useFilters({{"finish=matt", "category=Inspirations"},
              {"finish=gloss", "base=oil"},
              {"finish=satin", "base=water"}});
  auto set = change([](auto done) { HCFProductSearch::fetchProductFilters(done); });
  // The inspiration's matt finish is not offered in the products' panel.
  EXPECT_EQ(texts(set->allFilters()),
            (std::vector<std::string>{"base=oil", "base=water", "finish=gloss", "finish=satin"}));
}

TEST_F(FilterSetTest, AvailabilityIsWhatTheStoresQueryGives) {
  const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
  useCatalog(fx::catalogProducts(colors, 200));
  const std::vector<std::vector<KV>> selections = {
      {KV::kvWithKey("finish", "satin"), KV::kvWithKey("finish", "gloss")},
      {KV::kvWithKey("finish", "satin"), KV::kvWithKey("base", "oil")},
      {KV::kvWithKey("category", "Inspirations"), KV::kvWithKey("vendor", "Hålvern")},
      {KV::kvWithKey("collection", "Nordic Café"), KV::kvWithKey("collection", "Élan"),
       KV::kvWithKey("base", "water")},
      {KV::kvWithKey("finish", "satin"), KV::kvWithKey("colour", "teal")}};
  // Faceted: a key's values are those the store's query gives for the selection without that
  // key's own values; a value's count is what choosing it would leave.
  const auto inUse = [&](const std::vector<KV>& selected) {
    auto [kvs] = await<std::vector<KV>>([&](auto done) {
      HCFRealmManager::offlineProductFiltersForProductsMatchingPredicate(
          HCFProductFilterSet::predicateForFilters(HCFProductKV::kvsByKey(selected)), done);
    });
    return kvs;
  };
  for (const auto& selection : selections) {
    auto set = HCFProductFilterSet::emptyFilterSet();
    set->setSelectedFilters(selection);
    set = change([&](auto done) { set->updateAvailableFilters(done); });
    std::vector<KV> expected;
    for (const auto& kv : inUse(selection)) {
      const bool keySelected = std::any_of(selection.begin(), selection.end(),
                                           [&](const KV& s) { return s.key == kv.key; });
      if (!keySelected) expected.push_back(kv);
    }
    for (const auto& [key, values] : HCFProductKV::kvsByKey(selection)) {
      std::vector<KV> others;
      for (const auto& s : selection) {
        if (s.key != key) others.push_back(s);
      }
      for (const auto& kv : inUse(others)) {
        if (kv.key == key) expected.push_back(kv);
      }
    }
    EXPECT_EQ(texts(set->availableFilters()), texts(HCFProductKV::sortedKVs(expected)))
        << texts(selection)[0];
    for (const auto& kv : set->availableFilters()) EXPECT_TRUE(set->productCountForFilter(kv));
  }
}
