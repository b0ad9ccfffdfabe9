// The main queue, its timers, and the global queues.
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../support/main_queue_fixture.h"

using namespace hcf::dispatch;
using hcf_test::MainQueueTest;
using namespace std::chrono_literals;

using DispatchTest = MainQueueTest;

TEST_F(DispatchTest, TasksRunInPostingOrderOnlyWhenTheQueueIsDriven) {
  std::vector<int> order;
  queue().async([&] { order.push_back(1); });
  queue().async([&] {
    order.push_back(2);
    queue().async([&] { order.push_back(4); });  // queued behind 3
  });
  queue().async([&] { order.push_back(3); });
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(queue().drain(), 4u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(DispatchTest, TimersFireInDueOrderWhenTheManualClockAdvances) {
  std::vector<std::string> fired;
  queue().after(3s, [&] { fired.push_back("3s"); });
  queue().after(1s, [&] { fired.push_back("1s"); });
  queue().after(1s, [&] { fired.push_back("1s, later"); });  // due together: in order scheduled
  queue().after(2s, [&] {
    fired.push_back("2s");
    queue().after(500ms, [&] { fired.push_back("2.5s"); });  // due inside the same advance
  });
  queue().after(10s, [&] { fired.push_back("10s"); });
  advance(999ms);
  EXPECT_TRUE(fired.empty());
  advance(2001ms);  // now at 3 s
  EXPECT_EQ(fired, (std::vector<std::string>{"1s", "1s, later", "2s", "2.5s", "3s"}));
  advance(7s);
  EXPECT_EQ(fired.back(), "10s");
}

TEST_F(DispatchTest, TimersSeeTheirOwnDueTimeAsNow) {
  const TimePoint start = queue().now();
  std::vector<Duration> seen;
  queue().after(6s, [&] { seen.push_back(queue().now() - start); });
  queue().after(20s, [&] { seen.push_back(queue().now() - start); });
  advance(1min);
  EXPECT_EQ(seen, (std::vector<Duration>{6s, 20s}));
  EXPECT_EQ(queue().now() - start, 1min);
}

TEST_F(DispatchTest, RepeatingTimerKeepsItsRhythmUntilCancelled) {
  int count = 0;
  Timer keepAlive = queue().every(90s, [&] { ++count; });
  advance(89s);
  EXPECT_EQ(count, 0);
  advance(1s);
  EXPECT_EQ(count, 1);
  advance(270s);
  EXPECT_EQ(count, 4);
  EXPECT_TRUE(keepAlive.isValid());
  keepAlive.cancel();
  EXPECT_FALSE(keepAlive.isValid());
  advance(1h);
  EXPECT_EQ(count, 4);
}

TEST_F(DispatchTest, TimerCancelledOnTheMainQueueNeverFires) {
  bool fired = false;
  Timer t = queue().after(5s, [&] { fired = true; });
  // Cancelled from a task that runs at the very time the timer is due.
  queue().after(5s, [&] { t.cancel(); });
  Timer first = queue().after(4999ms, [&] { t.cancel(); });
  advance(10s);
  EXPECT_FALSE(fired);
  bool oneShot = false;
  Timer shot = queue().after(1s, [&] { oneShot = true; });
  advance(1s);
  EXPECT_TRUE(oneShot);
  EXPECT_FALSE(shot.isValid());  // fired
}

TEST_F(DispatchTest, TasksPostedFromManyThreadsKeepEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) queue().async([&, t, i] { seen[t].push_back(i); });
    });
  }
  for (auto& th : threads) th.join();
  queue().drain();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i);
  }
}

TEST_F(DispatchTest, RunUntilJumpsIdleTimeOnTheManualClockAndStopsAtTheDeadline) {
  bool connected = false;
  queue().after(10s, [&] { connected = true; });
  const TimePoint start = queue().now();
  EXPECT_TRUE(queue().runUntil([&] { return connected; }));
  EXPECT_EQ(queue().now() - start, 10s);
  bool never = false;
  EXPECT_FALSE(queue().runUntil([&] { return never; }, queue().now() + 20s));
  EXPECT_EQ(queue().now() - start, 30s);
  // Nothing left to happen and no deadline: returns instead of hanging.
  EXPECT_FALSE(queue().runUntil([&] { return never; }));
}

TEST_F(DispatchTest, GlobalQueueWorkDeliversBackToTheMainQueue) {
  std::atomic<bool> ranOffMain{false};
  bool delivered = false;
  globalQueue(QueuePriority::Background).async([&] {
    ranOffMain = !queue().isCurrent();
    queue().async([&] { delivered = queue().isCurrent(); });
  });
  // The main queue waits for global work instead of jumping time while it runs.
  queue().after(1h, [] {});
  EXPECT_TRUE(queue().runUntil([&] { return delivered; }, queue().now() + 2h));
  EXPECT_TRUE(ranOffMain);
}

TEST_F(DispatchTest, GlobalQueuesRunHigherPrioritiesFirst) {
  // Hold three workers for the whole test and a fourth behind its own gate; queue one task per
  // priority; open the gate: the one free worker takes them in priority order.
  std::mutex m;
  std::condition_variable cv;
  bool releaseOne = false;
  bool releaseAll = false;
  std::atomic<int> blocked{0};
  for (int i = 0; i < 4; ++i) {
    globalQueue(QueuePriority::High).async([&, i] {
      ++blocked;
      std::unique_lock lock(m);
      cv.wait(lock, [&] { return i == 0 ? releaseOne : releaseAll; });
    });
  }
  while (blocked < 4) std::this_thread::yield();
  std::vector<QueuePriority> order;
  std::atomic<int> done{0};
  for (auto p : {QueuePriority::Background, QueuePriority::Low, QueuePriority::Default,
                 QueuePriority::High}) {
    globalQueue(p).async([&, p] {
      {
        std::lock_guard lock(m);
        order.push_back(p);
      }
      ++done;
    });
  }
  {
    std::lock_guard lock(m);
    releaseOne = true;
  }
  cv.notify_all();
  while (done < 4) std::this_thread::yield();
  {
    std::lock_guard lock(m);
    releaseAll = true;
  }
  cv.notify_all();
  while (globalQueueWorkInFlight() > 0) std::this_thread::yield();
  EXPECT_EQ(order, (std::vector<QueuePriority>{QueuePriority::High, QueuePriority::Default,
                                               QueuePriority::Low, QueuePriority::Background}));
}

TEST_F(DispatchTest, AThrowingTaskDoesNotStopTheQueue) {
  bool after = false;
  queue().async([] { throw std::runtime_error("boom"); });
  queue().async([&] { after = true; });
  queue().drain();
  EXPECT_TRUE(after);
}

TEST_F(DispatchTest, RunReturnsAfterStopAndIsCurrentOnlyOnTheDriver) {
  bool onMain = false;
  queue().async([&] {
    onMain = queue().isCurrent();
    queue().stop();
  });
  queue().run();
  EXPECT_TRUE(onMain);
  bool other = true;
  std::thread([&] { other = queue().isCurrent(); }).join();
  EXPECT_FALSE(other);
}

TEST_F(DispatchTest, AdvanceNeedsTheManualClock) {
  queue().reset(std::make_shared<SteadyClock>());
  EXPECT_THROW(queue().advance(1s), std::logic_error);
}

// An application's own event loop: the descriptor wakes it for posted work and new timers, the
// deadline says when a timer is due, and `runDue` never waits.
TEST_F(DispatchTest, AnOwnEventLoopIsWokenByTheDescriptorAndTheDeadline) {
  const int fd = queue().wakeDescriptor();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(queue().wakeDescriptor(), fd);
  const auto readable = [fd] {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  };
  queue().runDue();
  EXPECT_FALSE(readable());
  EXPECT_FALSE(queue().nextDeadline());
  int ran = 0;
  std::thread([&] { queue().async([&] { ++ran; }); }).join();
  EXPECT_TRUE(readable());
  EXPECT_EQ(queue().nextDeadline(), queue().now());
  EXPECT_EQ(queue().runDue(), 1u);
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(readable());
  const auto timer = queue().after(5s, [&] { ++ran; });
  EXPECT_TRUE(readable());
  EXPECT_EQ(queue().nextDeadline(), queue().now() + 5s);
  EXPECT_EQ(queue().runDue(), 0u);  // not due yet, and nothing waited for
  EXPECT_FALSE(readable());
  queue().advance(5s);
  EXPECT_EQ(ran, 2);
  EXPECT_FALSE(queue().nextDeadline());
}
