#include "hcf/search/hcf_product_catalog.h"

#include <algorithm>

#include "../store/catalog_search.h"
#include "../store/sqlite.h"
#include "../store/store_schema.h"
#include "hcf/core/ht_utility.h"
#include "hcf/products/hcf_product_filter_set.h"
#include "hcf/store/hcf_realm_serialization.h"
#include "offline_search.h"

HCF_NAMESPACE_BEGIN

namespace {

// The kit's error for a store that cannot be read.
HCFError storeError(const sql::Failure& e) {
  HCFError error = HTUtility::invalidDataError(e.what());
  error.native = e.error().native;  // the SQLite result
  return error;
}

template <typename Work>
auto guarded(Work work) -> Result<decltype(work())> {
  try {
    return work();
  } catch (const sql::Failure& e) {
    return storeError(e);
  }
}

}  // namespace

Result<HCFProductCatalog> HCFProductCatalog::open(const std::filesystem::path& storeFile) {
  try {
    store::openCatalogFile(storeFile);
    return HCFProductCatalog(storeFile);
  } catch (const sql::Failure& e) {
    return storeError(e);
  }
}

Result<std::uint64_t> HCFProductCatalog::count(
    const std::optional<predicate::Predicate>& where) const {
  return guarded([&] { return store::countOfProducts(where, file_); });
}

Result<std::vector<HCFProductSearchResult>> HCFProductCatalog::search(
    const HCFProductSearch& search) const {
  return guarded([&] { return products::runOffline(search, file_); });
}

Result<std::vector<HCFProductFilterCount>> HCFProductCatalog::filterCounts(
    bool inspirations, const std::vector<HCFProductKV>& selected) const {
  std::vector<std::pair<std::string, std::vector<std::string>>> selection;
  for (const auto& kv : selected) {
    const auto key = kv.key.value_or("");
    auto it = std::find_if(selection.begin(), selection.end(),
                           [&](const auto& group) { return group.first == key; });
    if (it == selection.end()) it = selection.insert(selection.end(), {key, {}});
    it->second.push_back(HRLMProductKV::makeKvHash(key, kv.val.value_or("")));
  }
  return guarded([&] {
    std::vector<HCFProductFilterCount> out;
    for (const auto& f : store::filterFacets(selection, inspirations, file_)) {
      out.push_back({HCFRealmSerialization::kvFromRealmKV(f.kv), f.products});
    }
    return out;
  });
}

Result<std::vector<HCFProductKV>> HCFProductCatalog::filterValues(
    bool inspirations, const std::vector<HCFProductKV>& selected) const {
  auto where = predicate::Predicate::equal("isInspiration", inspirations);
  if (!selected.empty()) {
    where = predicate::Predicate::andOf(
        {where, HCFProductFilterSet::filterSetWithSelectedFilters(selected)->searchPredicate()});
  }
  return guarded([&] {
    return HCFRealmSerialization::KVsFromRealmKVs(store::filterValuesOfProducts(where, file_));
  });
}

HCF_NAMESPACE_END
