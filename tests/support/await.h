// Waiting for the kit's asynchronous answers: on the manual-clock main queue, or on any queue.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <tuple>

#include "hcf/platform/dispatch/queues.h"

namespace hcf_test {

/// Drives the main queue until the one answer of `start` arrives (network answers are waited
/// for, simulated time jumps), and checks that it came exactly once.
template <typename... Args, typename Start>
std::tuple<Args...> awaitOnMain(Start start) {
  std::optional<std::tuple<Args...>> result;
  int calls = 0;
  start([&](Args... values) {
    ++calls;
    result.emplace(std::move(values)...);
  });
  auto& queue = hcf::dispatch::mainQueue();
  queue.runUntil([&] { return result.has_value(); }, queue.now() + std::chrono::seconds(30));
  // Let anything posted late show up before counting.
  queue.runUntil(queue.now() + std::chrono::milliseconds(1));
  EXPECT_EQ(calls, 1);
  return result ? std::move(*result) : std::tuple<Args...>{};
}

/// Waits (in real time, bounded) for the first answer of `start` on whatever queue it comes.
template <typename... Args, typename Start>
std::tuple<Args...> awaitAnywhere(Start start) {
  auto done = std::make_shared<std::promise<std::tuple<Args...>>>();
  auto once = std::make_shared<std::once_flag>();
  start([done, once](Args... values) {
    std::call_once(*once, [&] { done->set_value(std::tuple<Args...>(std::move(values)...)); });
  });
  auto future = done->get_future();
  if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "no answer within 30 s";
    return {};
  }
  return future.get();
}

}  // namespace hcf_test
