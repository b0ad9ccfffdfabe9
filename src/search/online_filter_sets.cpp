#include <algorithm>

#include "../cloud/current_credentials.h"
#include "filter_set_support.h"
#include "hcf/cloud/hcf_net_tint_vault.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/products/hcf_online_filter_sets.h"
#include "hcf/serialization/tint_vault_serialization.h"

HCF_NAMESPACE_BEGIN

namespace {

using namespace filter_sets;

// Asks the service for the values available under `set`'s selection and sets them.
void fetchAvailable(const std::shared_ptr<HCFProductFilterSet>& set, bool inspirations,
                    Completion completion) {
  const auto body = HCFTintVaultSerialization::filterSetToServerDictionary(*set);
  auto done = [set, completion](std::shared_ptr<HCFProductFilterSet> answer,
                                std::optional<HCFError> error) {
    set->setAvailableFilters(answer ? answer->availableFilters() : KVs{});
    deliver(set, completion, std::move(error));
  };
  if (inspirations) {
    HCFNetTintVault::fetchTintVaultInspirationFiltersUsingCredentials(currentCredentials(), body,
                                                                      std::move(done));
  } else {
    HCFNetTintVault::fetchTintVaultFiltersUsingCredentials(currentCredentials(), body,
                                                           std::move(done));
  }
}

// The common steps of a selection change: the new selection, the service's availability, the
// selected values superimposed, the key's earlier values kept, only offered values left. Then
// `finish`.
void change(const std::shared_ptr<HCFProductFilterSet>& set, const HCFProductKV& pair, bool select,
            std::function<void()> finish) {
  const auto before = set->availableFiltersByKey();
  auto selected = set->selectedFilters();
  if (select) {
    selected.push_back(pair);
  } else {
    std::erase(selected, pair);
  }
  set->setSelectedFilters(selected);
  set->updateAvailableFilters([set, before, pair, finish](auto, auto) {
    set->superImposeSelectedFilters();
    auto available = set->availableFilters();
    for (const auto& [key, kvs] : before) {
      if (key == pair.key.value_or("")) available.insert(available.end(), kvs.begin(), kvs.end());
    }
    const auto all = set->allFilters();
    std::erase_if(available, [&](const HCFProductKV& kv) { return !contains(all, kv); });
    set->setAvailableFilters(available);
    finish();
  });
}

// After a change of an inspirations panel: a selected value that is neither available nor
// the inspirations category is deselected (which completes); else the set is delivered.
void checkInspirationSelection(const std::shared_ptr<HCFProductFilterSet>& set,
                               const Completion& completion) {
  auto allowed = set->availableFilters();
  allowed.push_back(HCFProductKV::kvWithKey("category", "Inspirations"));
  for (const auto& s : set->selectedFilters()) {
    if (!contains(allowed, s)) {
      set->deselectFilter(s, completion);
      return;
    }
  }
  deliver(set, completion);
}

}  // namespace

void HCFProductFilterSet::onlineProductsFilterSet(Completion completion) {
  HCFNetTintVault::fetchTintVaultFiltersUsingCredentials(
      currentCredentials(),
      HCFTintVaultSerialization::filterSetToServerDictionary(
          *HCFProductFilterSet::emptyFilterSet()),
      std::move(completion));
}

void HCFProductFilterSet::onlineInspirationsFilterSet(Completion completion) {
  const auto inspirations = HCFProductFilterSet::filterSetWithSelectedFilters(
      {HCFProductKV::kvWithKey("category", "Inspirations")});
  HCFNetTintVault::fetchTintVaultInspirationFiltersUsingCredentials(
      currentCredentials(), HCFTintVaultSerialization::filterSetToServerDictionary(*inspirations),
      [completion](std::shared_ptr<HCFProductFilterSet> set, std::optional<HCFError> error) {
        deliver(std::move(set), completion, std::move(error));
      });
}

void HCFOnlineProductFilterSet::selectFilter(const HCFProductKV& pair, Completion completion) {
  auto set = self();
  change(set, pair, true, [set, completion] { deliver(set, completion); });
}

void HCFOnlineProductFilterSet::deselectFilter(const HCFProductKV& pair, Completion completion) {
  auto set = self();
  change(set, pair, false, [set, completion] { deliver(set, completion); });
}

void HCFOnlineProductFilterSet::updateAvailableFilters(Completion completion) {
  fetchAvailable(self(), false, std::move(completion));
}

void HCFOnlineInspirationsFilterSet::selectFilter(const HCFProductKV& pair, Completion completion) {
  auto set = self();
  change(set, pair, true, [set, completion] { checkInspirationSelection(set, completion); });
}

void HCFOnlineInspirationsFilterSet::deselectFilter(const HCFProductKV& pair,
                                                    Completion completion) {
  auto set = self();
  change(set, pair, false, [set, completion] { checkInspirationSelection(set, completion); });
}

void HCFOnlineInspirationsFilterSet::updateAvailableFilters(Completion completion) {
  fetchAvailable(self(), true, std::move(completion));
}

HCF_NAMESPACE_END
