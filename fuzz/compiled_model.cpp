// The compiled form of a model, as the kit keeps it on disk between runs.
#include <hcf/hcf.h>

#include <fstream>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto dir = hcf_fuzz::scratch() / "compiled";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "model.json", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  auto model = hcf::ml::Model::initWithContentsOfURL(dir);
  if (!model.ok()) return 0;
  const auto n = model.value()->inputLength();
  if (n > 4096) return 0;
  (void)model.value()->prediction(hcf::ml::MultiArray::vector(std::vector<double>(n, 0.5)));
  return 0;
}
