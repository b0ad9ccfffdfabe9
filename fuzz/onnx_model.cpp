// Spectrometer model files (ONNX) as the model packages carry them.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto model = hcf::ml::Model::fromONNX({data, size});
  if (!model.ok()) return 0;
  const auto n = model.value()->inputLength();
  if (n > 4096) return 0;
  auto out = model.value()->prediction(hcf::ml::MultiArray::vector(std::vector<double>(n, 0.5)));
  if (out.ok()) HCF_FUZZ_CHECK(out.value().values.size() == model.value()->outputLength());
  return 0;
}
