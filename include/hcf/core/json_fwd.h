// The kit's JSON value type, declared without the JSON library: for headers that only name it.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// A parsed JSON value. Objects keep their members in document order, as several readers walk
/// them in that order. Include "hcf/core/json.h" to use one.
using JsonValue = nlohmann::ordered_json;

HCF_NAMESPACE_END
