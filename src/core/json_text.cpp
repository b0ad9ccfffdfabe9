#include "json_text.h"

#include <algorithm>
#include <string>

#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN
namespace json_text {

std::size_t tooDeepAt(std::string_view text, std::size_t maxDepth) {
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
        if (++depth > maxDepth) return i;
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

namespace {

// "line L, column C" of the byte at `offset` (both from 1; a column counts bytes).
std::string positionOf(std::string_view text, std::size_t offset) {
  const auto before = text.substr(0, std::min(offset, text.size()));
  const auto lines = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const auto lineStart = before.rfind('\n');
  const std::size_t column = lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
  return "line " + std::to_string(lines + 1) + ", column " + std::to_string(column);
}

// The parser's message without its "[json.exception.…] " tag, with control characters and
// bytes beyond ASCII (the parser quotes what it last read, which may be any byte) as \xNN, so
// that the message is printable, valid UTF-8 text.
std::string reasonOf(const JsonValue::exception& e) {
  std::string_view what = e.what();
  if (const auto tag = what.find("] ");
      what.starts_with("[json.exception.") && tag != std::string_view::npos) {
    what.remove_prefix(tag + 2);
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(what.size());
  for (const char ch : what) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

Result<JsonValue> parseJson(std::string_view text, std::size_t maxDepth) {
  const std::size_t limit = std::min(maxDepth, kJsonMaxDepth);
  if (const auto at = json_text::tooDeepAt(text, limit); at != std::string_view::npos) {
    return HTUtility::invalidDataError("JSON text nests deeper than " + std::to_string(limit) +
                                       " levels at " + positionOf(text, at));
  }
  try {
    return JsonValue::parse(text);
  } catch (const JsonValue::parse_error& e) {
    // "parse error at line L, column C: why" becomes "not valid at line L, column C: why".
    std::string reason = reasonOf(e);
    if (reason.starts_with("parse error")) reason.erase(0, 11);
    if (!reason.starts_with(" at ")) reason.insert(0, ": ");
    return HTUtility::invalidDataError("JSON text is not valid" + reason);
  } catch (const JsonValue::exception& e) {
    return HTUtility::invalidDataError("JSON text is not valid: " + reasonOf(e));
  }
}

HCF_NAMESPACE_END
