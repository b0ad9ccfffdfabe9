#include "interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace hcf_tool {

namespace {

std::mutex gMutex;
int gCooperating = 0;
std::atomic<bool> gStop{false};
std::vector<std::filesystem::path> gFolders;

sigset_t interruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

[[noreturn]] void endBy(int signal) {
  std::vector<std::filesystem::path> folders;
  {
    const std::lock_guard lock(gMutex);
    folders = gFolders;
  }
  for (const auto& f : folders) {
    std::error_code ec;
    std::filesystem::remove_all(f, ec);
  }
  std::_Exit(128 + signal);
}

void waitForSignals() {
  const sigset_t set = interruptSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    bool asked = false;
    {
      const std::lock_guard lock(gMutex);
      // The first signal asks a command that can stop; the next one ends the program.
      asked = gCooperating > 0 && !gStop.exchange(true);
    }
    if (!asked) endBy(signal);
  }
}

}  // namespace

void handleInterrupts() {
  const sigset_t set = interruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started later
  std::thread(waitForSignals).detach();
}

bool stopRequested() { return gStop.load(); }

StopRequests::StopRequests() {
  const std::lock_guard lock(gMutex);
  if (gCooperating++ == 0) gStop = false;
}

StopRequests::~StopRequests() {
  const std::lock_guard lock(gMutex);
  --gCooperating;
}

void removeOnInterrupt(const std::filesystem::path& folder) {
  const std::lock_guard lock(gMutex);
  gFolders.push_back(folder);
}

void keepOnInterrupt(const std::filesystem::path& folder) {
  const std::lock_guard lock(gMutex);
  std::erase(gFolders, folder);
}

}  // namespace hcf_tool
