// Text from outside the program made safe to print on a terminal.
#pragma once

#include <hcf/core/json_fwd.h>

#include <string>
#include <string_view>

namespace hcf_tool {

/// The replacement for what may not reach the terminal: U+FFFD REPLACEMENT CHARACTER.
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

/// `text` as it may be printed: every control character (C0 from U+0000 to U+001F, tab and
/// newline included, DEL U+007F, and C1 from U+0080 to U+009F) and every byte that is not part of
/// valid UTF-8 becomes one U+FFFD; all other valid UTF-8 is kept as it is. Applied to every field
/// that comes from a catalogue, a store, a scan file, the cloud or an instrument, so that such a
/// field can neither move the cursor, clear the screen, set the window title nor break a line.
std::string printable(std::string_view text);

/// `value` as indented JSON that may be printed: invalid UTF-8 becomes U+FFFD, and DEL and the
/// C1 controls, which JSON allows raw inside strings, are written as \u escapes (the C0 controls
/// always are). The JSON stays valid and means the same, apart from replaced invalid bytes.
/// Indented by `indent` blanks a level, or on one line for -1.
std::string printableJson(const hcf::JsonValue& value, int indent = 2);

}  // namespace hcf_tool
