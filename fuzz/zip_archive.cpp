// Archives from the cloud (model packages, catalogues): nothing is ever written outside the
// folder they unpack into, and never more than the limits allow.
#include <hcf/hcf.h>

#include <fstream>

#include "fuzz_support.h"
#include "platform/zip/unzip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto base = hcf_fuzz::scratch() / "zip";
  std::filesystem::remove_all(base);
  const auto into = base / "into";
  std::filesystem::create_directories(into);
  std::ofstream(base / "archive.zip", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const hcf::zip::UnzipLimits limits{64, 1 << 20};
  (void)hcf::zip::unzipFileAtPath(base / "archive.zip", into, limits);
  // Whatever happened, the base holds only the archive and the folder.
  std::uintmax_t written = 0;
  for (const auto& e : std::filesystem::directory_iterator(base)) {
    HCF_FUZZ_CHECK(e.path() == base / "archive.zip" || e.path() == into);
  }
  for (const auto& e : std::filesystem::recursive_directory_iterator(into)) {
    HCF_FUZZ_CHECK(!e.is_symlink());
    if (e.is_regular_file()) written += e.file_size();
  }
  HCF_FUZZ_CHECK(written <= limits.maxUnpackedBytes);
  return 0;
}
