// What a products store file must hold to be read, and what each schema version found in a
// file means. One set of rules for every entry point: the kit's own store, a catalogue file
// searched by HCFProductCatalog or the hcf program, the installer of a download, and
// `hcf catalog check`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hcf/store/hcf_realm_manager.h"
#include "sqlite.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// What to do with a store found at schema version `found`.
enum class VersionRule {
  Current,  ///< this kit's version
  Migrate,  ///< older and kept: the kit's own store gains the missing tables; a file that is
            ///< only read is read as it is when its persisted tables are complete
  Wipe,     ///< the version the kit discards (products and log 10, device data 6)
  Newer,    ///< written by a later kit: never opened
};
VersionRule versionRule(std::int64_t found, StoreKind kind);

/// Problems that keep a file from being read as a products store, each naming what is wrong
/// ("table HRLMBatchedLab is missing", "column HRLMOfflineProduct.code is missing", "written
/// at schema version 14, newer than this kit's 13"); none when it can be read. Reads the
/// schema only; never writes.
std::vector<std::string> productsStoreProblems(sql::Database& db);

/// The persisted product tables' problems alone (no version rule).
std::vector<std::string> productTableProblems(sql::Database& db);

/// Throws sql::Failure (SQLITE_NOTADB) naming `file` and the first problem when the file
/// cannot be read as a products store.
void requireReadableProductsStore(sql::Database& db, const std::string& file);

/// Everything `hcf catalog check` reports on a products store: the problems of
/// `productsStoreProblems`, then (when the tables can be read) values the layout requires but
/// the file lacks, repeated keys, links to rows that do not exist, observer and illuminant
/// names colour search does not compare, malformed curves, and damaged pages. Each names
/// what is wrong and how often; none for a sound store.
std::vector<std::string> checkProductsStore(sql::Database& db);

/// SQLite's page check of the whole file (PRAGMA quick_check): the problems it reports, none
/// for a sound file (damage that stops the check is one problem).
std::vector<std::string> damage(sql::Database& db, int maxProblems = 10);

}  // namespace store
HCF_NAMESPACE_END
