#include "catalog_columns.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>

#include "color_scan_store.h"
#include "hcf/color/ht_color_utils.h"
#include "product_store.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// The last few filter results are kept: a filter panel changes far less often than the
// colour a user searches for.
constexpr std::size_t kCachedFilters = 4;

struct Identity {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t generation = 0;
  friend bool operator==(const Identity&, const Identity&) = default;
};

std::atomic<std::uint64_t> gGeneration{0};
std::mutex gMutex;
std::optional<Identity> gIdentity;
std::shared_ptr<const CatalogColumns> gColumns;

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

// Each rank's first entry (lowest position) of the given entries.
std::shared_ptr<const LabColumn> firstPerRank(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
    return x.rank != y.rank ? x.rank < y.rank : x.position < y.position;
  });
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

std::shared_ptr<CatalogColumns> load(sql::Database& db) {
  if (!colorScanReady(db)) {
    sql::Transaction t(db);
    prepareColorScan(db);
    t.commit();
  }
  auto out = std::make_shared<CatalogColumns>();
  {
    sql::Statement s(db, "SELECT count(*) FROM HCFProductRank");
    out->productCount = s.step() ? static_cast<std::uint32_t>(s.int64(0)) : 0;
  }
  // Entries with their positions, kept only where a group's first entries must be merged.
  std::vector<std::vector<Entry>> withPositions;
  for (const auto& g : scanGroups(db)) {
    auto column = std::make_shared<LabColumn>();
    column->rank.reserve(g.entries);
    column->L.reserve(g.entries);
    column->a.reserve(g.entries);
    column->b.reserve(g.entries);
    std::vector<Entry> entries;
    readScanGroup(db, g.id, [&](const ScanEntry& e) {
      column->rank.push_back(e.rank);
      column->L.push_back(e.L);
      column->a.push_back(e.a);
      column->b.push_back(e.b);
      entries.push_back({e.rank, e.position, e.L, e.a, e.b});
    });
    out->textGroups.push_back({g.batch, g.illuminant, g.observer, std::move(column)});
    withPositions.push_back(std::move(entries));
  }
  // A group that is alone under its reading and holds one entry per product is its own list
  // of first entries (the usual case); otherwise entries are merged by position.
  const auto firstOf = [&](auto belongs) -> std::shared_ptr<const LabColumn> {
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < out->textGroups.size(); ++i) {
      if (belongs(out->textGroups[i])) members.push_back(i);
    }
    if (members.empty()) return std::make_shared<LabColumn>();
    if (members.size() == 1 && oneEntryPerRank(*out->textGroups[members[0]].entries)) {
      return out->textGroups[members[0]].entries;
    }
    std::vector<Entry> merged;
    for (const auto i : members) {
      merged.insert(merged.end(), withPositions[i].begin(), withPositions[i].end());
    }
    return firstPerRank(std::move(merged));
  };
  for (const auto& g : out->textGroups) {
    const auto conditions = effective(g);
    const auto key = std::make_tuple(g.batch, conditions.first, conditions.second);
    if (out->firstOfBatch.count(key) != 0) continue;
    out->firstOfBatch[key] = firstOf([&](const TextGroup& other) {
      return other.batch == g.batch && effective(other) == conditions;
    });
  }
  out->firstAdjusted = firstOf([](const TextGroup& g) { return g.batch == "adjusted"; });

  out->inspiration.assign(out->productCount, false);
  sql::Statement s(db,
                   "SELECT r.rank FROM HCFProductRank r JOIN HRLMOfflineProduct p "
                   "ON p.id = r.product WHERE p.isInspiration = 1");
  while (s.step()) {
    const auto rank = static_cast<std::uint64_t>(s.int64(0));
    if (rank < out->inspiration.size()) out->inspiration[rank] = true;
  }
  return out;
}

}  // namespace

std::shared_ptr<const CatalogColumns> CatalogColumns::of(sql::Database& db,
                                                         const std::filesystem::path& file) {
  struct stat st {};
  Identity id{file.string(), 0, 0, gGeneration.load()};
  if (::stat(file.c_str(), &st) == 0) {
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  std::lock_guard lock(gMutex);
  if (gColumns && gIdentity == id) return gColumns;
  gColumns.reset();  // the old columns go before the new ones are read
  gColumns = load(db);
  gIdentity = id;
  return gColumns;
}

void CatalogColumns::invalidate() { ++gGeneration; }

std::shared_ptr<const TextIndex> CatalogColumns::textIndex(sql::Database& db) const {
  std::lock_guard lock(cacheMutex_);
  if (text_) return text_;
  auto index = std::make_shared<TextIndex>();
  sql::Statement s(db,
                   "SELECT l.kv, kv.valFolded, r.rank FROM HRLMOfflineProduct_attributes l "
                   "JOIN HRLMProductKV kv ON kv.id = l.kv JOIN HCFProductRank r "
                   "ON r.product = l.product WHERE kv.valFolded IS NOT NULL ORDER BY l.kv");
  std::int64_t current = -1;
  while (s.step()) {
    const std::int64_t kv = s.int64(0);
    if (kv != current) {
      index->folded.push_back(s.text(1));
      index->ranks.emplace_back();
      current = kv;
    }
    index->ranks.back().push_back(static_cast<std::uint32_t>(s.int64(2)));
  }
  text_ = index;
  return text_;
}

std::shared_ptr<const FilterIndex> CatalogColumns::filterIndex(sql::Database& db) const {
  std::lock_guard lock(cacheMutex_);
  if (filters_) return filters_;
  auto index = std::make_shared<FilterIndex>();
  sql::Statement s(db,
                   "SELECT l.kv, kv.kvHash, kv.key, kv.val, kv.keyTranslated, kv.valTranslated, "
                   "kv.isFilter, r.rank FROM HRLMOfflineProduct_filters l "
                   "JOIN HRLMProductKV kv ON kv.id = l.kv JOIN HCFProductRank r "
                   "ON r.product = l.product ORDER BY l.kv");
  std::int64_t current = -1;
  while (s.step()) {
    const std::int64_t kv = s.int64(0);
    if (kv != current) {
      index->kvs.push_back(kvFromRow(s, 1));
      index->ranks.emplace_back();
      current = kv;
    }
    index->ranks.back().push_back(static_cast<std::uint32_t>(s.int64(7)));
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
  sql::Statement s(db,
                   "SELECT r.rank FROM HCFProductRank r JOIN HRLMOfflineProduct p "
                   "ON p.id = r.product WHERE " +
                       condition->sql);
  bindValues(s, condition->parameters, 1);
  while (s.step()) {
    const auto rank = static_cast<std::uint64_t>(s.int64(0));
    if (rank < result->size()) (*result)[rank] = true;
  }
  std::lock_guard lock(cacheMutex_);
  cache_.insert(cache_.begin(), {key, result});
  if (cache_.size() > kCachedFilters) cache_.pop_back();
  return result;
}

}  // namespace store
HCF_NAMESPACE_END
