// A notification centre: named notifications delivered to the observers registered for them.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
/// Named notifications within the process, and the names the kit posts and observes.
namespace notify {

/// A posted notification: its name and the object it concerns (empty when none).
struct Notification {
  std::string name;  ///< what happened, one of the names below or the application's own
  std::any object;   ///< what it concerns, of the type the name documents; empty when none
};

/// Observers by notification name. `post` calls the matching observers synchronously, on the
/// posting thread, in the order they were added (the kit posts on the main queue). Thread-safe;
/// an observer may add or remove observers while called.
class HCF_API NotificationCenter {
 public:
  /// Called with each notification of the name it was added for.
  using Observer = std::function<void(const Notification&)>;
  /// Names one added observer, for `removeObserver`; never reused by its centre.
  using Token = std::uint64_t;

  /// The process's notification centre.
  static NotificationCenter& defaultCenter();

  /// Calls `observer` for every notification named `name`; returns a token for removal.
  Token addObserver(std::string name, Observer observer);
  /// Stops the observer; unknown tokens are ignored.
  void removeObserver(Token token);
  /// Calls every observer of the notification's name, on this thread, before returning.
  void post(const Notification& notification);
  /// Posts the notification `name` about `object`.
  void post(std::string name, std::any object = {});

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

 private:
  struct Impl;
  Impl* impl_;
};

/// Posted by a reachability object (the object) whose status changed.
inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";
/// Posted when the application becomes active (the application reports it to the kit).
inline constexpr const char* kApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";

}  // namespace notify
HCF_NAMESPACE_END
