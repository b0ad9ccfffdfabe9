// The products store's tables: writing products, reading them back, and the predicate mapping
// of its key paths. Used on one connection by one thread.
#pragma once

#include <string>
#include <vector>

#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product_search_sort_descriptor.h"
#include "hcf/store/store_records.h"
#include "sqlite.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// Writes `products` (replacing products of the same uuid) in the caller's transaction.
void writeProducts(sql::Database& db, const std::vector<HRLMOfflineProduct>& products);
/// The stored product of `uuid`, with all its lists.
std::optional<HRLMOfflineProduct> readProduct(sql::Database& db, const std::string& uuid);
/// The key paths of a product for predicates: its columns and its lists "filters",
/// "attributes" and "colors".
const predicate::SqlMapping& productMapping();
/// The uuids of the matching products, sorted (validated keys only), from `offset`, at most
/// `limit`. Throws sql::Failure; a predicate with unknown key paths matches nothing.
std::vector<std::string> matchingUuids(sql::Database& db, const predicate::Predicate& where,
                                       const std::vector<HCFProductSearchSortDescriptor>& sorts,
                                       std::uint64_t offset, std::uint64_t limit);
std::uint64_t countMatching(sql::Database& db, const predicate::Predicate& where);
/// The distinct filter pairs of the matching products (all products without a predicate).
std::vector<HRLMProductKV> filtersInUse(sql::Database& db,
                                        const std::optional<predicate::Predicate>& where);
/// Binds predicate values to a statement from index `first`.
void bindValues(sql::Statement& s, const std::vector<predicate::Value>& values, int first);

}  // namespace store
HCF_NAMESPACE_END
