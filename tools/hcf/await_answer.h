// Waiting in a command for one asynchronous answer of the kit.
#pragma once

#include <hcf/hcf.h>

#include <chrono>
#include <memory>
#include <optional>
#include <tuple>

namespace hcf_tool {

/// Starts the operation `start` (which takes the completion) and drives the main queue until
/// its answer arrives or `limit` passes. The answer may come on any queue: it is carried to
/// the main queue before it is kept, so nothing is shared across threads.
template <typename... Args, typename Start>
std::optional<std::tuple<Args...>> awaitAnswer(
    Start start, hcf::dispatch::Duration limit = std::chrono::seconds(60)) {
  auto result = std::make_shared<std::optional<std::tuple<Args...>>>();
  start([result](Args... values) {
    hcf::dispatch::mainQueue().async(
        [result, answer = std::tuple<Args...>(std::move(values)...)]() mutable {
          if (!*result) *result = std::move(answer);
        });
  });
  auto& queue = hcf::dispatch::mainQueue();
  queue.runUntil([&] { return result->has_value(); }, queue.now() + limit);
  return *result;
}

}  // namespace hcf_tool
