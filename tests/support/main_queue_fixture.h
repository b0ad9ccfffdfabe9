// A test fixture that gives every test a fresh main queue on a manual clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "hcf/platform/dispatch/queues.h"

namespace hcf_test {

using namespace std::chrono_literals;

class MainQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<hcf::dispatch::ManualClock>();
    hcf::dispatch::mainQueue().reset(clock_);
  }
  void TearDown() override { hcf::dispatch::mainQueue().reset(clock_); }

  hcf::dispatch::MainQueue& queue() { return hcf::dispatch::mainQueue(); }
  /// Moves the manual clock forward, firing everything due on the way.
  void advance(hcf::dispatch::Duration by) { queue().advance(by); }

  std::shared_ptr<hcf::dispatch::ManualClock> clock_;
};

}  // namespace hcf_test
