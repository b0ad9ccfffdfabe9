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

namespace {

std::int64_t scalar(sql::Database& db, const std::string& sql) {
  sql::Statement s(db, sql);
  return s.step() ? s.int64(0) : 0;
}

// Adds "<n> <what>" when the count of `sql` is not 0.
void countProblem(sql::Database& db, std::vector<std::string>& out, const std::string& sql,
                  const std::string& what) {
  if (const auto n = scalar(db, sql); n != 0) out.push_back(std::to_string(n) + " " + what);
}

// The distinct values of `sql`'s first column, up to three, quoted.
std::string examples(sql::Database& db, const std::string& sql) {
  sql::Statement s(db, sql + " LIMIT 3");
  std::string out;
  while (s.step()) out += (out.empty() ? "'" : ", '") + s.text(0) + "'";
  return out;
}

}  // namespace

std::vector<std::string> checkProductsStore(sql::Database& db) {
  auto problems = productsStoreProblems(db);
  if (!problems.empty()) return problems;
  struct Required {
    const char* table;
    std::vector<const char*> columns;
  };
  const Required required[] = {
      {"HRLMOfflineProduct", {"uuid", "name", "code", "hex"}},
      {"HRLMProductKV", {"kvHash"}},
      {"HRLMProductImage", {"key", "url"}},
      {"HRLMBatchedLab",
       {"d50L", "d50A", "d50B", "batch", "comp", "hex", "owningCompositionDetailPosition",
        "owningProductUUID"}},
      {"HRLMSpectrum",
       {"start", "step", "batch", "owningCompositionDetailPosition", "owningProductUUID", "curve"}},
  };
  for (const auto& r : required) {
    for (const char* c : r.columns) {
      countProblem(db, problems,
                   std::string("SELECT count(*) FROM ") + r.table + " WHERE " + c + " IS NULL",
                   std::string("rows of ") + r.table + " have no " + c + " (it is required)");
    }
  }
  countProblem(db, problems, "SELECT count(*) - count(DISTINCT uuid) FROM HRLMOfflineProduct",
               "products repeat the uuid of another");
  countProblem(db, problems, "SELECT count(*) - count(DISTINCT kvHash) FROM HRLMProductKV",
               "pairs repeat the kvHash of another");
  countProblem(db, problems,
               "SELECT count(*) FROM HRLMProductKV WHERE kvHash IS NOT "
               "ifnull(key, '(null)') || '$$' || ifnull(val, '(null)') || '$$f'",
               "pairs have a kvHash other than key$$val$$f (filters would not find them)");
  for (const char* list : {"HRLMOfflineProduct_filters", "HRLMOfflineProduct_attributes"}) {
    countProblem(db, problems,
                 std::string("SELECT count(*) FROM ") + list +
                     " l WHERE NOT EXISTS (SELECT 1 FROM HRLMProductKV kv WHERE kv.id = l.kv)",
                 std::string("rows of ") + list + " name a pair that does not exist");
  }
  for (const char* list : {"HRLMOfflineProduct_filters", "HRLMOfflineProduct_attributes",
                           "HRLMProductImage", "HRLMBatchedLab", "HRLMSpectrum"}) {
    countProblem(db, problems,
                 std::string("SELECT count(*) FROM ") + list +
                     " l WHERE NOT EXISTS (SELECT 1 FROM HRLMOfflineProduct p "
                     "WHERE p.id = l.product)",
                 std::string("rows of ") + list + " name a product that does not exist");
  }
  const std::string observers =
      "FROM HRLMBatchedLab WHERE observer IS NOT NULL AND observer NOT IN ('TWO_DEGREE', "
      "'TEN_DEGREE')";
  if (const auto n = scalar(db, "SELECT count(*) " + observers); n != 0) {
    problems.push_back(std::to_string(n) + " colours name their observer " +
                       examples(db, "SELECT DISTINCT observer " + observers) +
                       ": colour search compares TWO_DEGREE and TEN_DEGREE only");
  }
  const std::string illuminants =
      "FROM HRLMBatchedLab WHERE illuminant IS NOT NULL AND illuminant NOT IN ('D50', 'D65', "
      "'A', 'B', 'C', 'F2', 'F7', 'F11')";
  if (const auto n = scalar(db, "SELECT count(*) " + illuminants); n != 0) {
    problems.push_back(std::to_string(n) + " colours name an illuminant " +
                       examples(db, "SELECT DISTINCT illuminant " + illuminants) +
                       " that is none of D50, D65, A, B, C, F2, F7, F11");
  }
  countProblem(db, problems,
               "SELECT count(*) FROM HRLMSpectrum WHERE typeof(curve) != 'blob' OR "
               "length(curve) % 4 != 0",
               "spectra have a curve that is not a blob of 32-bit floats");
  for (auto& d : damage(db)) problems.push_back("damaged: " + d);
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
