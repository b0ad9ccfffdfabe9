// Reading JSON text that comes from outside the kit: files, standard input, the network.
#pragma once

#include <cstddef>
#include <string_view>

#include "hcf/core/export.h"
#include "hcf/core/json.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// The deepest nesting of arrays and objects the kit reads from outside: 512 levels. Its own
/// documents nest a few levels; copying, comparing and writing a value recurse once per level,
/// so a document nested much deeper would exhaust the stack of whoever touched it next.
inline constexpr std::size_t kJsonMaxDepth = 512;

/// The JSON value of `text`, or error 9930 (`error_code::kInvalidData`) saying why not:
///   "JSON text is not valid at line L, column C: <the parser's reason>",
///   "JSON text nests deeper than N levels at line L, column C" (checked before parsing, so a
///   file of a million brackets costs one pass and no stack), or
///   "JSON text is not valid: <reason>" (a number too large for a double).
/// `maxDepth` may lower the limit; a value above `kJsonMaxDepth` reads as `kJsonMaxDepth`.
/// Never throws for any text. A UTF-8 byte-order mark at the start is skipped.
HCF_API Result<JsonValue> parseJson(std::string_view text, std::size_t maxDepth = kJsonMaxDepth);

HCF_NAMESPACE_END
