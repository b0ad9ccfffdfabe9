#include "hcf/platform/dispatch/clock.h"

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

}  // namespace dispatch
HCF_NAMESPACE_END
