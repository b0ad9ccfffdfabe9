#include "hcf/platform/dispatch/clock.h"

#include <mutex>

HCF_NAMESPACE_BEGIN
namespace dispatch {

Clock::~Clock() = default;

// The manual clock starts one hour past the steady clock's epoch, so that times a little before
// "now" are still valid points.
ManualClock::ManualClock() : ticks_(std::chrono::hours(1) / Duration(1)) {}

TimePoint ManualClock::now() const { return TimePoint(Duration(ticks_.load())); }

void ManualClock::set(TimePoint t) {
  auto current = ticks_.load();
  const auto wanted = t.time_since_epoch().count();
  while (wanted > current && !ticks_.compare_exchange_weak(current, wanted)) {
  }
}

namespace {
std::mutex& wallMutex() {
  static std::mutex m;
  return m;
}
std::function<WallTime()>& wallSlot() {
  static std::function<WallTime()> slot;
  return slot;
}
}  // namespace

WallTime wallClockNow() {
  std::function<WallTime()> clock;
  {
    const std::lock_guard lock(wallMutex());
    clock = wallSlot();
  }
  return clock ? clock() : std::chrono::system_clock::now();
}

void setWallClock(std::function<WallTime()> clock) {
  const std::lock_guard lock(wallMutex());
  wallSlot() = std::move(clock);
}

}  // namespace dispatch
HCF_NAMESPACE_END
