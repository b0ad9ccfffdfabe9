// A products store built for a test, and the kit's asynchronous answers awaited on the
// manual-clock main queue.
#pragma once

#include <gtest/gtest.h>

#include <sstream>

#include "../support/await.h"
#include "../support/store_test_support.h"
#include "catalog_fixture.h"
#include "hcf/hcf.h"

namespace hcf_test {

class SearchTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    hcf::dispatch::mainQueue().reset(std::make_shared<hcf::dispatch::ManualClock>());
  }
  /// Makes `products` the products store, prepared as a download delivers it.
  void useCatalog(const std::vector<hcf::HCFHalvernCloudProduct>& products) {
    std::ostringstream lines;
    hcf_cloud::fixtures::writeProductLines(lines, products);
    std::istringstream in(lines.str());
    const auto built = hcf::HCFProductStoreBuilder::build(
        in, hcf::HCFRealmManager::storeFile(hcf::StoreKind::Products,
                                            hcf::HCFCentral::creds().packageID));
    ASSERT_TRUE(built.ok()) << built.error->localizedDescription;
  }
  /// Waits for the one answer of `start`, counting how often it is called.
  template <typename... Args, typename Start>
  std::tuple<Args...> await(Start start) {
    return awaitOnMain<Args...>(std::move(start));
  }
  std::vector<hcf::HCFProductSearchResult> run(const hcf::HCFProductSearch& search) {
    auto [results, error] =
        await<std::vector<hcf::HCFProductSearchResult>, std::optional<hcf::HCFError>>(
            [&](auto done) { search.execute(done); });
    EXPECT_FALSE(error.has_value());
    return results;
  }
  std::vector<hcf::HCFHalvernCloudProduct> everything() {
    auto [products] = await<std::vector<hcf::HCFHalvernCloudProduct>>([](auto done) {
      hcf::HCFRealmManager::offlineProductsMatchingPredicate(hcf::predicate::Predicate(), {}, 0,
                                                             1000000, done);
    });
    return products;
  }
};

}  // namespace hcf_test
