#include "product_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "color_scan_store.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/store/hcf_realm_manager.h"
#include "hcf/store/hcf_realm_serialization.h"

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

// A colour from the columns d50L … model, from `first`; its owner defaults to `product`.
HRLMBatchedLab colorFromRow(const sql::Statement& cs, int first, const std::string& product) {
  HRLMBatchedLab c;
  c.d50L = static_cast<float>(cs.real(first));
  c.d50A = static_cast<float>(cs.real(first + 1));
  c.d50B = static_cast<float>(cs.real(first + 2));
  c.batch = cs.text(first + 3);
  c.name = cs.optionalText(first + 4);
  c.comp = static_cast<float>(cs.real(first + 5));
  c.hex = cs.text(first + 6);
  c.owningCompositionDetailPosition = static_cast<std::int32_t>(cs.int64(first + 7));
  c.owningProductUUID = cs.optionalText(first + 8).value_or(product);
  c.illuminant = cs.optionalText(first + 9);
  c.observer = cs.optionalText(first + 10);
  c.model = cs.optionalText(first + 11);
  return c;
}

// A spectrum from the columns start … curve, from `first`.
HRLMSpectrum spectrumFromRow(const sql::Statement& ss, int first, const std::string& product) {
  HRLMSpectrum sp;
  sp.start = static_cast<std::int32_t>(ss.int64(first));
  sp.step = static_cast<std::int32_t>(ss.int64(first + 1));
  sp.batch = ss.text(first + 2);
  sp.model = ss.optionalText(first + 3);
  sp.owningCompositionDetailPosition = static_cast<std::int32_t>(ss.int64(first + 4));
  sp.owningProductUUID = ss.optionalText(first + 5).value_or(product);
  sp.curve = blobToFloats(ss.blob(first + 6));
  return sp;
}

// A product's own columns uuid … isInspiration, from `first`.
HRLMOfflineProduct productFromRow(const sql::Statement& s, int first) {
  HRLMOfflineProduct p;
  p.uuid = s.text(first);
  p.name = s.text(first + 1);
  p.code = s.text(first + 2);
  p.hex = s.text(first + 3);
  p.vendorOrder = s.real(first + 4);
  p.hue = s.real(first + 5);
  p.saturation = s.real(first + 6);
  p.brightness = s.real(first + 7);
  p.isInspiration = s.int64(first + 8) != 0;
  return p;
}

// The pairs of one product's list, in order.
std::string kvListSql(const char* table) {
  return std::string(
             "SELECT kv.kvHash, kv.key, kv.val, kv.keyTranslated, kv.valTranslated, "
             "kv.isFilter FROM ") +
         table +
         " l JOIN HRLMProductKV kv ON kv.id = l.kv WHERE l.product = ?1 ORDER BY l.position";
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
        // Names sort as people read them: case and diacritics do not count.
        const std::string collation = std::string(k) == "name" ? " COLLATE hcf_text" : "";
        out += (out.empty() ? "" : ", ") + std::string("p.") + k + collation +
               (d.ascending ? " ASC" : " DESC");
      }
    }
  }
  return out.empty() ? "p.id" : out + ", p.id";
}

void fold(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::string folded = predicate::foldCaseAndDiacritics(t ? t : "");
  sqlite3_result_text(ctx, folded.c_str(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

}  // namespace

HRLMProductKV kvFromRow(const sql::Statement& s, int first) {
  HRLMProductKV kv;
  kv.kvHash = s.text(first);
  kv.key = s.optionalText(first + 1);
  kv.val = s.optionalText(first + 2);
  kv.keyTranslated = s.optionalText(first + 3);
  kv.valTranslated = s.optionalText(first + 4);
  kv.isFilter = s.int64(first + 5) != 0;
  return kv;
}

void registerFold(sql::Database& db) {
  sqlite3_create_function(db.handle(), "hcf_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          fold, nullptr, nullptr);
}

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
        return SqlMapping::List{
            "SELECT l.product FROM HRLMProductKV kv JOIN " + table + " l ON l.kv = kv.id", "p.id",
            kvColumns};
      }
      if (k == "colors") {
        return SqlMapping::List{"SELECT c.product FROM HRLMBatchedLab c", "p.id", colorColumns};
      }
      return std::nullopt;
    };
    return m;
  }();
  return mapping;
}

ProductWriter::ProductWriter(sql::Database& db)
    : db_(db),
      deleteLists_{
          std::make_unique<sql::Statement>(
              db, "DELETE FROM HRLMOfflineProduct_filters WHERE product = ?1"),
          std::make_unique<sql::Statement>(
              db, "DELETE FROM HRLMOfflineProduct_attributes WHERE product = ?1"),
          std::make_unique<sql::Statement>(db, "DELETE FROM HRLMProductImage WHERE product = ?1"),
          std::make_unique<sql::Statement>(db, "DELETE FROM HRLMBatchedLab WHERE product = ?1"),
          std::make_unique<sql::Statement>(db, "DELETE FROM HRLMSpectrum WHERE product = ?1"),
          std::make_unique<sql::Statement>(db, "DELETE FROM HRLMOfflineProduct WHERE id = ?1")},
      findProduct_(db, "SELECT id FROM HRLMOfflineProduct WHERE uuid = ?1"),
      product_(db,
               "INSERT INTO HRLMOfflineProduct(id, uuid, name, code, hex, vendorOrder, hue, "
               "saturation, brightness, isInspiration) "
               "VALUES(?10, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"),
      findKV_(db, "SELECT id, isFilter FROM HRLMProductKV WHERE kvHash = ?1"),
      kv_(db,
          "INSERT INTO HRLMProductKV(kvHash, key, val, keyTranslated, valTranslated, isFilter) "
          "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"),
      markFilter_(db, "UPDATE HRLMProductKV SET isFilter = 1 WHERE id = ?1"),
      filterLink_(db,
                  "INSERT INTO HRLMOfflineProduct_filters(product, position, kv) "
                  "VALUES(?1, ?2, ?3)"),
      attributeLink_(db,
                     "INSERT INTO HRLMOfflineProduct_attributes(product, position, kv) "
                     "VALUES(?1, ?2, ?3)"),
      image_(db,
             "INSERT INTO HRLMProductImage(product, position, key, url) VALUES(?1, ?2, ?3, ?4)"),
      color_(
          db,
          "INSERT INTO HRLMBatchedLab(product, position, d50L, d50A, d50B, batch, name, "
          "comp, hex, owningCompositionDetailPosition, owningProductUUID, illuminant, "
          "observer, model) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)"),
      spectrum_(db,
                "INSERT INTO HRLMSpectrum(product, position, start, step, batch, model, "
                "owningCompositionDetailPosition, owningProductUUID, curve) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)") {
  // The products change, so the scan layout built from them is stale.
  clearColorScan(db_);
}

ProductWriter::~ProductWriter() = default;

std::int64_t ProductWriter::kvId(const HRLMProductKV& kv) {
  // A pair shared by many products is looked up once per writer.
  auto it = kvs_.find(kv.kvHash);
  if (it == kvs_.end()) {
    findKV_.reset();
    findKV_.bind(1, std::string_view(kv.kvHash));
    if (findKV_.step()) {
      it = kvs_.emplace(kv.kvHash, KnownKV{findKV_.int64(0), findKV_.int64(1) != 0}).first;
    } else {
      kv_.reset();
      kv_.bind(1, std::string_view(kv.kvHash))
          .bind(2, kv.key)
          .bind(3, kv.val)
          .bind(4, kv.keyTranslated)
          .bind(5, kv.valTranslated)
          .bind(6, static_cast<std::int64_t>(kv.isFilter ? 1 : 0));
      kv_.run();
      it = kvs_.emplace(kv.kvHash, KnownKV{db_.lastInsertRowid(), kv.isFilter}).first;
    }
  }
  if (kv.isFilter && !it->second.isFilter) {
    markFilter_.reset();
    markFilter_.bind(1, it->second.id);
    markFilter_.run();
    it->second.isFilter = true;
  }
  return it->second.id;
}

void ProductWriter::link(sql::Statement& s, std::int64_t product,
                         const std::vector<HRLMProductKV>& kvs) {
  for (std::size_t i = 0; i < kvs.size(); ++i) {
    const std::int64_t kv = kvId(kvs[i]);
    s.reset();
    s.bind(1, product).bind(2, static_cast<std::int64_t>(i)).bind(3, kv);
    s.run();
  }
}

void ProductWriter::write(const HRLMOfflineProduct& p, bool replacing) {
  product_.reset();
  if (replacing) {
    // A stored product of the same uuid goes with its lists; the new one takes its id.
    findProduct_.reset();
    findProduct_.bind(1, std::string_view(p.uuid));
    if (findProduct_.step()) {
      const std::int64_t id = findProduct_.int64(0);
      for (auto& del : deleteLists_) {
        del->reset();
        del->bind(1, id);
        del->run();
      }
      product_.bind(10, id);
    }
  }
  product_.bind(1, std::string_view(p.uuid))
      .bind(2, std::string_view(p.name))
      .bind(3, std::string_view(p.code))
      .bind(4, std::string_view(p.hex))
      .bind(5, p.vendorOrder)
      .bind(6, p.hue)
      .bind(7, p.saturation)
      .bind(8, p.brightness)
      .bind(9, static_cast<std::int64_t>(p.isInspiration ? 1 : 0));
  product_.run();
  const std::int64_t id = db_.lastInsertRowid();
  link(filterLink_, id, p.filters);
  link(attributeLink_, id, p.attributes);
  for (std::size_t i = 0; i < p.images.size(); ++i) {
    image_.reset();
    image_.bind(1, id)
        .bind(2, static_cast<std::int64_t>(i))
        .bind(3, std::string_view(p.images[i].key))
        .bind(4, std::string_view(p.images[i].url));
    image_.run();
  }
  for (std::size_t i = 0; i < p.colors.size(); ++i) {
    const auto& c = p.colors[i];
    color_.reset();
    color_.bind(1, id)
        .bind(2, static_cast<std::int64_t>(i))
        .bind(3, static_cast<double>(c.d50L))
        .bind(4, static_cast<double>(c.d50A))
        .bind(5, static_cast<double>(c.d50B))
        .bind(6, std::string_view(c.batch))
        .bind(7, c.name)
        .bind(8, static_cast<double>(c.comp))
        .bind(9, std::string_view(c.hex))
        .bind(10, static_cast<std::int64_t>(c.owningCompositionDetailPosition))
        .bind(11, std::string_view(c.owningProductUUID.empty() ? p.uuid : c.owningProductUUID))
        .bind(12, c.illuminant)
        .bind(13, c.observer)
        .bind(14, c.model);
    color_.run();
  }
  for (std::size_t i = 0; i < p.spectrums.size(); ++i) {
    const auto& sp = p.spectrums[i];
    spectrum_.reset();
    spectrum_.bind(1, id)
        .bind(2, static_cast<std::int64_t>(i))
        .bind(3, static_cast<std::int64_t>(sp.start))
        .bind(4, static_cast<std::int64_t>(sp.step))
        .bind(5, std::string_view(sp.batch))
        .bind(6, sp.model)
        .bind(7, static_cast<std::int64_t>(sp.owningCompositionDetailPosition))
        .bind(8, std::string_view(sp.owningProductUUID.empty() ? p.uuid : sp.owningProductUUID))
        .bind(9, floatsToBlob(sp.curve));
    spectrum_.run();
  }
}

bool isInspiration(const HCFHalvernCloudProduct& p) {
  if (!p.filters) return false;
  return std::any_of(p.filters->begin(), p.filters->end(), [](const HCFProductKV& kv) {
    return kv.key == "category" && kv.val == "Inspirations";
  });
}

HRLMOfflineProduct recordForStore(const HCFHalvernCloudProduct& product) {
  auto record = HCFRealmSerialization::realmProductFromProduct(product);
  record.isInspiration = isInspiration(product);
  for (auto& c : record.colors) {
    if (c.observer) {
      c.observer = HTColorUtils::toObserverTextStr(HTColorUtils::fromObserverStr(*c.observer));
    }
  }
  return record;
}

void writeProducts(sql::Database& db, const std::vector<HRLMOfflineProduct>& products) {
  ProductWriter writer(db);
  for (const auto& p : products) writer.write(p);
}

std::optional<std::int64_t> productId(sql::Database& db, const std::string& uuid) {
  sql::Statement s(db, "SELECT id FROM HRLMOfflineProduct WHERE uuid = ?1");
  s.bind(1, std::string_view(uuid));
  if (!s.step()) return std::nullopt;
  return s.int64(0);
}

ProductReader::ProductReader(sql::Database& db)
    : product_(db,
               "SELECT uuid, name, code, hex, vendorOrder, hue, saturation, brightness, "
               "isInspiration FROM HRLMOfflineProduct WHERE id = ?1"),
      filters_(db, kvListSql("HRLMOfflineProduct_filters")),
      attributes_(db, kvListSql("HRLMOfflineProduct_attributes")),
      images_(db, "SELECT key, url FROM HRLMProductImage WHERE product = ?1 ORDER BY position"),
      colors_(db,
              "SELECT d50L, d50A, d50B, batch, name, comp, hex, owningCompositionDetailPosition, "
              "owningProductUUID, illuminant, observer, model FROM HRLMBatchedLab "
              "WHERE product = ?1 ORDER BY position"),
      spectra_(db,
               "SELECT start, step, batch, model, owningCompositionDetailPosition, "
               "owningProductUUID, curve FROM HRLMSpectrum WHERE product = ?1 "
               "ORDER BY position") {}

std::optional<HRLMOfflineProduct> ProductReader::read(std::int64_t id) {
  for (sql::Statement* s : {&product_, &filters_, &attributes_, &images_, &colors_, &spectra_}) {
    s->reset();
    s->bind(1, id);
  }
  if (!product_.step()) return std::nullopt;
  HRLMOfflineProduct p = productFromRow(product_, 0);
  while (filters_.step()) p.filters.push_back(kvFromRow(filters_));
  while (attributes_.step()) p.attributes.push_back(kvFromRow(attributes_));
  while (images_.step()) p.images.push_back({images_.text(0), images_.text(1)});
  while (colors_.step()) p.colors.push_back(colorFromRow(colors_, 0, p.uuid));
  while (spectra_.step()) p.spectrums.push_back(spectrumFromRow(spectra_, 0, p.uuid));
  return p;
}

std::vector<std::optional<HRLMOfflineProduct>> readProducts(sql::Database& db,
                                                            const std::vector<std::int64_t>& ids) {
  // Each list is read for a whole slice of products at once, in product and position order.
  constexpr std::size_t kSlice = 256;
  std::vector<std::optional<HRLMOfflineProduct>> out;
  out.reserve(ids.size());
  const std::string in = " IN (SELECT value FROM json_each(?1))";
  sql::Statement products(db,
                          "SELECT id, uuid, name, code, hex, vendorOrder, hue, saturation, "
                          "brightness, isInspiration FROM HRLMOfflineProduct WHERE id" +
                              in);
  const auto kvList = [&](const char* table) {
    return std::string(
               "SELECT l.product, kv.kvHash, kv.key, kv.val, kv.keyTranslated, "
               "kv.valTranslated, kv.isFilter FROM ") +
           table + " l JOIN HRLMProductKV kv ON kv.id = l.kv WHERE l.product" + in +
           " ORDER BY l.product, l.position";
  };
  sql::Statement filters(db, kvList("HRLMOfflineProduct_filters"));
  sql::Statement attributes(db, kvList("HRLMOfflineProduct_attributes"));
  sql::Statement images(db, "SELECT product, key, url FROM HRLMProductImage WHERE product" + in +
                                " ORDER BY product, position");
  sql::Statement colors(db,
                        "SELECT product, d50L, d50A, d50B, batch, name, comp, hex, "
                        "owningCompositionDetailPosition, owningProductUUID, illuminant, observer, "
                        "model FROM HRLMBatchedLab WHERE product" +
                            in + " ORDER BY product, position");
  sql::Statement spectra(db,
                         "SELECT product, start, step, batch, model, "
                         "owningCompositionDetailPosition, owningProductUUID, curve FROM "
                         "HRLMSpectrum WHERE product" +
                             in + " ORDER BY product, position");
  for (std::size_t first = 0; first < ids.size(); first += kSlice) {
    const std::size_t end = std::min(ids.size(), first + kSlice);
    std::string list = "[";
    for (std::size_t i = first; i < end; ++i) {
      list += (i == first ? "" : ",") + std::to_string(ids[i]);
    }
    list += "]";
    std::unordered_map<std::int64_t, HRLMOfflineProduct> slice;
    const auto run = [&](sql::Statement& s, const auto& add) {
      s.reset();
      s.bind(1, std::string_view(list));
      while (s.step()) {
        const auto it = slice.find(s.int64(0));
        if (it != slice.end()) add(it->second);
      }
    };
    products.reset();
    products.bind(1, std::string_view(list));
    while (products.step()) slice.emplace(products.int64(0), productFromRow(products, 1));
    run(filters, [&](HRLMOfflineProduct& p) { p.filters.push_back(kvFromRow(filters, 1)); });
    run(attributes,
        [&](HRLMOfflineProduct& p) { p.attributes.push_back(kvFromRow(attributes, 1)); });
    run(images, [&](HRLMOfflineProduct& p) {
      p.images.push_back({images.text(1), images.text(2)});
    });
    run(colors,
        [&](HRLMOfflineProduct& p) { p.colors.push_back(colorFromRow(colors, 1, p.uuid)); });
    run(spectra,
        [&](HRLMOfflineProduct& p) { p.spectrums.push_back(spectrumFromRow(spectra, 1, p.uuid)); });
    for (std::size_t i = first; i < end; ++i) {
      const auto it = slice.find(ids[i]);
      out.push_back(it == slice.end() ? std::nullopt
                                      : std::optional<HRLMOfflineProduct>(it->second));
    }
  }
  return out;
}

std::optional<HRLMOfflineProduct> readProduct(sql::Database& db, std::int64_t id) {
  return ProductReader(db).read(id);
}

std::optional<HRLMOfflineProduct> readProduct(sql::Database& db, const std::string& uuid) {
  const auto id = productId(db, uuid);
  if (!id) return std::nullopt;
  return readProduct(db, *id);
}

std::optional<Query> matchingIdsQuery(const predicate::Predicate& where,
                                      const std::vector<HCFProductSearchSortDescriptor>& sorts) {
  const auto condition = where.sql(productMapping());
  if (!condition) return std::nullopt;
  return Query{"SELECT p.id FROM HRLMOfflineProduct p WHERE " + condition->sql + " ORDER BY " +
                   orderBy(sorts) + " LIMIT ? OFFSET ?",
               condition->parameters};
}

std::optional<Query> filtersInUseQuery(const std::optional<predicate::Predicate>& where) {
  // One probe per distinct pair through the lists' index: a catalogue has far fewer pairs
  // than products, and a probe stops at the first product that uses the pair. A pair in a
  // product's filter list is a filter value, whatever its flag says.
  std::string sql =
      "SELECT kv.kvHash, kv.key, kv.val, kv.keyTranslated, kv.valTranslated, 1 "
      "FROM HRLMProductKV kv WHERE EXISTS (SELECT 1 FROM HRLMOfflineProduct_filters lf";
  std::vector<predicate::Value> parameters;
  if (where && !where->isTrue()) {
    const auto condition = where->sql(productMapping());
    if (!condition) return std::nullopt;
    sql +=
        " JOIN HRLMOfflineProduct p ON p.id = lf.product WHERE lf.kv = kv.id "
        "AND (" +
        condition->sql + ")";
    parameters = condition->parameters;
  } else {
    sql += " WHERE lf.kv = kv.id";
  }
  sql += ")";
  return Query{sql, parameters};
}

std::vector<std::int64_t> matchingIds(sql::Database& db, const predicate::Predicate& where,
                                      const std::vector<HCFProductSearchSortDescriptor>& sorts,
                                      std::uint64_t offset, std::uint64_t limit) {
  registerFold(db);
  const auto query = matchingIdsQuery(where, sorts);
  if (!query) return {};
  sql::Statement s(db, query->sql);
  bindValues(s, query->parameters, 1);
  const int next = static_cast<int>(query->parameters.size()) + 1;
  const auto clamp = [](std::uint64_t v) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(v, INT64_MAX));
  };
  s.bind(next, clamp(limit)).bind(next + 1, clamp(offset));
  std::vector<std::int64_t> out;
  while (s.step()) out.push_back(s.int64(0));
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
  const auto query = filtersInUseQuery(where);
  if (!query) return {};
  sql::Statement s(db, query->sql);
  bindValues(s, query->parameters, 1);
  std::vector<HRLMProductKV> out;
  while (s.step()) out.push_back(kvFromRow(s));
  return out;
}

std::vector<PinnedQuery> pinnedQueries() {
  using predicate::Predicate;
  const auto notInspiration = Predicate::equal("isInspiration", false);
  const auto withFilter = Predicate::andOf(
      {notInspiration, Predicate::anyElement("filters", "filter",
                                             Predicate::equal("kvHash", std::string("k$$v$$f")))});
  std::vector<PinnedQuery> out;
  const auto defaultOrder = HCFRealmManager::validedSortDescriptorsFromArray({});
  out.push_back({"sorted page", matchingIdsQuery(notInspiration, defaultOrder)->sql});
  out.push_back({"sorted page with a filter", matchingIdsQuery(withFilter, defaultOrder)->sql});
  out.push_back({"filter values in use", filtersInUseQuery(std::nullopt)->sql});
  out.push_back({"filter values in use for a selection", filtersInUseQuery(withFilter)->sql});
  out.push_back({"colour entries of a group",
                 "SELECT rank, position, L, a, b FROM HCFColorEntry WHERE grp = ?1 "
                 "ORDER BY rank, position"});
  out.push_back({"product at a rank", "SELECT product FROM HCFProductRank WHERE rank = ?1"});
  out.push_back({"colours of a product",
                 "SELECT d50L FROM HRLMBatchedLab WHERE product = ?1 ORDER BY position"});
  out.push_back({"filters of a product",
                 "SELECT kv.kvHash FROM HRLMOfflineProduct_filters l JOIN HRLMProductKV kv "
                 "ON kv.id = l.kv WHERE l.product = ?1 ORDER BY l.position"});
  return out;
}

}  // namespace store
HCF_NAMESPACE_END
