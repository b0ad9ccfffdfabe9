// The products store's tables: writing products, reading them back, and the predicate mapping
// of its key paths. Used on one connection by one thread.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product.h"
#include "hcf/products/hcf_product_search_sort_descriptor.h"
#include "hcf/store/store_records.h"
#include "sqlite.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// A pair from the row's columns kvHash, key, val, keyTranslated, valTranslated, isFilter,
/// from column `first`.
HRLMProductKV kvFromRow(const sql::Statement& s, int first = 0);

/// Writes products in the caller's transaction with statements prepared once. Creating a
/// writer marks the colour-scan layout stale.
class ProductWriter {
 public:
  explicit ProductWriter(sql::Database& db);
  ~ProductWriter();
  ProductWriter(const ProductWriter&) = delete;
  ProductWriter& operator=(const ProductWriter&) = delete;

  /// Writes `product`; with `replacing`, the lists of a stored product of the same uuid go
  /// first (a fresh store has none to remove).
  void write(const HRLMOfflineProduct& product, bool replacing = true);

 private:
  struct KnownKV {
    std::int64_t id;
    bool isFilter;
  };
  std::int64_t kvId(const HRLMProductKV& kv);
  void link(sql::Statement& s, std::int64_t product, const std::vector<HRLMProductKV>& kvs);

  sql::Database& db_;
  std::unique_ptr<sql::Statement> deleteLists_[6];
  sql::Statement findProduct_, product_, findKV_, kv_, markFilter_, filterLink_, attributeLink_,
      image_, color_, spectrum_;
  std::unordered_map<std::string, KnownKV> kvs_;  // by kvHash
};

/// Whether a product is an inspiration: it has the filter category = "Inspirations".
bool isInspiration(const HCFHalvernCloudProduct& product);

/// The store record of `product` as the kit stores it: the inspiration flag set, and the
/// observers under the names the colour search compares ("TWO_DEGREE", "TEN_DEGREE"), not
/// the converter's "2°" and "10°".
HRLMOfflineProduct recordForStore(const HCFHalvernCloudProduct& product);

/// Writes `products` (replacing products of the same uuid) in the caller's transaction.
void writeProducts(sql::Database& db, const std::vector<HRLMOfflineProduct>& products);
/// Reads stored products with statements prepared once (for pages of products).
class ProductReader {
 public:
  explicit ProductReader(sql::Database& db);
  /// The product of store id `id` with all its lists.
  std::optional<HRLMOfflineProduct> read(std::int64_t id);

 private:
  sql::Statement product_, filters_, attributes_, images_, colors_, spectra_;
};

/// The stored products of store ids `ids`, in that order (none for an id not stored), each
/// list read for many products at once.
std::vector<std::optional<HRLMOfflineProduct>> readProducts(sql::Database& db,
                                                            const std::vector<std::int64_t>& ids);

/// The stored product of `uuid`, with all its lists.
std::optional<HRLMOfflineProduct> readProduct(sql::Database& db, const std::string& uuid);
/// The stored product of store id `id` (the products table's integer key).
std::optional<HRLMOfflineProduct> readProduct(sql::Database& db, std::int64_t id);
std::optional<std::int64_t> productId(sql::Database& db, const std::string& uuid);
/// The key paths of a product for predicates: its columns and its lists "filters",
/// "attributes" and "colors".
const predicate::SqlMapping& productMapping();
/// A query text with its parameters, in order.
struct Query {
  std::string sql;
  std::vector<predicate::Value> parameters;
};
/// The query of `matchingIds` (limit and offset are its last two parameters, not listed);
/// nothing when the predicate names unknown key paths.
std::optional<Query> matchingIdsQuery(const predicate::Predicate& where,
                                      const std::vector<HCFProductSearchSortDescriptor>& sorts);
/// The query of `filtersInUse`.
std::optional<Query> filtersInUseQuery(const std::optional<predicate::Predicate>& where);

/// The store ids of the matching products, sorted (validated keys only), from `offset`, at
/// most `limit`. Throws sql::Failure; a predicate with unknown key paths matches nothing.
std::vector<std::int64_t> matchingIds(sql::Database& db, const predicate::Predicate& where,
                                      const std::vector<HCFProductSearchSortDescriptor>& sorts,
                                      std::uint64_t offset, std::uint64_t limit);
std::uint64_t countMatching(sql::Database& db, const predicate::Predicate& where);
/// The distinct filter pairs of the matching products (all products without a predicate).
std::vector<HRLMProductKV> filtersInUse(sql::Database& db,
                                        const std::optional<predicate::Predicate>& where);
/// The queries whose plans the store's speed depends on, by name, so that their plans can be
/// checked (`sql::Database::queryPlan`).
struct PinnedQuery {
  std::string name;
  std::string sql;
};
std::vector<PinnedQuery> pinnedQueries();

/// Makes the SQL function hcf_fold (CONTAINS[cd] over a column without a folded copy)
/// available on `db`.
void registerFold(sql::Database& db);

/// Binds predicate values to a statement from index `first`.
void bindValues(sql::Statement& s, const std::vector<predicate::Value>& values, int first);

}  // namespace store
HCF_NAMESPACE_END
