#include "json_text.h"

HCF_NAMESPACE_BEGIN
namespace json_text {

std::size_t tooDeepAt(std::string_view text) {
  std::size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > kMaxDepth) return i;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return std::string_view::npos;
}

JsonValue parse(std::string_view text) {
  if (const auto at = tooDeepAt(text); at != std::string_view::npos) {
    throw JsonValue::parse_error::create(
        101, at + 1, "nested deeper than " + std::to_string(kMaxDepth) + " levels", nullptr);
  }
  return JsonValue::parse(text);
}

JsonValue parseOrDiscard(std::string_view text) {
  if (tooDeepAt(text) != std::string_view::npos) return JsonValue(JsonValue::value_t::discarded);
  return JsonValue::parse(text, nullptr, false);
}

}  // namespace json_text
HCF_NAMESPACE_END
