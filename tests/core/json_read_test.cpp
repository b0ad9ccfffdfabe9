// The guarded reader of outside JSON: what it refuses, and where it says the fault is.
#include "hcf/core/json_read.h"

#include <gtest/gtest.h>

#include <string>

#include "hcf/core/ht_utility.h"

using namespace hcf;

namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

}  // namespace

TEST(ParseJson, RefusalsNameTheReasonAndThePlace) {
  struct Row {
    std::string text;
    std::size_t maxDepth;
    const char* error;  // a part of the message; nullptr when the text reads
  };
  const Row rows[] = {
      {R"({"a": [1, {"b": null}]})", kJsonMaxDepth, nullptr},
      {"\xEF\xBB\xBF[1]", kJsonMaxDepth, nullptr},  // a byte-order mark is skipped
      {nested(512), kJsonMaxDepth, nullptr},
      {nested(513), kJsonMaxDepth, "JSON text nests deeper than 512 levels at line 1, column 513"},
      {"[\n  {\"k\": [[\n", 2, "nests deeper than 2 levels at line 2, column 9"},
      {R"(["[[[[", "]]]{{"])", 1, nullptr},                   // brackets in strings do not nest
      {nested(600), 100000, "nests deeper than 512 levels"},  // the limit cannot be raised
      {std::string(90000, '[') + std::string(90000, ']'), kJsonMaxDepth, "deeper than 512"},
      {"{\n  \"a\": [1,\n}", kJsonMaxDepth, "JSON text is not valid at line 3, column 1: syntax"},
      {"", kJsonMaxDepth, "JSON text is not valid at line 1, column 1"},
      {"[1e999]", kJsonMaxDepth, "JSON text is not valid: number overflow parsing '1e999'"},
      {"[\"\xFF\"]", kJsonMaxDepth, "last read: '\"\\xFF'"},  // raw bytes are not echoed
  };
  for (const auto& row : rows) {
    const auto parsed = parseJson(row.text, row.maxDepth);
    const std::string shown = row.text.substr(0, 40);
    if (!row.error) {
      EXPECT_TRUE(parsed.ok()) << shown << ": " << parsed.error().localizedDescription;
      continue;
    }
    ASSERT_FALSE(parsed.ok()) << shown;
    EXPECT_EQ(parsed.error().code, error_code::kInvalidData);
    EXPECT_NE(parsed.error().localizedDescription.find(row.error), std::string::npos)
        << shown << ": " << parsed.error().localizedDescription;
  }
}
