// A colorimeter reading from the device-data cache's record of its instrument.
#pragma once

#include <memory>
#include <string>

#include "hcf/calibration/hi_color_reading.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// The reading of `sense` for the cached record of `serial`; the no-calibration-data error
/// (9012) when none is cached.
HCF_API Result<std::shared_ptr<const HIColorReading>> toColorReading(
    const HITintraSensorReading& sense, const std::string& serial);

HCF_NAMESPACE_END
