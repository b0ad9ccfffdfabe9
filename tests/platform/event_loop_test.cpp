// The main queue driven by an application's own loop: a poll() loop and a GLib main context.
#include <functional>
#include <string>
#include <thread>

#include "../support/main_queue_fixture.h"
#include "hcf/platform/dispatch/glib_main_queue.h"
#include "hcf/platform/dispatch/poll_loop.h"

using namespace hcf::dispatch;
using namespace std::chrono_literals;

namespace {

// One turn of a loop: `wait` lets it block until the queue wakes it (at most 10 s, so that a
// loop that is never woken fails instead of hanging).
struct Loop {
  std::string name;
  std::function<void(bool wait)> turn;
};

class EventLoopTest : public hcf_test::MainQueueTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    MainQueueTest::SetUp();
    context_ = g_main_context_new();
    attached_ = std::make_unique<GLibMainQueue>(context_);
  }
  void TearDown() override {
    attached_.reset();
    g_main_context_unref(context_);
    MainQueueTest::TearDown();
  }
  Loop loop() {
    if (GetParam() == 0) {
      return {"poll", [](bool wait) { pollAndRunDue({}, wait ? 10000 : 0); }};
    }
    return {"glib", [this](bool wait) {
              if (!wait) {
                g_main_context_iteration(context_, FALSE);
                return;
              }
              // GLib waits for ever when asked to: bound it with a timeout of its own.
              GSource* limit = g_timeout_source_new(10000);
              g_source_set_callback(
                  limit, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
              g_source_attach(limit, context_);
              g_main_context_iteration(context_, TRUE);
              g_source_destroy(limit);
              g_source_unref(limit);
            }};
  }
  void moveClock(Duration by) { clock_->set(clock_->now() + by); }

  GMainContext* context_ = nullptr;
  std::unique_ptr<GLibMainQueue> attached_;
};

TEST_P(EventLoopTest, RunsWorkPostedFromAnotherThreadAndTimersWhenDue) {
  const Loop l = loop();
  SCOPED_TRACE(l.name);
  int ran = 0;
  std::thread poster([&] { queue().async([&] { ++ran; }); });
  poster.join();
  l.turn(true);  // woken by the descriptor
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(queue().isCurrent());

  queue().after(5s, [&] { ran += 10; });
  EXPECT_EQ(pollTimeout(queue()), 5000);
  l.turn(false);
  l.turn(false);
  EXPECT_EQ(ran, 1) << "a timer ran before its time";
  moveClock(4999ms);
  EXPECT_EQ(pollTimeout(queue()), 1);
  l.turn(false);
  EXPECT_EQ(ran, 1);
  moveClock(1ms);
  EXPECT_EQ(pollTimeout(queue()), 0);
  l.turn(false);
  EXPECT_EQ(ran, 11);
  EXPECT_EQ(pollTimeout(queue()), -1);
}

INSTANTIATE_TEST_SUITE_P(Loops, EventLoopTest, ::testing::Values(0, 1),
                         [](const auto& p) { return p.param == 0 ? "Poll" : "GLib"; });

}  // namespace
