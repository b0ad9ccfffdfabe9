// One sort key of a product search.
#pragma once

#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// One key of a search's order: the store key and its direction.
struct HCF_API HCFProductSearchSortDescriptor {
  std::string sortKey;  ///< a store key: "vendorOrder", "code", "name", "hue", ...
  /// Smallest first; false for largest first.
  bool ascending = true;

  /// The key `key` in the direction `ascending`.
  static HCFProductSearchSortDescriptor sortDescriptorWithKey(std::string key, bool ascending) {
    return {std::move(key), ascending};
  }
};

HCF_NAMESPACE_END
