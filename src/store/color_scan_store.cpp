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

std::vector<ScanGroup> scanGroups(sql::Database& db) {
  sql::Statement s(db,
                   "SELECT g.grp, g.batch, g.illuminant, g.observer, "
                   "(SELECT count(*) FROM HCFColorEntry e WHERE e.grp = g.grp) "
                   "FROM HCFColorGroup g ORDER BY g.grp");
  std::vector<ScanGroup> out;
  while (s.step()) {
    out.push_back({s.int64(0), s.text(1), s.optionalText(2), s.optionalText(3),
                   static_cast<std::uint64_t>(s.int64(4))});
  }
  return out;
}

void readScanGroup(sql::Database& db, std::int64_t id,
                   const std::function<void(const ScanEntry&)>& each) {
  sql::Statement s(db,
                   "SELECT rank, position, L, a, b FROM HCFColorEntry WHERE grp = ?1 "
                   "ORDER BY rank, position");
  s.bind(1, id);
  while (s.step()) {
    each({static_cast<std::uint32_t>(s.int64(0)), static_cast<std::uint32_t>(s.int64(1)),
          static_cast<float>(s.real(2)), static_cast<float>(s.real(3)),
          static_cast<float>(s.real(4))});
  }
}

std::optional<std::int64_t> productAtRank(sql::Database& db, std::uint32_t rank) {
  sql::Statement s(db, "SELECT product FROM HCFProductRank WHERE rank = ?1");
  s.bind(1, static_cast<std::int64_t>(rank));
  if (!s.step()) return std::nullopt;
  return s.int64(0);
}

}  // namespace store
HCF_NAMESPACE_END
