#include "hcf/products/hcf_product_search.h"

#include <algorithm>
#include <cstdio>

#include "../cloud/current_credentials.h"
#include "hcf/cloud/hcf_net_tint_vault.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/products/hcf_product_filter_set.h"
#include "hcf/serialization/tint_vault_serialization.h"
#include "hcf/store/hcf_realm_manager.h"
#include "offline_search.h"

HCF_NAMESPACE_BEGIN

namespace {

using predicate::Predicate;
using Completion = HCFProductSearch::Completion;

void deliver(const Completion& completion, std::vector<HCFProductSearchResult> results,
             std::optional<HCFError> error = std::nullopt) {
  dispatch::mainQueue().async(
      [completion, results = std::move(results), error = std::move(error)]() mutable {
        if (completion) completion(std::move(results), std::move(error));
      });
}

dispatch::GlobalQueue high() { return dispatch::globalQueue(dispatch::QueuePriority::High); }

// Delivers what `search` finds in the kit's catalogue; a catalogue found damaged (and set
// aside) is reported as an error.
template <typename Search>
void deliverOffline(const Completion& completion, Search search) {
  try {
    deliver(completion, search());
  } catch (const store::DamagedCatalog& e) {
    deliver(completion, {}, HTUtility::invalidDataError(e.what()));
  }
}

std::optional<std::string> illuminantName(const HCFColorSearchOptions& o) {
  return HTColorUtils::toIlluminantStr(o.illuminant);
}

std::string observerName(const HCFColorSearchOptions& o) {
  return HTColorUtils::toObserverTextStr(o.observer);
}

}  // namespace

std::vector<HCFGenericBatchedLab> HCFGenericColorSearchTerm::batchedLabsWithIllum(
    const std::optional<std::string>& illuminant,
    const std::optional<std::string>& observer) const {
  return filterBatchedLabs(batchedLabs, illuminant, observer);
}

HCFMockColorSearchTerm HCFMockColorSearchTerm::mockTerm() {
  HCFMockColorSearchTerm term;
  term.auxLab = HCFLabColor::labColorWithL(82.14101160444581, -5.174074763025171, 5.915896134176446,
                                           HCFIlluminant::D50);
  term.batchedLabs = {HCFMockBatchedLab::mockBatchedLab()};
  return term;
}

HCFProductSearchResult HCFProductSearchResult::searchResult(HCFHalvernCloudProduct product,
                                                            std::optional<double> deltaE) {
  HCFProductSearchResult r{std::move(product), std::nullopt};
  if (deltaE) r.deltaE = static_cast<float>(*deltaE);
  return r;
}

std::string HCFProductSearchResult::description() const {
  if (!deltaE) return product.description();
  char text[64];
  std::snprintf(text, sizeof text, "%0.2f\u2206E - ", static_cast<double>(*deltaE));
  return text + product.description();
}

HCFProductSearch HCFProductSearch::productSearch() { return {}; }

HCFProductSearch HCFProductSearch::inspirationsSearch() {
  HCFProductSearch s;
  s.searchType = 1;
  return s;
}

const std::vector<std::string>& HCFProductSearch::validSortKeys() {
  return HCFRealmManager::validSortKeys();
}

Predicate HCFProductSearch::ignoreInspirationsPredicate() {
  return Predicate::equal("isInspiration", false);
}

Predicate HCFProductSearch::inspirationsOnlyPredicate() {
  return Predicate::equal("isInspiration", true);
}

Predicate HCFProductSearch::filterPredicate() const {
  const Predicate inspirations =
      searchType == 1 ? inspirationsOnlyPredicate() : ignoreInspirationsPredicate();
  if (!filters) return inspirations;
  return Predicate::andOf(
      {inspirations,
       HCFProductFilterSet::filterSetWithSelectedFilters(*filters)->searchPredicate()});
}

Predicate HCFProductSearch::labSearchPredicateFor(const HCFLabColor& lab,
                                                  const std::string& batch) const {
  const auto illuminant = illuminantName(colorSearchOptions);
  return Predicate::anyElement(
      "colors", "lab",
      Predicate::andOf({
          Predicate::compare("d50L", predicate::Comparison::Less, lab.L + 30),
          Predicate::compare("d50L", predicate::Comparison::Greater, lab.L - 35),
          Predicate::compare("d50A", predicate::Comparison::Less, lab.A + 35),
          Predicate::compare("d50A", predicate::Comparison::Greater, lab.A - 35),
          Predicate::compare("d50B", predicate::Comparison::Less, lab.B + 35),
          Predicate::compare("d50B", predicate::Comparison::Greater, lab.B - 35),
          Predicate::equal("batch", batch),
          illuminant ? Predicate::equal("illuminant", *illuminant)
                     : Predicate::equal("illuminant", nullptr),
          Predicate::equal("observer", observerName(colorSearchOptions)),
      }));
}

Predicate HCFProductSearch::colorTermPredicate() const {
  std::vector<Predicate> boxes;
  if (colorTerm) {
    if (const auto aux = colorTerm->auxSearchLab()) {
      boxes.push_back(labSearchPredicateFor(*aux, "adjusted"));
    }
    for (const auto& e : colorTerm->batchedLabsWithIllum(illuminantName(colorSearchOptions),
                                                         observerName(colorSearchOptions))) {
      boxes.push_back(labSearchPredicateFor(e.lab, e.batch));
    }
  }
  return Predicate::orOf(std::move(boxes));
}

Predicate HCFProductSearch::textTermPredicate() const {
  std::string text = textTerm.value_or("");
  std::erase(text, '*');
  return Predicate::anyElement("attributes", "attr",
                               Predicate::containsCD("valTranslated", std::move(text)));
}

std::optional<double> HCFProductSearch::deltaEToProduct(
    const HCFHalvernCloudProduct& product) const {
  if (!colorTerm) return std::nullopt;
  const auto& o = colorSearchOptions;
  const auto illuminant = illuminantName(o);
  const auto observer = observerName(o);
  const auto terms = colorTerm->batchedLabsWithIllum(illuminant, observer);
  const auto own = product.batchedLabsWithIllum(illuminant, observer);
  for (const auto& t : terms) {
    if (t.lab.stdObserver != o.observer || t.lab.illuminant != o.illuminant) continue;
    for (const auto& p : own) {
      if (t.batch == p.batch) return HTColorUtils::deltaEForSample(t.lab, p.lab, o.deltaEMethod);
    }
  }
  const auto aux = colorTerm->auxSearchLab();
  if (!aux || !product.internalColors) return std::nullopt;
  // The reference colour read as the search reads: under its illuminant and observer, else
  // under D50 and 2°, else the first there is; by the search's method.
  const HCFProductBatchedLabColor* reference = nullptr;
  int best = 3;
  for (const auto& c : *product.internalColors) {
    if (c.batch != "adjusted") continue;
    const int rank =
        c.lab.illuminant == o.illuminant && c.lab.stdObserver == o.observer ? 0
        : c.lab.illuminant == HCFIlluminant::D50 && c.lab.stdObserver == HCFStdObserver::TwoDegree
            ? 1
            : 2;
    if (rank < best) {
      best = rank;
      reference = &c;
    }
  }
  if (!reference) return std::nullopt;
  return HTColorUtils::deltaEForSample(*aux, reference->lab, o.deltaEMethod);
}

std::vector<HCFProductSearchResult> HCFProductSearch::computeDeltasForProducts(
    const std::vector<HCFHalvernCloudProduct>& products) const {
  std::vector<HCFProductSearchResult> results;
  for (const auto& p : products) {
    if (const auto d = deltaEToProduct(p)) {
      results.push_back(HCFProductSearchResult::searchResult(p, d));
    }
  }
  std::stable_sort(results.begin(), results.end(),
                   [](const HCFProductSearchResult& x, const HCFProductSearchResult& y) {
                     return *x.deltaE < *y.deltaE;
                   });
  if (results.size() <= skip) return {};
  const std::uint64_t count = std::min<std::uint64_t>(limit, results.size() - skip);
  return {results.begin() + static_cast<std::ptrdiff_t>(skip),
          results.begin() + static_cast<std::ptrdiff_t>(skip + count)};
}

std::vector<HCFProductSearchResult> HCFProductSearch::productsToSearchResults(
    const std::vector<HCFHalvernCloudProduct>& products) const {
  std::vector<HCFProductSearchResult> out;
  const auto n = std::min<std::uint64_t>(limit, products.size());
  for (std::uint64_t i = 0; i < n; ++i) {
    out.push_back(HCFProductSearchResult::searchResult(products[i], std::nullopt));
  }
  return out;
}

void HCFProductSearch::fetchProductFilters(FilterSetCompletion completion) {
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([completion] {
    HCFProductFilterSet::offlineProductsFilterSet(
        [completion](std::shared_ptr<HCFProductFilterSet> set, std::optional<HCFError>) {
          dispatch::mainQueue().async([completion, set] {
            if (completion) completion(set, std::nullopt);
          });
        });
  });
}

void HCFProductSearch::fetchProductFiltersUsingFilter(const std::shared_ptr<HCFProductFilterSet>&,
                                                      FilterSetCompletion completion) const {
  if (!preferOnline) return fetchProductFilters(std::move(completion));
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([completion] {
    HCFProductFilterSet::onlineProductsFilterSet(
        [completion](std::shared_ptr<HCFProductFilterSet> set, std::optional<HCFError>) {
          dispatch::mainQueue().async([completion, set] {
            if (completion) completion(set, std::nullopt);
          });
        });
  });
}

void HCFProductSearch::fetchInspirationFiltersUsingFilter(
    const std::shared_ptr<HCFProductFilterSet>& filter, FilterSetCompletion completion) const {
  const auto body = HCFTintVaultSerialization::filterSetToServerDictionary(
      filter ? *filter : *HCFProductFilterSet::emptyFilterSet());
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([body, completion] {
    HCFNetTintVault::fetchTintVaultInspirationFiltersUsingCredentials(currentCredentials(), body,
                                                                      completion);
  });
}

void HCFProductSearch::execute(Completion completion) const {
  if (searchType == 1) {
    const JsonValue body{
        {"search", HCFTintVaultSerialization::productSearchToServerDictionary(*this)}};
    HCFNetTintVault::performTintVaultProductSearchUsingCredentials(
        currentCredentials(), body,
        [completion](std::vector<HCFProductSearchResult> results, std::optional<HCFError> error) {
          deliver(completion, std::move(results), std::move(error));
        });
    return;
  }
  if (colorTerm) {
    executeColorSearchIgnoringColorPredicate(false, std::move(completion));
  } else if (textTerm) {
    executeTextSearch(std::move(completion));
  } else {
    executeAllProductsSearch(std::move(completion));
  }
}

void HCFProductSearch::executeColorSearchIgnoringColorPredicate(bool ignoring,
                                                                Completion completion) const {
  // Exact: every product in the boxes is ranked on the catalogue's column form, not only the
  // first 5000 in store order, so the results are the nearest ones.
  high().async([search = *this, ignoring, completion] {
    deliverOffline(completion,
                   [&] { return products::colorSearch(search, ignoring, std::nullopt); });
  });
}

// Text and all-products searches: one hop to a worker for the query, one delivery on the main
// queue, on the same code path as the catalogue on a file.
void HCFProductSearch::executeTextSearch(Completion completion) const {
  high().async([search = *this, completion] {
    deliverOffline(completion,
                   [&] { return products::textOrAllProducts(search, true, std::nullopt); });
  });
}

void HCFProductSearch::executeAllProductsSearch(Completion completion) const {
  high().async([search = *this, completion] {
    deliverOffline(completion,
                   [&] { return products::textOrAllProducts(search, false, std::nullopt); });
  });
}

HCF_NAMESPACE_END
