// One raw reading of a colorimeter's colour channels.
#pragma once

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The channel counts of one reading, as doubles (white-corrected readings are not integers).
struct HITintraSensorReading {
  double senseRed = 0;    ///< the red channel's count
  double senseGreen = 0;  ///< the green channel's count
  double senseBlue = 0;   ///< the blue channel's count
  double senseClear = 0;  ///< the clear (unfiltered) channel's count; 0 where it is not read
};

HCF_NAMESPACE_END
