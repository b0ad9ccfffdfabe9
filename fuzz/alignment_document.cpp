// The alignment document of a production batch, and the networks it carries.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hcf::HAlignmentHash hash;
  hash.sourceBatch = 95;
  hash.jsonData = hcf::Bytes(data, data + size);
  const auto doc = hash.alignmentDic();
  (void)hash.priorityArray();
  const auto targets = hash.sortedTargetBatches();
  if (!doc || !doc->is_object()) return 0;
  // The networks to every target, as a reading looks them up.
  const auto uann = doc->find("uANN");
  if (uann == doc->end() || !uann->is_object()) return 0;
  const auto mine = uann->find("95");
  if (mine == uann->end() || !mine->is_object() || !targets) return 0;
  for (const auto& target : *targets) {
    const auto net = mine->find(target);
    if (net != mine->end()) (void)hcf::TintraNN::initFromDic(*net);
  }
  return 0;
}
