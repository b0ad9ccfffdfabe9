// A faceted filter panel over the product catalogue: every filter value offered, the values
// chosen, and the values that can still be chosen without emptying the result.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product.h"

HCF_NAMESPACE_BEGIN

/// The panel's state, computed from the offline products store. Every list is free of
/// duplicates and sorted by translated key, then translated value (ignoring case); each has a
/// by-key form whose key order is stable while the list is unchanged. Changes are
/// asynchronous: start the next only after the previous completion (completions run on the
/// main queue, with the set itself and no error).
class HCF_API HCFProductFilterSet : public std::enable_shared_from_this<HCFProductFilterSet> {
 public:
  /// A list of filter values.
  using KVs = std::vector<HCFProductKV>;
  /// Filter values grouped by key: (key, its values) in key order.
  using KVsByKey = std::vector<std::pair<std::string, KVs>>;
  /// Called once with the panel, and the error that stopped the change if there was one.
  using Completion =
      std::function<void(std::shared_ptr<HCFProductFilterSet>, std::optional<HCFError>)>;

  HCFProductFilterSet() = default;
  virtual ~HCFProductFilterSet() = default;
  HCFProductFilterSet(const HCFProductFilterSet&) = delete;
  HCFProductFilterSet& operator=(const HCFProductFilterSet&) = delete;

  /// A panel with nothing offered and nothing selected.
  static std::shared_ptr<HCFProductFilterSet> emptyFilterSet();
  /// `pairs` selected (and offered, through the pruning setter): how a search turns its
  /// filters into a predicate.
  static std::shared_ptr<HCFProductFilterSet> filterSetWithSelectedFilters(const KVs& pairs);
  /// A fresh panel of `pairs`: keys with a single value are left out, and of keys offering
  /// exactly the same values only the first (in by-key order) stays; nothing selected.
  static std::shared_ptr<HCFProductFilterSet> filterSetWithFilters(const KVs& pairs);
  /// A fresh panel of every filter value in the store.
  static void filterSet(Completion completion);
  /// A fresh panel of the filter values of products that are not inspirations.
  static void offlineProductsFilterSet(Completion completion);
  /// A fresh panel of the filter values of inspirations.
  static void offlineInspirationsFilterSet(Completion completion);
  /// The online search service's panel of products, with nothing selected (an
  /// HCFOnlineProductFilterSet), and the service's error; on the transport's queue.
  static void onlineProductsFilterSet(Completion completion);
  /// The service's panel of inspirations with category = Inspirations selected (an
  /// HCFOnlineInspirationsFilterSet); on the main queue.
  static void onlineInspirationsFilterSet(Completion completion);
  /// OR of the pairs' filter predicates within a key, AND across keys (an empty map matches
  /// every product).
  static predicate::Predicate predicateForFilters(const KVsByKey& pairsByKey);

  /// Every value the panel offers. Any thread, as are the other readers.
  KVs allFilters() const;
  /// The values chosen.
  KVs selectedFilters() const;
  /// The values that can still be chosen without emptying the result.
  KVs availableFilters() const;
  /// `allFilters()` grouped by key.
  KVsByKey allFiltersByKey() const;
  /// `selectedFilters()` grouped by key.
  KVsByKey selectedFiltersByKey() const;
  /// `availableFilters()` grouped by key: the sections of a panel's table.
  KVsByKey availableFiltersByKey() const;
  /// Drops every key with a single value, except "category".
  void setAllFilters(const KVs& pairs);
  /// Replaces the selection with `pairs` (duplicates dropped, sorted); nothing is recomputed.
  void setSelectedFilters(const KVs& pairs);
  /// Replaces the available values with `pairs` (duplicates dropped, sorted).
  void setAvailableFilters(const KVs& pairs);
  /// The store predicate of the selection.
  predicate::Predicate searchPredicate() const;
  /// `searchPredicate()`.
  predicate::Predicate selectedFiltersPredicate() const { return searchPredicate(); }

  /// Reloads from the store: nothing selected, every filter value offered and available.
  virtual void load(Completion completion);
  /// Select or deselect `pair` and recompute what is available, faceted: each key's values are
  /// those the products passing the other keys' selections have (values of one key combine
  /// by OR, so choosing one leaves the others reachable); a selected value that is no longer
  /// available is deselected.
  virtual void selectFilter(const HCFProductKV& pair, Completion completion);
  /// Deselects `pair` and recomputes what is available, as `selectFilter` does.
  virtual void deselectFilter(const HCFProductKV& pair, Completion completion);
  /// Deselects `pair` when it is selected, else selects it.
  void toggleFilter(const HCFProductKV& pair, Completion completion);
  /// Recomputes `availableFilters` (and the counts) for the current selection.
  virtual void updateAvailableFilters(Completion completion);
  /// How many products (inspirations, for a panel of inspirations) choosing `pair` would leave
  /// with the current selection of the other keys; none when not known (an online panel, or a
  /// pair the panel does not offer).
  std::optional<std::uint64_t> productCountForFilter(const HCFProductKV& pair) const;
  /// Adds each selected key's selected pairs to `availableFilters`.
  void superImposeSelectedFilters();

  // ---- panel accessors (key indexes follow `availableFiltersByKey`) -------------------------
  /// True when `pair` (key and value) is selected.
  bool filterIsSelected(const HCFProductKV& pair) const;
  /// The translated values of the selection, in its order ("" for a value without one).
  std::vector<std::string> selectedVals() const;
  /// How many keys have available values: the panel's sections.
  std::size_t availableFiltersKeyCount() const;
  /// How many values of `key` are available; 0 for a key with none.
  std::size_t availableFiltersValCountForKey(const std::string& key) const;
  /// How many values the key at `index` has available; 0 past the last key.
  std::size_t availableFiltersValCountForKeyAtIndex(std::size_t index) const;
  /// The key at `index`; none past the last key.
  std::optional<std::string> availableFilterKeyAtIndex(std::size_t index) const;
  /// Value `row` of the key at `section`; none when either is out of range.
  std::optional<HCFProductKV> availableFilterAtIndexPath(std::size_t section,
                                                         std::size_t row) const;

 protected:
  /// Ends a selection change of `pair` once availability was recomputed: the values of its key
  /// offered `before` stay available, values the panel does not offer are dropped, a
  /// selected value no longer available is deselected (which completes instead), and a single
  /// selection keeps all of its key's values; then `completion` runs on the main queue.
  void finishChange(const KVsByKey& before, const HCFProductKV& pair, Completion completion);
  /// This panel, shared (the panel must be owned by a shared pointer).
  std::shared_ptr<HCFProductFilterSet> self() { return shared_from_this(); }

 private:
  /// A fresh offline panel of the products (or inspirations) matching `where`, with counts.
  static void freshPanel(const std::optional<predicate::Predicate>& where,
                         std::optional<bool> inspirations, Completion completion);
  /// The available values and their counts for the current selection, from the store.
  KVs facets();

  mutable std::mutex mutex_;
  KVs all_, selected_, available_;
  KVsByKey allByKey_, selectedByKey_, availableByKey_;
  std::optional<bool> inspirations_;             // none: every product counts
  std::map<std::string, std::uint64_t> counts_;  // by kvHash
};

HCF_NAMESPACE_END
