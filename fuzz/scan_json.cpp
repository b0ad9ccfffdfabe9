// Scan dictionaries (saved scans, scans sent by applications).
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto doc = hcf_fuzz::json(data, size);
  if (!doc) return 0;
  auto scan = hcf::HCFTintVaultSerialization::colorScanFromDictionary(*doc);
  if (!scan.ok()) return 0;
  const auto written = hcf::HCFTintVaultSerialization::colorScanToDictionary(*scan.value());
  auto again = hcf::HCFTintVaultSerialization::colorScanFromDictionary(written);
  HCF_FUZZ_CHECK(again.ok());
  (void)scan.value()->lab(hcf::HCFStdObserver::TwoDegree, hcf::HCFIlluminant::D65);
  return 0;
}
