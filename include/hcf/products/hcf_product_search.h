// Searching the product catalogue: by colour (nearest by colour difference), by text, by
// filter values, or all products, with paging and sorting.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_color_search_options.h"
#include "hcf/products/hcf_product.h"
#include "hcf/products/hcf_product_filter_set.h"
#include "hcf/products/hcf_product_search_result.h"
#include "hcf/products/hcf_product_search_sort_descriptor.h"

HCF_NAMESPACE_BEGIN

/// A configured search. Set its properties and call `execute`; a search keeps no state
/// between runs and may be executed again.
///
/// Colour searches rank exactly: every product that has a colour inside the Lab box of the
/// term (L −35/+30, a and b ±35 around each of its colours) and passes the filters is ranked,
/// and the results are the nearest by the chosen colour difference (equal differences keep
/// the store's default order). When 9 or fewer products are inside the boxes, every product
/// that passes the filters is ranked instead.
class HCF_API HCFProductSearch {
 public:
  /// Called once with the results, best first, or with no results and the error.
  using Completion =
      std::function<void(std::vector<HCFProductSearchResult> results, std::optional<HCFError>)>;

  /// Fetch filter panels from the online service rather than the offline store (see
  /// `fetchProductFiltersUsingFilter`); searches themselves do not look at it.
  bool preferOnline = false;
  /// 0 = products, 1 = inspirations.
  std::uint64_t searchType = 0;
  /// The selected filter pairs; none selects every product (of the search type).
  std::optional<std::vector<HCFProductKV>> filters;
  /// The colour to search for (a scan, a product, a term); none for a search by text or of
  /// all products.
  std::shared_ptr<const HCFColorSearchTerm> colorTerm;
  /// How a colour search compares colours.
  HCFColorSearchOptions colorSearchOptions = HCFColorSearchOptions::defaultOptions();
  /// The text to search the products' attributes for; used when there is no colour term.
  std::optional<std::string> textTerm;
  /// Carried for the application; the search does not read them.
  std::optional<std::string> sortKey;
  /// See `sortKey`.
  bool sortAscending = false;
  /// The order of text and all-products results (the store's keys; others are dropped).
  std::optional<std::vector<HCFProductSearchSortDescriptor>> sortDescriptors;
  std::uint64_t limit = 50;  ///< the most results a run gives
  std::uint64_t skip = 0;    ///< how many of the best results to pass over first (paging)

  /// A search of products (type 0) with the defaults.
  static HCFProductSearch productSearch();
  /// A search of inspirations (type 1) with the defaults.
  static HCFProductSearch inspirationsSearch();
  /// "vendorOrder", "code", "name", "hue", "saturation", "brightness".
  static const std::vector<std::string>& validSortKeys();
  /// isInspiration = false: products only.
  static predicate::Predicate ignoreInspirationsPredicate();
  /// isInspiration = true: inspirations only.
  static predicate::Predicate inspirationsOnlyPredicate();

  /// Called once with a filter panel, or with none and the error.
  using FilterSetCompletion =
      std::function<void(std::shared_ptr<HCFProductFilterSet>, std::optional<HCFError>)>;
  /// The offline filter panel of products that are not inspirations, on the main queue.
  static void fetchProductFilters(FilterSetCompletion completion);
  /// The online service's product panel when `preferOnline`, else the offline one; on the main
  /// queue. `filter` is not consulted.
  void fetchProductFiltersUsingFilter(const std::shared_ptr<HCFProductFilterSet>& filter,
                                      FilterSetCompletion completion) const;
  /// The online service's inspirations panel for the selection of `filter`, with the
  /// service's error (on the main queue; errors on the transport's queue).
  void fetchInspirationFiltersUsingFilter(const std::shared_ptr<HCFProductFilterSet>& filter,
                                          FilterSetCompletion completion) const;

  /// Runs the search; `completion` is called exactly once, on the main queue. Inspiration
  /// searches (type 1) go to the online search service, with the credentials of the kit's
  /// login; the others run on the offline store: colour term → colour search; else text term →
  /// text search; else all products. `preferOnline` plays no part in this choice.
  void execute(Completion completion) const;

  // ---- building blocks ---------------------------------------------------------------------

  /// The inspiration predicate, AND the selected filters' predicate when filters are set.
  predicate::Predicate filterPredicate() const;
  /// The OR of the Lab boxes of the term's reference colour (batch "adjusted") and of each of
  /// its batched colours under the options' illuminant and observer.
  predicate::Predicate colorTermPredicate() const;
  /// Some colour of batch `batch`, under the options' illuminant and observer names, inside
  /// the box around `lab`: L in (L − 35, L + 30), a and b within ±35, strictly.
  predicate::Predicate labSearchPredicateFor(const HCFLabColor& lab,
                                             const std::string& batch) const;
  /// Some attribute's translated value contains the text term (without "*"), ignoring case
  /// and diacritics.
  predicate::Predicate textTermPredicate() const;
  /// The colour difference of `product` from the term: the first batched pair of equal batch
  /// (term colour under the options' illuminant and observer as the sample), else CIEDE2000
  /// from the term's reference colour to the product's first "adjusted" colour; none when
  /// neither exists.
  std::optional<double> deltaEToProduct(const HCFHalvernCloudProduct& product) const;
  /// Ranks `products` by `deltaEToProduct` (those without one are left out), ascending and
  /// stable, then applies `skip` and `limit`.
  std::vector<HCFProductSearchResult> computeDeltasForProducts(
      const std::vector<HCFHalvernCloudProduct>& products) const;
  /// The first min(limit, count) products as results without a difference.
  std::vector<HCFProductSearchResult> productsToSearchResults(
      const std::vector<HCFHalvernCloudProduct>& products) const;

  /// The offline colour search of `execute`; with `ignoring`, every product that passes the
  /// filters is ranked, not only those inside the Lab boxes. Results on the main queue; a
  /// damaged catalogue is error 9930.
  void executeColorSearchIgnoringColorPredicate(bool ignoring, Completion completion) const;
  /// The offline text search of `execute`, in the order of `sortDescriptors`.
  void executeTextSearch(Completion completion) const;
  /// The offline search of all products passing the filters, in the order of
  /// `sortDescriptors`.
  void executeAllProductsSearch(Completion completion) const;
};

HCF_NAMESPACE_END
