#include "terminal_text.h"

#include <hcf/core/json.h>

#include <cstdio>

namespace hcf_tool {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `s` and its code point, or 0
// when the first byte does not start one (a stray continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF, or a sequence cut short).
std::size_t decodeUtf8(std::string_view s, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0Fu;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07u;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const unsigned char b = byte(i);
    if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  return n;
}

bool isControlCharacter(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t cp = 0;
    const std::size_t n = decodeUtf8(text, cp);
    if (n == 0 || isControlCharacter(cp)) {
      out += kReplacement;
      text.remove_prefix(n == 0 ? 1 : n);
    } else {
      out += text.substr(0, n);
      text.remove_prefix(n);
    }
  }
  return out;
}

std::string printableJson(const hcf::JsonValue& value, int indent) {
  // With invalid bytes replaced, the dump is valid UTF-8 with every C0 control escaped: DEL and
  // C1 controls can only stand inside strings, where an escape means the same.
  const std::string dumped =
      value.dump(indent, ' ', false, hcf::JsonValue::error_handler_t::replace);
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto b = static_cast<unsigned char>(dumped[i]);
    const auto next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0u;
    if (b == 0x7F || (b == 0xC2 && next >= 0x80 && next <= 0x9F)) {
      const unsigned cp = b == 0x7F ? b : next;
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", cp);
      out += escape;
      if (b == 0xC2) ++i;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace hcf_tool
