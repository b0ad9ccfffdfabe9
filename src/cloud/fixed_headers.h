// The headers every request of the kit carries.
#pragma once

#include <string>

#include "hcf/platform/http/session.h"

HCF_NAMESPACE_BEGIN
namespace cloud {

inline constexpr const char* kJSONContentType = "application/json; charset=utf-8";

/// The caller's headers, then "Content-Type" (`contentType`) and "Accept-Encoding: gzip",
/// which replace any caller header of their name.
http::Headers withFixedHeaders(const http::Headers& caller, const std::string& contentType);

}  // namespace cloud
HCF_NAMESPACE_END
