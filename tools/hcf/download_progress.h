// A catalogue download shown on the terminal: a progress bar and the outcome.
#pragma once

#include <hcf/hcf.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace hcf_tool {

/// Draws a bar on standard error as progress arrives (one line per quarter when standard error
/// is not a terminal) and keeps the outcome.
class ProgressBar : public hcf::HCFProductDownloaderDelegate {
 public:
  explicit ProgressBar(std::string title);
  void productDownloaderDidUpdateProgress(float progress) override;
  void productDownloaderDidComplete() override;
  void productDownloaderDidFailWithError(const hcf::HCFError& error) override;

  bool ended() const { return ended_.load(); }
  /// The failure, if the download failed.
  std::optional<hcf::HCFError> failure() const;

 private:
  void draw(float progress);
  std::string title_;
  bool terminal_;
  int lastQuarter_ = -1;
  mutable std::mutex mutex_;
  std::optional<hcf::HCFError> failure_;
  std::atomic<bool> ended_{false};
};

}  // namespace hcf_tool
