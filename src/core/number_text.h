// Locale-independent number text for the kit's descriptions and stored forms.
#pragma once

#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace text {

/// The value with exactly `digits` fraction digits, as printf's "%.Nf" in the C locale.
std::string fixed(double value, int digits);

}  // namespace text
HCF_NAMESPACE_END
