// A store file searched synchronously: the same answers as the kit's own searches on the same
// store, and clear errors for files that are not products stores of this schema.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "search_fixture.h"

using namespace hcf;
namespace fx = hcf_cloud::fixtures;

namespace {

class ProductCatalogTest : public hcf_test::SearchTest {
 protected:
  std::filesystem::path storePath() const {
    return HCFRealmManager::storeFile(StoreKind::Products, HCFCentral::creds().packageID);
  }
};

void expectSameResults(const std::vector<HCFProductSearchResult>& got,
                       const std::vector<HCFProductSearchResult>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].product.uuid, want[i].product.uuid) << "result " << i;
    EXPECT_EQ(got[i].deltaE, want[i].deltaE) << "result " << i;
  }
}

TEST_F(ProductCatalogTest, AnswersWhatTheKitsSearchesAnswer) {
  useCatalog(fx::catalogProducts({}, 400));
  auto catalog = HCFProductCatalog::open(storePath());
  ASSERT_TRUE(catalog.ok()) << catalog.error().localizedDescription;

  std::vector<HCFProductSearch> searches;
  auto colour = HCFProductSearch::productSearch();
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  term->auxLab = HCFLabColor::labColorWithL(55, 20, -10, HCFIlluminant::D50);
  colour.colorTerm = term;
  colour.limit = 12;
  searches.push_back(colour);
  colour.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "matte")};
  colour.skip = 3;
  searches.push_back(colour);
  auto text = HCFProductSearch::productSearch();
  text.textTerm = "*BLU";
  searches.push_back(text);
  text.sortDescriptors = std::vector<HCFProductSearchSortDescriptor>{
      HCFProductSearchSortDescriptor::sortDescriptorWithKey("name", false)};
  searches.push_back(text);
  auto all = HCFProductSearch::productSearch();
  all.skip = 390;
  searches.push_back(all);

  for (const auto& s : searches) {
    const auto got = catalog->search(s);
    ASSERT_TRUE(got.ok()) << got.error().localizedDescription;
    expectSameResults(*got, run(s));
  }
  const auto count = catalog->count();
  ASSERT_TRUE(count.ok());
  EXPECT_EQ(*count, 400u);
  const auto matte = catalog->count(HCFProductKV::kvWithKey("finish", "matte").filterPredicate());
  ASSERT_TRUE(matte.ok());
  EXPECT_GT(*matte, 0u);
  EXPECT_LT(*matte, 400u);
}

TEST_F(ProductCatalogTest, FilterValuesFollowTheSelectionAndTheSearchType) {
  useCatalog(fx::catalogProducts({}, 300));
  auto catalog = HCFProductCatalog::open(storePath());
  ASSERT_TRUE(catalog.ok());
  const auto products = catalog->filterValues(false);
  const auto inspirations = catalog->filterValues(true);
  ASSERT_TRUE(products.ok() && inspirations.ok());
  const auto has = [](const std::vector<HCFProductKV>& kvs, const char* key, const char* val) {
    return std::any_of(kvs.begin(), kvs.end(),
                       [&](const HCFProductKV& kv) { return kv.key == key && kv.val == val; });
  };
  EXPECT_FALSE(has(*products, "category", "Inspirations"));
  EXPECT_TRUE(has(*inspirations, "category", "Inspirations"));

  // One finish selected: only that finish is left among the finishes; other keys narrow.
  const auto matte = catalog->filterValues(false, {HCFProductKV::kvWithKey("finish", "matte")});
  ASSERT_TRUE(matte.ok());
  for (const auto& kv : *matte) {
    if (kv.key == "finish") {
      EXPECT_EQ(kv.val, "matte");
    }
  }
  EXPECT_LE(matte->size(), products->size());
}

TEST_F(ProductCatalogTest, OpeningSomethingElseIsAClearError) {
  EXPECT_FALSE(HCFProductCatalog::open(dir_ / "missing.realm").ok());

  const auto text = dir_ / "notes.realm";
  std::ofstream(text) << "not a database at all, only text that is long enough to look at";
  const auto notStore = HCFProductCatalog::open(text);
  ASSERT_FALSE(notStore.ok());
  EXPECT_EQ(notStore.error().code, error_code::kInvalidData);

  // The kit's version rules: 10 is discarded, a newer kit's store is not read, an older one
  // whose product tables are complete is read as it is. The file is never written.
  const struct {
    int version;
    const char* problem;  // none: readable
  } versions[] = {{10, "written at schema version 10, which this kit discards"},
                  {14, "written at schema version 14, newer than this kit's 13"},
                  {12, nullptr}};
  for (const auto& v : versions) {
    useCatalog(fx::catalogProducts({}, 5));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(v.version)).c_str(), nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
    const auto before = std::filesystem::last_write_time(storePath());
    const auto opened = HCFProductCatalog::open(storePath());
    if (v.problem) {
      ASSERT_FALSE(opened.ok()) << v.version;
      EXPECT_NE(opened.error().localizedDescription.find(v.problem), std::string::npos)
          << opened.error().localizedDescription;
    } else {
      ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription;
      EXPECT_EQ(*opened->count(), 5u);
    }
    EXPECT_EQ(std::filesystem::last_write_time(storePath()), before) << v.version;
  }
}

TEST_F(ProductCatalogTest, AReplacedFileIsReadAfresh) {
  useCatalog(fx::catalogProducts({}, 50));
  auto catalog = HCFProductCatalog::open(storePath());
  ASSERT_TRUE(catalog.ok());
  ASSERT_EQ(*catalog->count(), 50u);
  useCatalog(fx::catalogProducts({}, 80));  // built beside and renamed over the old file
  EXPECT_EQ(*catalog->count(), 80u);
  std::filesystem::remove(storePath());
  EXPECT_FALSE(catalog->count().ok());
}

}  // namespace
