#include "hcf/core/log.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

HCF_NAMESPACE_BEGIN

namespace {

std::mutex& handlerMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<const LogHandler>& handlerSlot() {
  static std::shared_ptr<const LogHandler> slot;
  return slot;
}

}  // namespace

void setLogHandler(LogHandler handler) {
  std::shared_ptr<const LogHandler> next;
  if (handler) next = std::make_shared<const LogHandler>(std::move(handler));
  const std::lock_guard lock(handlerMutex());
  handlerSlot() = std::move(next);
}

void logLine(std::string_view line) {
  std::shared_ptr<const LogHandler> handler;
  {
    const std::lock_guard lock(handlerMutex());
    handler = handlerSlot();
  }
  if (handler) {
    try {
      (*handler)(line);
    } catch (...) {
      // A failing log handler must not take the kit down with it.
    }
    return;
  }
  static const bool enabled = [] {
    const char* setting = std::getenv("HCF_LOG");  // unset, empty or "0": off
    return setting != nullptr && *setting != '\0' && std::string_view(setting) != "0";
  }();
  if (enabled) std::fprintf(stderr, "hcf: %.*s\n", static_cast<int>(line.size()), line.data());
}

HCF_NAMESPACE_END
