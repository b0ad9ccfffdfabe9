#include "color_scan_store.h"

HCF_NAMESPACE_BEGIN
namespace store {

void clearColorScan(sql::Database& db) {
  db.exec("DELETE FROM HCFColorEntry; DELETE FROM HCFColorGroup; DELETE FROM HCFProductRank;");
}

void prepareColorScan(sql::Database& db) {
  clearColorScan(db);
  // Ranks follow the store's default order: the six sort keys ascending, then insertion order.
  db.exec(R"sql(
INSERT INTO HCFProductRank(rank, product)
  SELECT row_number() OVER (ORDER BY vendorOrder, code, name, hue, saturation, brightness,
                                     id) - 1, id
  FROM HRLMOfflineProduct;
INSERT INTO HCFColorGroup(batch, illuminant, observer)
  SELECT DISTINCT batch, illuminant, observer FROM HRLMBatchedLab ORDER BY 1, 2, 3;
INSERT INTO HCFColorEntry(grp, rank, position, L, a, b)
  SELECT g.grp, r.rank, c.position, c.d50L, c.d50A, c.d50B
  FROM HRLMBatchedLab c
  JOIN HCFProductRank r ON r.product = c.product
  JOIN HCFColorGroup g ON g.batch = c.batch AND g.illuminant IS c.illuminant
                          AND g.observer IS c.observer
  ORDER BY 1, 2, 3;
)sql");
}

bool colorScanReady(sql::Database& db) {
  sql::Statement s(db,
                   "SELECT (SELECT count(*) FROM HCFProductRank) = "
                   "(SELECT count(*) FROM HRLMOfflineProduct)");
  return s.step() && s.int64(0) != 0;
}

}  // namespace store
HCF_NAMESPACE_END
