// The dictionary type of the kit's JSON forms (colours, scans, products, searches).
#pragma once

#include <nlohmann/json.hpp>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// A parsed JSON value. Objects keep their members in document order, as several readers walk
/// them in that order.
using JsonValue = nlohmann::ordered_json;

HCF_NAMESPACE_END
