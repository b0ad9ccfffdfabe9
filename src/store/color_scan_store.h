// The colour-scan layout of the products store: every colour entry's Lab, grouped by (batch,
// illuminant, observer) and within a group ordered by the product's rank in the default sort
// order, so that a colour search reads one group front to back and knows each product's place
// in the store's order without sorting.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sqlite.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// One (batch, illuminant, observer) group of colour entries.
struct ScanGroup {
  std::int64_t id = 0;
  std::string batch;
  std::optional<std::string> illuminant, observer;
  std::uint64_t entries = 0;
};

/// One entry of a group: the product's rank, the entry's position in the product's colour
/// list, and its Lab.
struct ScanEntry {
  std::uint32_t rank = 0;
  std::uint32_t position = 0;
  float L = 0, a = 0, b = 0;
};

/// Drops the layout (the products changed). In the caller's transaction.
void clearColorScan(sql::Database& db);
/// Builds the layout from the stored products, replacing any. In the caller's transaction.
void prepareColorScan(sql::Database& db);
/// True when the layout matches the stored products (an empty store has nothing to lay out).
bool colorScanReady(sql::Database& db);

std::vector<ScanGroup> scanGroups(sql::Database& db);
/// The entries of group `id` in (rank, position) order.
void readScanGroup(sql::Database& db, std::int64_t id,
                   const std::function<void(const ScanEntry&)>& each);
/// The store id of the product at `rank`.
std::optional<std::int64_t> productAtRank(sql::Database& db, std::uint32_t rank);

}  // namespace store
HCF_NAMESPACE_END
