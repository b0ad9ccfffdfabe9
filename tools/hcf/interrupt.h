// Ctrl-C and SIGTERM alike. A command that can stop itself (a download) is asked to stop; any
// other command ends at once, its temporary folders removed first.
#pragma once

#include <filesystem>

namespace hcf_tool {

/// Called first in main, before any thread starts: SIGINT and SIGTERM are then taken by a
/// thread of their own.
void handleInterrupts();

/// True once SIGINT or SIGTERM came while a StopRequests lived.
bool stopRequested();

/// While one lives, a signal asks the command to stop (`stopRequested`) instead of ending the
/// program; a second signal ends it.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
};

/// `folder` is removed if a signal ends the program, until `keepOnInterrupt`.
void removeOnInterrupt(const std::filesystem::path& folder);
void keepOnInterrupt(const std::filesystem::path& folder);

}  // namespace hcf_tool
