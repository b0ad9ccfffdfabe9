// The colour entries of the open products store in column form, for exact colour searches:
// derived in memory from the stored products (nothing is written to the file) and kept for a
// few files, each by the identity of the file its connection has open.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "hcf/color/color_enums.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/store/store_records.h"
#include "sqlite.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// Colour entries in rank order (the product's place in the store's default order).
struct LabColumn {
  std::vector<std::uint32_t> rank;
  std::vector<float> L, a, b;
  std::size_t size() const { return rank.size(); }
};

/// One (batch, illuminant, observer) group as stored, and how many entries it has.
struct TextGroup {
  std::string batch;
  std::optional<std::string> illuminant, observer;
  std::uint64_t size = 0;
};

/// The translated attribute values in use, folded for CONTAINS[cd], each with the ranks of the
/// products that have it.
struct TextIndex {
  std::vector<std::string> folded;
  std::vector<std::vector<std::uint32_t>> ranks;
};

/// The filter pairs in use, each with the ranks of the products that have it.
struct FilterIndex {
  std::vector<HRLMProductKV> kvs;
  std::vector<std::vector<std::uint32_t>> ranks;
};

class HCF_API CatalogColumns {
 public:
  /// The columns of the products store open on `db`, whose file is `identity` (found at
  /// `path`): from the cache when that file has not changed since, else read from its
  /// products. Call inside a read transaction, so that the columns and the products read
  /// next are of one state of the file. Throws sql::Failure.
  static std::shared_ptr<const CatalogColumns> of(sql::Database& db, const FileIdentity& identity,
                                                  const std::filesystem::path& path);
  /// Forgets cached columns (products changed, or a file is about to be replaced).
  static void invalidate();

  std::uint32_t productCount = 0;
  /// By rank (the place in the store's default order): the product's store id.
  std::vector<std::int64_t> productOfRank;
  /// The rank of the product of store id `id`; none for an id not stored.
  std::optional<std::uint32_t> rankOf(std::int64_t id) const;
  void indexRanks();
  /// The stored groups, by batch, illuminant and observer (none first).
  std::vector<TextGroup> textGroups;
  /// Every entry of the group stored under these names, in rank order; none when there is no
  /// such group. A group is read on first use: from the file's column cache when it has one,
  /// so that a search reads only the groups it compares.
  std::shared_ptr<const LabColumn> group(sql::Database& db, const std::string& batch,
                                         const std::optional<std::string>& illuminant,
                                         const std::optional<std::string>& observer) const;
  /// Per batch and the illuminant and observer a product's colour reads as (D50, 2° for an
  /// entry without names), each product's first such entry (in its colour list order).
  std::shared_ptr<const LabColumn> firstOfBatch(sql::Database& db, const std::string& batch,
                                                HCFIlluminant illuminant,
                                                HCFStdObserver observer) const;
  /// Each product's reference colour as a search under `illuminant` and `observer` reads it:
  /// its first "adjusted" colour under them, else under D50 and 2°, else its first one.
  std::shared_ptr<const LabColumn> adjustedFor(sql::Database& db, HCFIlluminant illuminant,
                                               HCFStdObserver observer) const;
  /// By rank: whether the product is an inspiration.
  std::vector<bool> inspiration;

  /// The attribute texts, read from the store on first use.
  std::shared_ptr<const TextIndex> textIndex(sql::Database& db) const;

  /// The filter pairs, read from the store on first use.
  std::shared_ptr<const FilterIndex> filterIndex(sql::Database& db) const;

  /// By rank: whether the product matches `where` (cached for the last few predicates).
  std::shared_ptr<const std::vector<bool>> matching(sql::Database& db,
                                                    const predicate::Predicate& where) const;

  /// Writes the column form of the store open on `db` into its column cache (the
  /// HCFColumnCache table), replacing any: read with a few sequential reads by every later
  /// reader, and dropped by the store's triggers when products or colours change. In the
  /// caller's transaction. Throws sql::Failure.
  static void writeCache(sql::Database& db);

  /// A group's entries with each entry's position in its product's colour list.
  struct Entries {
    LabColumn column;
    std::vector<std::uint32_t> position;
  };

 private:
  friend std::shared_ptr<CatalogColumns> derive(sql::Database& db);
  friend std::shared_ptr<CatalogColumns> readCache(sql::Database& db);
  std::shared_ptr<const Entries> entries(sql::Database& db, std::size_t group) const;
  std::shared_ptr<const LabColumn> firstOf(sql::Database& db,
                                           const std::vector<std::size_t>& members) const;
  std::shared_ptr<const LabColumn> firstOfBatchLocked(sql::Database& db, const std::string& batch,
                                                      HCFIlluminant illuminant,
                                                      HCFStdObserver observer) const;

  bool cached_ = false;  // read from the file's column cache; groups read on first use
  mutable std::vector<std::shared_ptr<const Entries>> entries_;  // by group
  mutable std::map<std::tuple<std::string, HCFIlluminant, HCFStdObserver>,
                   std::shared_ptr<const LabColumn>>
      firsts_;
  mutable std::shared_ptr<const LabColumn> firstAdjusted_;
  std::vector<std::uint32_t> denseRank_;  // by id, when the ids are dense
  std::unordered_map<std::int64_t, std::uint32_t> sparseRank_;
  mutable std::mutex cacheMutex_;
  mutable std::vector<std::pair<std::string, std::shared_ptr<const std::vector<bool>>>> cache_;
  mutable std::shared_ptr<const TextIndex> text_;
  mutable std::shared_ptr<const FilterIndex> filters_;
  mutable std::map<std::pair<HCFIlluminant, HCFStdObserver>, std::shared_ptr<const LabColumn>>
      adjusted_;
};

}  // namespace store
HCF_NAMESPACE_END
