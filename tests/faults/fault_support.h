// What every row of the fault matrix checks: one answer, in bounded time, and nothing lost or
// written where it should not be. The kit's data directory is a folder inside a sandbox folder,
// so that anything written beside it shows up.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "hcf/core/hcf_error.h"
#include "hcf/platform/dispatch/queues.h"

namespace hcf_test {

/// What an operation answered: how often, and the error of its first answer.
struct Outcome {
  int calls = 0;
  std::optional<hcf::HCFError> error;
};

/// Collects the one answer an operation owes.
class Answer {
 public:
  /// The completion to hand to the kit: records each call, from whichever queue.
  void operator()(std::optional<hcf::HCFError> error) {
    {
      const std::lock_guard lock(mutex_);
      if (calls_++ == 0) error_ = std::move(error);
    }
    ++done_;
    hcf::dispatch::mainQueue().async([] {});  // wakes a main queue waiting for work
  }
  bool arrived() const { return done_ > 0; }
  int calls() const { return done_; }
  Outcome outcome() const {
    const std::lock_guard lock(mutex_);
    return {done_.load(), error_};
  }

  /// Drives the main queue (manual clock) until the answer came or `limit` of real time
  /// passed, then a little longer so that a second answer would be seen too.
  void await(std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto& queue = hcf::dispatch::mainQueue();
    const auto end = std::chrono::steady_clock::now() + limit;
    // The limit is part of the condition: while a transfer is in flight the manual clock
    // stands still and the queue waits for the network.
    const auto over = [&] { return arrived() || std::chrono::steady_clock::now() >= end; };
    while (!over()) {
      queue.runUntil(over, queue.now() + std::chrono::milliseconds(1));
      if (!over()) std::this_thread::yield();
    }
    const auto settleEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    queue.runUntil([&] { return std::chrono::steady_clock::now() >= settleEnd; },
                   queue.now() + std::chrono::milliseconds(1));
  }

 private:
  mutable std::mutex mutex_;
  std::atomic<int> done_{0};
  int calls_ = 0;
  std::optional<hcf::HCFError> error_;
};

/// The entries of `dir` (names only, not recursive).
inline std::set<std::string> entriesOf(const std::filesystem::path& dir) {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    out.insert(e.path().filename().string());
  }
  return out;
}

/// The entries of `dir` whose names say they are unfinished work (partial downloads, folders
/// being unpacked, journals of a transaction that never ended).
inline std::set<std::string> leftoversIn(const std::filesystem::path& dir) {
  std::set<std::string> out;
  for (const auto& name : entriesOf(dir)) {
    for (const char* mark : {".part", "unpack", ".tmp", "-journal"}) {
      if (name.find(mark) != std::string::npos) out.insert(name);
    }
  }
  return out;
}

/// "code: message" of an outcome; "ok" without an error.
inline std::string describe(const std::optional<hcf::HCFError>& error) {
  if (!error) return "ok";
  return std::to_string(error->code) + ": " + error->localizedDescription;
}

}  // namespace hcf_test
