#include "store_layout.h"

#include <algorithm>

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

struct TableColumns {
  const char* table;
  std::vector<const char*> columns;
};

// The persisted classes' tables and the columns a reader needs (docs/store-format.md).
const std::vector<TableColumns>& persistedTables() {
  static const std::vector<TableColumns> tables = {
      {"HRLMOfflineProduct",
       {"id", "uuid", "name", "code", "hex", "vendorOrder", "hue", "saturation", "brightness",
        "isInspiration"}},
      {"HRLMProductKV", {"id", "kvHash", "key", "val", "keyTranslated", "valTranslated"}},
      {"HRLMOfflineProduct_filters", {"product", "position", "kv"}},
      {"HRLMOfflineProduct_attributes", {"product", "position", "kv"}},
      {"HRLMProductImage", {"product", "position", "key", "url"}},
      {"HRLMBatchedLab",
       {"product", "position", "d50L", "d50A", "d50B", "batch", "name", "comp", "hex",
        "owningCompositionDetailPosition", "owningProductUUID", "illuminant", "observer", "model"}},
      {"HRLMSpectrum",
       {"product", "position", "start", "step", "batch", "model", "owningCompositionDetailPosition",
        "owningProductUUID", "curve"}},
  };
  return tables;
}

std::vector<std::string> columnsOf(sql::Database& db, const char* table) {
  sql::Statement s(db, "SELECT name FROM pragma_table_info(?1)");
  s.bind(1, std::string_view(table));
  std::vector<std::string> out;
  while (s.step()) out.push_back(s.text(0));
  return out;
}

}  // namespace

VersionRule versionRule(std::int64_t found, StoreKind kind) {
  if (found > HCFRealmManager::kSchemaVersion) return VersionRule::Newer;
  if (found == HCFRealmManager::kSchemaVersion) return VersionRule::Current;
  if (found == (kind == StoreKind::DeviceData ? 6 : 10)) return VersionRule::Wipe;
  return VersionRule::Migrate;
}

std::vector<std::string> productTableProblems(sql::Database& db) {
  std::vector<std::string> problems;
  for (const auto& t : persistedTables()) {
    const auto have = columnsOf(db, t.table);
    if (have.empty()) {
      problems.push_back(std::string("table ") + t.table + " is missing");
      continue;
    }
    for (const char* c : t.columns) {
      if (std::find(have.begin(), have.end(), c) == have.end()) {
        problems.push_back(std::string("column ") + t.table + "." + c + " is missing");
      }
    }
  }
  return problems;
}

std::vector<std::string> productsStoreProblems(sql::Database& db) {
  const auto version = db.userVersion();
  const std::string current = std::to_string(HCFRealmManager::kSchemaVersion);
  switch (versionRule(version, StoreKind::Products)) {
    case VersionRule::Newer:
      return {"written at schema version " + std::to_string(version) + ", newer than this kit's " +
              current};
    case VersionRule::Wipe:
      return {"written at schema version " + std::to_string(version) + ", which this kit discards"};
    case VersionRule::Current:
    case VersionRule::Migrate:
      break;
  }
  auto problems = productTableProblems(db);
  if (version < HCFRealmManager::kSchemaVersion && problems.size() == persistedTables().size()) {
    // Nothing of a products store at all.
    return {"not a products store (schema version " + std::to_string(version) +
            ", no product tables)"};
  }
  return problems;
}

void requireReadableProductsStore(sql::Database& db, const std::string& file) {
  const auto problems = productsStoreProblems(db);
  if (!problems.empty()) {
    throw sql::Failure(26, file + " cannot be read as a products store: " +  // SQLITE_NOTADB
                               problems.front());
  }
}

std::vector<std::string> damage(sql::Database& db, int maxProblems) {
  std::vector<std::string> out;
  try {
    sql::Statement s(db, "PRAGMA quick_check(" + std::to_string(maxProblems) + ")");
    while (s.step()) {
      auto line = s.text(0);
      if (line != "ok") out.push_back(std::move(line));
    }
  } catch (const sql::Failure& e) {
    // Damage bad enough to stop the check itself.
    const int primary = e.code() & 0xFF;
    if (primary != 11 && primary != 26) throw;  // SQLITE_CORRUPT, SQLITE_NOTADB
    out.push_back(e.what());
  }
  return out;
}

}  // namespace store
HCF_NAMESPACE_END
