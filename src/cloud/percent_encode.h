// Text put into a URL path segment or query value.
#pragma once

#include <string>
#include <string_view>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// Escapes everything but the unreserved characters of RFC 3986.
std::string percentEncode(std::string_view text);

HCF_NAMESPACE_END
