// A store file searched synchronously: the same answers as the kit's own searches on the same
// store, and clear errors for files that are not products stores of this schema.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "search_fixture.h"
#include "store/catalog_columns.h"
#include "store/store_schema.h"

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

// The panel's counts are faceted: a value counts the products that have it and pass the
// selections of the other keys, so a key's other values stay reachable once one is chosen.
TEST_F(ProductCatalogTest, PanelCountsLeaveEachKeysOtherValuesReachable) {
  useCatalog(fx::catalogProducts({}, 300));
  auto catalog = HCFProductCatalog::open(storePath());
  ASSERT_TRUE(catalog.ok());
  const auto matte = HCFProductKV::kvWithKey("finish", "matte");
  const auto vendor = catalog->filterValues(false, {matte});
  ASSERT_TRUE(vendor.ok());
  HCFProductKV aVendor;
  for (const auto& kv : *vendor) {
    if (kv.key == "vendor") aVendor = kv;
  }
  ASSERT_TRUE(aVendor.key);
  const auto notInspiration = predicate::Predicate::equal("isInspiration", false);
  const auto expected = [&](const HCFProductKV& value, const std::vector<HCFProductKV>& others) {
    std::vector<predicate::Predicate> all{notInspiration, value.filterPredicate()};
    for (const auto& o : others) all.push_back(o.filterPredicate());
    return *catalog->count(predicate::Predicate::andOf(all));
  };
  const std::vector<std::vector<HCFProductKV>> selections = {{}, {matte}, {matte, aVendor}};
  for (const auto& selected : selections) {
    const auto counts = catalog->filterCounts(false, selected);
    ASSERT_TRUE(counts.ok());
    std::size_t finishes = 0;
    for (const auto& c : *counts) {
      // The selections of the value's own key do not narrow it.
      std::vector<HCFProductKV> others;
      for (const auto& kv : selected) {
        if (kv.key != c.filter.key) others.push_back(kv);
      }
      EXPECT_EQ(c.products, expected(c.filter, others))
          << *c.filter.key << "=" << *c.filter.val << " with " << selected.size() << " selected";
      finishes += c.filter.key == "finish" ? 1 : 0;
    }
    EXPECT_GE(finishes, 2u) << selected.size() << " selected";
  }
}

// A store written to the persisted tables by someone else: the derived tables empty or gone,
// no pair flagged as a filter, the file read-only. It answers as the kit's own
// does and is never written.
TEST_F(ProductCatalogTest, AStoreWrittenByOthersAnswersAndIsNeverWritten) {
  auto colour = HCFProductSearch::productSearch();
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  term->auxLab = HCFLabColor::labColorWithL(55, 20, -10, HCFIlluminant::D50);
  colour.colorTerm = term;
  colour.limit = 10;
  const struct {
    const char* what;
    const char* sql;
  } stores[] = {
      {"empty derived tables, owners left out as earlier files did",
       "DELETE FROM HCFProductRank; DELETE FROM HCFColorGroup; DELETE FROM HCFColorEntry;"
       "UPDATE HRLMProductKV SET isFilter = 0; UPDATE HRLMBatchedLab SET owningProductUUID = "
       "NULL;"},
      {"no derived tables",
       "DROP TABLE HCFProductRank; DROP TABLE HCFColorGroup; DROP TABLE HCFColorEntry;"
       "UPDATE HRLMProductKV SET isFilter = 0;"},
  };
  for (const auto& st : stores) {
    SCOPED_TRACE(st.what);
    useCatalog(fx::catalogProducts({}, 200));
    const auto own = HCFProductCatalog::open(storePath())->search(colour);
    ASSERT_TRUE(own.ok());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, st.sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    std::filesystem::permissions(storePath(), std::filesystem::perms::owner_read);
    const auto bytes = [&] {
      std::ifstream in(storePath(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      return text.str();
    };
    const auto before = bytes();

    auto catalog = HCFProductCatalog::open(storePath());
    ASSERT_TRUE(catalog.ok()) << catalog.error().localizedDescription;
    const auto found = catalog->search(colour);
    ASSERT_TRUE(found.ok()) << found.error().localizedDescription;
    expectSameResults(*found, *own);
    // A product's exact code, which the fixture lists among its attributes.
    auto text = HCFProductSearch::productSearch();
    text.textTerm = own->front().product.code();
    const auto byCode = catalog->search(text);
    ASSERT_TRUE(byCode.ok());
    ASSERT_FALSE(byCode->empty());
    EXPECT_EQ(byCode->front().product.uuid, own->front().product.uuid);
    const auto panel = catalog->filterCounts(false);
    ASSERT_TRUE(panel.ok());
    EXPECT_FALSE(panel->empty());
    EXPECT_EQ(bytes(), before);
    std::filesystem::permissions(storePath(), std::filesystem::perms::owner_all);
  }
}

// The column form the builder stores is what the products give, and is used only while it
// is: every change through SQLite drops it (triggers), and a cache that no longer matches
// the products (a writer that dropped the triggers) is not used.
TEST_F(ProductCatalogTest, TheStoredColumnFormAnswersAsTheProductsDo) {
  std::vector<HCFProductSearch> searches;
  for (const double L : {30.0, 55.0, 80.0}) {
    auto s = HCFProductSearch::productSearch();
    auto term = std::make_shared<HCFGenericColorSearchTerm>();
    term->auxLab = HCFLabColor::labColorWithL(L, 15, -20, HCFIlluminant::D50);
    s.colorTerm = term;
    s.limit = 30;
    searches.push_back(s);
  }
  searches.back().colorSearchOptions.illuminant = HCFIlluminant::F11;
  for (const char* text : {"quixotic", "blue", "a"}) {
    auto s = HCFProductSearch::productSearch();
    s.textTerm = text;
    s.limit = 40;
    searches.push_back(s);
  }
  const struct {
    const char* what;
    const char* sql;
  } changes[] = {
      {"as built", ""},
      {"a colour changed", "UPDATE HRLMBatchedLab SET d50L = d50L + 20 WHERE product <= 40"},
      {"filters changed", "DELETE FROM HRLMOfflineProduct_filters WHERE product BETWEEN 10 AND 60"},
      {"attribute texts changed",
       "UPDATE HRLMProductKV SET valTranslated = 'Quixotic Teal' WHERE id IN (SELECT kv FROM "
       "HRLMOfflineProduct_attributes WHERE product BETWEEN 100 AND 104)"},
      {"products removed by a writer without triggers",
       "DROP TRIGGER HCFColumnCache_HRLMOfflineProduct_DELETE;"
       "DROP TRIGGER HCFColumnCache_HRLMBatchedLab_DELETE;"
       "DELETE FROM HRLMBatchedLab WHERE product <= 40;"
       "DELETE FROM HRLMOfflineProduct WHERE id <= 40"},
  };
  const auto derived = dir_ / "derived.realm";
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    useCatalog(fx::catalogProducts({}, 300));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(storePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    std::filesystem::copy_file(storePath(), derived,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(sqlite3_open(derived.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE HCFColumnCache", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    auto stored = HCFProductCatalog::open(storePath());
    auto fromProducts = HCFProductCatalog::open(derived);
    ASSERT_TRUE(stored.ok() && fromProducts.ok());
    for (const auto& s : searches) expectSameResults(*stored->search(s), *fromProducts->search(s));
    const auto matte = HCFProductKV::kvWithKey("finish", "matte");
    const auto panel = *stored->filterCounts(false, {matte});
    const auto derivedPanel = *fromProducts->filterCounts(false, {matte});
    ASSERT_EQ(panel.size(), derivedPanel.size());
    for (std::size_t i = 0; i < panel.size(); ++i) {
      EXPECT_EQ(panel[i].filter, derivedPanel[i].filter);
      EXPECT_EQ(panel[i].products, derivedPanel[i].products);
    }
  }
}

// Columns belong to the file the connection opened, never to whatever the path names when
// they are read: a file replaced in between is not cached under the new file's identity.
TEST_F(ProductCatalogTest, ColumnsBelongToTheFileTheirConnectionOpened) {
  useCatalog(fx::catalogProducts({}, 40));
  const auto old = store::openCatalogFile(storePath());
  useCatalog(fx::catalogProducts({}, 70));  // renamed over the path
  {
    sql::ReadTransaction read(*old->impl().db);
    EXPECT_EQ(
        store::CatalogColumns::of(*old->impl().db, old->impl().identity, storePath())->productCount,
        40u);
  }
  const auto fresh = store::openCatalogFile(storePath());
  sql::ReadTransaction read(*fresh->impl().db);
  EXPECT_EQ(store::CatalogColumns::of(*fresh->impl().db, fresh->impl().identity, storePath())
                ->productCount,
            70u);
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
