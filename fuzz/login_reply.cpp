// The cloud's answer to a login: whatever package it names, the products store stays inside
// the application's data directory.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  hcf::HCFRealmManager::setDocDirectory(hcf_fuzz::scratch() / "data");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto doc = hcf_fuzz::json(data, size);
  if (!doc) return 0;
  const auto creds = hcf::HCFNetCredentials::sdkAuthResponseFromDictionary(*doc);
  const auto file = hcf::HCFRealmManager::storeFile(hcf::StoreKind::Products, creds.packageID);
  HCF_FUZZ_CHECK(file.parent_path() == hcf::HCFRealmManager::docDirectory());
  return 0;
}
