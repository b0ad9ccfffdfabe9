#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace dispatch {

std::size_t externalWorkInFlight();

struct Timer::State {
  TimePoint due;
  Duration interval{};  // zero: one-shot
  Task task;
  std::uint64_t seq = 0;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> fired{false};
};

void Timer::cancel() {
  if (state_) state_->cancelled = true;
}

bool Timer::isValid() const {
  return state_ && !state_->cancelled && !(state_->interval == Duration::zero() && state_->fired);
}

namespace {

struct TimerOrder {
  bool operator()(const std::shared_ptr<Timer::State>& a,
                  const std::shared_ptr<Timer::State>& b) const {
    if (a->due != b->due) return a->due > b->due;
    return a->seq > b->seq;
  }
};

// Runs a task inside a catch-all: a throwing callback is logged, never allowed to unwind
// through the queue.
void runGuarded(const Task& task) {
  try {
    task();
  } catch (const std::exception& e) {
    logLine(std::string("main queue: a task threw: ") + e.what());
  } catch (...) {
    logLine("main queue: a task threw a non-standard exception");
  }
}

}  // namespace

struct MainQueue::Impl {
  mutable std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> tasks;
  std::priority_queue<std::shared_ptr<Timer::State>, std::vector<std::shared_ptr<Timer::State>>,
                      TimerOrder>
      timers;
  std::uint64_t nextSeq = 0;
  std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
  // The thread that drives the queue; read from any thread by isCurrent().
  std::atomic<std::thread::id> driver{std::this_thread::get_id()};
  bool stopRequested = false;
  std::atomic<int> wakeFd{-1};

  // Tells a waiting event loop that there is work (the descriptor counts; one read clears it).
  void signal() {
    wake.notify_all();
    const int fd = wakeFd.load();
    if (fd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
  }

  Timer schedule(Duration delay, Duration interval, Task task) {
    auto state = std::make_shared<Timer::State>();
    state->interval = interval;
    state->task = std::move(task);
    {
      const std::lock_guard lock(mutex);
      state->due = clock->now() + delay;
      state->seq = nextSeq++;
      timers.push(state);
    }
    signal();
    return Timer(state);
  }

  // Takes the next runnable item: a queued task first, else a timer due by `now`.
  // Returns false when nothing is ready.
  bool runOne(TimePoint now) {
    Task task;
    std::shared_ptr<Timer::State> timer;
    {
      const std::lock_guard lock(mutex);
      if (!tasks.empty()) {
        task = std::move(tasks.front());
        tasks.pop_front();
      } else {
        while (!timers.empty() && timers.top()->cancelled) timers.pop();
        if (timers.empty() || timers.top()->due > now) return false;
        timer = timers.top();
        timers.pop();
        if (timer->interval > Duration::zero()) {
          // Re-arm from the planned time, so a repeating timer keeps its rhythm.
          timer->due += timer->interval;
          timer->seq = nextSeq++;
          timers.push(timer);
        }
      }
    }
    if (task) {
      runGuarded(task);
      return true;
    }
    if (timer->cancelled) return true;
    if (timer->interval == Duration::zero()) timer->fired = true;
    runGuarded(timer->task);
    return true;
  }

  std::optional<TimePoint> nextDue() {
    const std::lock_guard lock(mutex);
    while (!timers.empty() && timers.top()->cancelled) timers.pop();
    if (timers.empty()) return std::nullopt;
    return timers.top()->due;
  }

  bool hasTasks() {
    const std::lock_guard lock(mutex);
    return !tasks.empty();
  }

  // Waits until something may be ready or `until` passes. Manual clock: jumps the clock to the
  // next timer (not beyond `until`) when nothing can post from elsewhere; otherwise waits for a
  // post in real time.
  void idle(std::optional<TimePoint> until) {
    const auto due = nextDue();
    std::optional<TimePoint> target = due;
    if (until && (!target || *until < *target)) target = until;
    if (clock->isManual()) {
      const bool othersBusy = globalQueueWorkInFlight() > 0 || externalWorkInFlight() > 0;
      if (!othersBusy && target) {
        static_cast<ManualClock&>(*clock).set(*target);
        return;
      }
      std::unique_lock lock(mutex);
      wake.wait_for(lock, std::chrono::milliseconds(10),
                    [&] { return !tasks.empty() || stopRequested; });
      return;
    }
    std::unique_lock lock(mutex);
    if (!tasks.empty() || stopRequested) return;
    if (target) {
      wake.wait_until(lock, *target);
    } else {
      wake.wait(lock, [&] { return !tasks.empty() || stopRequested || !timers.empty(); });
    }
  }
};

MainQueue::MainQueue() : impl_(std::make_unique<Impl>()) {}
MainQueue::~MainQueue() = default;

MainQueue& mainQueue() {
  static MainQueue* queue = new MainQueue();  // never destroyed: threads may post at exit
  return *queue;
}

void MainQueue::async(Task task) {
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->tasks.push_back(std::move(task));
  }
  impl_->signal();
}

Timer MainQueue::after(Duration delay, Task task) {
  return impl_->schedule(delay < Duration::zero() ? Duration::zero() : delay, Duration::zero(),
                         std::move(task));
}

Timer MainQueue::every(Duration interval, Task task) {
  if (interval <= Duration::zero()) interval = std::chrono::milliseconds(1);
  return impl_->schedule(interval, interval, std::move(task));
}

void MainQueue::run() {
  impl_->driver = std::this_thread::get_id();
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = false;
  }
  for (;;) {
    {
      const std::lock_guard lock(impl_->mutex);
      if (impl_->stopRequested) return;
    }
    if (!impl_->runOne(impl_->clock->now())) impl_->idle(std::nullopt);
  }
}

void MainQueue::stop() {
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
  }
  impl_->wake.notify_all();
}

bool MainQueue::runUntil(const std::function<bool()>& done, std::optional<TimePoint> deadline) {
  impl_->driver = std::this_thread::get_id();
  for (;;) {
    if (done && done()) return true;
    const TimePoint now = impl_->clock->now();
    if (impl_->runOne(now)) continue;
    if (deadline && now >= *deadline) return done && done();
    if (!deadline && !impl_->nextDue() && !impl_->hasTasks() && impl_->clock->isManual() &&
        globalQueueWorkInFlight() == 0 && externalWorkInFlight() == 0) {
      return done && done();  // nothing can ever happen again
    }
    impl_->idle(deadline);
  }
}

void MainQueue::runUntil(TimePoint deadline) { runUntil(nullptr, deadline); }

std::size_t MainQueue::drain() {
  impl_->driver = std::this_thread::get_id();
  std::size_t count = 0;
  while (impl_->runOne(impl_->clock->now())) ++count;
  return count;
}

void MainQueue::advance(Duration by) {
  impl_->driver = std::this_thread::get_id();
  if (!impl_->clock->isManual()) {
    throw std::logic_error("MainQueue::advance needs the manual clock");
  }
  auto& manual = static_cast<ManualClock&>(*impl_->clock);
  const TimePoint target = manual.now() + by;
  for (;;) {
    drain();
    const auto due = impl_->nextDue();
    if (!due || *due > target) break;
    manual.set(*due);
  }
  manual.set(target);
  drain();
}

int MainQueue::wakeDescriptor() {
  const std::lock_guard lock(impl_->mutex);
  if (impl_->wakeFd.load() < 0) {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return -1;
    // Work queued before the descriptor existed is announced at once.
    if (!impl_->tasks.empty() || !impl_->timers.empty()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
    }
    impl_->wakeFd = fd;
  }
  return impl_->wakeFd.load();
}

std::optional<TimePoint> MainQueue::nextDeadline() const {
  if (impl_->hasTasks()) return impl_->clock->now();
  return impl_->nextDue();
}

std::size_t MainQueue::runDue() {
  if (const int fd = impl_->wakeFd.load(); fd >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(fd, &count, sizeof count);
  }
  return drain();
}

const Clock& MainQueue::clock() const { return *impl_->clock; }
std::shared_ptr<Clock> MainQueue::clockPtr() const { return impl_->clock; }
TimePoint MainQueue::now() const { return impl_->clock->now(); }

bool MainQueue::isCurrent() const { return std::this_thread::get_id() == impl_->driver.load(); }

void MainQueue::reset(std::shared_ptr<Clock> clock) {
  std::deque<Task> oldTasks;
  decltype(impl_->timers) oldTimers;
  {
    const std::lock_guard lock(impl_->mutex);
    oldTasks.swap(impl_->tasks);
    oldTimers.swap(impl_->timers);
    impl_->clock = clock ? std::move(clock) : std::make_shared<SteadyClock>();
    impl_->stopRequested = false;
    impl_->driver = std::this_thread::get_id();
  }
  // The old tasks and timers are destroyed here, outside the lock (their captures may post).
}

}  // namespace dispatch
HCF_NAMESPACE_END
