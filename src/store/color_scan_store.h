// The colour-scan layout earlier kits read from a products store (HCFProductRank,
// HCFColorGroup, HCFColorEntry): the builder still writes it so that the stores it prepares stay
// readable by them. This kit reads its own column cache instead (catalog_columns.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sqlite.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// Drops the layout (the products changed). In the caller's transaction.
void clearColorScan(sql::Database& db);
/// Builds the layout from the stored products, replacing any. In the caller's transaction.
void prepareColorScan(sql::Database& db);
/// True when the layout matches the stored products (an empty store has nothing to lay out).
bool colorScanReady(sql::Database& db);

}  // namespace store
HCF_NAMESPACE_END
