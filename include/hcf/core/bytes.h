// Raw bytes: characteristic values, downloaded files, serialised records.
#pragma once

#include <cstdint>
#include <vector>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

using Bytes = std::vector<std::uint8_t>;

HCF_NAMESPACE_END
