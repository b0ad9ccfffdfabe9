#include "serve_events.h"

#include <algorithm>

namespace hcf_tool {

std::string sseMessage(const std::string& event, const std::string& json) {
  return "event: " + event + "\ndata: " + json + "\n\n";
}

std::optional<std::string> EventHub::Subscription::next(std::chrono::milliseconds limit) {
  std::unique_lock lock(hub_.mutex_);
  hub_.changed_.wait_for(lock, limit, [&] { return hub_.closed_ || !pending_.empty(); });
  if (hub_.closed_ || pending_.empty()) return std::nullopt;
  std::string message = std::move(pending_.front());
  pending_.pop_front();
  return message;
}

bool EventHub::Subscription::closed() const {
  const std::lock_guard lock(hub_.mutex_);
  return hub_.closed_;
}

std::shared_ptr<EventHub::Subscription> EventHub::subscribe() {
  const std::lock_guard lock(mutex_);
  if (closed_ || streams_.size() >= kMaxStreams) return nullptr;
  auto subscription = std::shared_ptr<Subscription>(new Subscription(*this));
  streams_.push_back(subscription);
  return subscription;
}

void EventHub::unsubscribe(const std::shared_ptr<Subscription>& subscription) {
  const std::lock_guard lock(mutex_);
  std::erase(streams_, subscription);
}

void EventHub::post(const std::string& event, const std::string& json) {
  const std::string message = sseMessage(event, json);
  {
    const std::lock_guard lock(mutex_);
    for (auto& s : streams_) {
      if (s->pending_.size() >= kMaxPending) s->pending_.pop_front();
      s->pending_.push_back(message);
    }
  }
  changed_.notify_all();
}

void EventHub::close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace hcf_tool
