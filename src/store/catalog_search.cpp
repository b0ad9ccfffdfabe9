#include "catalog_search.h"

#include "catalog_columns.h"
#include "exact_color_ranking.h"
#include "hcf/kit/hcf_central.h"
#include "hcf/log.h"
#include "hcf/store/hcf_realm_manager.h"
#include "hcf/store/hcf_realm_serialization.h"
#include "product_store.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN
namespace store {

std::vector<ColorSearchHit> colorSearch(const ColorSearchRequest& q) {
  auto handle = HCFRealmManager::productsRealm();
  if (!handle) return {};
  try {
    auto& db = *handle->impl().db;
    const auto columns = CatalogColumns::of(
        db, HCFRealmManager::storeFile(StoreKind::Products, HCFCentral::creds().packageID));
    std::shared_ptr<const std::vector<bool>> selected;
    if (q.selection) selected = columns->matching(db, *q.selection);
    std::vector<bool> allowed(columns->productCount);
    for (std::uint32_t r = 0; r < columns->productCount; ++r) {
      allowed[r] = columns->inspiration[r] == q.inspirations && (!selected || (*selected)[r]);
    }

    RankingRequest request;
    for (const auto& box : q.boxes) {
      const LabColumn* entries = nullptr;
      if (box.illuminant && box.observer) {
        for (const auto& g : columns->textGroups) {
          if (g.batch == box.batch && g.illuminant == box.illuminant &&
              g.observer == box.observer) {
            entries = g.entries.get();
          }
        }
      }
      request.boxes.push_back({entries, box.centre});
    }
    for (const auto& pair : q.pairs) {
      const auto it = columns->firstOfBatch.find({pair.batch, q.illuminant, q.observer});
      request.pairs.push_back(
          {it == columns->firstOfBatch.end() ? nullptr : it->second.get(), pair.sample});
    }
    request.aux = q.aux;
    request.firstAdjusted = columns->firstAdjusted.get();
    request.method = q.method;
    request.allowed = &allowed;
    request.productCount = columns->productCount;
    request.skip = q.skip;
    request.limit = q.limit;
    const auto outcome = rankExactly(request);

    std::vector<ColorSearchHit> hits;
    ProductReader reader(db);
    sql::Statement atRank(db, "SELECT product FROM HCFProductRank WHERE rank = ?1");
    for (const auto& ranked : outcome.page) {
      atRank.reset();
      atRank.bind(1, static_cast<std::int64_t>(ranked.rank));
      if (!atRank.step()) continue;
      if (auto p = reader.read(atRank.int64(0))) {
        hits.push_back({HCFRealmSerialization::productFromRealmProduct(*p), ranked.deltaE});
      }
    }
    return hits;
  } catch (const sql::Failure& e) {
    logLine(std::string("products store: ") + e.what());
    return {};
  }
}

}  // namespace store
HCF_NAMESPACE_END
