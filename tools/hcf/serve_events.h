// The event stream of hcf serve: what the kit did, sent to every open page as Server-Sent
// Events. Posted from the main queue, read by the HTTP server's threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace hcf_tool {

/// The open event streams and what each has not been sent yet. Thread-safe.
class EventHub {
 public:
  /// One open stream.
  class Subscription {
   public:
    /// The next event as SSE text ("event: NAME\ndata: JSON\n\n"), waiting at most `limit`;
    /// nothing when none came in time or the hub closed (see `closed`).
    std::optional<std::string> next(std::chrono::milliseconds limit);
    /// True once the hub closed: the stream ends.
    bool closed() const;

   private:
    friend class EventHub;
    explicit Subscription(EventHub& hub) : hub_(hub) {}
    EventHub& hub_;
    std::deque<std::string> pending_;
  };

  /// At most this many streams are open at once (each holds one of the server's threads).
  static constexpr std::size_t kMaxStreams = 4;
  /// At most this many events wait for a slow stream; older ones are dropped.
  static constexpr std::size_t kMaxPending = 256;

  /// A new stream, or nothing when `kMaxStreams` are open or the hub closed.
  std::shared_ptr<Subscription> subscribe();
  void unsubscribe(const std::shared_ptr<Subscription>& subscription);
  /// Sends `event` with `json` (one line of JSON) to every open stream.
  void post(const std::string& event, const std::string& json);
  /// Ends every stream and refuses new ones.
  void close();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<Subscription>> streams_;
  bool closed_ = false;
};

/// One SSE message: "event: NAME\ndata: JSON\n\n" (`json` holds no line break).
std::string sseMessage(const std::string& event, const std::string& json);

}  // namespace hcf_tool
