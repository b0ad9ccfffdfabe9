// The kit's log: short free-text lines that nothing depends on.
#pragma once

#include <functional>
#include <string_view>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// Receives every log line of the kit. Called on whatever thread logs; must be thread-safe.
using LogHandler = std::function<void(std::string_view line)>;

/// Sends the kit's log lines to `handler`; an empty handler restores the default, which writes
/// them to standard error only when the environment variable HCF_LOG is set to a value other
/// than "" and "0".
HCF_API void setLogHandler(LogHandler handler);

/// Logs one line.
HCF_API void logLine(std::string_view line);

HCF_NAMESPACE_END
