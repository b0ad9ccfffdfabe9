// Display text of numbers.
#include "hcf/core/number_format.h"

#include <gtest/gtest.h>

#include <limits>
#include <locale>

using namespace hcf;

TEST(Str1Decimal, OneFractionDigitHalvesUp) {
  EXPECT_EQ(str1decimal(2.0), "2");
  EXPECT_EQ(str1decimal(2.04), "2");
  EXPECT_EQ(str1decimal(2.05), "2.1");
  EXPECT_EQ(str1decimal(0.35), "0.4");  // the decimal text, not the binary value just below
  EXPECT_EQ(str1decimal(0.25), "0.3");
  EXPECT_EQ(str1decimal(9.96), "10");
  EXPECT_EQ(str1decimal(99.95), "100");
  EXPECT_EQ(str1decimal(1234.25), "1234.3");
  EXPECT_EQ(str1decimal(-0.25), "-0.2");  // halves go toward positive infinity
  EXPECT_EQ(str1decimal(-0.26), "-0.3");
  EXPECT_EQ(str1decimal(-0.04), "0");
  EXPECT_EQ(str1decimal(0.0), "0");
  EXPECT_EQ(str1decimal(1e-300), "0");
  EXPECT_EQ(str1decimal(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

namespace {
struct Grouped : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};
}  // namespace

TEST(Str1Decimal, FollowsTheGlobalLocale) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new Grouped));
  EXPECT_EQ(str1decimal(1234567.25), "1.234.567,3");
  EXPECT_EQ(str1decimal(999.0), "999");
  EXPECT_EQ(str1decimal(-1000.5), "-1.000,5");
  std::locale::global(saved);
}
