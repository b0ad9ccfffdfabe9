// Text from outside the program is printed without its control characters.
#include "terminal_text.h"

#include <gtest/gtest.h>

#include <string>

#include "hcf/core/json.h"

using hcf_tool::printable;

TEST(TerminalText, ControlCharactersAndInvalidBytesBecomeTheReplacementCharacter) {
  const std::string R = "\xEF\xBF\xBD";  // U+FFFD
  struct Row {
    const char* what;
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"clear screen", "\x1b[2JRed", R + "[2JRed"},
      {"window title", "\x1b]0;owned\x07", R + "]0;owned" + R},
      {"bell", "a\x07z", "a" + R + "z"},
      {"NUL", std::string("a\0z", 3), "a" + R + "z"},
      {"C1 CSI as UTF-8",
       "\xC2\x9B"
       "31mRed",
       R + "31mRed"},
      {"DEL", "Red\x7f", "Red" + R},
      {"tab, newline, return", "a\tb\nc\r", "a" + R + "b" + R + "c" + R},
      {"accented", "Réséda vert, Ærø blå", "Réséda vert, Ærø blå"},
      {"CJK and beyond the BMP", "朱色 🎨", "朱色 🎨"},
      {"no-break space kept", "\xC2\xA0", "\xC2\xA0"},
      {"byte FF", "a\xFFz", "a" + R + "z"},
      {"raw C1 byte",
       "\x9B"
       "31m",
       R + "31m"},
      {"cut sequence",
       "\xE6\x9C"
       "x",
       R + R + "x"},
      {"overlong slash", "\xC0\xAF", R + R},
      {"surrogate", "\xED\xA0\x80", R + R + R},
      {"past U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"cut at the end", "ok\xF0\x9F\x8E", "ok" + R + R + R},
  };
  for (const auto& row : rows) EXPECT_EQ(printable(row.in), row.out) << row.what;
}

TEST(TerminalText, JsonKeepsItsMeaningWithoutRawControls) {
  const hcf::JsonValue value = {{"name", "\x1b]0;x\x07\xC2\x9B\x7f Réséda"}};
  const std::string text = hcf_tool::printableJson(value);
  EXPECT_EQ(text, "{\n  \"name\": \"\\u001b]0;x\\u0007\\u009b\\u007f Réséda\"\n}");
  EXPECT_EQ(hcf::JsonValue::parse(text), value);
  // Invalid UTF-8 is replaced instead of failing the whole output.
  EXPECT_EQ(hcf_tool::printableJson(hcf::JsonValue("a\xFF")), "\"a\xEF\xBF\xBD\"");
}
