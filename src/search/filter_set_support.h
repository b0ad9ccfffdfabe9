// Small pieces the offline and online filter panels share.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>

#include "hcf/platform/dispatch/queues.h"
#include "hcf/products/hcf_product_filter_set.h"

HCF_NAMESPACE_BEGIN
namespace filter_sets {

using KVs = HCFProductFilterSet::KVs;
using KVsByKey = HCFProductFilterSet::KVsByKey;
using Completion = HCFProductFilterSet::Completion;

inline bool contains(const KVs& kvs, const HCFProductKV& kv) {
  return std::find(kvs.begin(), kvs.end(), kv) != kvs.end();
}

/// Calls `completion` with the set (and the error) on the main queue.
inline void deliver(std::shared_ptr<HCFProductFilterSet> set, const Completion& completion,
                    std::optional<HCFError> error = std::nullopt) {
  dispatch::mainQueue().async([set = std::move(set), completion, error = std::move(error)] {
    if (completion) completion(set, error);
  });
}

}  // namespace filter_sets
HCF_NAMESPACE_END
