// Number text for display.
#pragma once

#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The number in the decimal style of the current (global C++) locale, with its grouping and
/// decimal separator, and at most one fraction digit: halves round up (toward positive
/// infinity), a zero fraction is left out. 1234.25 gives "1234.3" in the C locale, 2.0 gives
/// "2", -0.25 gives "-0.2". The decimal digits are those of the shortest text that reads back
/// as the same double, so 0.35 rounds to "0.4".
HCF_API std::string str1decimal(double value);

HCF_NAMESPACE_END
