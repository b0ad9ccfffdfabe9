// The synthetic catalogues the catalogue benchmarks share: product lines written once into
// the temporary directory, stores built from them, and a store made the kit's products store.
#pragma once

#include <hcf/hcf.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "catalog_fixture.h"

namespace hcf_bench {

inline const std::filesystem::path kCatalogDir =
    std::filesystem::temp_directory_path() / "hcf-catalog-bench";

/// HCF_BENCH_MAX_PRODUCTS limits the catalogue sizes (for a quick run).
inline std::size_t maxProducts() {
  const char* limit = std::getenv("HCF_BENCH_MAX_PRODUCTS");
  return limit ? static_cast<std::size_t>(std::strtoull(limit, nullptr, 10)) : 1000000;
}

/// The product lines of a synthetic catalogue of `n` products.
inline std::filesystem::path catalogLines(std::size_t n) {
  namespace fs = std::filesystem;
  const fs::path file = kCatalogDir / ("synthetic-" + std::to_string(n) + ".jsonl");
  if (fs::exists(file)) return file;
  fs::create_directories(kCatalogDir);
  const fs::path part = fs::path(file) += ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    constexpr std::size_t kSlice = 10000;
    for (std::size_t first = 0; first < n; first += kSlice) {
      std::vector<hcf::HCFHalvernCloudProduct> slice;
      for (std::size_t i = first; i < std::min(n, first + kSlice); ++i) {
        slice.push_back(hcf_cloud::fixtures::syntheticProduct(i, n));
      }
      hcf_cloud::fixtures::writeProductLines(out, slice);
    }
  }
  fs::rename(part, file);
  return file;
}

inline std::filesystem::path storeOf(std::size_t n) {
  return kCatalogDir / ("store-" + std::to_string(n)) / "products.realm";
}

/// The built store of `n` products (built now when missing).
inline std::filesystem::path builtStore(std::size_t n) {
  if (!std::filesystem::exists(storeOf(n))) {
    std::ifstream in(catalogLines(n), std::ios::binary);
    if (!hcf::HCFProductStoreBuilder::build(in, storeOf(n)).ok()) std::abort();
  }
  return storeOf(n);
}

template <typename T, typename Start>
T await(Start start) {
  std::optional<T> result;
  start([&](T value) { result = std::move(value); });
  hcf::dispatch::mainQueue().runUntil([&] { return result.has_value(); },
                                      hcf::dispatch::mainQueue().now() + std::chrono::seconds(60));
  return result ? std::move(*result) : T{};
}

/// Makes the store of `n` products the kit's products store (a link to the built file) and
/// reads a page once, as an application that has been running a while would have it.
inline void useStore(std::size_t n, const std::string& user) {
  namespace fs = std::filesystem;
  const fs::path docs = kCatalogDir / ("docs-" + user + "-" + std::to_string(n));
  hcf::HCFRealmManager::setDocDirectory(docs);
  const fs::path target =
      hcf::HCFRealmManager::storeFile(hcf::StoreKind::Products, hcf::HCFCentral::creds().packageID);
  fs::create_directories(target.parent_path());
  fs::remove(target);
  fs::create_hard_link(builtStore(n), target);
  await<std::vector<hcf::HCFHalvernCloudProduct>>([](auto done) {
    hcf::HCFRealmManager::offlineProductsMatchingPredicate(
        hcf::predicate::Predicate::equal("isInspiration", false), {}, 0, 50, done);
  });
}

}  // namespace hcf_bench
