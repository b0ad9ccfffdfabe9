// A small cache of documents parsed from text: the same text parses once. The reading path
// rebuilds networks and tables from the calibration record for every measurement; with the
// cache that costs one hash and one comparison of the text.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

template <typename T>
class TextCache {
 public:
  using Value = std::shared_ptr<const T>;

  /// The value parsed from `text`, from the cache or by `parse` (whose errors are not kept).
  template <typename Parse>
  Result<Value> get(std::string_view text, Parse parse) {
    const std::size_t h = std::hash<std::string_view>{}(text);
    {
      const std::lock_guard lock(mutex_);
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->hash == h && it->text == text) {
          entries_.splice(entries_.begin(), entries_, it);  // most recent first
          return entries_.front().value;
        }
      }
    }
    Result<Value> parsed = parse(text);
    if (parsed && text.size() <= kMaxCachedText) {
      const std::lock_guard lock(mutex_);
      entries_.push_front({h, std::string(text), *parsed});
      if (entries_.size() > kCapacity) entries_.pop_back();
    }
    return parsed;
  }

 private:
  static constexpr std::size_t kCapacity = 16;
  static constexpr std::size_t kMaxCachedText = std::size_t{8} << 20;
  struct Entry {
    std::size_t hash;
    std::string text;
    Value value;
  };
  std::mutex mutex_;
  std::list<Entry> entries_;
};

HCF_NAMESPACE_END
