// Dates from the cloud: RFC 3339 in documents, HTTP dates in headers.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(hcf_fuzz::text(data, size));
  if (auto date = hcf::HCFNetCommon::dateFromRFC3339String(text)) {
    const auto written = hcf::HCFNetCommon::RFC3339StringFromDate(*date);
    auto again = hcf::HCFNetCommon::dateFromRFC3339String(written);
    HCF_FUZZ_CHECK(again.has_value());
  }
  (void)hcf::B2Public::stringToDate(text);
  return 0;
}
