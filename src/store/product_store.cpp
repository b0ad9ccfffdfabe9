#include "product_store.h"

#include <sqlite3.h>

#include <cstring>

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

using predicate::SqlMapping;

Bytes floatsToBlob(const std::vector<float>& values) {
  Bytes out(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &values[i], 4);
    for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  return out;
}

std::vector<float> blobToFloats(const Bytes& blob) {
  std::vector<float> out(blob.size() / 4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::uint32_t bits = 0;
    for (int b = 0; b < 4; ++b) bits |= static_cast<std::uint32_t>(blob[i * 4 + b]) << (8 * b);
    std::memcpy(&out[i], &bits, 4);
  }
  return out;
}

void writeKV(sql::Database& db, const HRLMProductKV& kv) {
  sql::Statement s(db,
                   "INSERT INTO HRLMProductKV(kvHash, key, val, keyTranslated, valTranslated, "
                   "isFilter) VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(kvHash) DO UPDATE SET "
                   "isFilter = max(isFilter, excluded.isFilter)");
  s.bind(1, std::string_view(kv.kvHash))
      .bind(2, kv.key)
      .bind(3, kv.val)
      .bind(4, kv.keyTranslated)
      .bind(5, kv.valTranslated)
      .bind(6, static_cast<std::int64_t>(kv.isFilter ? 1 : 0));
  s.run();
}

// A pair from the columns kvHash, key, val, keyTranslated, valTranslated, isFilter.
HRLMProductKV kvFromRow(const sql::Statement& s) {
  HRLMProductKV kv;
  kv.kvHash = s.text(0);
  kv.key = s.optionalText(1);
  kv.val = s.optionalText(2);
  kv.keyTranslated = s.optionalText(3);
  kv.valTranslated = s.optionalText(4);
  kv.isFilter = s.int64(5) != 0;
  return kv;
}

std::vector<HRLMProductKV> readKVs(sql::Database& db, const char* table, const std::string& uuid) {
  sql::Statement s(db, std::string("SELECT kv.kvHash, kv.key, kv.val, kv.keyTranslated, "
                                   "kv.valTranslated, kv.isFilter FROM ") +
                           table +
                           " l JOIN HRLMProductKV kv ON kv.kvHash = l.kvHash "
                           "WHERE l.productUuid = ?1 ORDER BY l.position");
  s.bind(1, std::string_view(uuid));
  std::vector<HRLMProductKV> out;
  while (s.step()) out.push_back(kvFromRow(s));
  return out;
}

void fold(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::string folded = predicate::foldCaseAndDiacritics(t ? t : "");
  sqlite3_result_text(ctx, folded.c_str(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

void registerFold(sql::Database& db) {
  sqlite3_create_function(db.handle(), "hcf_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          fold, nullptr, nullptr);
}

std::shared_ptr<SqlMapping> columns(std::vector<std::pair<std::string, std::string>> map) {
  auto m = std::make_shared<SqlMapping>();
  m->column = [map = std::move(map)](std::string_view k) -> std::optional<std::string> {
    for (const auto& [key, sql] : map) {
      if (key == k) return sql;
    }
    return std::nullopt;
  };
  return m;
}

// Only the store's own sort keys ever enter the SQL text.
std::string orderBy(const std::vector<HCFProductSearchSortDescriptor>& sorts) {
  static const char* const kKeys[] = {"vendorOrder", "code",       "name",
                                      "hue",         "saturation", "brightness"};
  std::string out;
  for (const auto& d : sorts) {
    for (const char* k : kKeys) {
      if (d.sortKey == k) {
        out += (out.empty() ? "" : ", ") + std::string("p.") + k + (d.ascending ? " ASC" : " DESC");
      }
    }
  }
  return out.empty() ? "p.rowid" : out + ", p.rowid";
}

}  // namespace

void bindValues(sql::Statement& s, const std::vector<predicate::Value>& values, int first) {
  int at = first;
  for (const auto& v : values) {
    std::visit(
        [&](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::nullptr_t>) {
            s.bindNull(at);
          } else if constexpr (std::is_same_v<T, bool>) {
            s.bind(at, static_cast<std::int64_t>(x ? 1 : 0));
          } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
            s.bind(at, x);
          } else {
            s.bind(at, std::string_view(x));
          }
        },
        v);
    ++at;
  }
}

const SqlMapping& productMapping() {
  static const SqlMapping mapping = [] {
    SqlMapping m = *columns({{"uuid", "p.uuid"},
                             {"name", "p.name"},
                             {"code", "p.code"},
                             {"hex", "p.hex"},
                             {"vendorOrder", "p.vendorOrder"},
                             {"hue", "p.hue"},
                             {"saturation", "p.saturation"},
                             {"brightness", "p.brightness"},
                             {"isInspiration", "p.isInspiration"}});
    const auto kvColumns = columns({{"kvHash", "kv.kvHash"},
                                    {"key", "kv.key"},
                                    {"val", "kv.val"},
                                    {"keyTranslated", "kv.keyTranslated"},
                                    {"valTranslated", "kv.valTranslated"}});
    const auto colorColumns = columns({{"d50L", "c.d50L"},
                                       {"d50A", "c.d50A"},
                                       {"d50B", "c.d50B"},
                                       {"batch", "c.batch"},
                                       {"illuminant", "c.illuminant"},
                                       {"observer", "c.observer"},
                                       {"model", "c.model"},
                                       {"name", "c.name"},
                                       {"hex", "c.hex"}});
    m.list = [kvColumns, colorColumns](std::string_view k) -> std::optional<SqlMapping::List> {
      if (k == "filters" || k == "attributes") {
        const std::string table =
            k == "filters" ? "HRLMOfflineProduct_filters" : "HRLMOfflineProduct_attributes";
        return SqlMapping::List{"SELECT 1 FROM " + table +
                                    " l JOIN HRLMProductKV kv ON kv.kvHash = l.kvHash "
                                    "WHERE l.productUuid = p.uuid",
                                kvColumns};
      }
      if (k == "colors") {
        return SqlMapping::List{"SELECT 1 FROM HRLMBatchedLab c WHERE c.productUuid = p.uuid",
                                colorColumns};
      }
      return std::nullopt;
    };
    return m;
  }();
  return mapping;
}

void writeProducts(sql::Database& db, const std::vector<HRLMOfflineProduct>& products) {
  for (const auto& p : products) {
    for (const char* table : {"HRLMOfflineProduct_filters", "HRLMOfflineProduct_attributes",
                              "HRLMProductImage", "HRLMBatchedLab", "HRLMSpectrum"}) {
      sql::Statement del(db, std::string("DELETE FROM ") + table + " WHERE productUuid = ?1");
      del.bind(1, std::string_view(p.uuid));
      del.run();
    }
    sql::Statement s(db,
                     "INSERT OR REPLACE INTO HRLMOfflineProduct(uuid, name, code, hex, "
                     "vendorOrder, hue, saturation, brightness, isInspiration) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    s.bind(1, std::string_view(p.uuid))
        .bind(2, std::string_view(p.name))
        .bind(3, std::string_view(p.code))
        .bind(4, std::string_view(p.hex))
        .bind(5, p.vendorOrder)
        .bind(6, p.hue)
        .bind(7, p.saturation)
        .bind(8, p.brightness)
        .bind(9, static_cast<std::int64_t>(p.isInspiration ? 1 : 0));
    s.run();
    const auto link = [&](const char* table, const std::vector<HRLMProductKV>& kvs) {
      for (std::size_t i = 0; i < kvs.size(); ++i) {
        writeKV(db, kvs[i]);
        sql::Statement l(db, std::string("INSERT INTO ") + table +
                                 "(productUuid, position, kvHash) VALUES(?1, ?2, ?3)");
        l.bind(1, std::string_view(p.uuid))
            .bind(2, static_cast<std::int64_t>(i))
            .bind(3, std::string_view(kvs[i].kvHash));
        l.run();
      }
    };
    link("HRLMOfflineProduct_filters", p.filters);
    link("HRLMOfflineProduct_attributes", p.attributes);
    for (std::size_t i = 0; i < p.images.size(); ++i) {
      sql::Statement im(db,
                        "INSERT INTO HRLMProductImage(productUuid, position, key, url) "
                        "VALUES(?1, ?2, ?3, ?4)");
      im.bind(1, std::string_view(p.uuid))
          .bind(2, static_cast<std::int64_t>(i))
          .bind(3, std::string_view(p.images[i].key))
          .bind(4, std::string_view(p.images[i].url));
      im.run();
    }
    for (std::size_t i = 0; i < p.colors.size(); ++i) {
      const auto& c = p.colors[i];
      sql::Statement cs(db,
                        "INSERT INTO HRLMBatchedLab(productUuid, position, d50L, d50A, d50B, "
                        "batch, name, comp, hex, owningCompositionDetailPosition, "
                        "owningProductUUID, illuminant, observer, model) "
                        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
      cs.bind(1, std::string_view(p.uuid))
          .bind(2, static_cast<std::int64_t>(i))
          .bind(3, static_cast<double>(c.d50L))
          .bind(4, static_cast<double>(c.d50A))
          .bind(5, static_cast<double>(c.d50B))
          .bind(6, std::string_view(c.batch))
          .bind(7, c.name)
          .bind(8, static_cast<double>(c.comp))
          .bind(9, std::string_view(c.hex))
          .bind(10, static_cast<std::int64_t>(c.owningCompositionDetailPosition))
          .bind(11, std::string_view(c.owningProductUUID))
          .bind(12, c.illuminant)
          .bind(13, c.observer)
          .bind(14, c.model);
      cs.run();
    }
    for (std::size_t i = 0; i < p.spectrums.size(); ++i) {
      const auto& sp = p.spectrums[i];
      sql::Statement ss(db,
                        "INSERT INTO HRLMSpectrum(productUuid, position, start, step, batch, "
                        "model, owningCompositionDetailPosition, owningProductUUID, curve) "
                        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
      ss.bind(1, std::string_view(p.uuid))
          .bind(2, static_cast<std::int64_t>(i))
          .bind(3, static_cast<std::int64_t>(sp.start))
          .bind(4, static_cast<std::int64_t>(sp.step))
          .bind(5, std::string_view(sp.batch))
          .bind(6, sp.model)
          .bind(7, static_cast<std::int64_t>(sp.owningCompositionDetailPosition))
          .bind(8, std::string_view(sp.owningProductUUID))
          .bind(9, floatsToBlob(sp.curve));
      ss.run();
    }
  }
}

std::optional<HRLMOfflineProduct> readProduct(sql::Database& db, const std::string& uuid) {
  sql::Statement s(db,
                   "SELECT uuid, name, code, hex, vendorOrder, hue, saturation, brightness, "
                   "isInspiration FROM HRLMOfflineProduct WHERE uuid = ?1");
  s.bind(1, std::string_view(uuid));
  if (!s.step()) return std::nullopt;
  HRLMOfflineProduct p;
  p.uuid = s.text(0);
  p.name = s.text(1);
  p.code = s.text(2);
  p.hex = s.text(3);
  p.vendorOrder = s.real(4);
  p.hue = s.real(5);
  p.saturation = s.real(6);
  p.brightness = s.real(7);
  p.isInspiration = s.int64(8) != 0;
  p.filters = readKVs(db, "HRLMOfflineProduct_filters", uuid);
  p.attributes = readKVs(db, "HRLMOfflineProduct_attributes", uuid);
  sql::Statement im(
      db, "SELECT key, url FROM HRLMProductImage WHERE productUuid = ?1 ORDER BY position");
  im.bind(1, std::string_view(uuid));
  while (im.step()) p.images.push_back({im.text(0), im.text(1)});
  sql::Statement cs(db,
                    "SELECT d50L, d50A, d50B, batch, name, comp, hex, "
                    "owningCompositionDetailPosition, owningProductUUID, illuminant, observer, "
                    "model FROM HRLMBatchedLab WHERE productUuid = ?1 ORDER BY position");
  cs.bind(1, std::string_view(uuid));
  while (cs.step()) {
    HRLMBatchedLab c;
    c.d50L = static_cast<float>(cs.real(0));
    c.d50A = static_cast<float>(cs.real(1));
    c.d50B = static_cast<float>(cs.real(2));
    c.batch = cs.text(3);
    c.name = cs.optionalText(4);
    c.comp = static_cast<float>(cs.real(5));
    c.hex = cs.text(6);
    c.owningCompositionDetailPosition = static_cast<std::int32_t>(cs.int64(7));
    c.owningProductUUID = cs.text(8);
    c.illuminant = cs.optionalText(9);
    c.observer = cs.optionalText(10);
    c.model = cs.optionalText(11);
    p.colors.push_back(std::move(c));
  }
  sql::Statement ss(db,
                    "SELECT start, step, batch, model, owningCompositionDetailPosition, "
                    "owningProductUUID, curve FROM HRLMSpectrum WHERE productUuid = ?1 "
                    "ORDER BY position");
  ss.bind(1, std::string_view(uuid));
  while (ss.step()) {
    HRLMSpectrum sp;
    sp.start = static_cast<std::int32_t>(ss.int64(0));
    sp.step = static_cast<std::int32_t>(ss.int64(1));
    sp.batch = ss.text(2);
    sp.model = ss.optionalText(3);
    sp.owningCompositionDetailPosition = static_cast<std::int32_t>(ss.int64(4));
    sp.owningProductUUID = ss.text(5);
    sp.curve = blobToFloats(ss.blob(6));
    p.spectrums.push_back(std::move(sp));
  }
  return p;
}

std::vector<std::string> matchingUuids(sql::Database& db, const predicate::Predicate& where,
                                       const std::vector<HCFProductSearchSortDescriptor>& sorts,
                                       std::uint64_t offset, std::uint64_t limit) {
  registerFold(db);
  const auto condition = where.sql(productMapping());
  if (!condition) return {};
  sql::Statement s(db, "SELECT p.uuid FROM HRLMOfflineProduct p WHERE " + condition->sql +
                           " ORDER BY " + orderBy(sorts) + " LIMIT ? OFFSET ?");
  bindValues(s, condition->parameters, 1);
  const int next = static_cast<int>(condition->parameters.size()) + 1;
  const auto clamp = [](std::uint64_t v) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(v, INT64_MAX));
  };
  s.bind(next, clamp(limit)).bind(next + 1, clamp(offset));
  std::vector<std::string> out;
  while (s.step()) out.push_back(s.text(0));
  return out;
}

std::uint64_t countMatching(sql::Database& db, const predicate::Predicate& where) {
  registerFold(db);
  const auto condition = where.sql(productMapping());
  if (!condition) return 0;
  sql::Statement s(db, "SELECT count(*) FROM HRLMOfflineProduct p WHERE " + condition->sql);
  bindValues(s, condition->parameters, 1);
  return s.step() ? static_cast<std::uint64_t>(s.int64(0)) : 0;
}

std::vector<HRLMProductKV> filtersInUse(sql::Database& db,
                                        const std::optional<predicate::Predicate>& where) {
  registerFold(db);
  std::string sql =
      "SELECT kv.kvHash, kv.key, kv.val, kv.keyTranslated, kv.valTranslated, kv.isFilter "
      "FROM HRLMProductKV kv WHERE kv.kvHash IN (SELECT lf.kvHash FROM HRLMOfflineProduct_filters "
      "lf";
  std::vector<predicate::Value> parameters;
  if (where && !where->isTrue()) {
    const auto condition = where->sql(productMapping());
    if (!condition) return {};
    sql += " JOIN HRLMOfflineProduct p ON p.uuid = lf.productUuid WHERE " + condition->sql;
    parameters = condition->parameters;
  }
  sql += ")";
  sql::Statement s(db, sql);
  bindValues(s, parameters, 1);
  std::vector<HRLMProductKV> out;
  while (s.step()) out.push_back(kvFromRow(s));
  return out;
}

}  // namespace store
HCF_NAMESPACE_END
