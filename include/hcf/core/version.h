// The kit's version.
#pragma once

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The kit's version as "major.minor.patch".
HCF_API const char* version() noexcept;

HCF_NAMESPACE_END
