// The product side of HCFRealmManager: queries on the global queues, answers on the main queue.
#include <algorithm>
#include <mutex>

#include "cache_access.h"
#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/store/hcf_realm_manager.h"
#include "hcf/store/hcf_realm_serialization.h"
#include "product_store.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN

namespace {

std::int64_t nanoseconds(dispatch::WallTime t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Runs `work` on the products store; an unusable store gives `fallback`.
template <typename T, typename Work>
T withProducts(T fallback, Work work) {
  auto store = HCFRealmManager::productsRealm();
  if (!store) return fallback;
  try {
    return work(*store->impl().db);
  } catch (const sql::Failure& e) {
    logLine(std::string("products store: ") + e.what());
    if (store::isDamage(e)) {
      store::setAsideDamagedCatalog(
          HCFRealmManager::storeFile(StoreKind::Products, HCFRealmManager::productsPackageID()), e);
    }
    return fallback;
  }
}

template <typename T, typename Work>
T withLog(T fallback, Work work) {
  return store::withCache(StoreKind::DownloadLog, "download log", std::move(fallback),
                          std::move(work));
}

}  // namespace

std::filesystem::path HCFRealmManager::urlForLogsRealm() {
  return storeFile(StoreKind::DownloadLog);
}

namespace {

struct ProductsPackage {
  std::mutex mutex;
  std::optional<std::string> id;
};

ProductsPackage& productsPackage() {
  static ProductsPackage package;
  return package;
}

}  // namespace

void HCFRealmManager::setProductsPackageID(const std::optional<std::string>& packageID) {
  const std::lock_guard lock(productsPackage().mutex);
  productsPackage().id = packageID;
}

std::optional<std::string> HCFRealmManager::productsPackageID() {
  const std::lock_guard lock(productsPackage().mutex);
  return productsPackage().id;
}

std::shared_ptr<StoreHandle> HCFRealmManager::productsRealm() {
  return openStore(StoreKind::Products, productsPackageID());
}

std::shared_ptr<StoreHandle> HCFRealmManager::realmForDownloadLog() {
  return openStore(StoreKind::DownloadLog);
}

const std::vector<std::string>& HCFRealmManager::validSortKeys() {
  static const std::vector<std::string> keys = {"vendorOrder", "code",       "name",
                                                "hue",         "saturation", "brightness"};
  return keys;
}

std::vector<HCFProductSearchSortDescriptor> HCFRealmManager::validedSortDescriptorsFromArray(
    const std::vector<HCFProductSearchSortDescriptor>& descriptors) {
  std::vector<HCFProductSearchSortDescriptor> kept;
  const auto& valid = validSortKeys();
  for (const auto& d : descriptors) {
    if (std::find(valid.begin(), valid.end(), d.sortKey) != valid.end()) kept.push_back(d);
  }
  if (kept.empty()) {
    for (const auto& k : valid) kept.push_back({k, true});
  }
  return kept;
}

void HCFRealmManager::offlineProductsMatchingPredicate(
    const predicate::Predicate& where,
    const std::vector<HCFProductSearchSortDescriptor>& sortDescriptors, std::uint64_t offset,
    std::uint64_t limit, ProductsCompletion completion) {
  auto sorts = validedSortDescriptorsFromArray(sortDescriptors);
  dispatch::globalQueue(dispatch::QueuePriority::High)
      .async([where, sorts = std::move(sorts), offset, limit, completion] {
        auto products = withProducts(std::vector<HCFHalvernCloudProduct>{}, [&](sql::Database& db) {
          std::vector<HCFHalvernCloudProduct> out;
          for (const auto& p :
               store::readProducts(db, store::matchingIds(db, where, sorts, offset, limit))) {
            if (p) out.push_back(HCFRealmSerialization::productFromRealmProduct(*p));
          }
          return out;
        });
        dispatch::mainQueue().async([products = std::move(products), completion]() mutable {
          logLine("returning " + std::to_string(products.size()) + " products");
          if (completion) completion(std::move(products));
        });
      });
}

void HCFRealmManager::offlineProductsMatchingPredicate(
    const predicate::Predicate& where,
    const std::vector<HCFProductSearchSortDescriptor>& sortDescriptors,
    ProductsCompletion completion) {
  offlineProductsMatchingPredicate(where, sortDescriptors, 0, kDefaultLimit, std::move(completion));
}

void HCFRealmManager::offlineProductsMatchingPredicate(const predicate::Predicate& where,
                                                       ProductsCompletion completion) {
  offlineProductsMatchingPredicate(where, {}, 0, kDefaultLimit, std::move(completion));
}

void HCFRealmManager::offlineProductCountForPredicate(
    const predicate::Predicate& where, std::function<void(std::uint64_t)> completion) {
  dispatch::globalQueue(dispatch::QueuePriority::High).async([where, completion] {
    const auto n = withProducts(std::uint64_t{0},
                                [&](sql::Database& db) { return store::countMatching(db, where); });
    dispatch::mainQueue().async([n, completion] {
      if (completion) completion(n);
    });
  });
}

void HCFRealmManager::offlineProductFiltersForProductsMatchingPredicate(
    const std::optional<predicate::Predicate>& where,
    std::function<void(std::vector<HCFProductKV>)> completion) {
  dispatch::globalQueue(dispatch::QueuePriority::High).async([where, completion] {
    logLine("start");
    auto kvs = withProducts(std::vector<HCFProductKV>{}, [&](sql::Database& db) {
      return HCFRealmSerialization::KVsFromRealmKVs(store::filtersInUse(db, where));
    });
    logLine("complete");
    dispatch::mainQueue().async([kvs = std::move(kvs), completion]() mutable {
      if (completion) completion(std::move(kvs));
    });
  });
}

void HCFRealmManager::allOfflineProductFiltersWithCompletionHandler(
    std::function<void(std::vector<HCFProductKV>)> completion) {
  offlineProductFiltersForProductsMatchingPredicate(std::nullopt, std::move(completion));
}

void HCFRealmManager::lastOfflineProductDownloadForSDKKey(
    const std::string& sdkKey, std::function<void(dispatch::WallTime)> completion) {
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([sdkKey, completion] {
    const auto ns = withLog(std::int64_t{0}, [&](sql::Database& db) {
      sql::Statement s(db,
                       "SELECT date FROM HRLMProductDownloadLogEntry WHERE sdkKey = ?1 "
                       "ORDER BY date DESC LIMIT 1");
      s.bind(1, std::string_view(sdkKey));
      return s.step() && !s.isNull(0) ? s.int64(0) : std::int64_t{0};
    });
    const dispatch::WallTime date{
        std::chrono::duration_cast<dispatch::WallTime::duration>(std::chrono::nanoseconds(ns))};
    dispatch::mainQueue().async([date, completion] {
      if (completion) completion(date);
    });
  });
}

void HCFRealmManager::insertProductDownloadEntryForSDKKey(const std::string& sdkKey,
                                                          dispatch::WallTime date,
                                                          std::function<void()> onComplete) {
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([sdkKey, date, onComplete] {
    withLog(0, [&](sql::Database& db) {
      sql::Transaction t(db);
      sql::Statement s(db, "INSERT INTO HRLMProductDownloadLogEntry(date, sdkKey) VALUES(?1, ?2)");
      s.bind(1, nanoseconds(date)).bind(2, std::string_view(sdkKey));
      s.run();
      t.commit();
      return 0;
    });
    dispatch::mainQueue().async([onComplete] {
      if (onComplete) onComplete();
    });
  });
}

bool HCFRealmManager::addOfflineProducts(const std::vector<HCFHalvernCloudProduct>& products) {
  return withProducts(false, [&](sql::Database& db) {
    std::vector<HRLMOfflineProduct> records;
    records.reserve(products.size());
    for (const auto& p : products) records.push_back(store::recordForStore(p));
    sql::Transaction t(db);
    store::writeProducts(db, records);
    t.commit();
    return true;
  });
}

HCF_NAMESPACE_END
