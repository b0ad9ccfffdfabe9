// Searches, colour terms and filter panels in their application and server forms, and the
// queries they become.
#include <hcf/hcf.h>

#include <algorithm>

#include "fuzz_support.h"
#include "store/product_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto doc = hcf_fuzz::json(data, size);
  if (!doc) return 0;
  using S = hcf::HCFTintVaultSerialization;
  auto search = S::productSearchFromDictionary(*doc);
  (void)S::productSearchToDictionary(search);
  (void)hcf::HCFNetCommon::toJsonData(S::productSearchToServerDictionary(search), 0);
  // What the search becomes in the store: values only ever as bound parameters.
  for (const auto& where :
       {search.filterPredicate(), search.colorTermPredicate(), search.textTermPredicate()}) {
    if (auto fragment = where.sql(hcf::store::productMapping())) {
      const auto marks = std::count(fragment->sql.begin(), fragment->sql.end(), '?');
      HCF_FUZZ_CHECK(static_cast<std::size_t>(marks) == fragment->parameters.size());
    }
  }
  if (auto term = S::colorTermFromDictionary(*doc)) (void)term;
  auto filters = S::filterSetFromDictionary(*doc);
  (void)filters;
  auto server = S::filterSetFromServerDictionary(*doc);
  (void)server;
  auto inspirations = S::inspirationsFilterSetFromServerDictionary(*doc);
  (void)inspirations;
  return 0;
}
