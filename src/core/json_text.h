// JSON text from outside the kit (the network, files, instruments, stores).
#pragma once

#include <cstddef>
#include <string_view>

#include "hcf/core/json.h"
#include "hcf/core/json_read.h"

HCF_NAMESPACE_BEGIN
namespace json_text {

/// The deepest nesting of arrays and objects accepted (see `kJsonMaxDepth`).
inline constexpr std::size_t kMaxDepth = kJsonMaxDepth;

/// The offset at which `text` first nests deeper than `maxDepth`, or npos (strings skipped).
std::size_t tooDeepAt(std::string_view text, std::size_t maxDepth = kMaxDepth);

/// `JsonValue::parse` for outside text: throws `JsonValue::exception` when the text is not JSON
/// or nests deeper than `kMaxDepth`.
JsonValue parse(std::string_view text);

/// The same without exceptions: a discarded value (`is_discarded()`) when refused.
JsonValue parseOrDiscard(std::string_view text);

}  // namespace json_text
HCF_NAMESPACE_END
