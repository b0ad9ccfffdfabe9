// The queues the kit runs on: a serial main queue that the application drives, with its timers,
// and global concurrent queues by priority.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "hcf/core/export.h"
#include "hcf/platform/dispatch/clock.h"

HCF_NAMESPACE_BEGIN
/// The queues the kit runs its work and callbacks on, their timers, and the clocks they read.
namespace dispatch {

/// A unit of work posted to a queue.
using Task = std::function<void()>;

/// A timer scheduled on the main queue. Cancelling it on the main queue guarantees it never
/// fires afterwards; dropping the handle does not cancel it.
class HCF_API Timer {
 public:
  Timer() = default;
  /// Stops the timer; further firings never happen. Safe to call more than once.
  void cancel();
  /// True while the timer may still fire (not cancelled, and for a one-shot, not yet fired).
  bool isValid() const;

  struct State;
  /// Made by `MainQueue::after` and `MainQueue::every`; a default-made timer is never valid.
  explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

 private:
  std::shared_ptr<State> state_;
};

/// The serial main queue: every kit callback and every Bluetooth event runs on it, one at a
/// time, in the order posted. The application drives it from one thread with `run`, `runUntil`
/// or `drain`. Posting is thread-safe.
class HCF_API MainQueue {
 public:
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  /// Queues `task` to run after everything already queued. Any thread.
  void async(Task task);
  /// A one-shot timer that runs `task` on the main queue `delay` from now. Any thread.
  Timer after(Duration delay, Task task);
  /// A repeating timer: runs `task` every `interval`, first `interval` from now. Any thread.
  Timer every(Duration interval, Task task);

  /// Runs tasks and timers until `stop` is called. Sleeps (real clock) or jumps to the next
  /// timer (manual clock) while nothing is ready.
  void run();
  /// Makes `run` return after the task in progress. Any thread.
  void stop();
  /// Runs until `done` returns true (checked after every task) or the clock reaches
  /// `deadline`. Returns whether `done` held. With the manual clock, idle time is jumped over
  /// up to the deadline, unless work on the global queues may still post here.
  bool runUntil(const std::function<bool()>& done, std::optional<TimePoint> deadline = {});
  /// Runs until the clock reaches `deadline`.
  void runUntil(TimePoint deadline);
  /// Runs the queued tasks and the timers due now, including what they queue for now; returns
  /// how many ran.
  std::size_t drain();
  /// Manual clock only: moves the clock forward by `by`, firing every timer due on the way at
  /// its own due time, in due order, and the tasks they queue.
  void advance(Duration by);

  // An application's own event loop drives the queue with these three: it waits until
  // `wakeDescriptor()` is readable or `nextDeadline()` has come, then calls `runDue()` on its
  // thread, which becomes the driving thread. GLib watches the descriptor with
  // `g_unix_fd_add` and a timeout, Qt with a `QSocketNotifier` and a single-shot `QTimer`,
  // asio with a `posix::stream_descriptor` and a `steady_timer`, a plain loop with `poll()`.

  /// A descriptor (an eventfd) that becomes readable whenever a task is posted or a timer is
  /// scheduled, from any thread. The queue owns it; it stays open for the life of the process.
  /// -1 when the system refuses one.
  int wakeDescriptor();
  /// When the queue next has work: now when tasks are queued, else the earliest timer's due
  /// time on the queue's clock, else none.
  std::optional<TimePoint> nextDeadline() const;
  /// Clears the descriptor and runs what is due now, never waiting: the queued tasks and the
  /// timers due, including what they queue for now. Returns how many ran.
  std::size_t runDue();

  /// The clock the queue reads.
  const Clock& clock() const;
  /// The same clock, shared: it stays alive after a `reset` installs another.
  std::shared_ptr<Clock> clockPtr() const;
  /// Time of the queue's clock.
  TimePoint now() const;
  /// True on the thread that drives the main queue (the one in `run`, `runUntil` or `drain`,
  /// or, before any of them ran, the thread that made the queue).
  bool isCurrent() const;

  /// Drops all queued tasks and timers and starts over with `clock` (tests call this between
  /// cases). The calling thread becomes the driving thread.
  void reset(std::shared_ptr<Clock> clock);

  struct Impl;

 private:
  friend HCF_API MainQueue& mainQueue();
  MainQueue();
  ~MainQueue();
  std::unique_ptr<Impl> impl_;
};

/// The process's main queue.
HCF_API MainQueue& mainQueue();

/// Priorities of the global concurrent queues.
enum class QueuePriority { High, Default, Low, Background };

/// A global concurrent queue: tasks run on a small shared thread pool, higher priorities
/// first, in posting order within a priority.
class HCF_API GlobalQueue {
 public:
  /// Queues `task`. Any thread.
  void async(Task task) const;
  /// The priority its tasks run at.
  QueuePriority priority() const { return priority_; }
  /// The queue of priority `p` (the same as `globalQueue(p)`).
  explicit GlobalQueue(QueuePriority p) : priority_(p) {}

 private:
  QueuePriority priority_;
};

/// The global queue of that priority.
HCF_API GlobalQueue globalQueue(QueuePriority priority = QueuePriority::Default);

/// How many global-queue tasks are queued or running (the manual-clock main queue does not jump
/// over idle time while this is not zero).
HCF_API std::size_t globalQueueWorkInFlight();

/// Holds the manual-clock main queue back from jumping over idle time while some work outside
/// the queues (a network transfer, a device thread) may still post to it.
class HCF_API WorkInFlight {
 public:
  WorkInFlight();
  ~WorkInFlight();
  WorkInFlight(const WorkInFlight&) = delete;
  WorkInFlight& operator=(const WorkInFlight&) = delete;
};

}  // namespace dispatch
HCF_NAMESPACE_END
