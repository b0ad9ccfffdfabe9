#include "offline_search.h"

#include <algorithm>

#include "hcf/color/ht_color_utils.h"
#include "hcf/core/log.h"
#include "hcf/products/hcf_product_filter_set.h"
#include "hcf/store/hcf_realm_manager.h"

HCF_NAMESPACE_BEGIN
namespace products {

namespace {

LabTriple triple(const HCFLabColor& lab) { return {lab.L, lab.A, lab.B}; }

// The selected filters' predicate, when filters are selected.
std::optional<predicate::Predicate> selectionOf(const HCFProductSearch& search) {
  if (!search.filters) return std::nullopt;
  return HCFProductFilterSet::filterSetWithSelectedFilters(*search.filters)->searchPredicate();
}

// The colour search of `search` as the store's request.
store::ColorSearchRequest colorRequestOf(const HCFProductSearch& search, bool ignoringBoxes) {
  store::ColorSearchRequest q;
  const auto& o = search.colorSearchOptions;
  const auto illuminant = HTColorUtils::toIlluminantStr(o.illuminant);
  const auto observer = HTColorUtils::toObserverTextStr(o.observer);
  if (search.colorTerm) {
    const auto aux = search.colorTerm->auxSearchLab();
    const auto terms = search.colorTerm->batchedLabsWithIllum(illuminant, observer);
    if (!ignoringBoxes) {
      if (aux) q.boxes.push_back({triple(*aux), "adjusted", illuminant, observer});
      for (const auto& t : terms) q.boxes.push_back({triple(t.lab), t.batch, illuminant, observer});
    }
    for (const auto& t : terms) {
      if (t.lab.stdObserver == o.observer && t.lab.illuminant == o.illuminant) {
        q.pairs.push_back({triple(t.lab), t.batch});
      }
    }
    if (aux) q.aux = triple(*aux);
  }
  q.method = o.deltaEMethod;
  q.illuminant = o.illuminant;
  q.observer = o.observer;
  q.inspirations = search.searchType == 1;
  q.selection = selectionOf(search);
  q.skip = search.skip;
  q.limit = search.limit;
  return q;
}

}  // namespace

bool inDefaultOrder(const HCFProductSearch& search) {
  const auto sorts = HCFRealmManager::validedSortDescriptorsFromArray(
      search.sortDescriptors.value_or(std::vector<HCFProductSearchSortDescriptor>{}));
  const auto defaultOrder = HCFRealmManager::validedSortDescriptorsFromArray({});
  return std::equal(sorts.begin(), sorts.end(), defaultOrder.begin(), defaultOrder.end(),
                    [](const auto& x, const auto& y) {
                      return x.sortKey == y.sortKey && x.ascending == y.ascending;
                    });
}

std::vector<HCFProductSearchResult> colorSearch(const HCFProductSearch& search, bool ignoringBoxes,
                                                const store::CatalogFile& file) {
  std::vector<HCFProductSearchResult> results;
  for (auto& hit : store::colorSearch(colorRequestOf(search, ignoringBoxes), file)) {
    results.push_back({std::move(hit.product), hit.deltaE});
  }
  return results;
}

std::vector<HCFProductSearchResult> textSearchInDefaultOrder(const HCFProductSearch& search,
                                                             const store::CatalogFile& file) {
  std::string text = search.textTerm.value_or("");
  std::erase(text, '*');
  return search.productsToSearchResults(
      store::textSearch(predicate::foldCaseAndDiacritics(text), search.searchType == 1,
                        selectionOf(search), search.skip, search.limit, file));
}

std::vector<HCFProductSearchResult> textOrAllProducts(const HCFProductSearch& search, bool withText,
                                                      const store::CatalogFile& file) {
  if (withText && inDefaultOrder(search)) {
    // In the default order the catalogue's text index answers without SQL: the same products,
    // in the same order, as the store's query would give.
    return textSearchInDefaultOrder(search, file);
  }
  const auto where =
      withText ? predicate::Predicate::andOf({search.textTermPredicate(), search.filterPredicate()})
               : search.filterPredicate();
  const auto sorts = HCFRealmManager::validedSortDescriptorsFromArray(
      search.sortDescriptors.value_or(std::vector<HCFProductSearchSortDescriptor>{}));
  const auto products = store::productsMatching(where, sorts, search.skip, search.limit, file);
  logLine("returning " + std::to_string(products.size()) + " products");
  return search.productsToSearchResults(products);
}

std::vector<HCFProductSearchResult> runOffline(const HCFProductSearch& search,
                                               const store::CatalogFile& file) {
  if (search.colorTerm) return colorSearch(search, false, file);
  return textOrAllProducts(search, search.textTerm.has_value(), file);
}

}  // namespace products
HCF_NAMESPACE_END
