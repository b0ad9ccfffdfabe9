// Correction networks and look-up tables as calibration records and alignment documents carry
// them.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the form; the rest is the document.
  const bool table = data[0] & 1;
  ++data;
  --size;
  if (table) {
    auto lut = hcf::TintraAdjust::parseLUT(hcf_fuzz::text(data, size));
    if (lut.ok() && !lut.value()->empty()) {
      (void)hcf::TintraAdjust::applyLUT(*lut.value(), 50, 10, -10);
    }
    return 0;
  }
  auto doc = hcf_fuzz::json(data, size);
  if (!doc) return 0;
  auto net = hcf::TintraNN::initFromDic(*doc);
  if (!net.ok()) return 0;
  (void)net.value()->predictOutput(50, 10, -10);
  (void)net.value()->predictOutput(50, 10, -10, hcf::HCFStdObserver::TenDegree);
  return 0;
}
