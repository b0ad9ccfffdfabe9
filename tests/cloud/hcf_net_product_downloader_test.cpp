// Catalogue downloads from the reference cloud: the archive streamed, checked and installed in
// one rename, logged with the server's date; and every way a download can fail, each leaving
// the installed catalogue and its log as they were.
#include "hcf/cloud/hcf_net_product_downloader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "../support/catalog_cloud_support.h"
#include "../support/download_recorder.h"
#include "package_builder.h"
#include "store/catalog_install.h"

using namespace hcf;
using hcf_test::DownloadRecorder;

namespace {

namespace fx = hcf_cloud::fixtures;
const std::string kArchivePath = "/halvern-product-db-zips/v1/prod-dbs-demo-package.zip";

class ProductDownloaderTest : public hcf_test::CatalogCloudTest {
 protected:
  std::shared_ptr<DownloadRecorder> download() {
    auto recorder = std::make_shared<DownloadRecorder>();
    auto d = HCFNetProductDownloader::downloaderWithCredentials(loginCredentials(), recorder);
    d->start();
    recorder->awaitEnd();
    return recorder;
  }
  std::filesystem::path store() const {
    return HCFRealmManager::storeFile(StoreKind::Products, fx::kDemoPackageID);
  }
  std::uint64_t storedProducts() const {
    auto catalog = HCFProductCatalog::open(store());
    return catalog.ok() ? *catalog->count() : 0;
  }
  std::string lastLogged() {
    auto [date] = hcf_test::awaitOnMain<dispatch::WallTime>([](auto done) {
      HCFRealmManager::lastOfflineProductDownloadForSDKKey(fx::kDemoSdkKey, done);
    });
    return HCFNetCommon::RFC3339StringFromDate(date);
  }
  // Files in the data directory other than the stores, the archive and the device key.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      const auto name = e.path().filename().string();
      if (name.find(".part") != std::string::npos || name.find("unpack") != std::string::npos) {
        out.push_back(name);
      }
    }
    return out;
  }
  // Serves `archive` as the demo package's catalogue from now on.
  void publishArchive(const std::filesystem::path& archive) {
    world_->putCatalog(fx::kDemoPackageID, {published_.store, archive, "2026-12-01T00:00:00.000Z"});
  }
  void writeZip(const std::filesystem::path& path,
                const std::vector<std::pair<std::string, std::string>>& files) {
    const auto bytes = fx::zipArchive(files);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
};

ino_t inodeOf(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string bytesOf(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(ProductDownloaderTest, InstallsTheCatalogueAndLogsTheServersDate) {
  const auto d = HCFNetProductDownloader::downloaderWithCredentials(loginCredentials(), {});
  EXPECT_EQ(d->zipFileEndpoint(), server_.baseUrl() + kArchivePath);
  EXPECT_EQ(d->localZipURL().filename(), "halvern-products-demo-package.realm.zip");
  EXPECT_EQ(d->localRealmURL(), store());
  EXPECT_EQ(d->runningByteCount(), 0);

  const auto r = download();
  ASSERT_TRUE(r->failures.empty()) << r->failures[0].localizedDescription;
  EXPECT_EQ(r->completions, 1);
  EXPECT_EQ(storedProducts(), kCatalogSize);
  EXPECT_EQ(lastLogged(), "2026-11-30T09:00:00.000Z");
  ASSERT_GE(r->progress.size(), 2u);
  EXPECT_EQ(r->progress.front(), 0.0f);
  EXPECT_EQ(r->progress.back(), 1.0f);
  // The archive is kept, byte for byte what the server sent; nothing else is left behind.
  EXPECT_EQ(std::filesystem::file_size(dir_ / "halvern-products-demo-package.realm.zip"),
            std::filesystem::file_size(published_.archive));
  EXPECT_TRUE(leftovers().empty());

  // The kit's own searches read the new store (of the package of the kit's login).
  signIn();
  auto [count] = hcf_test::awaitOnMain<std::uint64_t>([](auto done) {
    HCFRealmManager::offlineProductCountForPredicate(predicate::Predicate(), done);
  });
  EXPECT_EQ(count, kCatalogSize);
}

// What a download killed before it finished left behind goes with the next download; what a
// running process is writing stays.
TEST_F(ProductDownloaderTest, LeftoversOfAKilledDownloadGoWithTheNextOne) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);  // a process id that is no longer running
  const auto dead = std::to_string(child);
  const auto alive = std::to_string(::getppid());
  const std::vector<std::string> left = {
      "halvern-products-demo-package.realm.zip." + dead + "-0.part",
      ".catalog-unpack-" + dead + "-3", "4ab.zip.partial-" + dead,
      ".package-staging-" + dead + "-0-IRS1"};
  const std::vector<std::string> kept = {
      "halvern-products-demo-package.realm.zip." + alive + "-0.part",
      ".catalog-unpack-" + alive + "-1", ".package-staging-" + alive + "-2-IRS1"};
  for (const auto& name : left) std::ofstream(dir_ / name) << "partial";
  std::filesystem::create_directories(dir_ / (".catalog-unpack-" + dead + "-4") / "inner");
  for (const auto& name : kept) std::ofstream(dir_ / name) << "partial";
  ASSERT_EQ(download()->completions, 1);
  for (const auto& name : left) EXPECT_FALSE(std::filesystem::exists(dir_ / name)) << name;
  EXPECT_FALSE(std::filesystem::exists(dir_ / (".catalog-unpack-" + dead + "-4")));
  for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
}

// A failed or cancelled download, at any step, leaves the installed catalogue and the kept
// archive byte for byte as they were, and the log too.
TEST_F(ProductDownloaderTest, FailedDownloadsLeaveTheCatalogueAndItsLogAlone) {
  ASSERT_EQ(download()->completions, 1);
  const auto installed = inodeOf(store());
  const auto logged = lastLogged();
  const auto archiveSize = std::filesystem::file_size(published_.archive);
  const auto kept = dir_ / "halvern-products-demo-package.realm.zip";
  const auto storeBytes = bytesOf(store());
  const auto keptBytes = bytesOf(kept);
  ASSERT_EQ(keptBytes.size(), archiveSize);

  const auto expectUntouched = [&](const std::string& what) {
    EXPECT_EQ(inodeOf(store()), installed) << what;
    EXPECT_TRUE(bytesOf(store()) == storeBytes) << what << ": the catalogue changed";
    EXPECT_TRUE(bytesOf(kept) == keptBytes) << what << ": the kept archive changed";
    EXPECT_EQ(storedProducts(), kCatalogSize) << what;
    EXPECT_EQ(lastLogged(), logged) << what;
    EXPECT_TRUE(leftovers().empty()) << what;
  };
  const auto expectFailure = [&](const std::string& what) -> HCFError {
    const auto r = download();
    EXPECT_EQ(r->completions, 0) << what;
    EXPECT_TRUE(r->failedOnMain) << what << ": the failure came on another queue";
    expectUntouched(what);
    if (r->failures.size() != 1) {
      ADD_FAILURE() << what << ": " << r->failures.size() << " failures";
      return {};
    }
    return r->failures[0];
  };

  server_.setFault(kArchivePath, {.status = 503, .times = 1});
  EXPECT_EQ(expectFailure("an error status").code, 503);

  server_.setFault(kArchivePath, {.cutAfter = archiveSize / 2, .times = 1});
  EXPECT_EQ(expectFailure("a cut transfer").code, http::url_error::kNetworkConnectionLost);

  const auto bad = dir_ / "bad.zip";
  std::ofstream(bad) << "this is not a zip archive";
  publishArchive(bad);
  EXPECT_NE(expectFailure("not an archive").localizedDescription.find("not a zip archive"),
            std::string::npos);

  writeZip(bad, {{"readme.txt", "no store here"}});
  EXPECT_NE(expectFailure("no store inside").localizedDescription.find("no products store"),
            std::string::npos);

  writeZip(bad, {{"halvern-products-demo-package.realm", "text, not a database, long enough"}});
  EXPECT_EQ(expectFailure("not a database").code, error_code::kInvalidData);

  writeZip(bad, {{"../halvern-products-demo-package.realm", "outside"}});
  EXPECT_NE(expectFailure("an entry outside").localizedDescription.find("outside the folder"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.parent_path() / "halvern-products-demo-package.realm"));

  // A store whose pages were damaged on the way: every page is checked before it counts.
  {
    const auto damaged = dir_ / "damaged.realm";
    std::filesystem::copy_file(published_.store, damaged,
                               std::filesystem::copy_options::overwrite_existing);
    const auto size = std::filesystem::file_size(damaged);
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size / 2 / 4096 * 4096));
    const std::string garbage(8192, '\x5a');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    f.close();
    fx::zipFileTo(bad, "halvern-products-demo-package.realm", damaged);
    const auto error = expectFailure("a damaged page").localizedDescription;
    EXPECT_NE(error.find("is damaged"), std::string::npos) << error;
  }

  // A products store of the version the kit discards, or of a newer kit: refused.
  for (const char v : {char{10}, char{14}}) {
    const auto other = dir_ / "other.realm";
    std::filesystem::copy_file(published_.store, other,
                               std::filesystem::copy_options::overwrite_existing);
    {
      std::fstream f(other, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(60);  // the header's user version, big-endian
      const char version[4] = {0, 0, 0, v};
      f.write(version, 4);
    }
    fx::zipFileTo(bad, "halvern-products-demo-package.realm", other);
    const std::string what = "schema version " + std::to_string(v);
    EXPECT_NE(expectFailure(what).localizedDescription.find(what), std::string::npos);
  }

  // Cancelled while the archive arrives (the server holds the rest back).
  publishArchive(published_.archive);
  server_.setFault(
      kArchivePath,
      {.pauseAfter = archiveSize / 4, .pauseFor = std::chrono::seconds(20), .times = 1});
  const auto r = std::make_shared<DownloadRecorder>();
  const auto d = HCFNetProductDownloader::downloaderWithCredentials(loginCredentials(), r);
  d->start();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (d->runningByteCount() < static_cast<std::int64_t>(archiveSize / 4) &&
         std::chrono::steady_clock::now() < limit) {
    std::this_thread::yield();
  }
  ASSERT_EQ(d->runningByteCount(), static_cast<std::int64_t>(archiveSize / 4));
  d->cancel();
  server_.stop();  // releases the held answer
  r->awaitEnd();
  ASSERT_EQ(r->failures.size(), 1u);
  EXPECT_EQ(r->failures[0].code, http::url_error::kCancelled);
  expectUntouched("a cancelled download");

  // Cancelled once the archive has arrived and been checked, just before the rename.
  const auto late = store::installCatalogArchive(published_.archive, store(), [] { return false; });
  ASSERT_TRUE(late);
  EXPECT_EQ(late->code, http::url_error::kCancelled);
  expectUntouched("cancelled before the rename");
}

TEST_F(ProductDownloaderTest, ProgressFollowsTheAnnouncedLengthEveryFifthOfASecond) {
  const auto size = std::filesystem::file_size(published_.archive);
  server_.setFault(kArchivePath,
                   {.pauseAfter = size / 4, .pauseFor = std::chrono::seconds(20), .times = 1});
  auto r = std::make_shared<DownloadRecorder>();
  auto d = HCFNetProductDownloader::downloaderWithCredentials(loginCredentials(), r);
  d->start();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (d->runningByteCount() < static_cast<std::int64_t>(size / 4) &&
         std::chrono::steady_clock::now() < limit) {
    std::this_thread::yield();
  }
  ASSERT_EQ(d->runningByteCount(), static_cast<std::int64_t>(size / 4));
  EXPECT_EQ(d->totalByteCount(), static_cast<std::int64_t>(size));
  auto& queue = dispatch::mainQueue();
  queue.runUntil(queue.now());  // the first report, 0
  {
    const std::lock_guard lock(r->mutex);
    ASSERT_EQ(r->progress.size(), 1u);
    EXPECT_EQ(r->progress[0], 0.0f);
  }
  queue.advance(std::chrono::milliseconds(199));
  EXPECT_EQ(r->progress.size(), 1u);
  queue.advance(std::chrono::milliseconds(1));
  queue.advance(std::chrono::milliseconds(200));
  {
    const std::lock_guard lock(r->mutex);
    ASSERT_EQ(r->progress.size(), 3u);
    EXPECT_EQ(r->progress[1],
              static_cast<float>(static_cast<double>(size / 4) / static_cast<double>(size)));
  }
  // Cancelling here: the partial archive goes, nothing more is written, nothing installed.
  d->cancel();
  server_.stop();  // releases the paused answer
  r->awaitEnd();
  ASSERT_EQ(r->failures.size(), 1u);
  EXPECT_EQ(r->failures[0].code, http::url_error::kCancelled);
  EXPECT_TRUE(d->isCancelled());
  EXPECT_LE(d->runningByteCount(), static_cast<std::int64_t>(size / 4));
  EXPECT_TRUE(leftovers().empty());
  EXPECT_FALSE(std::filesystem::exists(store()));
  // No report after the end.
  const auto reports = r->progress.size();
  queue.advance(std::chrono::seconds(1));
  EXPECT_EQ(r->progress.size(), reports);
}

TEST_F(ProductDownloaderTest, WithoutALengthProgressStaysZero) {
  server_.setFault(kArchivePath, {.chunked = true, .times = 1});
  const auto r = download();
  ASSERT_EQ(r->completions, 1);
  for (const float p : r->progress) EXPECT_EQ(p, 0.0f);
  EXPECT_EQ(storedProducts(), kCatalogSize);
}

TEST_F(ProductDownloaderTest, ASecondDownloadReplacesTheKeptArchiveAndLogsAgain) {
  ASSERT_EQ(download()->completions, 1);
  world_->putCatalog(fx::kDemoPackageID,
                     {published_.store, published_.archive, "2026-12-05T10:00:00.000Z"});
  ASSERT_EQ(download()->completions, 1);
  EXPECT_EQ(lastLogged(), "2026-12-05T10:00:00.000Z");
  std::size_t archives = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    archives += e.path().extension() == ".zip";
  }
  EXPECT_EQ(archives, 1u);
}

TEST_F(ProductDownloaderTest, AnArchiveFileThatCannotBeCreatedStopsTheTransfer) {
  const auto blocked = dir_ / "blocked";
  std::filesystem::create_directories(dir_);
  std::ofstream(blocked) << "a file where the data folder should be";
  HCFRealmManager::setDocDirectory(blocked / "data");
  const auto r = download();
  ASSERT_EQ(r->failures.size(), 1u);
  EXPECT_NE(r->failures[0].localizedDescription.find("cannot be created"), std::string::npos);
  EXPECT_EQ(r->completions, 0);
}

TEST_F(ProductDownloaderTest, WhileUnitTestsRunTheFilesUseTheTestingNames) {
  ::setenv("XCTestConfigurationFilePath", "/dev/null", 1);
  const auto d = HCFNetProductDownloader::downloaderWithCredentials(loginCredentials(), {});
  EXPECT_EQ(d->localZipURL().filename(), "halvern-products-testing.realm.zip");
  EXPECT_EQ(d->localRealmURL().filename(), "halvern-products-testing.realm");
  ::unsetenv("XCTestConfigurationFilePath");
}

}  // namespace
