// A downloader delegate that records what it hears, from whichever queue it comes.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "hcf/cloud/hcf_net_product_downloader.h"
#include "hcf/platform/dispatch/queues.h"

namespace hcf_test {

struct DownloadRecorder : hcf::HCFProductDownloaderDelegate {
  std::mutex mutex;
  std::vector<float> progress;
  std::vector<hcf::HCFError> failures;
  int completions = 0;
  bool failedOnMain = false;
  std::atomic<bool> ended{false};

  void productDownloaderDidUpdateProgress(float p) override {
    const std::lock_guard lock(mutex);
    progress.push_back(p);
  }
  void productDownloaderDidComplete() override {
    {
      const std::lock_guard lock(mutex);
      ++completions;
    }
    end();
  }
  void productDownloaderDidFailWithError(const hcf::HCFError& error) override {
    {
      const std::lock_guard lock(mutex);
      failures.push_back(error);
      failedOnMain = hcf::dispatch::mainQueue().isCurrent();
    }
    end();
  }
  /// Drives the main queue until the download ended (bounded in real time), then lets what
  /// was posted with the end run too.
  void awaitEnd() {
    auto& queue = hcf::dispatch::mainQueue();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ended && std::chrono::steady_clock::now() < limit) {
      queue.runUntil([&] { return ended.load(); }, queue.now() + std::chrono::milliseconds(1));
      if (!ended) std::this_thread::yield();
    }
    queue.runUntil(queue.now() + std::chrono::milliseconds(1));
  }

 private:
  void end() {
    ended = true;
    hcf::dispatch::mainQueue().async([] {});  // wakes a main queue waiting for work
  }
};

}  // namespace hcf_test
