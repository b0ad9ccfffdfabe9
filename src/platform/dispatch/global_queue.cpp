#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace dispatch {

namespace {

std::atomic<std::size_t> gExternalWork{0};

// The shared pool behind the global queues. Never destroyed: its threads wait for work for the
// life of the process.
class Pool {
 public:
  static Pool& instance() {
    static Pool* pool = new Pool();
    return *pool;
  }

  void post(QueuePriority priority, Task task) {
    {
      const std::lock_guard lock(mutex_);
      queues_[static_cast<std::size_t>(priority)].push_back(std::move(task));
      ++inFlight_;
      startWorkersLocked();
    }
    wake_.notify_one();
  }

  std::size_t inFlight() const { return inFlight_.load(); }

 private:
  static constexpr std::size_t kThreads = 4;

  void startWorkersLocked() {
    if (started_) return;
    started_ = true;
    for (std::size_t i = 0; i < kThreads; ++i) std::thread([this] { work(); }).detach();
  }

  void work() {
    for (;;) {
      Task task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] {
          for (const auto& q : queues_) {
            if (!q.empty()) return true;
          }
          return false;
        });
        for (auto& q : queues_) {
          if (!q.empty()) {
            task = std::move(q.front());
            q.pop_front();
            break;
          }
        }
      }
      try {
        task();
      } catch (const std::exception& e) {
        logLine(std::string("global queue: a task threw: ") + e.what());
      } catch (...) {
        logLine("global queue: a task threw a non-standard exception");
      }
      task = nullptr;  // captures go before the work counts as done
      --inFlight_;
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::array<std::deque<Task>, 4> queues_;  // by priority, High first
  std::atomic<std::size_t> inFlight_{0};
  bool started_ = false;
};

}  // namespace

void GlobalQueue::async(Task task) const { Pool::instance().post(priority_, std::move(task)); }

GlobalQueue globalQueue(QueuePriority priority) { return GlobalQueue(priority); }

std::size_t globalQueueWorkInFlight() { return Pool::instance().inFlight(); }

std::size_t externalWorkInFlight() { return gExternalWork.load(); }

WorkInFlight::WorkInFlight() { ++gExternalWork; }
WorkInFlight::~WorkInFlight() { --gExternalWork; }

}  // namespace dispatch
HCF_NAMESPACE_END
