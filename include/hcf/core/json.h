// The dictionary type of the kit's JSON forms (colours, scans, products, searches).
#pragma once

#include <nlohmann/json.hpp>

#include "hcf/core/json_fwd.h"
