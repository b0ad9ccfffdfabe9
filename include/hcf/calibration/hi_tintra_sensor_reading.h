// One raw reading of a colorimeter's colour channels.
#pragma once

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The channel counts of one reading, as doubles (white-corrected readings are not integers).
struct HITintraSensorReading {
  double senseRed = 0;
  double senseGreen = 0;
  double senseBlue = 0;
  double senseClear = 0;
};

HCF_NAMESPACE_END
