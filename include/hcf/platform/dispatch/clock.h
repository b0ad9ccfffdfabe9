// Where the kit's queues read the time: the real monotonic clock, or a manual clock that tests
// move forward by hand.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace dispatch {

/// A span of time on the queues' clocks (steady-clock ticks, nanoseconds).
using Duration = std::chrono::steady_clock::duration;
/// A point in time on the queues' clocks (real or manual), not a calendar date.
using TimePoint = std::chrono::steady_clock::time_point;

/// A monotonic time source.
class HCF_API Clock {
 public:
  virtual ~Clock();
  /// The current time; never earlier than a time it returned before. Any thread.
  virtual TimePoint now() const = 0;
  /// True for a clock that only moves when told to (the main queue then jumps over idle time
  /// instead of sleeping).
  virtual bool isManual() const { return false; }
};

/// The machine's monotonic clock.
class HCF_API SteadyClock final : public Clock {
 public:
  /// `std::chrono::steady_clock::now()`.
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

/// A clock that stands still until moved. Thread-safe. Move it through the main queue
/// (`MainQueue::advance`), which fires every timer due on the way, in order.
class HCF_API ManualClock final : public Clock {
 public:
  /// Starts one hour after the clock's epoch.
  ManualClock();
  /// The time last set (one hour after the epoch until then).
  TimePoint now() const override;
  bool isManual() const override { return true; }
  /// Sets the time; a time earlier than now is ignored (the clock is monotonic).
  void set(TimePoint t);

 private:
  std::atomic<TimePoint::rep> ticks_;
};

/// Calendar time (dates stored and compared, such as "last checked 25 hours ago").
using WallTime = std::chrono::system_clock::time_point;
/// The kit's calendar time: the system clock, or what `setWallClock` installed.
HCF_API WallTime wallClockNow();
/// Replaces the calendar clock (tests set the date); an empty function restores the system's.
HCF_API void setWallClock(std::function<WallTime()> clock);

}  // namespace dispatch
HCF_NAMESPACE_END
