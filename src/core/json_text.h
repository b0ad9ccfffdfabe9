// JSON text from outside the kit (the network, files, instruments, stores).
#pragma once

#include <cstddef>
#include <string_view>

#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN
namespace json_text {

/// The deepest nesting of arrays and objects accepted. The kit's own documents nest a few
/// levels; the JSON library copies, compares and writes values recursively, so a document a
/// million levels deep would exhaust the stack of whoever touched it next.
inline constexpr std::size_t kMaxDepth = 512;

/// The offset at which `text` first nests deeper than `kMaxDepth`, or npos (strings skipped).
std::size_t tooDeepAt(std::string_view text);

/// `JsonValue::parse` for outside text: throws `JsonValue::exception` when the text is not JSON
/// or nests deeper than `kMaxDepth`.
JsonValue parse(std::string_view text);

/// The same without exceptions: a discarded value (`is_discarded()`) when refused.
JsonValue parseOrDiscard(std::string_view text);

}  // namespace json_text
HCF_NAMESPACE_END
