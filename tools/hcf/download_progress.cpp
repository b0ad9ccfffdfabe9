#include "download_progress.h"

#include <unistd.h>

#include <cstdio>

namespace hcf_tool {

ProgressBar::ProgressBar(std::string title)
    : title_(std::move(title)), terminal_(isatty(STDERR_FILENO) == 1) {}

void ProgressBar::draw(float progress) {
  const int percent = static_cast<int>(progress * 100.0f + 0.5f);
  if (!terminal_) {
    const int quarter = percent / 25;
    if (quarter == lastQuarter_) return;
    lastQuarter_ = quarter;
    std::fprintf(stderr, "  %s %3d%%\n", title_.c_str(), percent);
    return;
  }
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(progress * kWidth + 0.5f);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kWidth, '.');
  std::fprintf(stderr, "\r  %s [%s] %3d%%", title_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void ProgressBar::productDownloaderDidUpdateProgress(float progress) { draw(progress); }

void ProgressBar::productDownloaderDidComplete() {
  if (terminal_) std::fprintf(stderr, "\n");
  ended_ = true;
  hcf::dispatch::mainQueue().async([] {});  // wakes the waiting main queue
}

void ProgressBar::productDownloaderDidFailWithError(const hcf::HCFError& error) {
  {
    const std::lock_guard lock(mutex_);
    failure_ = error;
  }
  if (terminal_) std::fprintf(stderr, "\n");
  ended_ = true;
  hcf::dispatch::mainQueue().async([] {});
}

std::optional<hcf::HCFError> ProgressBar::failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

}  // namespace hcf_tool
