#include "store_schema.h"

#include "hcf/log.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// Every store carries every table. Lists of a product are child tables keyed by the product
// and the list position; a curve of floats is a blob of little-endian 32-bit values; a date
// is whole nanoseconds since 1970.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS HRLMOfflineProduct(
  uuid TEXT PRIMARY KEY NOT NULL, name TEXT NOT NULL, code TEXT NOT NULL, hex TEXT NOT NULL,
  vendorOrder REAL NOT NULL DEFAULT 0, hue REAL NOT NULL DEFAULT 0,
  saturation REAL NOT NULL DEFAULT 0, brightness REAL NOT NULL DEFAULT 0,
  isInspiration INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_name ON HRLMOfflineProduct(name);
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_code ON HRLMOfflineProduct(code);
CREATE TABLE IF NOT EXISTS HRLMProductKV(
  kvHash TEXT PRIMARY KEY NOT NULL, key TEXT, val TEXT, keyTranslated TEXT, valTranslated TEXT,
  isFilter INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS HRLMProductKV_key ON HRLMProductKV(key);
CREATE INDEX IF NOT EXISTS HRLMProductKV_val ON HRLMProductKV(val);
CREATE INDEX IF NOT EXISTS HRLMProductKV_valTranslated ON HRLMProductKV(valTranslated);
CREATE TABLE IF NOT EXISTS HRLMOfflineProduct_filters(
  productUuid TEXT NOT NULL, position INTEGER NOT NULL, kvHash TEXT NOT NULL,
  PRIMARY KEY(productUuid, position));
CREATE INDEX IF NOT EXISTS HRLMOfflineProduct_filters_kv ON HRLMOfflineProduct_filters(kvHash);
CREATE TABLE IF NOT EXISTS HRLMOfflineProduct_attributes(
  productUuid TEXT NOT NULL, position INTEGER NOT NULL, kvHash TEXT NOT NULL,
  PRIMARY KEY(productUuid, position));
CREATE TABLE IF NOT EXISTS HRLMProductImage(
  productUuid TEXT NOT NULL, position INTEGER NOT NULL, key TEXT NOT NULL, url TEXT NOT NULL,
  PRIMARY KEY(productUuid, position));
CREATE TABLE IF NOT EXISTS HRLMBatchedLab(
  productUuid TEXT NOT NULL, position INTEGER NOT NULL,
  d50L REAL NOT NULL, d50A REAL NOT NULL, d50B REAL NOT NULL, batch TEXT NOT NULL, name TEXT,
  comp REAL NOT NULL, hex TEXT NOT NULL, owningCompositionDetailPosition INTEGER NOT NULL,
  owningProductUUID TEXT NOT NULL, illuminant TEXT, observer TEXT, model TEXT,
  PRIMARY KEY(productUuid, position));
CREATE INDEX IF NOT EXISTS HRLMBatchedLab_group ON HRLMBatchedLab(batch, illuminant, observer);
CREATE TABLE IF NOT EXISTS HRLMSpectrum(
  productUuid TEXT NOT NULL, position INTEGER NOT NULL, start INTEGER NOT NULL,
  step INTEGER NOT NULL, batch TEXT NOT NULL, model TEXT,
  owningCompositionDetailPosition INTEGER NOT NULL, owningProductUUID TEXT NOT NULL,
  curve BLOB NOT NULL, PRIMARY KEY(productUuid, position));
CREATE INDEX IF NOT EXISTS HRLMSpectrum_batch ON HRLMSpectrum(batch);
CREATE INDEX IF NOT EXISTS HRLMSpectrum_owner ON HRLMSpectrum(owningProductUUID);
CREATE INDEX IF NOT EXISTS HRLMSpectrum_position ON HRLMSpectrum(owningCompositionDetailPosition);
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

}  // namespace

std::int64_t wipeVersion(StoreKind kind) { return kind == StoreKind::DeviceData ? 6 : 10; }

std::unique_ptr<sql::Database> open(const std::filesystem::path& file, StoreKind kind) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  auto db = std::make_unique<sql::Database>(file);
  const std::int64_t found = db->userVersion();
  if (found > HCFRealmManager::kSchemaVersion) {
    throw sql::Failure(0, "the store was written at schema version " + std::to_string(found) +
                              ", newer than " + std::to_string(HCFRealmManager::kSchemaVersion));
  }
  if (found == wipeVersion(kind)) {
    if (kind == StoreKind::DeviceData) logLine("performing Realm wipe....");
    db.reset();
    HCFRealmManager::performRealmWipeForRealmURL(file);
    db = std::make_unique<sql::Database>(file);
  }
  if (db->userVersion() != HCFRealmManager::kSchemaVersion) {
    // New, or older and kept: the missing tables are added, the data stays.
    sql::Transaction t(*db);
    db->exec(kSchema);
    db->setUserVersion(HCFRealmManager::kSchemaVersion);
    t.commit();
  }
  return db;
}

}  // namespace store
HCF_NAMESPACE_END
