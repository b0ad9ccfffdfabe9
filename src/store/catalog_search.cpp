#include "catalog_search.h"

#include <algorithm>

#include "catalog_columns.h"
#include "exact_color_ranking.h"
#include "hcf/core/log.h"
#include "hcf/store/hcf_realm_manager.h"
#include "hcf/store/hcf_realm_serialization.h"
#include "product_store.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// Runs `work` on the products store, in one read transaction: the kit's (an unusable store
// gives `fallback`) or the caller's file (failures are thrown).
template <typename T, typename Work>
T withStore(const CatalogFile& file, T fallback, Work work) {
  if (file) {
    auto handle = openCatalogFile(*file);
    sql::ReadTransaction read(*handle->impl().db);
    return work(*handle->impl().db, handle->impl().identity, *file);
  }
  auto handle = HCFRealmManager::productsRealm();
  if (!handle) return fallback;
  try {
    sql::ReadTransaction read(*handle->impl().db);
    return work(
        *handle->impl().db, handle->impl().identity,
        HCFRealmManager::storeFile(StoreKind::Products, HCFRealmManager::productsPackageID()));
  } catch (const sql::Failure& e) {
    logLine(std::string("products store: ") + e.what());
    if (!isDamage(e)) return fallback;
    setAsideDamagedCatalog(
        HCFRealmManager::storeFile(StoreKind::Products, HCFRealmManager::productsPackageID()), e);
    throw DamagedCatalog();
  }
}

// Runs `work` on the products store and its columns.
template <typename T, typename Work>
T withColumns(const CatalogFile& file, T fallback, Work work) {
  return withStore(
      file, std::move(fallback),
      [&](sql::Database& db, const FileIdentity& identity, const std::filesystem::path& path) {
        return work(db, CatalogColumns::of(db, identity, path));
      });
}

// The store ids of the products at `ranks`, in that order.
std::vector<std::int64_t> productsAtRanks(const CatalogColumns& columns,
                                          const std::vector<std::uint32_t>& ranks) {
  std::vector<std::int64_t> out;
  out.reserve(ranks.size());
  for (const auto r : ranks) {
    if (r < columns.productOfRank.size()) out.push_back(columns.productOfRank[r]);
  }
  return out;
}

}  // namespace

std::vector<ColorSearchHit> colorSearch(const ColorSearchRequest& q, const CatalogFile& file) {
  using Out = std::vector<ColorSearchHit>;
  return withColumns(
      file, Out{},
      [&](sql::Database& db, const std::shared_ptr<const CatalogColumns>& columns) -> Out {
        std::shared_ptr<const std::vector<bool>> selected;
        if (q.selection) selected = columns->matching(db, *q.selection);
        std::vector<bool> allowed(columns->productCount);
        for (std::uint32_t r = 0; r < columns->productCount; ++r) {
          allowed[r] = columns->inspiration[r] == q.inspirations && (!selected || (*selected)[r]);
        }

        RankingRequest request;
        std::vector<std::shared_ptr<const LabColumn>> held;  // the columns the request points at
        for (const auto& box : q.boxes) {
          std::shared_ptr<const LabColumn> entries;
          if (box.illuminant && box.observer) {
            entries = columns->group(db, box.batch, box.illuminant, box.observer);
          }
          held.push_back(entries);
          request.boxes.push_back({entries.get(), box.centre});
        }
        for (const auto& pair : q.pairs) {
          auto firsts = columns->firstOfBatch(db, pair.batch, q.illuminant, q.observer);
          held.push_back(firsts);
          request.pairs.push_back({firsts.get(), pair.sample});
        }
        request.aux = q.aux;
        const auto reference = columns->adjustedFor(db, q.illuminant, q.observer);
        request.firstAdjusted = reference.get();
        request.method = q.method;
        request.allowed = &allowed;
        request.productCount = columns->productCount;
        request.skip = q.skip;
        request.limit = q.limit;
        const auto outcome = rankExactly(request);

        std::vector<ColorSearchHit> hits;
        std::vector<std::uint32_t> ranks;
        for (const auto& ranked : outcome.page) ranks.push_back(ranked.rank);
        const auto products = readProducts(db, productsAtRanks(*columns, ranks));
        for (std::size_t i = 0; i < products.size(); ++i) {
          if (products[i]) {
            hits.push_back({HCFRealmSerialization::productFromRealmProduct(*products[i]),
                            outcome.page[i].deltaE});
          }
        }
        return hits;
      });
}

std::vector<HCFHalvernCloudProduct> textSearch(const std::string& folded, bool inspirations,
                                               const std::optional<predicate::Predicate>& selection,
                                               std::uint64_t skip, std::uint64_t limit,
                                               const CatalogFile& file) {
  if (folded.empty() || limit == 0) return {};
  using Out = std::vector<HCFHalvernCloudProduct>;
  return withColumns(
      file, Out{},
      [&](sql::Database& db, const std::shared_ptr<const CatalogColumns>& columns) -> Out {
        const auto index = columns->textIndex(db);
        std::shared_ptr<const std::vector<bool>> selected;
        if (selection) selected = columns->matching(db, *selection);
        std::vector<bool> found(columns->productCount, false);
        for (std::size_t k = 0; k < index->folded.size(); ++k) {
          if (index->folded[k].find(folded) == std::string::npos) continue;
          for (const auto r : index->ranks[k]) {
            if (r < found.size()) found[r] = true;
          }
        }
        std::vector<std::uint32_t> ranks;
        std::uint64_t seen = 0;
        for (std::uint32_t r = 0; r < columns->productCount && ranks.size() < limit; ++r) {
          if (!found[r] || columns->inspiration[r] != inspirations ||
              (selected && !(*selected)[r])) {
            continue;
          }
          if (seen++ >= skip) ranks.push_back(r);
        }
        std::vector<HCFHalvernCloudProduct> out;
        for (const auto& p : readProducts(db, productsAtRanks(*columns, ranks))) {
          if (p) out.push_back(HCFRealmSerialization::productFromRealmProduct(*p));
        }
        return out;
      });
}

std::vector<FilterFacet> filterFacets(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& selection,
    std::optional<bool> inspirations, const CatalogFile& file) {
  using Out = std::vector<FilterFacet>;
  return withColumns(
      file, Out{},
      [&](sql::Database& db, const std::shared_ptr<const CatalogColumns>& columns) -> Out {
        const auto index = columns->filterIndex(db);
        const std::uint32_t n = columns->productCount;
        // Per product: how many key selections it fails, and which when only one.
        constexpr std::uint32_t kNone = UINT32_MAX;
        std::vector<std::uint32_t> failed(n, 0), failedGroup(n, kNone);
        for (std::uint32_t g = 0; g < selection.size(); ++g) {
          const auto& hashes = selection[g].second;
          std::vector<bool> inGroup(n, false);
          for (std::size_t k = 0; k < index->kvs.size(); ++k) {
            if (std::find(hashes.begin(), hashes.end(), index->kvs[k].kvHash) == hashes.end())
              continue;
            for (const auto r : index->ranks[k]) inGroup[r] = true;
          }
          for (std::uint32_t r = 0; r < n; ++r) {
            if (inGroup[r]) continue;
            if (++failed[r] == 1) failedGroup[r] = g;
          }
        }
        Out out;
        for (std::size_t k = 0; k < index->kvs.size(); ++k) {
          const auto& kv = index->kvs[k];
          std::uint32_t own = kNone;
          for (std::uint32_t g = 0; g < selection.size(); ++g) {
            if (kv.key && selection[g].first == *kv.key) own = g;
          }
          std::uint64_t count = 0;
          for (const auto r : index->ranks[k]) {
            if (inspirations && columns->inspiration[r] != *inspirations) continue;
            if (failed[r] == 0 || (failed[r] == 1 && failedGroup[r] == own)) ++count;
          }
          if (count > 0) out.push_back({kv, count});
        }
        return out;
      });
}

std::vector<HCFHalvernCloudProduct> productsMatching(
    const predicate::Predicate& where, const std::vector<HCFProductSearchSortDescriptor>& sorts,
    std::uint64_t skip, std::uint64_t limit, const CatalogFile& file) {
  using Out = std::vector<HCFHalvernCloudProduct>;
  return withStore(
      file, Out{}, [&](sql::Database& db, const FileIdentity&, const std::filesystem::path&) {
        Out out;
        for (const auto& p : readProducts(db, matchingIds(db, where, sorts, skip, limit))) {
          if (p) out.push_back(HCFRealmSerialization::productFromRealmProduct(*p));
        }
        return out;
      });
}

std::uint64_t countOfProducts(const std::optional<predicate::Predicate>& where,
                              const CatalogFile& file) {
  return withStore(file, std::uint64_t{0},
                   [&](sql::Database& db, const FileIdentity&, const std::filesystem::path&) {
                     return countMatching(db,
                                          where.value_or(predicate::Predicate::truePredicate()));
                   });
}

std::vector<HRLMProductKV> filterValuesOfProducts(const std::optional<predicate::Predicate>& where,
                                                  const CatalogFile& file) {
  return withStore(file, std::vector<HRLMProductKV>{},
                   [&](sql::Database& db, const FileIdentity&, const std::filesystem::path&) {
                     return filtersInUse(db, where);
                   });
}

}  // namespace store
HCF_NAMESPACE_END
