// Store files: names, versions, the wipe rule, broken files, the key.
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

#include "../support/store_test_support.h"
#include "hcf/core/log.h"

using namespace hcf;
using hcf_test::StoreTest;

namespace {

// Writes a store file at `version` holding one device record, as an older kit would have.
void writeOldStore(const std::filesystem::path& file, int version) {
  std::filesystem::create_directories(file.parent_path());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  const std::string sql =
      "CREATE TABLE HTintraModule(serial TEXT PRIMARY KEY NOT NULL, buf BLOB, model TEXT, "
      "batch INTEGER NOT NULL DEFAULT 0);"
      "INSERT INTO HTintraModule VALUES('OLD', x'0a034f4c44', '2.0', 3);"
      "CREATE TABLE HRLMProductDownloadLogEntry(id INTEGER PRIMARY KEY, date REAL, sdkKey TEXT);"
      "INSERT INTO HRLMProductDownloadLogEntry(date, sdkKey) VALUES(1.0, 'old-key');"
      "PRAGMA user_version=" +
      std::to_string(version) + ";";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  for (const char* companion : {".lock", ".note", ".management"}) {
    std::ofstream(file.string() + companion) << "x";
  }
}

std::int64_t rows(const std::filesystem::path& file, const char* table) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, (std::string("SELECT count(*) FROM ") + table).c_str(), -1, &s, nullptr);
  std::int64_t n = -1;
  if (s && sqlite3_step(s) == SQLITE_ROW) n = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n;
}

}  // namespace

TEST_F(StoreTest, FileNamesInTheDataDirectory) {
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::Products, "pkg-1"),
            dir_ / "halvern-products-pkg-1.realm");
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::DownloadLog),
            dir_ / "halvern-product-logs.realm");
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::DeviceData), dir_ / "halvern-b2.realm");
  // A package identifier cannot lead out of the data directory.
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::Products, "../../etc/x").parent_path(), dir_);
}

TEST_F(StoreTest, TestModeUsesTheTemporaryDirectoryAndTestingNames) {
  HCFRealmManager::setDocDirectory(std::nullopt);
  ::setenv("XCTestConfigurationFilePath", "/tmp/x.xctestconfiguration", 1);
  EXPECT_TRUE(HCFRealmManager::isRunningUnitTests());
  const auto tmp = std::filesystem::temp_directory_path();
  EXPECT_EQ(HCFRealmManager::docDirectory(), tmp);
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::Products, "pkg"),
            tmp / "halvern-products-testing.realm");
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::DeviceData), tmp / "halvern-b2-testing.realm");
  EXPECT_EQ(HCFRealmManager::storeFile(StoreKind::DownloadLog), tmp / "halvern-product-logs.realm");
  ::unsetenv("XCTestConfigurationFilePath");
  EXPECT_FALSE(HCFRealmManager::isRunningUnitTests());
}

TEST_F(StoreTest, NewStoresAreWrittenAtVersionThirteen) {
  ASSERT_TRUE(HCFRealmManager::getB2Realm());
  const auto file = HCFRealmManager::storeFile(StoreKind::DeviceData);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
  sqlite3_step(s);
  EXPECT_EQ(sqlite3_column_int64(s, 0), 13);
  sqlite3_finalize(s);
  sqlite3_close(db);
  EXPECT_EQ(rows(file, "HRLMOfflineProduct"), 0);  // every store carries every table
}

TEST_F(StoreTest, ProductAndLogStoresAtVersionTenAreWipedOthersMigrate) {
  for (const auto kind : {StoreKind::Products, StoreKind::DownloadLog}) {
    const auto file = HCFRealmManager::storeFile(kind, "p");
    writeOldStore(file, 10);
    ASSERT_TRUE(HCFRealmManager::openStore(kind, "p"));
    EXPECT_EQ(rows(file, "HRLMProductDownloadLogEntry"), 0);
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".lock"));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".management"));
    HCFRealmManager::performRealmWipeForRealmURL(file);
    for (const int kept : {11, 12}) {
      writeOldStore(file, kept);
      ASSERT_TRUE(HCFRealmManager::openStore(kind, "p"));
      EXPECT_EQ(rows(file, "HRLMProductDownloadLogEntry"), 1) << kept;
      EXPECT_EQ(rows(file, "HRLMSpectrum"), 0) << kept;  // the missing tables were added
      HCFRealmManager::performRealmWipeForRealmURL(file);
    }
  }
}

TEST_F(StoreTest, DeviceStoreAtVersionSixIsWipedAtTenKept) {
  std::vector<std::string> lines;
  setLogHandler([&](std::string_view l) { lines.emplace_back(l); });
  const auto file = HCFRealmManager::storeFile(StoreKind::DeviceData);
  writeOldStore(file, 6);
  EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial("OLD"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "performing Realm wipe...."), lines.end());
  HCFRealmManager::performRealmWipeForRealmURL(file);
  writeOldStore(file, 10);
  auto kept = HCFRealmManager::fetchTintraDeviceWithSerial("OLD");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->serial(), "OLD");
  setLogHandler(nullptr);
}

// The kit's caches are copies: a damaged one goes aside (logged) and a new one takes its place;
// one written by a newer kit is left alone and gives nothing.
TEST_F(StoreTest, DamagedCachesAreSetAsideAndMadeAgainNewerOnesAreLeftAlone) {
  std::vector<std::string> lines;
  setLogHandler([&](std::string_view l) { lines.emplace_back(l); });
  std::filesystem::create_directories(dir_);
  for (const auto kind : {StoreKind::DeviceData, StoreKind::DownloadLog}) {
    const auto file = HCFRealmManager::storeFile(kind);
    std::ofstream(file) << std::string(4096, 'Z');  // not a database
    EXPECT_TRUE(HCFRealmManager::openStore(kind));
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".damaged"));
    EXPECT_NE(lines.back().find("is damaged"), std::string::npos);
  }
  HCFRealmManager::addUpdateAlignmentHash(hcf::Bytes{'{', '}'}, 3, 1);
  EXPECT_EQ(HCFRealmManager::fetchAlignmentSources(), (std::vector<std::int32_t>{3}));
  const auto file = HCFRealmManager::storeFile(StoreKind::DeviceData);
  HCFRealmManager::performRealmWipeForRealmURL(file);
  writeOldStore(file, 14);  // written by a newer kit
  EXPECT_FALSE(HCFRealmManager::getB2Realm());
  EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial("X"));
  EXPECT_TRUE(std::filesystem::exists(file));
  setLogHandler(nullptr);
}

// The kit's folder and the stores that hold keys are the user's alone.
TEST_F(StoreTest, TheDataFolderAndTheCachesAreTheUsersAlone) {
  const auto fresh = dir_ / "fresh" / "hcf";
  HCFRealmManager::setDocDirectory(fresh);
  EXPECT_EQ(HCFRealmManager::docDirectory(), fresh);
  EXPECT_EQ(std::filesystem::status(fresh).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  for (const auto kind : {StoreKind::DeviceData, StoreKind::DownloadLog}) {
    ASSERT_TRUE(HCFRealmManager::openStore(kind));
    EXPECT_EQ(std::filesystem::status(HCFRealmManager::storeFile(kind)).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  HCFRealmManager::setDocDirectory(dir_);
}

TEST_F(StoreTest, KeyIsSixtyFourBytesKeptForTheUserAlone) {
  const Bytes key = HCFRealmManager::getKey();
  ASSERT_EQ(key.size(), 64u);
  EXPECT_EQ(HCFRealmManager::getKey(), key);
  EXPECT_NE(key, Bytes(64, 0));
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / ".keys/com.halverninc.key01").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}
