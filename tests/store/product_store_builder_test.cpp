// Prepared products stores: building from product lines, what goes wrong with bad lines, the
// colour-scan layout, the query plans the store relies on, and reading a built store back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "../support/store_test_support.h"
#include "catalog_fixture.h"
#include "hcf/hcf.h"

using namespace hcf;
namespace fx = hcf_cloud::fixtures;
using predicate::Predicate;
using R = HCFRealmManager;

namespace {

class ProductStoreBuilderTest : public hcf_test::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
    const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
    products_ = fx::catalogProducts(colors, 40);
    std::ostringstream lines;
    fx::writeProductLines(lines, products_);
    lines_ = lines.str();
    store_ = R::storeFile(StoreKind::Products, HCFCentral::creds().packageID);
  }
  HCFProductStoreBuild build(const std::string& text) {
    std::istringstream in(text);
    return HCFProductStoreBuilder::build(in, store_);
  }
  std::vector<HCFHalvernCloudProduct> query(const Predicate& where) {
    std::optional<std::vector<HCFHalvernCloudProduct>> result;
    R::offlineProductsMatchingPredicate(where,
                                        [&](auto products) { result = std::move(products); });
    dispatch::mainQueue().runUntil([&] { return result.has_value(); },
                                   dispatch::mainQueue().now() + std::chrono::seconds(5));
    return result.value_or(std::vector<HCFHalvernCloudProduct>{});
  }
  // Runs `sql` on the store file and returns the first column of every row as text.
  std::vector<std::string> column(const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> out;
    if (sqlite3_open_v2(store_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* s = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW) {
          const auto* t = sqlite3_column_text(s, 0);
          out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
      }
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return out;
  }
  std::vector<HCFHalvernCloudProduct> products_;
  std::string lines_;
  std::filesystem::path store_;
};

}  // namespace

TEST_F(ProductStoreBuilderTest, BuildsAStoreTheKitReadsBack) {
  const auto result = build(lines_);
  ASSERT_TRUE(result.ok()) << result.error->localizedDescription;
  const auto& s = *result.summary;
  EXPECT_EQ(s.products, 40u);
  EXPECT_EQ(s.inspirations, 2u);  // one product in twenty
  EXPECT_EQ(s.spectra, 40u);
  // Per product: batch "95" keeps its first entry in the product JSON, the spectral batch all
  // sixteen of its Labs, and the reference.
  EXPECT_EQ(s.colors, 40u * 18u);
  EXPECT_EQ(s.colorGroups, 18u);
  EXPECT_TRUE(s.scanLayoutReady);
  EXPECT_EQ(s.schemaVersion, R::kSchemaVersion);

  const auto all = query(Predicate());
  ASSERT_EQ(all.size(), 40u);
  const auto& p = all[3];
  EXPECT_EQ(p.uuid, products_[3].uuid);
  EXPECT_EQ(p.name(), products_[3].name());
  EXPECT_EQ(p.code(), products_[3].code());
  EXPECT_EQ(p.images->size(), 1u);
  EXPECT_EQ((*p.spectra)[0].curve->size(), 31u);
  // The reference colour survives at single precision.
  EXPECT_NEAR(p.colors()[0].L, products_[3].colors()[0].L, 1e-4);
  // Observers are stored under the names the colour search compares.
  const auto observers = column("SELECT DISTINCT observer FROM HRLMBatchedLab ORDER BY 1");
  EXPECT_EQ(observers, (std::vector<std::string>{"TEN_DEGREE", "TWO_DEGREE"}));
  EXPECT_EQ(query(Predicate::equal("isInspiration", true)).size(), 2u);
}

TEST_F(ProductStoreBuilderTest, ColourEntriesAreLaidOutByGroupInDefaultOrder) {
  // Reverse the maker's order so that file order and default order differ.
  for (std::size_t i = 0; i < products_.size(); ++i) {
    products_[i].vendorOrder = static_cast<double>(products_.size() - i);
  }
  std::ostringstream lines;
  fx::writeProductLines(lines, products_);
  ASSERT_TRUE(build(lines.str()).ok());
  // The schema's required owners and its indexes are there.
  EXPECT_EQ(column("SELECT count(*) FROM HRLMBatchedLab WHERE owningProductUUID IS NULL"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(column("SELECT count(*) FROM HRLMSpectrum s JOIN HRLMOfflineProduct p "
                   "ON p.id = s.product WHERE s.owningProductUUID IS NOT p.uuid"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(column("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                   "('HRLMSpectrum_batch', 'HRLMSpectrum_owningProductUUID', "
                   "'HRLMSpectrum_owningCompositionDetailPosition', 'HRLMOfflineProduct_name', "
                   "'HRLMOfflineProduct_code', 'HRLMProductKV_key', 'HRLMProductKV_val', "
                   "'HRLMProductKV_valTranslated')"),
            std::vector<std::string>{"8"});
  EXPECT_EQ(column("SELECT count(*) FROM HCFColorEntry"),
            column("SELECT count(*) FROM HRLMBatchedLab"));
  // Rank 0 is the product the default order puts first: the last one of the file.
  EXPECT_EQ(column("SELECT p.uuid FROM HCFProductRank r JOIN HRLMOfflineProduct p "
                   "ON p.id = r.product WHERE r.rank = 0"),
            std::vector<std::string>{*products_.back().uuid});
  // Each entry holds its own colour: compare every entry with the row it was laid out from.
  EXPECT_EQ(column("SELECT count(*) FROM HCFColorEntry e JOIN HCFColorGroup g ON g.grp = e.grp "
                   "JOIN HCFProductRank r ON r.rank = e.rank JOIN HRLMBatchedLab c "
                   "ON c.product = r.product AND c.position = e.position "
                   "WHERE c.batch = g.batch AND c.illuminant IS g.illuminant AND "
                   "c.observer IS g.observer AND c.d50L = e.L AND c.d50A = e.a AND c.d50B = e.b"),
            column("SELECT count(*) FROM HCFColorEntry"));

  // Adding products makes the layout stale until the store is prepared again.
  ASSERT_TRUE(R::addOfflineProducts({fx::catalogProduct({"Extra", "#123456"}, 900)}));
  const auto summary = HCFProductStoreBuilder::summarize(store_);
  ASSERT_TRUE(summary.ok());
  EXPECT_EQ(summary->products, 41u);
  EXPECT_FALSE(summary->scanLayoutReady);
}

TEST_F(ProductStoreBuilderTest, BadLinesAreReportedAndNothingIsWritten) {
  // A store already there must survive a failed build.
  ASSERT_TRUE(build(lines_).ok());
  const auto before = std::filesystem::file_size(store_);

  std::istringstream good(lines_);
  std::string first, second;
  std::getline(good, first);
  std::getline(good, second);
  const std::string text = first + "\n" + "{\"uuid\": \"x\", oops\n" + "[1, 2]\n" + "\n" +
                           "{\"filters\": []}\n" + "{\"uuid\": 7}\n" + first + "\n" + second;
  const auto result = build(text);
  ASSERT_FALSE(result.ok());
  ASSERT_TRUE(result.error.has_value());
  EXPECT_EQ(result.error->code, 9930);
  ASSERT_EQ(result.problems.size(), 5u);
  EXPECT_EQ(result.problems[0].line, 2u);
  EXPECT_EQ(result.problems[0].reason, "not JSON");
  EXPECT_EQ(result.problems[1].line, 3u);
  EXPECT_EQ(result.problems[1].reason, "not a JSON object");
  EXPECT_EQ(result.problems[2].line, 5u);  // the blank line 4 is skipped
  EXPECT_EQ(result.problems[3].line, 6u);
  EXPECT_EQ(result.problems[4].line, 7u);
  EXPECT_EQ(result.problems[4].reason, "uuid " + *products_[0].uuid + " repeats line 1");

  EXPECT_EQ(std::filesystem::file_size(store_), before);
  for (const auto& entry : std::filesystem::directory_iterator(store_.parent_path())) {
    EXPECT_EQ(entry.path().string().find(".building"), std::string::npos) << entry.path();
  }
}

TEST_F(ProductStoreBuilderTest, TheLastLineNeedsNoLineFeedAndEmptyInputMakesAnEmptyStore) {
  std::string text = lines_;
  text.pop_back();
  const auto result = build(text);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.summary->products, 40u);

  const auto empty = build("");
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty.summary->products, 0u);
  EXPECT_TRUE(empty.summary->scanLayoutReady);
}

TEST_F(ProductStoreBuilderTest, OnlyProductsStoresAreSummarized) {
  EXPECT_FALSE(HCFProductStoreBuilder::summarize(dir_ / "missing.realm").ok());
  std::filesystem::create_directories(dir_);
  std::ofstream(dir_ / "text.realm") << "not a database at all, just words";
  const auto notADatabase = HCFProductStoreBuilder::summarize(dir_ / "text.realm");
  ASSERT_FALSE(notADatabase.ok());
  EXPECT_EQ(notADatabase.error().native->library, "sqlite");
  // A SQLite file of some other program.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "other.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(HCFProductStoreBuilder::summarize(dir_ / "other.db").ok());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.realm"));
}

// Each way a file departs from the published layout is named, one row a fault; a sound store
// has no problem, and the file is never written.
TEST_F(ProductStoreBuilderTest, CheckNamesEachProblemOfAStore) {
  const struct {
    const char* sql;  // what is done to a sound store
    const char* problem;
  } faults[] = {
      {"", nullptr},
      {"PRAGMA user_version = 10", "written at schema version 10, which this kit discards"},
      {"PRAGMA user_version = 14", "newer than this kit's 13"},
      {"DROP TABLE HRLMSpectrum", "table HRLMSpectrum is missing"},
      {"DROP INDEX HRLMOfflineProduct_defaultOrder; ALTER TABLE HRLMOfflineProduct DROP COLUMN hue",
       "column HRLMOfflineProduct.hue is missing"},
      {"UPDATE HRLMBatchedLab SET owningProductUUID = NULL",
       "rows of HRLMBatchedLab have no owningProductUUID (it is required)"},
      {"UPDATE HRLMBatchedLab SET observer = '2°' WHERE observer = 'TWO_DEGREE'",
       "colours name their observer '2°'"},
      {"UPDATE HRLMBatchedLab SET illuminant = 'D75' WHERE illuminant = 'D65'",
       "name an illuminant 'D75'"},
      {"UPDATE HRLMProductKV SET kvHash = kvHash || 'x' WHERE id = 1",
       "1 pairs have a kvHash other than key$$val$$f"},
      {"DELETE FROM HRLMOfflineProduct WHERE id = 1",
       "rows of HRLMBatchedLab name a product that does not exist"},
      {"UPDATE HRLMSpectrum SET curve = x'000102' WHERE (product, position) IN (SELECT product, "
       "position FROM HRLMSpectrum LIMIT 1)",
       "1 spectra have a curve that is not a blob of 32-bit floats"},
  };
  for (const auto& f : faults) {
    ASSERT_TRUE(build(lines_).ok());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, f.sql, nullptr, nullptr, nullptr), SQLITE_OK) << f.sql;
    sqlite3_close(db);
    const auto written = std::filesystem::last_write_time(store_);
    const auto problems = HCFProductStoreBuilder::check(store_);
    ASSERT_TRUE(problems.ok()) << f.sql;
    if (!f.problem) {
      EXPECT_TRUE(problems->empty()) << problems->front();
    } else {
      const bool named = std::any_of(problems->begin(), problems->end(), [&](const auto& p) {
        return p.find(f.problem) != std::string::npos;
      });
      EXPECT_TRUE(named) << f.sql << ": " << (problems->empty() ? "none" : problems->front());
    }
    EXPECT_EQ(std::filesystem::last_write_time(store_), written);
  }
  EXPECT_FALSE(HCFProductStoreBuilder::check(dir_ / "missing.realm").ok());
}

TEST_F(ProductStoreBuilderTest, QueriesKeepThePlansTheirSpeedDependsOn) {
  ASSERT_TRUE(build(lines_).ok());
  const auto plans = HCFProductStoreBuilder::queryPlans(store_);
  ASSERT_TRUE(plans.ok());
  const auto plan = [&](const std::string& name) {
    for (const auto& p : *plans) {
      if (p.name != name) continue;
      std::string text;
      for (const auto& step : p.steps) text += step + "\n";
      return text;
    }
    ADD_FAILURE() << "no plan named " << name;
    return std::string();
  };
  // A page in the default order walks the order's index and stops after the page: no sort.
  const auto page = plan("sorted page");
  EXPECT_NE(page.find("USING INDEX HRLMOfflineProduct_defaultOrder"), std::string::npos) << page;
  // Names collate without case and diacritics: only products tied on vendor order and code
  // are sorted further.
  EXPECT_EQ(page.find("TEMP B-TREE FOR ORDER BY"), std::string::npos) << page;
  // Filter values are probed per pair through the pairs' index, never by scanning links.
  for (const auto* name : {"filter values in use", "filter values in use for a selection"}) {
    const auto text = plan(name);
    EXPECT_NE(text.find("INDEX HRLMOfflineProduct_filters_kv (kv=?"), std::string::npos) << text;
    EXPECT_EQ(text.find("SCAN lf"), std::string::npos) << text;
  }
  EXPECT_NE(plan("sorted page with a filter").find("HRLMOfflineProduct_filters_kv (kv=?)"),
            std::string::npos);
  EXPECT_NE(
      plan("colour entries of a group").find("SEARCH HCFColorEntry USING PRIMARY KEY (grp=?)"),
      std::string::npos);
  EXPECT_NE(plan("product at a rank").find("INTEGER PRIMARY KEY"), std::string::npos);
  EXPECT_NE(plan("colours of a product").find("USING PRIMARY KEY (product=?)"), std::string::npos);
  EXPECT_NE(plan("filters of a product").find("SEARCH l USING PRIMARY KEY (product=?)"),
            std::string::npos);
}

TEST_F(ProductStoreBuilderTest, AStoreOfTheEarlierLayoutIsDroppedNotMisread) {
  std::filesystem::create_directories(store_.parent_path());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store_.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "CREATE TABLE HRLMOfflineProduct(uuid TEXT PRIMARY KEY NOT NULL, name TEXT);"
               "INSERT INTO HRLMOfflineProduct VALUES('old', 'Old');"
               "PRAGMA user_version = 13;",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_TRUE(query(Predicate()).empty());
  ASSERT_TRUE(R::addOfflineProducts({products_[0]}));
  EXPECT_EQ(query(Predicate()).size(), 1u);
}
