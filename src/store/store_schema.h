// The tables of every persisted class, and opening a store file with the version rule.
#pragma once

#include <filesystem>
#include <memory>

#include "hcf/store/hcf_realm_manager.h"
#include "sqlite.h"

HCF_NAMESPACE_BEGIN

struct StoreHandle::Impl {
  std::unique_ptr<sql::Database> db;
};

namespace store {

/// Opens `file` as a store of `kind`: creates the tables, applies the wipe rule and migrates
/// older versions. Throws sql::Failure when the file cannot be used.
std::unique_ptr<sql::Database> open(const std::filesystem::path& file, StoreKind kind,
                                    sql::OpenMode mode = sql::OpenMode::Shared);

/// Drops the indexes that only speed up queries, for a bulk load into a new store; the load
/// ends with `createSchema`, which builds them in one pass each.
void dropSecondaryIndexes(sql::Database& db);
/// Creates whatever tables and indexes are missing.
void createSchema(sql::Database& db);

/// Throws sql::Failure unless `db` is a products store of the current schema version.
void requireCurrentProductsStore(sql::Database& db, const std::filesystem::path& file);

/// This thread's connection to the products store `file` (a catalogue of the caller's, not
/// the kit's), kept while the file stays the same. Nothing is created or migrated: a missing
/// file or one that is not a products store of the current schema throws sql::Failure.
std::shared_ptr<StoreHandle> openCatalogFile(const std::filesystem::path& file);

/// Removes the files a store leaves beside `file` (journal, WAL, shared memory, lock and note
/// files), which must never outlive it: they would be read as another store's.
void removeCompanions(const std::filesystem::path& file);

/// Makes every thread open its stores afresh (a store file was wiped or replaced).
void forgetConnections();

/// The schema version at which a store of `kind` is discarded instead of migrated.
std::int64_t wipeVersion(StoreKind kind);

}  // namespace store
HCF_NAMESPACE_END
