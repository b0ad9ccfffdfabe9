// Raw bytes: characteristic values, downloaded files, serialised records.
#pragma once

#include <cstdint>
#include <vector>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// A run of bytes: a characteristic's value, a downloaded file, a serialised record.
using Bytes = std::vector<std::uint8_t>;

HCF_NAMESPACE_END
