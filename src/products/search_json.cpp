// The search-result and sort-descriptor forms of HCFTintVaultSerialization.
#include <cctype>

#include "hcf/scan/tint_vault_serialization.h"

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

}  // namespace

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
