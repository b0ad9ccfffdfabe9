// Reading members of untrusted JSON dictionaries: a missing member, null or a value of the
// wrong type reads as absent.
#pragma once

#include <optional>
#include <string>

#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN
namespace json_members {

/// The member `key` of `d`, unless `d` is not a dictionary or the member is missing or null.
inline const JsonValue* member(const JsonValue& d, const char* key) {
  if (!d.is_object()) return nullptr;
  const auto it = d.find(key);
  return it == d.end() || it->is_null() ? nullptr : &*it;
}

/// The member `key` when it is a text.
inline std::optional<std::string> text(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  if (!v || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

}  // namespace json_members
HCF_NAMESPACE_END
