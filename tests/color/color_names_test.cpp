// Names of illuminants, observers and colour-difference methods, read strictly.
#include "hcf/color/color_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace hcf;

namespace {

// The value a name reads as, or its error message.
template <typename Value>
std::string outcome(const Result<Value>& r) {
  if (!r) return "error: " + r.error().localizedDescription;
  return std::to_string(static_cast<int>(*r));
}

}  // namespace

TEST(ColorNames, EveryAcceptedSpellingAndEveryRefusal) {
  const struct {
    const char* kind;
    const char* name;
    const char* expected;
  } rows[] = {
      {"illuminant", "D50", "0"},
      {"illuminant", "d65", "1"},
      {"illuminant", "F11", "7"},
      {"illuminant", "c", "4"},
      {"illuminant", "XYZ", "error: unknown illuminant 'XYZ' (D50, D65, A, B, C, F2, F7, F11)"},
      {"illuminant", "", "error: unknown illuminant '' (D50, D65, A, B, C, F2, F7, F11)"},
      {"illuminant", "d65 ", "error: unknown illuminant 'd65 ' (D50, D65, A, B, C, F2, F7, F11)"},
      {"illuminant", "D6", "error: unknown illuminant 'D6' (D50, D65, A, B, C, F2, F7, F11)"},
      {"observer", "2", "0"},
      {"observer", "2°", "0"},
      {"observer", "2DEG", "0"},
      {"observer", "1931", "0"},
      {"observer", "TWO_DEGREE", "0"},
      {"observer", "10", "1"},
      {"observer", "10°", "1"},
      {"observer", "10deg", "1"},
      {"observer", "1964", "1"},
      {"observer", "ten_degree", "1"},
      {"observer", "7",
       "error: unknown observer '7' (2, 2°, 2deg or 1931; 10, 10°, 10deg or 1964)"},
      {"observer", "100",
       "error: unknown observer '100' (2, 2°, 2deg or 1931; 10, 10°, 10deg or 1964)"},
      {"observer", "", "error: unknown observer '' (2, 2°, 2deg or 1931; 10, 10°, 10deg or 1964)"},
      {"method", "de_2000", "0"},
      {"method", "CIEDE2000", "0"},
      {"method", "2000", "0"},
      {"method", "de00", "0"},
      {"method", "cmc", "1"},
      {"method", "CMC21", "1"},
      {"method", "cmc:2:1", "1"},
      {"method", "cmc2:1", "1"},
      {"method", "de_cmc_21", "1"},
      {"method", "cmc11", "2"},
      {"method", "cmc:1:1", "2"},
      {"method", "de_cmc_11", "2"},
      {"method", "cie94", "3"},
      {"method", "de_94_gfx", "3"},
      {"method", "CIE94_GRAPHIC_ARTS", "3"},
      {"method", "cie94-graphic-arts", "3"},
      {"method", "cie94-textiles", "4"},
      {"method", "de_94_textiles", "4"},
      {"method", "bogus",
       "error: unknown colour-difference method 'bogus' (de_2000 or ciede2000, "
       "de_cmc_21 or cmc, de_cmc_11 or cmc11, de_94_gfx or cie94, "
       "de_94_textiles or cie94-textiles)"},
      {"method", "cmc:2:2", ""},
      {"method", "94_gfx", ""},
      {"method", "", ""},
      {"method", "de76",
       "error: 'de76' names CIE 1976 (ΔE*ab), which is no colour-difference "
       "method of searches and stored colours (de_2000 or ciede2000, "
       "de_cmc_21 or cmc, de_cmc_11 or cmc11, de_94_gfx or cie94, "
       "de_94_textiles or cie94-textiles)"},
      {"formula", "de_76", "de_76"},
      {"formula", "CIE76", "de_76"},
      {"formula", "deltaEab", "de_76"},
      {"formula", "cie1976", "de_76"},
      {"formula", "cmc:1:1", "de_cmc_11"},
      {"formula", "2000", "de_2000"},
      {"formula", "cie94-textiles", "de_94_textiles"},
      {"formula", "de_77",
       "error: unknown colour-difference method 'de_77' (de_2000 or ciede2000, de_cmc_21 or cmc, "
       "de_cmc_11 or cmc11, de_94_gfx or cie94, de_94_textiles or cie94-textiles, de_76 or "
       "cie76)"},
  };
  for (const auto& row : rows) {
    const std::string kind = row.kind;
    std::string got;
    if (kind == "illuminant") {
      got = outcome(illuminantNamed(row.name));
    } else if (kind == "observer") {
      got = outcome(observerNamed(row.name));
    } else if (kind == "method") {
      got = outcome(deltaEMethodNamed(row.name));
    } else {
      const auto formula = deltaEFormulaNamed(row.name);
      got =
          formula ? deltaEFormulaName(*formula) : "error: " + formula.error().localizedDescription;
    }
    if (*row.expected == '\0') {
      EXPECT_EQ(got.rfind("error: unknown colour-difference method", 0), 0u) << row.name;
    } else {
      EXPECT_EQ(got, row.expected) << kind << " " << row.name;
    }
  }
  EXPECT_EQ(illuminantNamed("nope").error().code, 9300);
}
