// The filter-panel forms of HCFTintVaultSerialization: the online search service's panels and
// filter groups, and the kit's own dictionary of a panel.
#include "hcf/products/hcf_online_filter_sets.h"
#include "hcf/serialization/tint_vault_serialization.h"
#include "json_members.h"

HCF_NAMESPACE_BEGIN

namespace {

using S = HCFTintVaultSerialization;
using json_members::member;
using json_members::text;

}  // namespace

std::vector<HCFProductKV> S::kvsFromServerArray(const JsonValue& groups) {
  std::vector<HCFProductKV> out;
  if (!groups.is_array()) return out;
  for (const auto& g : groups) {
    const auto key = text(g, "filter_key");
    const auto* values = member(g, "filter_values");
    if (!key || !values || !values->is_array()) continue;
    for (const auto& v : *values) {
      const auto val = text(v, "filter_value");
      if (!val) continue;
      HCFProductKV kv;
      kv.key = key;
      kv.keyTranslated = text(g, "filter_key_translated").value_or(*key);
      kv.val = val;
      kv.valTranslated = text(v, "filter_value_translated").value_or(*val);
      out.push_back(std::move(kv));
    }
  }
  return out;
}

JsonValue S::kvsToServerArray(const std::vector<HCFProductKV>& kvs) {
  JsonValue out = JsonValue::array();
  for (const auto& kv : kvs) {
    const std::string key = kv.key.value_or("");
    JsonValue* group = nullptr;
    for (auto& g : out) {
      if (g["filter_key"] == key) group = &g;
    }
    if (!group) {
      out.push_back(JsonValue{{"filter_key", key},
                              {"filter_key_translated", kv.keyTranslated.value_or(key)},
                              {"filter_values", JsonValue::array()}});
      group = &out.back();
    }
    const std::string val = kv.val.value_or("");
    (*group)["filter_values"].push_back(JsonValue{
        {"filter_value", val}, {"filter_value_translated", kv.valTranslated.value_or(val)}});
  }
  return out;
}

namespace {

// The service's panel in `set`: "all_filters", "current_filters", "available_filters".
std::shared_ptr<HCFProductFilterSet> filledFromServer(std::shared_ptr<HCFProductFilterSet> set,
                                                      const JsonValue& d) {
  const auto groups = [&](const char* key) {
    const auto* v = member(d, key);
    return v ? S::kvsFromServerArray(*v) : std::vector<HCFProductKV>{};
  };
  set->setAllFilters(groups("all_filters"));
  set->setSelectedFilters(groups("current_filters"));
  set->setAvailableFilters(groups("available_filters"));
  return set;
}

}  // namespace

std::shared_ptr<HCFProductFilterSet> S::filterSetFromServerDictionary(const JsonValue& d) {
  return filledFromServer(std::make_shared<HCFOnlineProductFilterSet>(), d);
}

std::shared_ptr<HCFProductFilterSet> S::inspirationsFilterSetFromServerDictionary(
    const JsonValue& d) {
  return filledFromServer(std::make_shared<HCFOnlineInspirationsFilterSet>(), d);
}

JsonValue S::filterSetToDictionary(const HCFProductFilterSet& set) {
  return JsonValue{{"selectedFilters", kvsToArray(set.selectedFilters())},
                   {"availableFilters", kvsToArray(set.availableFilters())},
                   {"allFilters", kvsToArray(set.allFilters())}};
}

std::shared_ptr<HCFProductFilterSet> S::filterSetFromDictionary(const JsonValue& d) {
  auto set = HCFProductFilterSet::emptyFilterSet();
  const auto list = [&](const char* key) {
    const auto* v = member(d, key);
    return v ? kvsFromArray(*v) : std::vector<HCFProductKV>{};
  };
  set->setAllFilters(list("allFilters"));
  set->setAvailableFilters(list("availableFilters"));
  set->setSelectedFilters(list("selectedFilters"));
  return set;
}

HCF_NAMESPACE_END
