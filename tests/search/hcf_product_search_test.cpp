// Product searches on a built store: colour searches against the search's own rules applied
// product by product (ranking every product in the boxes), the box and widening edges, text
// and all-products searches, filters and inspirations.
#include <gtest/gtest.h>

#include "search_fixture.h"

using namespace hcf;
namespace fx = hcf_cloud::fixtures;

namespace {

HCFLabColor lab(double L, double a, double b, HCFIlluminant illuminant = HCFIlluminant::D50,
                HCFStdObserver observer = HCFStdObserver::TwoDegree) {
  return HCFLabColor::labColorWithL(L, a, b, illuminant, observer);
}

std::shared_ptr<HCFGenericColorSearchTerm> auxTerm(const HCFLabColor& reference) {
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  term->auxLab = reference;
  return term;
}

// A product whose only colour is the reference `reference`, in category "Interior".
HCFHalvernCloudProduct swatch(std::size_t index, const HCFLabColor& reference) {
  auto p = fx::catalogProduct({"Swatch " + std::to_string(index), "#808080"}, index);
  p.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("category", "Interior"),
                                        HCFProductKV::kvWithKey("finish", "matte")};
  HCFProductBatchedLabColor c;
  c.batch = "adjusted";
  c.model = "4.0";
  c.lab = reference;
  c.composition = 1;
  p.internalColors = std::vector<HCFProductBatchedLabColor>{c};
  p.spectra.reset();
  return p;
}

bool isInspiration(const HCFHalvernCloudProduct& p) {
  for (const auto& kv : p.filters.value_or(std::vector<HCFProductKV>{})) {
    if (kv.key == "category" && kv.val == "Inspirations") return true;
  }
  return false;
}

class ProductSearchTest : public hcf_test::SearchTest {
 protected:
  // The search's rules product by product over the whole store, in store order: the products
  // with a colour in a box (or every product when 9 or fewer are), ranked by the search's own
  // building blocks.
  std::vector<HCFProductSearchResult> reference(const HCFProductSearch& s) {
    const auto& o = s.colorSearchOptions;
    std::vector<std::pair<std::string, HCFLabColor>> boxes;
    if (auto aux = s.colorTerm->auxSearchLab()) boxes.emplace_back("adjusted", *aux);
    for (const auto& t :
         s.colorTerm->batchedLabsWithIllum(HTColorUtils::toIlluminantStr(o.illuminant),
                                           HTColorUtils::toObserverTextStr(o.observer))) {
      boxes.emplace_back(t.batch, t.lab);
    }
    std::vector<HCFHalvernCloudProduct> allowed, boxed;
    for (const auto& p : everything()) {
      if (isInspiration(p) != (s.searchType == 1)) continue;
      allowed.push_back(p);
      bool inside = false;
      for (const auto& c : p.internalColors.value_or(std::vector<HCFProductBatchedLabColor>{})) {
        for (const auto& [batch, centre] : boxes) {
          inside = inside ||
                   (c.batch == batch && c.lab.illuminant == o.illuminant &&
                    c.lab.stdObserver == o.observer && c.lab.L < centre.L + 30 &&
                    c.lab.L > centre.L - 35 && c.lab.A < centre.A + 35 && c.lab.A > centre.A - 35 &&
                    c.lab.B < centre.B + 35 && c.lab.B > centre.B - 35);
        }
      }
      if (inside) boxed.push_back(p);
    }
    return s.computeDeltasForProducts(boxed.size() <= 9 ? allowed : boxed);
  }
  void expectSameAsReference(const HCFProductSearch& s) {
    const auto got = run(s);
    const auto want = reference(s);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].product.uuid, want[i].product.uuid) << "result " << i;
      EXPECT_EQ(got[i].deltaE, want[i].deltaE) << "result " << i;
    }
  }
};

}  // namespace

TEST_F(ProductSearchTest, ColourSearchesRankEveryProductInTheBoxesExactly) {
  const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
  const auto catalog = fx::catalogProducts(colors, 300);
  useCatalog(catalog);

  auto search = HCFProductSearch::productSearch();
  for (const auto& centre :
       {lab(50, 0, 0), lab(62.7, 35.8, 56.5), lab(95, -2, 4), lab(20, 10, -40), lab(75, -40, 30)}) {
    search.colorTerm = auxTerm(centre);
    expectSameAsReference(search);
  }
  // A product as the term: its batches pair with the products' batches, the sample (the term)
  // setting the weights of the asymmetric formulas, under another illuminant and observer.
  search.colorTerm = std::make_shared<HCFHalvernCloudProduct>(everything()[17]);
  search.colorSearchOptions = {HCFDeltaEMethod::CMC21, HCFIlluminant::D65,
                               HCFStdObserver::TenDegree};
  expectSameAsReference(search);
  search.colorSearchOptions.deltaEMethod = HCFDeltaEMethod::CIE94Textiles;
  search.skip = 5;
  search.limit = 7;
  expectSameAsReference(search);
  const auto page = run(search);
  ASSERT_EQ(page.size(), 7u);
  EXPECT_LE(page.front().deltaE, page.back().deltaE);

  // Skipping past the ranked results is an empty answer, not an error.
  search.skip = 100000;
  EXPECT_TRUE(run(search).empty());
}

TEST_F(ProductSearchTest, NineProductsInTheBoxWidenTheSearchTen_DoNot) {
  std::vector<HCFHalvernCloudProduct> products;
  for (std::size_t i = 0; i < 10; ++i)
    products.push_back(swatch(i, lab(50, static_cast<double>(i), 0)));
  for (std::size_t i = 10; i < 20; ++i)
    products.push_back(swatch(i, lab(50, 60.0 + static_cast<double>(i), 0)));
  useCatalog(products);
  auto search = HCFProductSearch::productSearch();
  search.limit = 100;
  search.colorTerm = auxTerm(lab(50, 0, 0));
  EXPECT_EQ(run(search).size(), 10u);  // the ten inside; the others are outside the box

  products.erase(products.begin() + 9);
  useCatalog(products);
  const auto widened = run(search);
  EXPECT_EQ(widened.size(), 19u);  // nine inside: every product is ranked
  EXPECT_NEAR(*widened.front().deltaE, 0.0f, 1e-6f);
  EXPECT_GT(*widened.back().deltaE, *widened[8].deltaE);
}

TEST_F(ProductSearchTest, TheBoxReachesThirtyAboveAndThirtyFiveBelowStrictly) {
  std::vector<HCFHalvernCloudProduct> products;
  for (std::size_t i = 0; i < 10; ++i)
    products.push_back(swatch(i, lab(50, 0.5 * static_cast<double>(i), 0)));
  products.push_back(swatch(10, lab(82, 0, 0)));   // 32 lighter: outside (+30)
  products.push_back(swatch(11, lab(18, 0, 0)));   // 32 darker: inside (−35)
  products.push_back(swatch(12, lab(50, 35, 0)));  // on the a bound: outside (strict)
  useCatalog(products);
  auto search = HCFProductSearch::productSearch();
  search.limit = 100;
  search.colorTerm = auxTerm(lab(50, 0, 0));
  std::vector<std::string> found;
  for (const auto& r : run(search)) found.push_back(r.product.name());
  EXPECT_EQ(found.size(), 11u);
  EXPECT_NE(std::find(found.begin(), found.end(), "Swatch 11"), found.end());
  EXPECT_EQ(std::find(found.begin(), found.end(), "Swatch 10"), found.end());
  EXPECT_EQ(std::find(found.begin(), found.end(), "Swatch 12"), found.end());
}

TEST_F(ProductSearchTest, EqualDifferencesKeepStoreOrderAndNoColourMeansNoResult) {
  std::vector<HCFHalvernCloudProduct> products;
  for (std::size_t i = 0; i < 12; ++i) products.push_back(swatch(i, lab(40, 0, 0)));
  auto bare = swatch(12, lab(40, 0, 0));
  bare.internalColors.reset();
  products.push_back(bare);
  useCatalog(products);
  auto search = HCFProductSearch::productSearch();
  search.limit = 100;
  search.colorTerm = auxTerm(lab(41, 0, 0));
  const auto results = run(search);
  ASSERT_EQ(results.size(), 12u);
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].product.uuid, products[i].uuid);  // vendorOrder follows the index
  }
  EXPECT_EQ(results[0].description().substr(0, 11), "0.89\u2206E - ");  // CIEDE2000 of ΔL 1 at L 40

  // A term with neither a reference colour nor batched colours finds nothing.
  search.colorTerm = std::make_shared<HCFGenericColorSearchTerm>();
  EXPECT_TRUE(run(search).empty());
}

// Products added by the application are stored with the observer names the search compares:
// a product equal to the term is found at a difference of 0.
TEST_F(ProductSearchTest, AProductAddedByTheApplicationIsFoundByItsOwnColour) {
  std::vector<HCFHalvernCloudProduct> products;
  for (std::size_t i = 0; i < 10; ++i)
    products.push_back(swatch(i, lab(40.0 + 2.0 * static_cast<double>(i), 5, 5)));
  useCatalog(products);
  const auto added = swatch(50, lab(62, -20, 31));
  ASSERT_TRUE(HCFRealmManager::addOfflineProducts({added}));
  auto search = HCFProductSearch::productSearch();
  search.colorTerm = auxTerm(lab(62, -20, 31));
  const auto results = run(search);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0].product.uuid, added.uuid);
  EXPECT_EQ(results[0].deltaE, 0.0f);
}

// A plain colour is ranked against each product's reference colour as the search reads it
// (under its illuminant and observer, else D50 and 2°), by the search's method.
TEST_F(ProductSearchTest, APlainColourIsRankedUnderTheSearchsReadingAndMethod) {
  std::vector<HCFHalvernCloudProduct> products;
  for (std::size_t i = 0; i < 12; ++i) {
    auto p = swatch(i, lab(40.0 + 2.0 * static_cast<double>(i), 10, -5));
    if (i % 3 != 0) {  // most also have the reference under F11, 10°
      HCFProductBatchedLabColor f11 = p.internalColors->front();
      f11.lab = lab(41.0 + 2.0 * static_cast<double>(i), 12, -8, HCFIlluminant::F11,
                    HCFStdObserver::TenDegree);
      p.internalColors->push_back(f11);
    }
    products.push_back(p);
  }
  // Added as records: the JSON form carries one reference colour a colour index.
  useCatalog({});
  ASSERT_TRUE(HCFRealmManager::addOfflineProducts(products));
  const struct {
    HCFIlluminant illuminant;
    HCFStdObserver observer;
    HCFDeltaEMethod method;
  } readings[] = {
      {HCFIlluminant::D50, HCFStdObserver::TwoDegree, HCFDeltaEMethod::CIEDE2000},
      {HCFIlluminant::F11, HCFStdObserver::TenDegree, HCFDeltaEMethod::CIEDE2000},
      {HCFIlluminant::F11, HCFStdObserver::TenDegree, HCFDeltaEMethod::CMC21},
      {HCFIlluminant::D65, HCFStdObserver::TwoDegree, HCFDeltaEMethod::CIE94GraphicArts},
  };
  for (const auto& r : readings) {
    auto search = HCFProductSearch::productSearch();
    search.limit = 20;
    search.colorSearchOptions.illuminant = r.illuminant;
    search.colorSearchOptions.observer = r.observer;
    search.colorSearchOptions.deltaEMethod = r.method;
    // The F11, 10° reference of product 4, taken as the query.
    search.colorTerm = auxTerm(lab(49, 12, -8, HCFIlluminant::F11, HCFStdObserver::TenDegree));
    const auto results = run(search);
    expectSameAsReference(search);
    ASSERT_FALSE(results.empty());
    if (r.illuminant == HCFIlluminant::F11) {
      EXPECT_EQ(results[0].product.uuid, products[4].uuid);
      EXPECT_EQ(results[0].deltaE, 0.0f);
    }
    // The method chosen is the one computed.
    const auto own = lab(49, 12, -8, HCFIlluminant::F11, HCFStdObserver::TenDegree);
    for (const auto& res : results) {
      EXPECT_EQ(*res.deltaE, static_cast<float>(*search.deltaEToProduct(res.product)));
    }
    if (r.method == HCFDeltaEMethod::CMC21) {
      const auto& p0 = products[0].internalColors->front().lab;  // D50 only: the fallback
      const bool has = std::any_of(results.begin(), results.end(), [&](const auto& res) {
        return res.product.uuid == products[0].uuid &&
               *res.deltaE == static_cast<float>(own.deltaEcmc(p0, 0));
      });
      EXPECT_TRUE(has);
    }
  }
}

TEST_F(ProductSearchTest, FiltersAndInspirationsNarrowEverySearch) {
  const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
  useCatalog(fx::catalogProducts(colors, 120));
  auto search = HCFProductSearch::productSearch();
  search.limit = 1000;
  const auto all = run(search);
  EXPECT_EQ(all.size(), 114u);  // 6 of 120 are inspirations
  for (const auto& r : all) EXPECT_FALSE(isInspiration(r.product));
  EXPECT_FALSE(all[0].deltaE.has_value());
  EXPECT_EQ(all[0].description(), all[0].product.description());

  // Two values of one key widen, a second key narrows.
  search.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "matte"),
                                             HCFProductKV::kvWithKey("finish", "gloss")};
  const auto mattOrGloss = run(search);
  search.filters->push_back(HCFProductKV::kvWithKey("base", "oil"));
  const auto andOil = run(search);
  EXPECT_GT(mattOrGloss.size(), andOil.size());
  for (const auto& r : andOil) {
    const auto d = r.product.description();
    EXPECT_NE(d.find("oil"), std::string::npos) << d;
    EXPECT_TRUE(d.find("matte") != std::string::npos || d.find("gloss") != std::string::npos);
  }
  // The colour search honours the same filters.
  search.colorTerm = auxTerm(lab(55, 10, 10));
  for (const auto& r : run(search)) {
    EXPECT_NE(r.product.description().find("oil"), std::string::npos);
  }
}

TEST_F(ProductSearchTest, TextSearchIgnoresAsterisksCaseAndDiacritics) {
  std::vector<HCFHalvernCloudProduct> products;
  const char* names[] = {"Red Barn", "BORED GREY", "Rédwood", "Blue", "Green"};
  for (std::size_t i = 0; i < 5; ++i) {
    auto p = swatch(i, lab(50, 0, 0));
    p.attributes =
        std::vector<HCFProductKV>{HCFProductKV::kvWithKey("name", names[i]),
                                  HCFProductKV::kvWithKey("code", "C" + std::to_string(i))};
    products.push_back(p);
  }
  useCatalog(products);
  auto search = HCFProductSearch::productSearch();
  search.textTerm = "re*d";
  std::vector<std::string> found;
  for (const auto& r : run(search)) found.push_back(r.product.name());
  EXPECT_EQ(found, (std::vector<std::string>{"Red Barn", "BORED GREY", "Rédwood"}));
  search.sortDescriptors = std::vector<HCFProductSearchSortDescriptor>{{"name", false}};
  search.limit = 2;
  found.clear();
  for (const auto& r : run(search)) found.push_back(r.product.name());
  EXPECT_EQ(found, (std::vector<std::string>{"Rédwood", "Red Barn"}));
}

TEST(ProductSearchParts, PredicatesReadAsThePlatformWritesThem) {
  auto search = HCFProductSearch::productSearch();
  EXPECT_EQ(search.filterPredicate().text(), "isInspiration == 0");
  search.textTerm = "a*b";
  EXPECT_NE(search.textTermPredicate().text().find("CONTAINS[cd] \"ab\""), std::string::npos)
      << search.textTermPredicate().text();
  search.colorTerm = std::make_shared<HCFMockColorSearchTerm>(HCFMockColorSearchTerm::mockTerm());
  const auto text = search.colorTermPredicate().text();
  EXPECT_NE(text.find("\"adjusted\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"95\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"TWO_DEGREE\""), std::string::npos) << text;
  EXPECT_EQ(HCFProductSearch::inspirationsSearch().searchType, 1u);
  EXPECT_EQ(HCFProductSearch::validSortKeys().front(), "vendorOrder");
}

TEST_F(ProductSearchTest, PassingOverDistantLightnessesKeepsTheRankingExact) {
  // Large enough that products far in lightness are passed over by their lower bound.
  std::vector<HCFHalvernCloudProduct> catalog;
  for (std::size_t i = 0; i < 6000; ++i) catalog.push_back(fx::syntheticProduct(i, 6000));
  useCatalog(catalog);
  auto search = HCFProductSearch::productSearch();
  for (const auto& centre : {lab(50, 0, 0), lab(30, 20, -30), lab(85, -10, 40)}) {
    search.colorTerm = auxTerm(centre);
    expectSameAsReference(search);
  }
  search.colorTerm = std::make_shared<HCFHalvernCloudProduct>(catalog[4321]);
  for (const auto method :
       {HCFDeltaEMethod::CIEDE2000, HCFDeltaEMethod::CMC21, HCFDeltaEMethod::CMC11,
        HCFDeltaEMethod::CIE94GraphicArts, HCFDeltaEMethod::CIE94Textiles}) {
    search.colorSearchOptions.deltaEMethod = method;
    expectSameAsReference(search);
  }
  search.colorSearchOptions = {HCFDeltaEMethod::CIEDE2000, HCFIlluminant::D65,
                               HCFStdObserver::TenDegree};
  search.skip = 40;
  search.limit = 25;
  expectSameAsReference(search);
}

TEST(ProductSearchJson, ServerBodyAndApplicationFormRoundTrip) {
  using S = HCFTintVaultSerialization;
  auto search = HCFProductSearch::inspirationsSearch();
  search.colorTerm = std::make_shared<HCFMockColorSearchTerm>(HCFMockColorSearchTerm::mockTerm());
  search.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "matte"),
                                             HCFProductKV::kvWithKey("finish", "gloss")};
  search.textTerm = "sea";
  search.skip = 3;
  const auto body = S::productSearchToServerDictionary(search);
  EXPECT_EQ(body["limit"], 50);
  EXPECT_EQ(body["skip"], 3);
  EXPECT_DOUBLE_EQ(body["adjusted_lab"]["d50L"].get<double>(), 82.14101160444581);
  EXPECT_EQ(body["device_batch"], "95");
  EXPECT_EQ(body["unifiedBatchLabs"].size(), 1u);
  EXPECT_EQ(body["sort"].dump(), R"([{"vendor_order":"ASC"},{"code":"ASC"},{"name":"ASC"}])");
  EXPECT_EQ(body["filter"]["attributes"]["finish"].dump(), R"(["matte","gloss"])");
  // An inspiration search without a chosen category asks for the inspirations.
  EXPECT_EQ(body["filter"]["attributes"]["category"].dump(), R"(["Inspirations"])");
  EXPECT_EQ(body["includeDE"], true);
  EXPECT_EQ(S::productSearchToServerDictionary(HCFProductSearch::productSearch())["filter"].dump(),
            "{}");

  search.sortDescriptors = std::vector<HCFProductSearchSortDescriptor>{{"vendorOrder", false}};
  search.colorSearchOptions = {HCFDeltaEMethod::CMC11, HCFIlluminant::F11,
                               HCFStdObserver::TenDegree};
  const auto form = S::productSearchToDictionary(search);
  EXPECT_EQ(form["search_type"], "inspirations");
  EXPECT_EQ(form["color_search_opts"]["delta_e"], "de_cmc_11");
  const auto back = S::productSearchFromDictionary(form);
  EXPECT_EQ(back.searchType, 1u);
  EXPECT_EQ(back.skip, 3u);
  EXPECT_EQ(back.colorSearchOptions, search.colorSearchOptions);
  ASSERT_TRUE(back.sortDescriptors.has_value());
  EXPECT_EQ((*back.sortDescriptors)[0].sortKey, "vendorOrder");
  EXPECT_FALSE((*back.sortDescriptors)[0].ascending);
  ASSERT_TRUE(back.filters.has_value());
  EXPECT_EQ(back.filters->size(), 2u);
  EXPECT_EQ(back.textTerm, "sea");
  ASSERT_TRUE(back.colorTerm);
  EXPECT_NEAR(back.colorTerm->auxSearchLab()->L, 82.14101160444581, 1e-12);
  EXPECT_EQ(back.colorTerm->batchedLabsWithIllum(std::nullopt, std::nullopt).size(), 1u);

  // Untrusted documents: wrong types read as absent.
  const auto odd = S::productSearchFromDictionary(JsonValue::parse(
      R"({"limit": "ten", "skip": -4, "color_term": 3, "search_type": 1, "text_term": 5})"));
  EXPECT_EQ(odd.limit, 0u);
  EXPECT_EQ(odd.skip, 0u);
  EXPECT_EQ(odd.searchType, 0u);
  EXPECT_FALSE(odd.textTerm.has_value());
}

TEST(ProductSearchJson, FilterSetForms) {
  using S = HCFTintVaultSerialization;
  const auto set = HCFProductFilterSet::filterSetWithSelectedFilters(
      {HCFProductKV::kvWithKey("finish", "matte"), HCFProductKV::kvWithKey("base", "oil")});
  EXPECT_EQ(S::filterSetToServerDictionary(*set).dump(),
            R"({"filter":{"attributes":{"base":["oil"],"finish":["matte"]}}})");
  const auto back = S::filterSetFromDictionary(S::filterSetToDictionary(*set));
  EXPECT_EQ(back->selectedFilters().size(), 2u);
  EXPECT_EQ(back->availableFilters().size(), 2u);
  const auto kvs = S::kvsFromServerArray(JsonValue::parse(
      R"([{"filter_key": "finish", "filter_key_translated": "Finition",
           "filter_values": [{"filter_value": "matte", "filter_value_translated": "mat"},
                             {"filter_value": 7}]},
          {"filter_values": []}, "junk"])"));
  ASSERT_EQ(kvs.size(), 1u);
  EXPECT_EQ(kvs[0].keyTranslated, "Finition");
  EXPECT_EQ(kvs[0].valTranslated, "mat");
}

TEST_F(ProductSearchTest, TextSearchesGiveWhatTheStoresQueryGives) {
  const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
  useCatalog(fx::catalogProducts(colors, 400));
  auto search = HCFProductSearch::productSearch();
  for (const std::string term : {"re", "GREEN", "élan", "hc-0001", "café", "zzz", "*", "a"}) {
    for (const auto& filters :
         {std::optional<std::vector<HCFProductKV>>{},
          std::optional<std::vector<HCFProductKV>>{{HCFProductKV::kvWithKey("finish", "satin")}}}) {
      search.textTerm = term;
      search.filters = filters;
      search.skip = term == "a" ? 7 : 0;
      auto [expected] = await<std::vector<HCFHalvernCloudProduct>>([&](auto done) {
        HCFRealmManager::offlineProductsMatchingPredicate(
            predicate::Predicate::andOf({search.textTermPredicate(), search.filterPredicate()}), {},
            search.skip, search.limit, done);
      });
      const auto got = run(search);
      ASSERT_EQ(got.size(), expected.size()) << term;
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].product.uuid, expected[i].uuid) << term << " " << i;
      }
    }
  }
}
