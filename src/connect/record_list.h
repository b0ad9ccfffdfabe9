// The discovered-records list both controllers keep.
#pragma once

#include <algorithm>
#include <vector>

#include "hcf/connect/hperipheral_wrssi.h"

HCF_NAMESPACE_BEGIN

/// Replaces the record of the same peripheral in place (its position kept), or appends.
inline void addOrReplace(std::vector<HPeripheralWRSSI>& records, HPeripheralWRSSI record) {
  const auto it = std::find_if(records.begin(), records.end(),
                               [&](const auto& r) { return r.samePer(record); });
  if (it != records.end()) {
    *it = std::move(record);
  } else {
    records.push_back(std::move(record));
  }
}

HCF_NAMESPACE_END
