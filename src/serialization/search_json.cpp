// The search, search-term, search-result and sort-descriptor forms of
// HCFTintVaultSerialization.
#include <cctype>

#include "hcf/color/ht_color_utils.h"
#include "hcf/products/hcf_online_filter_sets.h"
#include "hcf/serialization/tint_vault_serialization.h"
#include "json_members.h"

HCF_NAMESPACE_BEGIN

namespace {

using S = HCFTintVaultSerialization;

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string replaced(std::string text, char from, char to) {
  for (char& c : text) {
    if (c == from) c = to;
  }
  return text;
}

// The server's form of a store key: "vendorOrder" and "Vendor Order" are "vendor_order".
std::string serverKey(std::string_view sortKey) {
  std::string key = replaced(lowered(sortKey), ' ', '_');
  return key == "vendororder" ? "vendor_order" : key;
}

JsonValue d50(const HCFLabColor& lab) {
  return JsonValue{{"d50L", lab.L}, {"d50a", lab.A}, {"d50b", lab.B}};
}

// {key: [values]} in the order the pairs come.
JsonValue attributesOf(const std::vector<HCFProductKV>& kvs) {
  JsonValue out = JsonValue::object();
  for (const auto& kv : kvs) {
    auto& values = out[kv.key.value_or("")];
    if (!values.is_array()) values = JsonValue::array();
    values.push_back(kv.val.value_or(""));
  }
  return out;
}

using json_members::member;
using json_members::text;

std::uint64_t unsignedOf(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  if (!v || !v->is_number()) return 0;
  const double x = v->get<double>();
  return x > 0 && x < 1.8e19 ? static_cast<std::uint64_t>(x) : 0;
}

}  // namespace

JsonValue S::productSearchToServerDictionary(const HCFProductSearch& search) {
  JsonValue out = JsonValue::object();
  out["limit"] = search.limit;
  out["skip"] = search.skip;
  if (search.colorTerm) {
    if (const auto aux = search.colorTerm->auxSearchLab()) out["adjusted_lab"] = d50(*aux);
    const auto labs = search.colorTerm->batchedLabsWithIllum(std::nullopt, std::nullopt);
    if (!labs.empty()) {
      out["device_lab"] = d50(labs.front().lab);
      out["device_batch"] = labs.front().batch;
      JsonValue unified = JsonValue::array();
      for (const auto& l : labs) {
        unified.push_back(JsonValue{{"device_lab", d50(l.lab)}, {"device_batch", l.batch}});
      }
      out["unifiedBatchLabs"] = std::move(unified);
    }
  }
  if (search.textTerm) out["text_term"] = *search.textTerm;
  if (search.sortDescriptors && !search.sortDescriptors->empty()) {
    out["sort"] = sortDescriptorsToServerArray(*search.sortDescriptors);
  } else {
    out["sort"] = JsonValue::parse(R"([{"vendor_order":"ASC"},{"code":"ASC"},{"name":"ASC"}])");
  }
  JsonValue filter = JsonValue::object();
  if (search.filters && !search.filters->empty())
    filter["attributes"] = attributesOf(*search.filters);
  if (search.searchType == 1) {
    auto& attributes = filter["attributes"];
    if (!attributes.is_object()) attributes = JsonValue::object();
    if (!attributes.contains("category"))
      attributes["category"] = JsonValue::array({"Inspirations"});
  }
  out["filter"] = std::move(filter);
  out["includeDE"] = true;
  return out;
}

JsonValue S::productSearchToDictionary(const HCFProductSearch& search) {
  JsonValue out = JsonValue::object();
  if (search.sortDescriptors)
    out["sort_descriptors"] = sortDescriptorsToArray(*search.sortDescriptors);
  out["limit"] = search.limit;
  out["skip"] = search.skip;
  if (search.filters) out["filter_descriptors"] = kvsToArray(*search.filters);
  if (search.colorTerm) out["color_term"] = colorTermToDictionary(*search.colorTerm);
  const auto& o = search.colorSearchOptions;
  out["color_search_opts"] =
      JsonValue{{"observer", HTColorUtils::toObserverTextStr(o.observer)},
                {"illuminant", HTColorUtils::toIlluminantStr(o.illuminant).value_or("")},
                {"delta_e", HTColorUtils::toDeltaEStr(o.deltaEMethod)}};
  if (search.textTerm) out["text_term"] = *search.textTerm;
  out["search_type"] = search.searchType == 1 ? "inspirations" : "products";
  return out;
}

HCFProductSearch S::productSearchFromDictionary(const JsonValue& d) {
  HCFProductSearch search;
  if (const auto* sorts = member(d, "sort_descriptors")) {
    search.sortDescriptors = sortDescriptorsFromArray(*sorts);
  }
  search.limit = unsignedOf(d, "limit");
  search.skip = unsignedOf(d, "skip");
  if (const auto* filters = member(d, "filter_descriptors"))
    search.filters = kvsFromArray(*filters);
  if (const auto* term = member(d, "color_term")) search.colorTerm = colorTermFromDictionary(*term);
  if (const auto* opts = member(d, "color_search_opts"); opts && opts->is_object()) {
    auto o = HCFColorSearchOptions::defaultOptions();
    o.deltaEMethod = HTColorUtils::fromDeltaEStr(text(*opts, "delta_e").value_or(""));
    o.observer = HTColorUtils::fromObserverStr(text(*opts, "observer").value_or(""));
    o.illuminant = HTColorUtils::fromIlluminantStr(text(*opts, "illuminant").value_or(""));
    search.colorSearchOptions = o;
  }
  search.textTerm = text(d, "text_term");
  search.searchType = text(d, "search_type") == "inspirations" ? 1 : 0;
  return search;
}

JsonValue S::colorTermToDictionary(const HCFColorSearchTerm& term) {
  JsonValue out = JsonValue{{"object_type", "genericColorTerm"}, {"object_version", "1.0.0"}};
  if (const auto aux = term.auxSearchLab()) out["adjusted_lab"] = labColorToDictionary(*aux);
  const auto labs = term.batchedLabsWithIllum(std::nullopt, std::nullopt);
  if (!labs.empty()) out["batched_labs"] = batchedLabsToArray(labs);
  return out;
}

std::shared_ptr<HCFGenericColorSearchTerm> S::colorTermFromDictionary(const JsonValue& d) {
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  if (const auto* lab = member(d, "adjusted_lab")) {
    if (auto read = labColorFromDictionary(*lab)) term->auxLab = *read;
  }
  if (const auto* labs = member(d, "batched_labs")) {
    if (auto read = batchedLabsFromArray(*labs)) term->batchedLabs = *read;
  }
  return term;
}

std::shared_ptr<HCFGenericColorSearchTerm> S::searchTermFromDictionary(const JsonValue& d) {
  return colorTermFromDictionary(d);
}

JsonValue S::filterSetToServerDictionary(const HCFProductFilterSet& set) {
  return JsonValue{{"filter", JsonValue{{"attributes", attributesOf(set.selectedFilters())}}}};
}

JsonValue S::productSearchResultToDictionary(const HCFProductSearchResult& result) {
  JsonValue out = JsonValue::object();
  out["product"] = productToDictionary(result.product);
  if (result.deltaE) out["delta_e"] = static_cast<double>(*result.deltaE);
  return out;
}

JsonValue S::productSearchResultsToArray(const std::vector<HCFProductSearchResult>& results) {
  JsonValue out = JsonValue::array();
  for (const auto& r : results) out.push_back(productSearchResultToDictionary(r));
  return out;
}

JsonValue S::sortDescriptorsToServerArray(
    const std::vector<HCFProductSearchSortDescriptor>& descriptors) {
  JsonValue out = JsonValue::array();
  for (const auto& d : descriptors) {
    JsonValue entry = JsonValue::object();
    entry[serverKey(d.sortKey)] = d.ascending ? "ASC" : "DESC";
    out.push_back(std::move(entry));
  }
  return out;
}

JsonValue S::sortDescriptorsToArray(
    const std::vector<HCFProductSearchSortDescriptor>& descriptors) {
  JsonValue out = JsonValue::array();
  for (const auto& d : descriptors) {
    // Through the server form, so that "vendorOrder" is written "Vendor Order" and reads back
    // as "vendorOrder" (capitalising the store key itself would give "Vendororder", which
    // reads back as no key the store knows).
    out.push_back(JsonValue{{"sort_key", displayableSortKeyFromServerSortKey(serverKey(d.sortKey))},
                            {"sort_ascending", d.ascending}});
  }
  return out;
}

std::vector<HCFProductSearchSortDescriptor> S::sortDescriptorsFromArray(const JsonValue& array) {
  std::vector<HCFProductSearchSortDescriptor> out;
  if (!array.is_array()) return out;
  for (const auto& entry : array) {
    if (!entry.is_object()) continue;
    const auto key = entry.find("sort_key");
    if (key == entry.end() || !key->is_string()) continue;
    const auto ascending = entry.find("sort_ascending");
    const bool up = ascending != entry.end() && ascending->is_boolean() && ascending->get<bool>();
    out.push_back(HCFProductSearchSortDescriptor::sortDescriptorWithKey(
        serverSortKeyFromDisplayableSortKey(key->get<std::string>()), up));
  }
  return out;
}

std::string S::serverSortKeyFromDisplayableSortKey(std::string_view key) {
  const std::string server = replaced(lowered(key), ' ', '_');
  return server == "vendor_order" ? "vendorOrder" : server;
}

std::string S::displayableSortKeyFromServerSortKey(std::string_view key) {
  std::string out = replaced(std::string(key), '_', ' ');
  bool wordStart = true;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    c = static_cast<char>(wordStart ? std::toupper(u) : std::tolower(u));
    wordStart = std::isspace(u) != 0;
  }
  return out;
}

HCF_NAMESPACE_END
