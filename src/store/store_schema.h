// The tables of every persisted class, and opening a store file with the version rule.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>

#include "hcf/store/hcf_realm_manager.h"
#include "sqlite.h"

HCF_NAMESPACE_BEGIN

/// The file a connection has open: it stays the same file when the path is given another
/// by a rename.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct StoreHandle::Impl {
  std::unique_ptr<sql::Database> db;
  FileIdentity identity;
};

namespace store {

/// Opens `file` as the kit's own store of `kind`: creates the tables, applies the wipe rule
/// and migrates older versions (store_layout.h). Throws sql::Failure when the file cannot be
/// used. Only for the kit's own files: a file the kit reads is opened by openCatalogFile.
std::unique_ptr<sql::Database> open(const std::filesystem::path& file, StoreKind kind,
                                    sql::OpenMode mode = sql::OpenMode::Shared);

/// Drops the indexes that only speed up queries and the triggers that drop the column cache,
/// for a bulk load into a new store; the load ends with `createSchema`, which builds them in
/// one pass each.
void dropSecondaryIndexes(sql::Database& db);
/// Creates whatever tables and indexes are missing.
void createSchema(sql::Database& db);

/// This thread's read-only connection to the products store `file` (a catalogue of the
/// caller's, not the kit's), kept while the file stays the same. The file is never written: a
/// missing file or one that cannot be read as a products store (store_layout.h) throws
/// sql::Failure.
HCF_API std::shared_ptr<StoreHandle> openCatalogFile(const std::filesystem::path& file);

/// Removes the files a store leaves beside `file` (journal, WAL, shared memory, lock and note
/// files), which must never outlive it: they would be read as another store's.
void removeCompanions(const std::filesystem::path& file);

/// Makes every thread open its stores afresh (a store file was wiped or replaced).
void forgetConnections();

/// True for failures that say the file itself is damaged (SQLITE_CORRUPT, SQLITE_NOTADB).
bool isDamage(const sql::Failure& failure);
/// Moves the kit's damaged catalogue `file` aside (to "<file>.damaged", replacing an earlier
/// one) so that the kit starts from an empty store and asks for a download.
void setAsideDamagedCatalog(const std::filesystem::path& file, const sql::Failure& failure);
/// The same for a cache the kit fills itself (the device-data store, the download log): it is
/// moved aside, and the next open makes a new one that fills again from the cloud.
void setAsideDamagedCache(const std::filesystem::path& file, const sql::Failure& failure);

}  // namespace store
HCF_NAMESPACE_END
