// CGATS.17 measurement files (the hcf program's --reference, hcf color and hcf scan inputs).
#include "cgats.h"

#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = hcf_fuzz::text(data, size);
  hcf_tool::CgatsTable table;
  try {
    table = hcf_tool::readCgats(text);
  } catch (const hcf_tool::Failure&) {
    return 0;  // refused, with its line
  }
  // What was read can be written, and reads back the same (a table the writer cannot hold is
  // refused as such).
  std::string written;
  try {
    written = hcf_tool::cgatsText(table);
  } catch (const hcf_tool::Failure&) {
    return 0;
  }
  const auto again = hcf_tool::readCgats(written);
  HCF_FUZZ_CHECK(again.fields == table.fields);
  HCF_FUZZ_CHECK(again.rows == table.rows);
  try {
    (void)hcf_tool::samplesFrom(table);
  } catch (const hcf_tool::Failure&) {
  }
  return 0;
}
