#include "hcf/platform/notify/notification_center.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN
namespace notify {

struct NotificationCenter::Impl {
  struct Entry {
    Token token;
    std::string name;
    std::shared_ptr<const Observer> observer;
  };
  std::mutex mutex;
  std::vector<Entry> entries;
  Token next = 1;
};

NotificationCenter::NotificationCenter() : impl_(new Impl) {}
NotificationCenter::~NotificationCenter() { delete impl_; }

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();  // lives as long as the process
  return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer observer) {
  const std::lock_guard lock(impl_->mutex);
  const Token token = impl_->next++;
  impl_->entries.push_back(
      {token, std::move(name), std::make_shared<const Observer>(std::move(observer))});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  const std::lock_guard lock(impl_->mutex);
  std::erase_if(impl_->entries, [&](const Impl::Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::pair<Token, std::shared_ptr<const Observer>>> matching;
  {
    const std::lock_guard lock(impl_->mutex);
    for (const auto& e : impl_->entries) {
      if (e.name == notification.name) matching.emplace_back(e.token, e.observer);
    }
  }
  for (const auto& [token, observer] : matching) {
    {
      // An observer removed by an earlier one in this post is not called.
      const std::lock_guard lock(impl_->mutex);
      const bool present =
          std::any_of(impl_->entries.begin(), impl_->entries.end(),
                      [&, t = token](const Impl::Entry& e) { return e.token == t; });
      if (!present) continue;
    }
    try {
      (*observer)(notification);
    } catch (const std::exception& e) {
      logLine(std::string("notification observer threw: ") + e.what());
    } catch (...) {
      logLine("notification observer threw a non-standard exception");
    }
  }
}

void NotificationCenter::post(std::string name, std::any object) {
  post(Notification{std::move(name), std::move(object)});
}

}  // namespace notify
HCF_NAMESPACE_END
