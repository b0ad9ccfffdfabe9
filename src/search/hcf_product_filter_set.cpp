#include "hcf/products/hcf_product_filter_set.h"

#include <algorithm>

#include "../store/catalog_search.h"
#include "filter_set_support.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/store/hcf_realm_manager.h"
#include "hcf/store/hcf_realm_serialization.h"

HCF_NAMESPACE_BEGIN

namespace {

using namespace filter_sets;

// Without duplicates, sorted.
KVs normalized(const KVs& kvs) {
  KVs out;
  for (const auto& kv : kvs) {
    if (!contains(out, kv)) out.push_back(kv);
  }
  return HCFProductKV::sortedKVs(std::move(out));
}

const KVs* group(const KVsByKey& byKey, const std::optional<std::string>& key) {
  for (const auto& [k, kvs] : byKey) {
    if (k == key.value_or("")) return &kvs;
  }
  return nullptr;
}

bool sameValues(const KVs& a, const KVs& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].val != b[i].val) return false;
  }
  return true;
}

std::string hashOf(const HCFProductKV& kv) {
  return HRLMProductKV::makeKvHash(kv.key.value_or(""), kv.val.value_or(""));
}

}  // namespace

void HCFProductFilterSet::freshPanel(const std::optional<predicate::Predicate>& where,
                                     std::optional<bool> inspirations, Completion completion) {
  HCFRealmManager::offlineProductFiltersForProductsMatchingPredicate(
      where, [completion, inspirations](std::vector<HCFProductKV> kvs) {
        auto set = filterSetWithFilters(kvs);
        set->inspirations_ = inspirations;
        dispatch::globalQueue(dispatch::QueuePriority::Default).async([set, completion] {
          set->facets();  // the counts of the fresh panel
          deliver(set, completion);
        });
      });
}

HCFProductFilterSet::KVs HCFProductFilterSet::facets() {
  std::vector<std::pair<std::string, std::vector<std::string>>> selection;
  for (const auto& [key, kvs] : selectedFiltersByKey()) {
    std::vector<std::string> hashes;
    for (const auto& kv : kvs) hashes.push_back(hashOf(kv));
    selection.emplace_back(key, std::move(hashes));
  }
  std::optional<bool> inspirations;
  {
    std::lock_guard lock(mutex_);
    inspirations = inspirations_;
  }
  std::vector<store::FilterFacet> found;
  try {
    found = store::filterFacets(selection, inspirations);
  } catch (const store::DamagedCatalog&) {
    // Set aside: the panel offers nothing until the catalogue is downloaded again.
  }
  KVs kvs;
  std::map<std::string, std::uint64_t> counts;
  for (const auto& f : found) {
    kvs.push_back(HCFRealmSerialization::kvFromRealmKV(f.kv));
    counts[f.kv.kvHash] = f.products;
  }
  std::lock_guard lock(mutex_);
  counts_ = std::move(counts);
  return kvs;
}

std::optional<std::uint64_t> HCFProductFilterSet::productCountForFilter(
    const HCFProductKV& pair) const {
  std::lock_guard lock(mutex_);
  const auto it = counts_.find(hashOf(pair));
  if (it == counts_.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<HCFProductFilterSet> HCFProductFilterSet::emptyFilterSet() {
  return std::make_shared<HCFProductFilterSet>();
}

std::shared_ptr<HCFProductFilterSet> HCFProductFilterSet::filterSetWithSelectedFilters(
    const KVs& pairs) {
  auto set = emptyFilterSet();
  set->setAllFilters(pairs);
  set->setAvailableFilters(pairs);
  set->setSelectedFilters(pairs);
  return set;
}

std::shared_ptr<HCFProductFilterSet> HCFProductFilterSet::filterSetWithFilters(const KVs& pairs) {
  const auto byKey = HCFProductKV::kvsByKey(normalized(pairs));
  KVs offered;
  for (const auto& [key, kvs] : byKey) {
    if (kvs.size() >= 2) offered.insert(offered.end(), kvs.begin(), kvs.end());
  }
  // Of keys offering exactly the same values, the first met stays.
  std::vector<std::string> redundant;
  const auto isRedundant = [&](const std::string& k) {
    return std::find(redundant.begin(), redundant.end(), k) != redundant.end();
  };
  for (const auto& [k1, kvs1] : byKey) {
    for (const auto& [k2, kvs2] : byKey) {
      if (k1 == k2 || isRedundant(k1) || isRedundant(k2)) continue;
      if (sameValues(kvs1, kvs2)) redundant.push_back(k2);
    }
  }
  std::erase_if(offered, [&](const HCFProductKV& kv) { return isRedundant(kv.key.value_or("")); });
  auto set = emptyFilterSet();
  set->setAllFilters(offered);
  set->setAvailableFilters(offered);
  return set;
}

void HCFProductFilterSet::filterSet(Completion completion) {
  freshPanel(std::nullopt, std::nullopt, std::move(completion));
}

void HCFProductFilterSet::offlineProductsFilterSet(Completion completion) {
  freshPanel(predicate::Predicate::equal("isInspiration", false), false, std::move(completion));
}

void HCFProductFilterSet::offlineInspirationsFilterSet(Completion completion) {
  freshPanel(predicate::Predicate::equal("isInspiration", true), true, std::move(completion));
}

predicate::Predicate HCFProductFilterSet::predicateForFilters(const KVsByKey& pairsByKey) {
  std::vector<predicate::Predicate> perKey;
  for (const auto& [key, kvs] : pairsByKey) {
    std::vector<predicate::Predicate> any;
    for (const auto& kv : kvs) any.push_back(kv.filterPredicate());
    perKey.push_back(predicate::Predicate::orOf(std::move(any)));
  }
  return predicate::Predicate::andOf(std::move(perKey));
}

KVs HCFProductFilterSet::allFilters() const {
  std::lock_guard lock(mutex_);
  return all_;
}
KVs HCFProductFilterSet::selectedFilters() const {
  std::lock_guard lock(mutex_);
  return selected_;
}
KVs HCFProductFilterSet::availableFilters() const {
  std::lock_guard lock(mutex_);
  return available_;
}
KVsByKey HCFProductFilterSet::allFiltersByKey() const {
  std::lock_guard lock(mutex_);
  return allByKey_;
}
KVsByKey HCFProductFilterSet::selectedFiltersByKey() const {
  std::lock_guard lock(mutex_);
  return selectedByKey_;
}
KVsByKey HCFProductFilterSet::availableFiltersByKey() const {
  std::lock_guard lock(mutex_);
  return availableByKey_;
}

void HCFProductFilterSet::setAllFilters(const KVs& pairs) {
  KVs kept;
  for (const auto& [key, kvs] : HCFProductKV::kvsByKey(normalized(pairs))) {
    if (kvs.size() >= 2 || key == "category") kept.insert(kept.end(), kvs.begin(), kvs.end());
  }
  kept = normalized(kept);
  auto byKey = HCFProductKV::kvsByKey(kept);
  std::lock_guard lock(mutex_);
  all_ = std::move(kept);
  allByKey_ = std::move(byKey);
}

void HCFProductFilterSet::setSelectedFilters(const KVs& pairs) {
  auto list = normalized(pairs);
  auto byKey = HCFProductKV::kvsByKey(list);
  std::lock_guard lock(mutex_);
  selected_ = std::move(list);
  selectedByKey_ = std::move(byKey);
}

void HCFProductFilterSet::setAvailableFilters(const KVs& pairs) {
  auto list = normalized(pairs);
  auto byKey = HCFProductKV::kvsByKey(list);
  std::lock_guard lock(mutex_);
  available_ = std::move(list);
  availableByKey_ = std::move(byKey);
}

predicate::Predicate HCFProductFilterSet::searchPredicate() const {
  return predicateForFilters(selectedFiltersByKey());
}

void HCFProductFilterSet::load(Completion completion) {
  auto set = self();
  HCFRealmManager::allOfflineProductFiltersWithCompletionHandler(
      [set, completion](std::vector<HCFProductKV> kvs) {
        set->setSelectedFilters({});
        set->setAllFilters(kvs);
        set->setAvailableFilters(set->allFilters());
        deliver(set, completion);
      });
}

void HCFProductFilterSet::selectFilter(const HCFProductKV& pair, Completion completion) {
  const auto before = availableFiltersByKey();
  auto selected = selectedFilters();
  selected.push_back(pair);
  setSelectedFilters(selected);
  auto set = self();
  updateAvailableFilters([set, before, pair, completion](auto, auto) {
    set->superImposeSelectedFilters();
    set->finishChange(before, pair, completion);
  });
}

void HCFProductFilterSet::deselectFilter(const HCFProductKV& pair, Completion completion) {
  const auto before = availableFiltersByKey();
  auto selected = selectedFilters();
  std::erase(selected, pair);
  setSelectedFilters(selected);
  auto set = self();
  updateAvailableFilters(
      [set, before, pair, completion](auto, auto) { set->finishChange(before, pair, completion); });
}

void HCFProductFilterSet::toggleFilter(const HCFProductKV& pair, Completion completion) {
  if (filterIsSelected(pair)) {
    deselectFilter(pair, std::move(completion));
  } else {
    selectFilter(pair, std::move(completion));
  }
}

void HCFProductFilterSet::finishChange(const KVsByKey& before, const HCFProductKV& pair,
                                       Completion completion) {
  auto available = availableFilters();
  // Values of the same key that were offered stay offered: they combine by OR.
  if (const auto* sameKey = group(before, pair.key)) {
    available.insert(available.end(), sameKey->begin(), sameKey->end());
  }
  const auto all = allFilters();
  std::erase_if(available, [&](const HCFProductKV& kv) { return !contains(all, kv); });
  setAvailableFilters(available);
  available = availableFilters();
  const auto selected = selectedFilters();
  for (const auto& s : selected) {
    if (!contains(available, s)) {
      deselectFilter(s, std::move(completion));
      return;
    }
  }
  if (selected.size() == 1) {
    const auto allByKey = allFiltersByKey();
    if (const auto* sameKey = group(allByKey, selected[0].key)) {
      available.insert(available.end(), sameKey->begin(), sameKey->end());
      setAvailableFilters(available);
    }
  }
  deliver(self(), completion);
}

void HCFProductFilterSet::updateAvailableFilters(Completion completion) {
  auto set = self();
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([set, completion] {
    // Faceted: each key's values are those of the products passing the other keys'
    // selections (OR within a key, AND across keys), with their counts.
    set->setAvailableFilters(set->facets());
    deliver(set, completion);
  });
}

void HCFProductFilterSet::superImposeSelectedFilters() {
  auto available = availableFilters();
  for (const auto& [key, kvs] : selectedFiltersByKey()) {
    available.insert(available.end(), kvs.begin(), kvs.end());
  }
  setAvailableFilters(available);
}

bool HCFProductFilterSet::filterIsSelected(const HCFProductKV& pair) const {
  return contains(selectedFilters(), pair);
}

std::vector<std::string> HCFProductFilterSet::selectedVals() const {
  std::vector<std::string> out;
  for (const auto& kv : selectedFilters()) out.push_back(kv.valTranslated.value_or(""));
  return out;
}

std::size_t HCFProductFilterSet::availableFiltersKeyCount() const {
  return availableFiltersByKey().size();
}

std::size_t HCFProductFilterSet::availableFiltersValCountForKey(const std::string& key) const {
  const auto byKey = availableFiltersByKey();
  const auto* kvs = group(byKey, key);
  return kvs ? kvs->size() : 0;
}

std::size_t HCFProductFilterSet::availableFiltersValCountForKeyAtIndex(std::size_t index) const {
  const auto byKey = availableFiltersByKey();
  return index < byKey.size() ? byKey[index].second.size() : 0;
}

std::optional<std::string> HCFProductFilterSet::availableFilterKeyAtIndex(std::size_t index) const {
  const auto byKey = availableFiltersByKey();
  if (index >= byKey.size()) return std::nullopt;
  return byKey[index].first;
}

std::optional<HCFProductKV> HCFProductFilterSet::availableFilterAtIndexPath(std::size_t section,
                                                                            std::size_t row) const {
  const auto byKey = availableFiltersByKey();
  if (section >= byKey.size() || row >= byKey[section].second.size()) return std::nullopt;
  return byKey[section].second[row];
}

HCF_NAMESPACE_END
