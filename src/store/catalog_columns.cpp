#include "catalog_columns.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "../core/json_text.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/core/json.h"
#include "product_store.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// The last few filter results are kept: a filter panel changes far less often than the
// colour a user searches for.
constexpr std::size_t kCachedFilters = 4;

// What a cached set of columns was read from: the file and the state it was in.
struct Key {
  FileIdentity file;
  std::int64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds
  std::uint64_t generation = 0;
  friend bool operator==(const Key&, const Key&) = default;
};

// Columns of the last few files searched, most recent first, so that catalogues searched in
// turn do not read each other out.
constexpr std::size_t kCachedFiles = 4;

std::atomic<std::uint64_t> gGeneration{0};
std::mutex gMutex;
std::vector<std::pair<Key, std::shared_ptr<const CatalogColumns>>> gCache;

Key keyOf(const FileIdentity& identity, const std::filesystem::path& path) {
  Key key{identity, 0, 0, gGeneration.load()};
  struct stat st {};
  // The path names the connection's file: its size and time tell a change in place. A file
  // the path no longer names was replaced whole and is not written any more.
  if (::stat(path.c_str(), &st) == 0 && st.st_dev == identity.device &&
      st.st_ino == identity.inode) {
    key.size = st.st_size;
    key.modified = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  }
  return key;
}

// What a stored colour reads as in the product model: its own illuminant and observer when
// both are stored, else D50 and 2°.
std::pair<HCFIlluminant, HCFStdObserver> effective(const TextGroup& g) {
  if (!g.illuminant || !g.observer) return {HCFIlluminant::D50, HCFStdObserver::TwoDegree};
  return {HTColorUtils::fromIlluminantStr(*g.illuminant),
          HTColorUtils::fromObserverStr(*g.observer)};
}

struct Entry {
  std::uint32_t rank, position;
  float L, a, b;
};

bool byRankAndPosition(const Entry& x, const Entry& y) {
  return x.rank != y.rank ? x.rank < y.rank : x.position < y.position;
}

// Each rank's first entry (lowest position) of the given entries.
std::shared_ptr<const LabColumn> firstPerRank(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), byRankAndPosition);
  auto column = std::make_shared<LabColumn>();
  for (const auto& e : entries) {
    if (!column->rank.empty() && column->rank.back() == e.rank) continue;
    column->rank.push_back(e.rank);
    column->L.push_back(e.L);
    column->a.push_back(e.a);
    column->b.push_back(e.b);
  }
  return column;
}

bool oneEntryPerRank(const LabColumn& c) {
  return std::adjacent_find(c.rank.begin(), c.rank.end()) == c.rank.end();
}

// A colour group's stored names; NULL is none.
struct GroupName {
  std::string batch;
  std::optional<std::string> illuminant, observer;
  bool matches(const sql::Statement& s) const {
    const auto same = [&](const std::optional<std::string>& name, int column) {
      return s.isNull(column) ? !name : name && *name == s.textView(column);
    };
    return batch == s.textView(2) && same(illuminant, 3) && same(observer, 4);
  }
  bool operator<(const GroupName& o) const {
    return std::tie(batch, illuminant, observer) < std::tie(o.batch, o.illuminant, o.observer);
  }
};

constexpr const char* kCacheFormat = "hcf-columns-1";
// The cache's numbers are little-endian, copied as they lie in memory.
static_assert(std::endian::native == std::endian::little);

// The ranks: the store's default order, the six sort keys ascending, then the id.
void readRanks(sql::Database& db, CatalogColumns& out) {
  sql::Statement s(db,
                   "SELECT id, isInspiration FROM HRLMOfflineProduct ORDER BY vendorOrder, "
                   "code, name COLLATE hcf_text, hue, saturation, brightness, id");
  while (s.step()) {
    out.productOfRank.push_back(s.int64(0));
    out.inspiration.push_back(s.int64(1) != 0);
  }
  out.productCount = static_cast<std::uint32_t>(out.productOfRank.size());
  out.indexRanks();
}

std::shared_ptr<const CatalogColumns::Entries> entriesFrom(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), byRankAndPosition);
  auto out = std::make_shared<CatalogColumns::Entries>();
  auto& c = out->column;
  c.rank.reserve(entries.size());
  c.L.reserve(entries.size());
  c.a.reserve(entries.size());
  c.b.reserve(entries.size());
  out->position.reserve(entries.size());
  for (const auto& e : entries) {
    c.rank.push_back(e.rank);
    c.L.push_back(e.L);
    c.a.push_back(e.a);
    c.b.push_back(e.b);
    out->position.push_back(e.position);
  }
  return out;
}

// A group's entries in the cache: rank, position (32-bit) and L, a, b (32-bit floats) each,
// little-endian.
constexpr std::size_t kEntryBytes = 20;

Bytes packEntries(const CatalogColumns::Entries& e) {
  Bytes out(e.column.size() * kEntryBytes);
  for (std::size_t i = 0; i < e.column.size(); ++i) {
    std::uint8_t* at = out.data() + i * kEntryBytes;
    std::memcpy(at, &e.column.rank[i], 4);
    std::memcpy(at + 4, &e.position[i], 4);
    std::memcpy(at + 8, &e.column.L[i], 4);
    std::memcpy(at + 12, &e.column.a[i], 4);
    std::memcpy(at + 16, &e.column.b[i], 4);
  }
  return out;
}

std::optional<Bytes> cacheBlob(sql::Database& db, const std::string& name) {
  sql::Statement s(db, "SELECT data FROM HCFColumnCache WHERE name = ?1");
  s.bind(1, std::string_view(name));
  if (!s.step()) return std::nullopt;
  return s.blob(0);
}

std::optional<std::string> cacheText(sql::Database& db, const std::string& name) {
  const auto bytes = cacheBlob(db, name);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

// The lowest and the highest product id: what a cache was written for (two lookups at the
// ends of the table; counting a million products would cost a pass over them).
std::string productsFingerprint(sql::Database& db) {
  const auto end = [&](const char* sql) {
    sql::Statement s(db, sql);
    return s.step() ? s.int64(0) : 0;
  };
  return std::to_string(end("SELECT ifnull(min(id), 0) FROM HRLMOfflineProduct")) + "/" +
         std::to_string(end("SELECT ifnull(max(id), 0) FROM HRLMOfflineProduct"));
}

bool hasCacheTable(sql::Database& db) {
  sql::Statement s(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  s.bind(1, std::string_view("HCFColumnCache"));
  return s.step();
}

// The text index in the cache: the number of texts (32-bit), then each text's length and
// bytes, then each text's number of ranks and the ranks (32-bit), little-endian.
Bytes packText(const TextIndex& index) {
  std::size_t size = 4;
  for (const auto& t : index.folded) size += 4 + t.size();
  for (const auto& ranks : index.ranks) size += 4 + ranks.size() * 4;
  Bytes out(size);
  std::size_t at = 0;
  const auto put = [&](const void* data, std::size_t n) {
    if (n > 0) std::memcpy(out.data() + at, data, n);
    at += n;
  };
  const auto putCount = [&](std::size_t n) {
    const auto v = static_cast<std::uint32_t>(n);
    put(&v, 4);
  };
  putCount(index.folded.size());
  for (const auto& t : index.folded) {
    putCount(t.size());
    put(t.data(), t.size());
  }
  for (const auto& ranks : index.ranks) {
    putCount(ranks.size());
    put(ranks.data(), ranks.size() * 4);
  }
  return out;
}

// The index packed by packText; none when the bytes do not hold one of `products` products.
std::shared_ptr<TextIndex> unpackText(const Bytes& bytes, std::uint32_t products) {
  std::size_t at = 0;
  const auto take = [&](std::uint32_t& v) {
    if (bytes.size() - at < 4) return false;
    std::memcpy(&v, bytes.data() + at, 4);
    at += 4;
    return true;
  };
  auto index = std::make_shared<TextIndex>();
  std::uint32_t count = 0;
  if (!take(count) || count > bytes.size() / 8) return nullptr;
  index->folded.resize(count);
  index->ranks.resize(count);
  for (auto& t : index->folded) {
    std::uint32_t n = 0;
    if (!take(n) || bytes.size() - at < n) return nullptr;
    t.assign(reinterpret_cast<const char*>(bytes.data() + at), n);
    at += n;
  }
  for (auto& ranks : index->ranks) {
    std::uint32_t n = 0;
    if (!take(n) || (bytes.size() - at) / 4 < n) return nullptr;
    ranks.resize(n);
    if (n > 0) std::memcpy(ranks.data(), bytes.data() + at, std::size_t{n} * 4);
    at += std::size_t{n} * 4;
    for (const auto r : ranks) {
      if (r >= products) return nullptr;
    }
  }
  return at == bytes.size() ? index : nullptr;
}

JsonValue optionalText(const std::optional<std::string>& text) {
  return text ? JsonValue(*text) : JsonValue(nullptr);
}

std::optional<std::string> optionalText(const JsonValue& d, const char* key) {
  const auto it = d.find(key);
  if (it == d.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// The filter index in the cache: packed as the text index, each text a pair's JSON.
Bytes packFilters(const FilterIndex& index) {
  TextIndex packed;
  for (const auto& kv : index.kvs) {
    packed.folded.push_back(JsonValue{{"h", kv.kvHash},
                                      {"k", optionalText(kv.key)},
                                      {"v", optionalText(kv.val)},
                                      {"kt", optionalText(kv.keyTranslated)},
                                      {"vt", optionalText(kv.valTranslated)}}
                                .dump());
  }
  packed.ranks = index.ranks;
  return packText(packed);
}

std::shared_ptr<FilterIndex> unpackFilters(const Bytes& bytes, std::uint32_t products) {
  const auto packed = unpackText(bytes, products);
  if (!packed) return nullptr;
  auto index = std::make_shared<FilterIndex>();
  for (const auto& text : packed->folded) {
    const auto d = json_text::parseOrDiscard(text);
    if (!d.is_object() || !d.contains("h") || !d["h"].is_string()) return nullptr;
    HRLMProductKV kv;
    kv.kvHash = d["h"].get<std::string>();
    kv.key = optionalText(d, "k");
    kv.val = optionalText(d, "v");
    kv.keyTranslated = optionalText(d, "kt");
    kv.valTranslated = optionalText(d, "vt");
    kv.isFilter = true;
    index->kvs.push_back(std::move(kv));
  }
  index->ranks = packed->ranks;
  return index;
}

}  // namespace

// Everything derived from the stored products, in memory: every group read at once.
std::shared_ptr<CatalogColumns> derive(sql::Database& db) {
  auto out = std::make_shared<CatalogColumns>();
  readRanks(db, *out);
  std::vector<GroupName> names;
  std::vector<std::vector<Entry>> grouped;
  {
    sql::Statement s(db,
                     "SELECT product, position, batch, illuminant, observer, d50L, d50A, d50B "
                     "FROM HRLMBatchedLab");
    std::size_t last = 0;
    while (s.step()) {
      const auto rank = out->rankOf(s.int64(0));
      if (!rank) continue;  // a colour of no stored product
      if (last >= names.size() || !names[last].matches(s)) {
        last = 0;
        while (last < names.size() && !names[last].matches(s)) ++last;
        if (last == names.size()) {
          names.push_back({s.text(2), s.optionalText(3), s.optionalText(4)});
          grouped.emplace_back();
        }
      }
      grouped[last].push_back({*rank, static_cast<std::uint32_t>(s.int64(1)),
                               static_cast<float>(s.real(5)), static_cast<float>(s.real(6)),
                               static_cast<float>(s.real(7))});
    }
  }
  std::vector<std::size_t> order(names.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return names[x] < names[y]; });
  for (const auto i : order) {
    out->textGroups.push_back(
        {names[i].batch, names[i].illuminant, names[i].observer, grouped[i].size()});
    out->entries_.push_back(entriesFrom(std::move(grouped[i])));
  }
  return out;
}

// The ranks and the list of groups from the file's column cache; none when it has no cache
// of this form. Groups are read when first used.
std::shared_ptr<CatalogColumns> readCache(sql::Database& db) {
  if (!hasCacheTable(db) || cacheText(db, "format") != std::string(kCacheFormat)) return nullptr;
  const auto groups = cacheText(db, "groups");
  if (!groups) return nullptr;
  const auto list = json_text::parseOrDiscard(*groups);
  if (!list.is_array()) return nullptr;
  // Written for other products (by a writer that kept no triggers): not used.
  if (cacheText(db, "products") != productsFingerprint(db)) return nullptr;
  auto out = std::make_shared<CatalogColumns>();
  out->cached_ = true;
  {
    // The store ids in rank order (64-bit), then a byte a product: 1 for an inspiration.
    const auto stored = cacheBlob(db, "ranks");
    if (!stored || stored->size() % 9 != 0) return nullptr;
    const auto& bytes = *stored;
    const std::size_t n = bytes.size() / 9;
    out->productOfRank.resize(n);
    if (n > 0) std::memcpy(out->productOfRank.data(), bytes.data(), n * 8);
    out->inspiration.resize(n);
    for (std::size_t i = 0; i < n; ++i) out->inspiration[i] = bytes[n * 8 + i] != 0;
    out->productCount = static_cast<std::uint32_t>(n);
    out->indexRanks();
  }
  for (const auto& g : list) {
    TextGroup t;
    t.batch = g.value("batch", "");
    if (g.contains("illuminant") && g["illuminant"].is_string()) {
      t.illuminant = g["illuminant"].get<std::string>();
    }
    if (g.contains("observer") && g["observer"].is_string()) {
      t.observer = g["observer"].get<std::string>();
    }
    t.size = g.value("size", std::uint64_t{0});
    out->textGroups.push_back(std::move(t));
  }
  out->entries_.resize(out->textGroups.size());
  return out;
}

void CatalogColumns::writeCache(sql::Database& db) {
  const auto columns = derive(db);
  db.exec("DELETE FROM HCFColumnCache");
  sql::Statement put(db, "INSERT INTO HCFColumnCache(name, data) VALUES(?1, ?2)");
  const auto write = [&](const std::string& name, const Bytes& data) {
    put.reset();
    put.bind(1, std::string_view(name)).bind(2, data);
    put.run();
  };
  JsonValue groups = JsonValue::array();
  for (std::size_t i = 0; i < columns->textGroups.size(); ++i) {
    const auto& g = columns->textGroups[i];
    JsonValue d{{"batch", g.batch}, {"size", g.size}};
    d["illuminant"] = g.illuminant ? JsonValue(*g.illuminant) : JsonValue(nullptr);
    d["observer"] = g.observer ? JsonValue(*g.observer) : JsonValue(nullptr);
    groups.push_back(std::move(d));
    write("group/" + std::to_string(i), packEntries(*columns->entries_[i]));
  }
  const auto text = groups.dump();
  write("groups", Bytes(text.begin(), text.end()));
  const auto products = productsFingerprint(db);
  write("products", Bytes(products.begin(), products.end()));
  const std::size_t n = columns->productOfRank.size();
  Bytes ranks(n * 9);
  if (n > 0) std::memcpy(ranks.data(), columns->productOfRank.data(), n * 8);
  for (std::size_t i = 0; i < n; ++i) ranks[n * 8 + i] = columns->inspiration[i] ? 1 : 0;
  write("ranks", ranks);
  write("text", packText(*columns->textIndex(db)));
  write("filters", packFilters(*columns->filterIndex(db)));
  const std::string format = kCacheFormat;
  write("format", Bytes(format.begin(), format.end()));
}

std::shared_ptr<const CatalogColumns::Entries> CatalogColumns::entries(sql::Database& db,
                                                                       std::size_t group) const {
  if (entries_[group]) return entries_[group];
  // Only a cache-backed set reads groups late; the caller holds cacheMutex_.
  const auto stored = cacheBlob(db, "group/" + std::to_string(group));
  if (!stored) throw sql::Failure(17, "the catalogue changed while it was read");  // SCHEMA
  const auto& bytes = *stored;
  if (bytes.size() % kEntryBytes != 0) {
    throw sql::Failure(11, "the catalogue's column cache is malformed");  // SQLITE_CORRUPT
  }
  auto out = std::make_shared<Entries>();
  const std::size_t n = bytes.size() / kEntryBytes;
  auto& c = out->column;
  c.rank.resize(n);
  c.L.resize(n);
  c.a.resize(n);
  c.b.resize(n);
  out->position.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* at = bytes.data() + i * kEntryBytes;
    std::memcpy(&c.rank[i], at, 4);
    std::memcpy(&out->position[i], at + 4, 4);
    std::memcpy(&c.L[i], at + 8, 4);
    std::memcpy(&c.a[i], at + 12, 4);
    std::memcpy(&c.b[i], at + 16, 4);
    if (c.rank[i] >= productCount) {
      throw sql::Failure(11, "the catalogue's column cache is malformed");  // SQLITE_CORRUPT
    }
  }
  entries_[group] = out;
  return out;
}

std::shared_ptr<const LabColumn> CatalogColumns::firstOf(
    sql::Database& db, const std::vector<std::size_t>& members) const {
  if (members.empty()) return std::make_shared<LabColumn>();
  if (members.size() == 1) {
    const auto e = entries(db, members[0]);
    // A group alone under its reading with one entry a product is its own first entries
    // (the usual case); the column shares the group's storage.
    if (oneEntryPerRank(e->column)) return {e, &e->column};
  }
  std::vector<Entry> merged;
  for (const auto i : members) {
    const auto e = entries(db, i);
    for (std::size_t k = 0; k < e->column.size(); ++k) {
      merged.push_back(
          {e->column.rank[k], e->position[k], e->column.L[k], e->column.a[k], e->column.b[k]});
    }
  }
  return firstPerRank(std::move(merged));
}

std::shared_ptr<const LabColumn> CatalogColumns::group(
    sql::Database& db, const std::string& batch, const std::optional<std::string>& illuminant,
    const std::optional<std::string>& observer) const {
  std::lock_guard lock(cacheMutex_);
  for (std::size_t i = 0; i < textGroups.size(); ++i) {
    const auto& g = textGroups[i];
    if (g.batch == batch && g.illuminant == illuminant && g.observer == observer) {
      const auto e = entries(db, i);
      return {e, &e->column};
    }
  }
  return nullptr;
}

std::shared_ptr<const LabColumn> CatalogColumns::firstOfBatch(sql::Database& db,
                                                              const std::string& batch,
                                                              HCFIlluminant illuminant,
                                                              HCFStdObserver observer) const {
  std::lock_guard lock(cacheMutex_);
  return firstOfBatchLocked(db, batch, illuminant, observer);
}

std::shared_ptr<const LabColumn> CatalogColumns::firstOfBatchLocked(sql::Database& db,
                                                                    const std::string& batch,
                                                                    HCFIlluminant illuminant,
                                                                    HCFStdObserver observer) const {
  const auto key = std::make_tuple(batch, illuminant, observer);
  if (const auto it = firsts_.find(key); it != firsts_.end()) return it->second;
  std::vector<std::size_t> members;
  for (std::size_t i = 0; i < textGroups.size(); ++i) {
    if (textGroups[i].batch == batch &&
        effective(textGroups[i]) == std::make_pair(illuminant, observer)) {
      members.push_back(i);
    }
  }
  auto column = members.empty() ? nullptr : firstOf(db, members);
  firsts_[key] = column;
  return column;
}

void CatalogColumns::indexRanks() {
  denseRank_.clear();
  sparseRank_.clear();
  std::int64_t highest = -1;
  bool negative = false;
  for (const auto id : productOfRank) {
    highest = std::max(highest, id);
    negative = negative || id < 0;
  }
  // Ids are usually 1 … n: a table by id; a store with scattered ids gets a hash table.
  if (!negative && highest < std::int64_t{4} * productCount + 1024) {
    denseRank_.assign(static_cast<std::size_t>(highest + 1), UINT32_MAX);
    for (std::uint32_t r = 0; r < productCount; ++r) {
      denseRank_[static_cast<std::size_t>(productOfRank[r])] = r;
    }
  } else {
    sparseRank_.reserve(productCount);
    for (std::uint32_t r = 0; r < productCount; ++r) sparseRank_.emplace(productOfRank[r], r);
  }
}

std::optional<std::uint32_t> CatalogColumns::rankOf(std::int64_t id) const {
  if (!sparseRank_.empty()) {
    const auto it = sparseRank_.find(id);
    if (it == sparseRank_.end()) return std::nullopt;
    return it->second;
  }
  if (id < 0 || static_cast<std::uint64_t>(id) >= denseRank_.size()) return std::nullopt;
  const auto r = denseRank_[static_cast<std::size_t>(id)];
  if (r == UINT32_MAX) return std::nullopt;
  return r;
}

std::shared_ptr<const CatalogColumns> CatalogColumns::of(sql::Database& db,
                                                         const FileIdentity& identity,
                                                         const std::filesystem::path& path) {
  const Key key = keyOf(identity, path);
  const bool cacheable = identity != FileIdentity{};
  if (cacheable) {
    std::lock_guard lock(gMutex);
    for (auto it = gCache.begin(); it != gCache.end(); ++it) {
      if (it->first == key) {
        std::rotate(gCache.begin(), it, it + 1);
        return gCache.front().second;
      }
    }
  }
  std::shared_ptr<const CatalogColumns> columns = readCache(db);
  if (!columns) columns = derive(db);
  if (cacheable) {
    std::lock_guard lock(gMutex);
    // Another thread may have read the same file meanwhile; either copy serves.
    // Another thread may have read the same file meanwhile (either copy serves); columns of
    // an earlier state of the file are stale.
    std::erase_if(gCache, [&](const auto& e) {
      return e.first.file == key.file || e.first.generation != key.generation;
    });
    gCache.insert(gCache.begin(), {key, columns});
    if (gCache.size() > kCachedFiles) gCache.pop_back();
  }
  return columns;
}

void CatalogColumns::invalidate() {
  ++gGeneration;
  std::lock_guard lock(gMutex);
  gCache.clear();
}

std::shared_ptr<const LabColumn> CatalogColumns::adjustedFor(sql::Database& db,
                                                             HCFIlluminant illuminant,
                                                             HCFStdObserver observer) const {
  std::lock_guard lock(cacheMutex_);
  auto& cached = adjusted_[{illuminant, observer}];
  if (cached) return cached;
  if (!firstAdjusted_) {
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < textGroups.size(); ++i) {
      if (textGroups[i].batch == "adjusted") members.push_back(i);
    }
    firstAdjusted_ = firstOf(db, members);
  }
  const auto wantedColumn = firstOfBatchLocked(db, "adjusted", illuminant, observer);
  const auto d50Column =
      firstOfBatchLocked(db, "adjusted", HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  const LabColumn* wanted = wantedColumn.get();
  const LabColumn* d50 = d50Column.get();
  const LabColumn& any = *firstAdjusted_;
  if (wanted && wanted->size() == any.size()) {
    cached = wantedColumn;
    return cached;
  }
  // Rank by rank over every product with a reference colour: the first column that has it.
  auto merged = std::make_shared<LabColumn>();
  std::size_t w = 0, d = 0;
  for (std::size_t i = 0; i < any.size(); ++i) {
    const auto r = any.rank[i];
    const LabColumn* from = &any;
    std::size_t at = i;
    while (wanted && w < wanted->size() && wanted->rank[w] < r) ++w;
    while (d50 && d < d50->size() && d50->rank[d] < r) ++d;
    if (wanted && w < wanted->size() && wanted->rank[w] == r) {
      from = wanted;
      at = w;
    } else if (d50 && d < d50->size() && d50->rank[d] == r) {
      from = d50;
      at = d;
    }
    merged->rank.push_back(r);
    merged->L.push_back(from->L[at]);
    merged->a.push_back(from->a[at]);
    merged->b.push_back(from->b[at]);
  }
  cached = merged;
  return cached;
}

std::shared_ptr<const TextIndex> CatalogColumns::textIndex(sql::Database& db) const {
  std::lock_guard lock(cacheMutex_);
  if (text_) return text_;
  if (cached_) {
    if (const auto bytes = cacheBlob(db, "text")) {
      if (auto index = unpackText(*bytes, productCount)) return text_ = index;
    }
  }
  auto index = std::make_shared<TextIndex>();
  // Folded here from the translated values: the folding is this kit's, not the file's.
  sql::Statement s(db,
                   "SELECT l.kv, kv.valTranslated, l.product FROM HRLMOfflineProduct_attributes l "
                   "JOIN HRLMProductKV kv ON kv.id = l.kv WHERE kv.valTranslated IS NOT NULL "
                   "ORDER BY l.kv");
  std::int64_t current = -1;
  bool first = true;
  while (s.step()) {
    const std::int64_t kv = s.int64(0);
    if (first || kv != current) {
      index->folded.push_back(predicate::foldCaseAndDiacritics(s.text(1)));
      index->ranks.emplace_back();
      current = kv;
      first = false;
    }
    if (const auto rank = rankOf(s.int64(2))) index->ranks.back().push_back(*rank);
  }
  text_ = index;
  return text_;
}

std::shared_ptr<const FilterIndex> CatalogColumns::filterIndex(sql::Database& db) const {
  std::lock_guard lock(cacheMutex_);
  if (filters_) return filters_;
  if (cached_) {
    if (const auto bytes = cacheBlob(db, "filters")) {
      if (auto index = unpackFilters(*bytes, productCount)) return filters_ = index;
    }
  }
  auto index = std::make_shared<FilterIndex>();
  // A pair in a product's filter list is a filter value, whatever its flag says.
  sql::Statement s(db,
                   "SELECT l.kv, kv.kvHash, kv.key, kv.val, kv.keyTranslated, kv.valTranslated, "
                   "1, l.product FROM HRLMOfflineProduct_filters l "
                   "JOIN HRLMProductKV kv ON kv.id = l.kv ORDER BY l.kv");
  std::int64_t current = -1;
  bool first = true;
  while (s.step()) {
    const std::int64_t kv = s.int64(0);
    if (first || kv != current) {
      index->kvs.push_back(kvFromRow(s, 1));
      index->ranks.emplace_back();
      current = kv;
      first = false;
    }
    if (const auto rank = rankOf(s.int64(7))) index->ranks.back().push_back(*rank);
  }
  // A product lists a value once, however often its list repeats it.
  for (auto& ranks : index->ranks) {
    std::sort(ranks.begin(), ranks.end());
    ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  }
  filters_ = index;
  return filters_;
}

std::shared_ptr<const std::vector<bool>> CatalogColumns::matching(
    sql::Database& db, const predicate::Predicate& where) const {
  const auto condition = where.sql(productMapping());
  if (!condition) return std::make_shared<const std::vector<bool>>(productCount, false);
  std::string key = condition->sql;
  for (const auto& v : condition->parameters) {
    key += '\x1f';
    std::visit(
        [&](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::string>) {
            key += "s" + x;
          } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
            key += "n";
          } else {
            key += "v" + std::to_string(x);
          }
        },
        v);
  }
  {
    std::lock_guard lock(cacheMutex_);
    for (const auto& [k, result] : cache_) {
      if (k == key) return result;
    }
  }
  auto result = std::make_shared<std::vector<bool>>(productCount, false);
  registerFold(db);
  sql::Statement s(db, "SELECT p.id FROM HRLMOfflineProduct p WHERE " + condition->sql);
  bindValues(s, condition->parameters, 1);
  while (s.step()) {
    if (const auto rank = rankOf(s.int64(0))) (*result)[*rank] = true;
  }
  std::lock_guard lock(cacheMutex_);
  cache_.insert(cache_.begin(), {key, result});
  if (cache_.size() > kCachedFilters) cache_.pop_back();
  return result;
}

}  // namespace store
HCF_NAMESPACE_END
