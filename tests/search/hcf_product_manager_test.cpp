// The product manager: whether a download is needed (dates from the same server clock),
// downloads and cancellation through it, the status, and what it does without a login.
#include "hcf/search/hcf_product_manager.h"

#include <gtest/gtest.h>

#include "../support/catalog_cloud_support.h"
#include "../support/download_recorder.h"

using namespace hcf;
using hcf_test::awaitAnywhere;
using hcf_test::awaitOnMain;
using hcf_test::DownloadRecorder;

namespace {

namespace fx = hcf_cloud::fixtures;

class ProductManagerTest : public hcf_test::CatalogCloudTest {
 protected:
  std::pair<bool, std::optional<HCFError>> required() {
    auto [yes, error] = awaitOnMain<bool, std::optional<HCFError>>(
        [&](auto done) { manager_.checkIfProductDownloadRequired(done); });
    return {yes, error};
  }
  std::shared_ptr<DownloadRecorder> download() {
    auto r = std::make_shared<DownloadRecorder>();
    manager_.downloadProductsWithDelegate(r);
    r->awaitEnd();
    return r;
  }
  void catalogueChangedAt(const std::string& date) {
    world_->putCatalog(fx::kDemoPackageID, {published_.store, published_.archive, date});
  }
  std::size_t statusRequests() const { return requestsTo("/ss/v2/download2_status").size(); }

  HCFProductManager manager_;
};

TEST_F(ProductManagerTest, ADownloadIsNeededWhenTheServersCatalogueIsNewer) {
  signIn();
  // An empty store: yes, without asking the server.
  auto [empty, error] = required();
  EXPECT_TRUE(empty);
  EXPECT_FALSE(error);
  EXPECT_EQ(statusRequests(), 0u);

  ASSERT_EQ(download()->completions, 1);
  auto [count, noError] = awaitOnMain<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager_.countDownloadedProducts(done); });
  EXPECT_EQ(count, kCatalogSize);

  // Logged with exactly the server's date: current.
  auto [current, error2] = required();
  EXPECT_FALSE(current);
  EXPECT_FALSE(error2);
  // The server's catalogue one second newer: a download is needed.
  catalogueChangedAt("2026-11-30T09:00:01.000Z");
  auto [newer, error3] = required();
  EXPECT_TRUE(newer);
  EXPECT_FALSE(error3);
  // Rolled back to an earlier catalogue: that one is wanted too.
  catalogueChangedAt("2026-11-29T09:00:00.000Z");
  EXPECT_TRUE(std::get<0>(required()));

  // A status that cannot be read: nothing says a download is needed; the reason comes along.
  server_.setFault("/ss/v2/download2_status", {.status = 500, .times = 1});
  auto [unknown, why] = required();
  EXPECT_FALSE(unknown);
  ASSERT_TRUE(why);
  EXPECT_EQ(why->code, 500);
}

TEST_F(ProductManagerTest, StatusErrorsBecomeKitErrorsOfTheirKind) {
  signIn();
  auto [status, error] =
      awaitAnywhere<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { manager_.fetchProductsStatus(done); });
  ASSERT_TRUE(status);
  EXPECT_EQ(HCFNetCommon::RFC3339StringFromDate(status->productsUpdatedAt),
            "2026-11-30T09:00:00.000Z");
  server_.setFault("/ss/v2/download2_status", {.status = 502, .times = 1});
  auto [none, failure] =
      awaitAnywhere<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { manager_.fetchProductsStatus(done); });
  EXPECT_FALSE(none);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, error_code::kCatalogStatusServerError);
  EXPECT_EQ(failure->domain, kHCFErrorDomain);
  EXPECT_EQ(failure->localizedDescription, "Server Error:");
}

TEST_F(ProductManagerTest, WithoutALoginOnlyCountingWorks) {
  signOut();
  auto [yes, error] = required();
  EXPECT_FALSE(yes);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, error_code::kAuthenticationFailed);

  const auto r = download();
  ASSERT_EQ(r->failures.size(), 1u);
  EXPECT_EQ(r->failures[0].code, error_code::kAuthenticationFailed);
  EXPECT_TRUE(r->failedOnMain);
  EXPECT_FALSE(manager_.productDownloader());

  auto [status, failure] =
      awaitAnywhere<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { manager_.fetchProductsStatus(done); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, error_code::kAuthenticationFailed);

  auto [count, noError] = awaitOnMain<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager_.countDownloadedProducts(done); });
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(noError);
}

TEST_F(ProductManagerTest, CancellingKeepsTheInstalledCatalogue) {
  signIn();
  manager_.cancelDownload();  // nothing under way: nothing happens
  ASSERT_EQ(download()->completions, 1);
  const auto logged =
      *HCFProductCatalog::open(HCFRealmManager::storeFile(StoreKind::Products, fx::kDemoPackageID));

  const std::string archivePath = "/halvern-product-db-zips/v1/prod-dbs-demo-package.zip";
  server_.setFault(archivePath,
                   {.pauseAfter = 1000, .pauseFor = std::chrono::seconds(20), .times = 1});
  auto r = std::make_shared<DownloadRecorder>();
  manager_.downloadProductsWithDelegate(r);
  const auto downloader = manager_.productDownloader();
  ASSERT_TRUE(downloader);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (downloader->runningByteCount() < 1000 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::yield();
  }
  manager_.cancelDownload();
  EXPECT_FALSE(manager_.productDownloader());
  server_.stop();
  r->awaitEnd();
  ASSERT_EQ(r->failures.size(), 1u);
  EXPECT_EQ(r->failures[0].code, http::url_error::kCancelled);
  EXPECT_EQ(*logged.count(), kCatalogSize);
}

// A download replaced by another for the same listener tells it nothing: it hears about the
// download it is waiting for, once.
TEST_F(ProductManagerTest, AReplacedDownloadTellsItsListenerNothing) {
  signIn();
  const std::string archivePath = "/halvern-product-db-zips/v1/prod-dbs-demo-package.zip";
  server_.setFault(archivePath,
                   {.pauseAfter = 1000, .pauseFor = std::chrono::seconds(2), .times = 1});
  auto r = std::make_shared<DownloadRecorder>();
  manager_.downloadProductsWithDelegate(r);
  manager_.downloadProductsWithDelegate(r);
  r->awaitEnd();
  // Whatever the first could still post has had its turn.
  dispatch::mainQueue().runUntil([] { return false; },
                                 dispatch::mainQueue().now() + std::chrono::milliseconds(10));
  const std::lock_guard lock(r->mutex);
  EXPECT_TRUE(r->failures.empty()) << r->failures.front().localizedDescription;
  EXPECT_EQ(r->completions, 1);
}

TEST_F(ProductManagerTest, DelegateCallsAreForwardedAndDropTheDownloader) {
  auto r = std::make_shared<DownloadRecorder>();
  signOut();
  manager_.downloadProductsWithDelegate(r);  // remembers the delegate, fails for the login
  r->awaitEnd();
  manager_.productDownloaderDidUpdateProgress(0.5f);
  manager_.productDownloaderDidComplete();
  const std::lock_guard lock(r->mutex);
  ASSERT_FALSE(r->progress.empty());
  EXPECT_EQ(r->progress.back(), 0.5f);
  EXPECT_EQ(r->completions, 1);
}

}  // namespace
