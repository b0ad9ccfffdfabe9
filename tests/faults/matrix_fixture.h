// The kit signed in to the reference cloud with a catalogue installed and a calibration record
// cached: what every fault of the matrix must leave as it was. The data directory is "kit"
// inside the test's own folder, so anything written beside it shows up.
#pragma once

#include <sys/stat.h>

#include "../support/catalog_cloud_support.h"
#include "fault_support.h"
#include "hcf/cloud/hi_tintra.h"
#include "hcf/platform/http/session.h"
#include "spectrometer.h"

namespace hcf_test {

class KitMatrixTest : public CatalogCloudTest {
 protected:
  /// The time-out the session runs with here: long enough for any answer of the loopback
  /// server, short enough to keep the stalls of the matrix quick.
  static constexpr std::chrono::milliseconds kTimeout{3000};
  static constexpr const char* kArchivePath =
      "/halvern-product-db-zips/v1/prod-dbs-demo-package.zip";

  void SetUp() override {
    CatalogCloudTest::SetUp();
    kit_ = dir_ / "kit";
    std::filesystem::create_directories(kit_);
    prepareDataDirectory();
    if (HasFatalFailure() || IsSkipped()) return;
    hcf::HCFRealmManager::setDocDirectory(kit_);
    hcf::HITintraSession::currentSession().setApiKey(hcf_cloud::fixtures::kDemoDeviceKey);
    savedTimeout_ = hcf::http::Session::shared().defaultTimeout();
    hcf::http::Session::shared().setDefaultTimeout(kTimeout);
    signIn();
    auto installed = download();
    ASSERT_FALSE(installed.error) << describe(installed.error);
    ASSERT_EQ(storedProducts(), kCatalogSize);
    storeInode_ = inodeOf(store());
    auto cached = fetchCalibration(cachedSerial());
    ASSERT_FALSE(cached.error) << describe(cached.error);
    cachedRecord_ = hcf::HCFRealmManager::fetchTintraDeviceWithSerial(cachedSerial());
    ASSERT_TRUE(cachedRecord_);
    sandbox_ = entriesOf(dir_);
  }
  void TearDown() override {
    server_.stop();  // releases the answers it holds back
    if (savedTimeout_.count() > 0) hcf::http::Session::shared().setDefaultTimeout(savedTimeout_);
    releaseDataDirectory();
    CatalogCloudTest::TearDown();
  }
  /// Runs before anything is written to the data directory `kit_`.
  virtual void prepareDataDirectory() {}
  /// Runs before the test's folder is removed.
  virtual void releaseDataDirectory() {}

  /// As at the application's next start: the kit opens its stores afresh.
  void reopenStores() { hcf::HCFRealmManager::setDocDirectory(kit_); }

  static std::string cachedSerial() { return hcf_cloud::fixtures::serialFor("2.1"); }
  static std::string uncachedSerial() { return hcf_cloud::fixtures::serialFor("3.0"); }

  std::filesystem::path store() const {
    return hcf::HCFRealmManager::storeFile(hcf::StoreKind::Products,
                                           hcf_cloud::fixtures::kDemoPackageID);
  }
  std::uint64_t storedProducts() const {
    auto catalog = hcf::HCFProductCatalog::open(store());
    return catalog.ok() ? *catalog->count() : 0;
  }
  static ino_t inodeOf(const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
  }

  Outcome fetchCalibration(const std::string& serial) {
    Answer answer;
    hcf::HITintra::fetchTintraData(
        serial, [&](const hcf::TintraDevice&) { answer(std::nullopt); },
        [&](const hcf::HCFError& e) { answer(e); });
    answer.await();
    return answer.outcome();
  }

  /// Downloads the catalogue through the product manager. A download fails when it stalls
  /// for five seconds (seen once the speed averaged over the last few seconds drops, so about
  /// ten seconds after the last byte). One still going after `kStallLimit` is cancelled;
  /// `stillRunning_` then holds its bytes.
  static constexpr std::chrono::seconds kStallLimit{30};
  Outcome download() {
    Answer answer;
    auto delegate = std::make_shared<Forward>(answer);
    manager_.downloadProductsWithDelegate(delegate);
    answer.await(kStallLimit);
    stillRunning_ = 0;
    if (!answer.arrived()) {
      const auto d = manager_.productDownloader();
      stillRunning_ = d ? d->runningByteCount() : -1;
      manager_.cancelDownload();
    }
    answer.await();
    return answer.outcome();
  }

  /// The products of the installed catalogue, counted through the kit's offline search.
  std::uint64_t offlineCount() {
    auto [count] = awaitOnMain<std::uint64_t>([](auto done) {
      hcf::HCFRealmManager::offlineProductCountForPredicate(hcf::predicate::Predicate(), done);
    });
    return count;
  }

  void expectNothingLostOrLeft(const std::string& what) {
    EXPECT_EQ(inodeOf(store()), storeInode_) << what << ": the catalogue was replaced";
    EXPECT_EQ(storedProducts(), kCatalogSize) << what;
    const auto record = hcf::HCFRealmManager::fetchTintraDeviceWithSerial(cachedSerial());
    EXPECT_TRUE(record && record->SerializeAsString() == cachedRecord_->SerializeAsString())
        << what << ": the cached calibration changed";
    EXPECT_EQ(entriesOf(dir_), sandbox_) << what << ": written beside the data directory";
    const auto left = leftoversIn(kit_);
    EXPECT_TRUE(left.empty()) << what << ": left behind " << *left.begin();
  }

  // Forwards a download's end to an answer.
  struct Forward : hcf::HCFProductDownloaderDelegate {
    explicit Forward(Answer& a) : answer(a) {}
    void productDownloaderDidUpdateProgress(float) override {}
    void productDownloaderDidComplete() override { answer(std::nullopt); }
    void productDownloaderDidFailWithError(const hcf::HCFError& e) override { answer(e); }
    Answer& answer;
  };

  std::filesystem::path kit_;
  std::chrono::milliseconds savedTimeout_{0};
  hcf::HCFProductManager manager_;
  std::int64_t stillRunning_ = 0;
  ino_t storeInode_ = 0;
  std::optional<hcf::TintraDevice> cachedRecord_;
  std::set<std::string> sandbox_;
};

}  // namespace hcf_test
