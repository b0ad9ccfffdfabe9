// Products as the catalogue's JSON and JSON Lines carry them.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = hcf_fuzz::text(data, size);
  if (auto product = hcf::HCFTintVaultSerialization::productFromData(text)) {
    const auto written = hcf::HCFTintVaultSerialization::productToDictionary(*product);
    (void)hcf::HCFTintVaultSerialization::productFromDictionary(written);
  }
  for (const auto& p : hcf::HCFTintVaultSerialization::productsFromJSONLData(text)) {
    (void)hcf::HCFTintVaultSerialization::productToDictionary(p);
  }
  return 0;
}
