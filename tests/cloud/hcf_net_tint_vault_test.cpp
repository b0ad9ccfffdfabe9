// The online product search service against the reference cloud, which answers from its own
// catalogue with the kit's catalogue code: counts, status, searches, panels and their failures.
#include "hcf/cloud/hcf_net_tint_vault.h"

#include <gtest/gtest.h>

#include "../support/catalog_cloud_support.h"

using namespace hcf;
using hcf_test::awaitAnywhere;
using hcf_test::awaitOnMain;

namespace {

using Results = std::vector<HCFProductSearchResult>;
using Panel = std::shared_ptr<HCFProductFilterSet>;

class TintVaultTest : public hcf_test::CatalogCloudTest {
 protected:
  HCFProductCatalog catalog() const { return *HCFProductCatalog::open(published_.store); }
};

HCFProductSearch colourSearch(double L, double a, double b) {
  auto s = HCFProductSearch::productSearch();
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  term->auxLab = HCFLabColor::labColorWithL(L, a, b, HCFIlluminant::D50);
  s.colorTerm = term;
  s.limit = 10;
  return s;
}

JsonValue searchBody(const HCFProductSearch& s) {
  return JsonValue{{"search", HCFTintVaultSerialization::productSearchToServerDictionary(s)}};
}

TEST_F(TintVaultTest, CountsWithAndWithoutFiltersOnTheMainQueue) {
  const auto creds = loginCredentials();
  auto [all, error] = awaitOnMain<std::int64_t, std::optional<std::string>>(
      [&](auto done) { HCFNetTintVault::fetchProductCountUsingCredentials(creds, done); });
  EXPECT_FALSE(error);
  EXPECT_EQ(all, static_cast<std::int64_t>(kCatalogSize));

  const auto matte = HCFProductFilterSet::filterSetWithSelectedFilters(
      {HCFProductKV::kvWithKey("finish", "matte")});
  auto [some, error2] = awaitOnMain<std::int64_t, std::optional<std::string>>([&](auto done) {
    HCFNetTintVault::fetchProductCountUsingCredentials(
        creds, HCFTintVaultSerialization::filterSetToServerDictionary(*matte), done);
  });
  EXPECT_FALSE(error2);
  EXPECT_EQ(some, static_cast<std::int64_t>(*catalog().count(matte->searchPredicate())));
  EXPECT_LT(some, all);

  const auto seen = requestsTo("/ss/v2/count");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].body, "{}");
  EXPECT_EQ(seen[0].headers.find("Session-Token")->second, "session-0001");
  EXPECT_EQ(seen[0].headers.find("Cas-Sub-Id")->second, "sub-0001");

  // A refused session: count 0 with the error's description, still on the main queue.
  auto [none, refused] = awaitOnMain<std::int64_t, std::optional<std::string>>([](auto done) {
    HCFNetTintVault::fetchProductCountUsingCredentials(HCFNetCredentials::credsWithSDKKey("nobody"),
                                                       done);
  });
  EXPECT_EQ(none, 0);
  EXPECT_EQ(refused, "Server Error:invalid_session");

  // Counts that are not whole numbers a count can hold are none; a count as text is read as the
  // platform reads a text's integer value.
  const std::vector<std::pair<const char*, std::int64_t>> counts = {
      {R"({"count": 1e300})", 0},
      {R"({"count": -5.5e30})", 0},
      {R"({"count": "42"})", 42},
      {R"({"count": " 12 items"})", 12},
      {R"({"count": "many"})", 0}};
  for (const auto& [body, expected] : counts) {
    server_.setFault("/ss/v2/count", {.body = body, .times = 1});
    auto [odd, fine] = awaitOnMain<std::int64_t, std::optional<std::string>>(
        [&](auto done) { HCFNetTintVault::fetchProductCountUsingCredentials(creds, done); });
    EXPECT_EQ(odd, expected) << body;
  }
  server_.setFault("/ss/v2/count", {.body = R"({"count": 18446744073709551615})", .times = 1});
  auto [most, fine] = awaitOnMain<std::int64_t, std::optional<std::string>>(
      [&](auto done) { HCFNetTintVault::fetchProductCountUsingCredentials(creds, done); });
  EXPECT_EQ(most, INT64_MAX);
}

TEST_F(TintVaultTest, StatusCarriesTheCataloguesDateOrSaysWhyNot) {
  const auto creds = loginCredentials();
  auto [status, error] =
      awaitAnywhere<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { HCFNetTintVault::fetchProductsStatusUsingCredentials(creds, done); });
  ASSERT_TRUE(status) << error->localizedDescription;
  EXPECT_EQ(HCFNetCommon::RFC3339StringFromDate(status->productsUpdatedAt),
            "2026-11-30T09:00:00.000Z");
  EXPECT_EQ(requestsTo("/ss/v2/download2_status").at(0).method, "GET");

  for (const char* body : {R"({})", R"({"products_updated_at": "last Tuesday"})"}) {
    server_.setFault("/ss/v2/download2_status", {.body = body, .times = 1});
    auto [none, why] =
        awaitAnywhere<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
            [&](auto done) { HCFNetTintVault::fetchProductsStatusUsingCredentials(creds, done); });
    EXPECT_FALSE(none) << body;
    ASSERT_TRUE(why);
    EXPECT_EQ(why->code, error_code::kInvalidData);
  }
  server_.setFault("/ss/v2/download2_status", {.status = 503, .times = 1});
  auto [none, why] =
      awaitAnywhere<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { HCFNetTintVault::fetchProductsStatusUsingCredentials(creds, done); });
  EXPECT_FALSE(none);
  ASSERT_TRUE(why);
  EXPECT_EQ(why->code, 503);
}

TEST_F(TintVaultTest, SearchesAnswerWhatTheCatalogueAnswersInTheServicesOrder) {
  const auto creds = loginCredentials();
  for (auto s : {colourSearch(60, 10, 20), colourSearch(30, -20, -30)}) {
    auto [results, error] = awaitOnMain<Results, std::optional<HCFError>>([&](auto done) {
      HCFNetTintVault::performTintVaultProductSearchUsingCredentials(creds, searchBody(s), done);
    });
    ASSERT_FALSE(error) << error->localizedDescription;
    const auto want = *catalog().search(s);
    ASSERT_EQ(results.size(), want.size());
    ASSERT_FALSE(results.empty());
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i].product.uuid, want[i].product.uuid);
      EXPECT_NEAR(*results[i].deltaE, *want[i].deltaE, 1e-6);
    }
  }
  // A text search with a filter and a descending sort, as the service reads the body.
  auto text = HCFProductSearch::productSearch();
  text.textTerm = "a";
  text.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "gloss")};
  text.sortDescriptors = std::vector<HCFProductSearchSortDescriptor>{
      HCFProductSearchSortDescriptor::sortDescriptorWithKey("name", false)};
  auto [results, error] = awaitOnMain<Results, std::optional<HCFError>>([&](auto done) {
    HCFNetTintVault::performTintVaultProductSearchUsingCredentials(creds, searchBody(text), done);
  });
  ASSERT_FALSE(error);
  const auto want = *catalog().search(text);
  ASSERT_EQ(results.size(), want.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].product.uuid, want[i].product.uuid);
    EXPECT_EQ(results[i].deltaE, 0.0f);  // no "dE" for a text search: 0, not absent
  }
}

TEST_F(TintVaultTest, RepliesWithoutProductsOrDifferencesAndFailedSearches) {
  const auto creds = loginCredentials();
  // Answers come on the main queue, failures at once on the transport's queue.
  const auto search = [&](bool fails = false) {
    const auto start = [&](auto done) {
      HCFNetTintVault::performTintVaultProductSearchUsingCredentials(
          creds, searchBody(colourSearch(50, 0, 0)), done);
    };
    return fails ? awaitAnywhere<Results, std::optional<HCFError>>(start)
                 : awaitOnMain<Results, std::optional<HCFError>>(start);
  };
  server_.setFault("/ss/v2/search2", {.body = R"({"took": 3})", .times = 1});
  auto [empty, noError] = search();
  EXPECT_TRUE(empty.empty());
  EXPECT_FALSE(noError);

  server_.setFault("/ss/v2/search2",
                   {.body = R"({"products": [{"uuid": "p-1", "name": "Plain"}]})", .times = 1});
  auto [plain, noError2] = search();
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].product.uuid, "p-1");
  EXPECT_EQ(plain[0].deltaE, 0.0f);

  // Differences no float can hold are as if absent; the others are kept.
  server_.setFault(
      "/ss/v2/search2",
      {.body = R"({"products": [{"uuid": "p-1", "dE": 1e300}, {"uuid": "p-2", "dE": -1e39},
                                             {"uuid": "p-3", "dE": 2.5}]})",
       .times = 1});
  auto [huge, noError3] = search();
  ASSERT_EQ(huge.size(), 3u);
  EXPECT_EQ(huge[0].deltaE, 0.0f);
  EXPECT_EQ(huge[1].deltaE, 0.0f);
  EXPECT_EQ(huge[2].deltaE, 2.5f);

  server_.setFault("/ss/v2/search2", {.status = 500, .times = 1});
  auto [failed, error] = search(true);
  EXPECT_TRUE(failed.empty());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 500);
}

TEST_F(TintVaultTest, PanelsComeAsOnlineSetsFromTheirOwnPaths) {
  const auto creds = loginCredentials();
  const auto empty = HCFTintVaultSerialization::filterSetToServerDictionary(
      *HCFProductFilterSet::emptyFilterSet());
  auto [products, error] = awaitAnywhere<Panel, std::optional<HCFError>>([&](auto done) {
    HCFNetTintVault::fetchTintVaultFiltersUsingCredentials(creds, empty, done);
  });
  ASSERT_FALSE(error);
  ASSERT_TRUE(std::dynamic_pointer_cast<HCFOnlineProductFilterSet>(products));
  EXPECT_TRUE(products->selectedFilters().empty());
  bool finishes = false;
  for (const auto& kv : products->allFilters()) {
    EXPECT_NE(kv.val, "Inspirations");
    EXPECT_NE(kv.key, "sheen");  // the same values as "finish": offered once
    finishes = finishes || kv.key == "finish";
  }
  EXPECT_TRUE(finishes);
  EXPECT_EQ(products->availableFilters(), products->allFilters());

  auto [inspirations, error2] = awaitOnMain<Panel, std::optional<HCFError>>(
      [](auto done) { HCFProductFilterSet::onlineInspirationsFilterSet(done); });
  // Without a login the service refuses the session.
  ASSERT_TRUE(error2);
  EXPECT_EQ(error2->code, 401);
  signIn();
  auto [inspirations2, error3] = awaitOnMain<Panel, std::optional<HCFError>>(
      [](auto done) { HCFProductFilterSet::onlineInspirationsFilterSet(done); });
  ASSERT_FALSE(error3);
  ASSERT_TRUE(std::dynamic_pointer_cast<HCFOnlineInspirationsFilterSet>(inspirations2));
  ASSERT_EQ(inspirations2->selectedFilters().size(), 1u);
  EXPECT_EQ(inspirations2->selectedFilters()[0].val, "Inspirations");
  EXPECT_EQ(requestsTo("/ss/v2/filters3/inspirations").size(), 2u);
  EXPECT_EQ(requestsTo("/ss/v2/filters3").size(), 1u);
}

TEST_F(TintVaultTest, OnlinePanelsAskTheServiceWhatStaysAvailable) {
  signIn();
  auto [set, error] = awaitAnywhere<Panel, std::optional<HCFError>>(
      [](auto done) { HCFProductFilterSet::onlineProductsFilterSet(done); });
  ASSERT_TRUE(set);
  const auto matte = HCFProductKV::kvWithKey("finish", "matte");
  std::size_t before = requestsTo("/ss/v2/filters3").size();
  auto [same, error2] = awaitOnMain<Panel, std::optional<HCFError>>(
      [&](auto done) { set->selectFilter(matte, done); });
  EXPECT_EQ(same, set);
  EXPECT_FALSE(error2);
  EXPECT_EQ(requestsTo("/ss/v2/filters3").size(), before + 1);
  EXPECT_TRUE(set->filterIsSelected(matte));
  // The other finishes stay offered (values of one key widen the result).
  std::size_t finishes = 0;
  for (const auto& kv : set->availableFilters()) finishes += kv.key == "finish";
  EXPECT_EQ(finishes, 4u);
  // The service's available values for the selection, as the catalogue computes them.
  const auto inUse = *catalog().filterValues(false, {matte});
  for (const auto& kv : set->availableFilters()) {
    if (kv.key != "finish") {
      EXPECT_NE(std::find(inUse.begin(), inUse.end(), kv), inUse.end()) << *kv.key;
    }
  }

  // A failing service: the error reaches the caller of updateAvailableFilters and nothing is
  // left available.
  server_.setFault("/ss/v2/filters3", {.status = 502, .times = 1});
  auto [same2, failure] = awaitOnMain<Panel, std::optional<HCFError>>(
      [&](auto done) { set->updateAvailableFilters(done); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, 502);
  EXPECT_TRUE(set->availableFilters().empty());
}

TEST_F(TintVaultTest, InspirationSearchesGoOnlineWhateverPreferOnlineSays) {
  signIn();
  auto s = colourSearch(55, 5, 5);
  s.searchType = 1;
  s.preferOnline = false;
  auto [results, error] =
      awaitOnMain<Results, std::optional<HCFError>>([&](auto done) { s.execute(done); });
  ASSERT_FALSE(error) << error->localizedDescription;
  ASSERT_FALSE(results.empty());
  for (std::size_t i = 0; i < results.size(); ++i) {
    bool inspiration = false;
    for (const auto& kv : results[i].product.filters.value_or(std::vector<HCFProductKV>{})) {
      inspiration = inspiration || (kv.key == "category" && kv.val == "Inspirations");
    }
    EXPECT_TRUE(inspiration);
    if (i > 0) {
      EXPECT_LE(*results[i - 1].deltaE, *results[i].deltaE);
    }
  }
  const auto body = JsonValue::parse(requestsTo("/ss/v2/search2").at(0).body);
  EXPECT_EQ(body["search"]["filter"]["attributes"]["category"], JsonValue::array({"Inspirations"}));
}

}  // namespace
