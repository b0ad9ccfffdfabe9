#include "store_schema.h"

#include "hcf/core/log.h"
#include "store_layout.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// Every store carries every table. Lists of a product are child tables clustered by the
// product's integer id and the list position, and pairs are referred to by their integer id,
// so that a catalogue of a million products stays compact. Every column the persisted classes
// require is written (a colour's and a spectrum's owningProductUUID too; files of earlier
// versions may hold NULL there, which reads as the owning product). Text is folded for
// CONTAINS[cd] by the reader; the valFolded column of earlier files is left unread. A curve of
// floats is a blob of little-endian 32-bit values; a date is whole nanoseconds since 1970. The
// colour-scan tables (HCFProductRank, HCFColorGroup, HCFColorEntry) are derived from the products:
// see color_scan_store.h.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS HRLMOfflineProduct(
  id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, name TEXT NOT NULL, code TEXT NOT NULL,
  hex TEXT NOT NULL, vendorOrder REAL NOT NULL DEFAULT 0, hue REAL NOT NULL DEFAULT 0,
  saturation REAL NOT NULL DEFAULT 0, brightness REAL NOT NULL DEFAULT 0,
  isInspiration INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_name ON HRLMOfflineProduct(name);
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_code ON HRLMOfflineProduct(code);
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_defaultOrder
  ON HRLMOfflineProduct(vendorOrder, code, name, hue, saturation, brightness);
CREATE TABLE IF NOT EXISTS HRLMProductKV(
  id INTEGER PRIMARY KEY, kvHash TEXT NOT NULL UNIQUE, key TEXT, val TEXT, keyTranslated TEXT,
  valTranslated TEXT, isFilter INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS HRLMProductKV_key ON HRLMProductKV(key);
CREATE INDEX IF NOT EXISTS HRLMProductKV_val ON HRLMProductKV(val);
CREATE INDEX IF NOT EXISTS HRLMProductKV_valTranslated ON HRLMProductKV(valTranslated);
CREATE INDEX IF NOT EXISTS HRLMProductKV_filters ON HRLMProductKV(id) WHERE isFilter = 1;
CREATE TABLE IF NOT EXISTS HRLMOfflineProduct_filters(
  product INTEGER NOT NULL, position INTEGER NOT NULL, kv INTEGER NOT NULL,
  PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_filters_kv ON HRLMOfflineProduct_filters(kv, product);
CREATE TABLE IF NOT EXISTS HRLMOfflineProduct_attributes(
  product INTEGER NOT NULL, position INTEGER NOT NULL, kv INTEGER NOT NULL,
  PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_attributes_kv
  ON HRLMOfflineProduct_attributes(kv, product);
CREATE TABLE IF NOT EXISTS HRLMProductImage(
  product INTEGER NOT NULL, position INTEGER NOT NULL, key TEXT NOT NULL, url TEXT NOT NULL,
  PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS HRLMBatchedLab(
  product INTEGER NOT NULL, position INTEGER NOT NULL,
  d50L REAL NOT NULL, d50A REAL NOT NULL, d50B REAL NOT NULL, batch TEXT NOT NULL, name TEXT,
  comp REAL NOT NULL, hex TEXT NOT NULL, owningCompositionDetailPosition INTEGER NOT NULL,
  owningProductUUID TEXT, illuminant TEXT, observer TEXT, model TEXT,
  PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS HRLMSpectrum(
  product INTEGER NOT NULL, position INTEGER NOT NULL, start INTEGER NOT NULL,
  step INTEGER NOT NULL, batch TEXT NOT NULL, model TEXT,
  owningCompositionDetailPosition INTEGER NOT NULL, owningProductUUID TEXT,
  curve BLOB NOT NULL, PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS HRLMSpectrum_batch ON HRLMSpectrum(batch);
CREATE INDEX IF NOT EXISTS HRLMSpectrum_owningProductUUID ON HRLMSpectrum(owningProductUUID);
CREATE INDEX IF NOT EXISTS HRLMSpectrum_owningCompositionDetailPosition
  ON HRLMSpectrum(owningCompositionDetailPosition);
CREATE TABLE IF NOT EXISTS HCFProductRank(
  rank INTEGER PRIMARY KEY, product INTEGER NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS HCFColorGroup(
  grp INTEGER PRIMARY KEY, batch TEXT NOT NULL, illuminant TEXT, observer TEXT);
CREATE TABLE IF NOT EXISTS HCFColorEntry(
  grp INTEGER NOT NULL, rank INTEGER NOT NULL, position INTEGER NOT NULL,
  L REAL NOT NULL, a REAL NOT NULL, b REAL NOT NULL,
  PRIMARY KEY(grp, rank, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS HCFColumnCache(name TEXT PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS HRLMProductDownloadLogEntry(
  id INTEGER PRIMARY KEY AUTOINCREMENT, date INTEGER, sdkKey TEXT);
CREATE TABLE IF NOT EXISTS HTintraModule(
  serial TEXT PRIMARY KEY NOT NULL, buf BLOB, model TEXT, batch INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS HAlignmentHash(
  sourceBatch INTEGER PRIMARY KEY NOT NULL, jsonData BLOB, updatedAt INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS HRLMSpectroModule(
  serial TEXT PRIMARY KEY NOT NULL, model TEXT, batch TEXT, updatedAt INTEGER NOT NULL DEFAULT 0,
  updatedAtLastChecked INTEGER, annJsonData BLOB, mlmodelcURLStringsData BLOB);
)sql";

constexpr const char* kDropEarlierProductTables = R"sql(
DROP TABLE IF EXISTS HRLMOfflineProduct; DROP TABLE IF EXISTS HRLMProductKV;
DROP TABLE IF EXISTS HRLMOfflineProduct_filters; DROP TABLE IF EXISTS HRLMOfflineProduct_attributes;
DROP TABLE IF EXISTS HRLMProductImage; DROP TABLE IF EXISTS HRLMBatchedLab;
DROP TABLE IF EXISTS HRLMSpectrum;
)sql";

// The tables whose rows the column cache is derived from, and the changes of each that make
// it stale: any of them empties the cache, whoever writes through SQLite.
struct Watched {
  const char* table;
  std::vector<const char*> changes;
};
const std::vector<Watched>& cacheSources() {
  static const std::vector<Watched> sources = {
      {"HRLMOfflineProduct", {"INSERT", "UPDATE", "DELETE"}},
      {"HRLMBatchedLab", {"INSERT", "UPDATE", "DELETE"}},
      {"HRLMOfflineProduct_attributes", {"INSERT", "UPDATE", "DELETE"}},
      {"HRLMOfflineProduct_filters", {"INSERT", "UPDATE", "DELETE"}},
      {"HRLMProductKV", {"UPDATE"}},
  };
  return sources;
}

std::string triggerName(const Watched& w, const char* change) {
  return std::string("HCFColumnCache_") + w.table + "_" + change;
}

}  // namespace

void dropSecondaryIndexes(sql::Database& db) {
  for (const auto& w : cacheSources()) {
    for (const char* change : w.changes)
      db.exec("DROP TRIGGER IF EXISTS " + triggerName(w, change));
  }
  db.exec(R"sql(
DROP INDEX IF EXISTS HRLMOfflineProduct_name; DROP INDEX IF EXISTS HRLMOfflineProduct_code;
DROP INDEX IF EXISTS HRLMOfflineProduct_defaultOrder; DROP INDEX IF EXISTS HRLMProductKV_key;
DROP INDEX IF EXISTS HRLMProductKV_val; DROP INDEX IF EXISTS HRLMProductKV_valTranslated;
DROP INDEX IF EXISTS HRLMProductKV_filters;
DROP INDEX IF EXISTS HRLMOfflineProduct_filters_kv;
DROP INDEX IF EXISTS HRLMOfflineProduct_attributes_kv; DROP INDEX IF EXISTS HRLMSpectrum_batch;
DROP INDEX IF EXISTS HRLMSpectrum_owningProductUUID;
DROP INDEX IF EXISTS HRLMSpectrum_owningCompositionDetailPosition;
)sql");
}

void createSchema(sql::Database& db) {
  db.exec(kSchema);
  for (const auto& w : cacheSources()) {
    for (const char* change : w.changes) {
      db.exec("CREATE TRIGGER IF NOT EXISTS " + triggerName(w, change) + " AFTER " + change +
              " ON " + w.table + " BEGIN DELETE FROM HCFColumnCache; END");
    }
  }
}

std::unique_ptr<sql::Database> open(const std::filesystem::path& file, StoreKind kind,
                                    sql::OpenMode mode) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  auto db = std::make_unique<sql::Database>(file, mode);
  // The device data and the download log (which names the SDK key) are the user's alone; the
  // journal files the database makes beside them take the same mode.
  if (kind != StoreKind::Products) {
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  }
  const std::int64_t found = db->userVersion();
  const VersionRule rule = versionRule(found, kind);
  if (rule == VersionRule::Newer) {
    throw sql::Failure(0, "the store was written at schema version " + std::to_string(found) +
                              ", newer than " + std::to_string(HCFRealmManager::kSchemaVersion));
  }
  if (rule == VersionRule::Wipe) {
    if (kind == StoreKind::DeviceData) logLine("performing Realm wipe....");
    db.reset();
    HCFRealmManager::performRealmWipeForRealmURL(file);
    db = std::make_unique<sql::Database>(file, mode);
  }
  // A product table of another layout (a column missing) cannot be read by this one.
  bool otherLayout = false;
  bool tableMissing = false;
  if (kind == StoreKind::Products) {
    for (const auto& problem : productTableProblems(*db)) {
      (problem.starts_with("column ") ? otherLayout : tableMissing) = true;
    }
  }
  if (db->userVersion() != HCFRealmManager::kSchemaVersion || otherLayout || tableMissing) {
    // New, or older and kept: the missing tables are added, the data stays. Product tables of
    // an earlier layout cannot be read by this one; a products store is a downloaded copy, so
    // they are dropped and the next download fills them again.
    sql::Transaction t(*db);
    if (otherLayout) db->exec(kDropEarlierProductTables);
    db->exec(kSchema);
    db->setUserVersion(HCFRealmManager::kSchemaVersion);
    t.commit();
  }
  return db;
}

}  // namespace store
HCF_NAMESPACE_END
