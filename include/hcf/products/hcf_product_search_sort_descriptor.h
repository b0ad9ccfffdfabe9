// One sort key of a product search.
#pragma once

#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

struct HCF_API HCFProductSearchSortDescriptor {
  std::string sortKey;  ///< a store key: "vendorOrder", "code", "name", "hue", ...
  bool ascending = true;

  static HCFProductSearchSortDescriptor sortDescriptorWithKey(std::string key, bool ascending) {
    return {std::move(key), ascending};
  }
};

HCF_NAMESPACE_END
