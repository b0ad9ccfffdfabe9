// The fault matrix, file part: a full disk, a read-only data directory, store files that are
// corrupt or written by a newer version of the kit, and archives that are not archives or try
// to write outside their folder. For each: the error the application sees, the catalogue and
// the cached calibration kept, nothing written outside the data directory, and the kit working
// again once the fault is gone.
//
// A full disk is a small tmpfs and a read-only directory a read-only bind mount, both in the
// program's own mount namespace; where the machine allows neither, a read-only directory falls
// back to its permissions (for a user other than root) and the rest is skipped with the reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>

#include "hcf/cloud/hcf_spectro_ann.h"
#include "matrix_fixture.h"
#include "package_builder.h"

using namespace hcf;
using hcf_test::Answer;
using hcf_test::Outcome;
using ::testing::EndsWith;
using ::testing::StartsWith;

namespace {

namespace fx = hcf_cloud::fixtures;

// Mounts made here are the program's own: set up before any thread starts.
const bool gPrivateMounts = [] {
  if (::unshare(CLONE_NEWNS) != 0) return false;
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}();

std::string sizeOption(std::uintmax_t bytes) {
  return "size=" + std::to_string((bytes + 4095) / 4096 * 4) + "k,mode=0755";
}

std::uintmax_t bytesUnder(const std::filesystem::path& dir) {
  std::uintmax_t total = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) total += (e.file_size() + 4095) / 4096 * 4096;
  }
  return total;
}

// Sets the schema version a store file says it was written at, as a newer kit would.
void setUserVersion(const std::filesystem::path& file, int version) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  const std::string sql = "PRAGMA user_version=" + std::to_string(version);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

// Replaces a store file and its companions by bytes that are no database.
void corrupt(const std::filesystem::path& file) {
  const auto size = std::filesystem::file_size(file);
  for (const char* companion : {"-wal", "-shm"}) {
    auto c = file;
    c += companion;
    std::filesystem::remove(c);
  }
  auto copy = file;
  copy += ".copy";
  std::ofstream(copy, std::ios::binary) << std::string(size, '\x5a');
  std::filesystem::rename(copy, file);
}

std::string fileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FileFaults : public hcf_test::KitMatrixTest {
 protected:
  std::string spectrometer() const { return fx::iriselSerial(fx::PackageKind::ThreeModels); }

  // Fetches a spectrometer's model chain (from its package, downloaded when not stored yet).
  Outcome models(const std::string& serial) {
    Answer answer;
    HCFSpectroANN::getANNs(serial, [&](auto, auto, auto error) { answer(std::move(error)); });
    answer.await();
    return answer.outcome();
  }
  // Downloads a spectrometer's package again (as when the stored one is out of date).
  Outcome downloadModels(const std::string& serial) {
    Answer answer;
    HCFSpectroANN::downloadANNs(serial, [&](auto, auto, auto error) { answer(std::move(error)); });
    answer.await();
    return answer.outcome();
  }
  // The stored chain, without the network.
  Outcome storedModels(const std::string& serial) {
    Answer answer;
    HCFSpectroANN::getLocalANNs(serial, [&](auto, auto, auto error) { answer(std::move(error)); });
    answer.await();
    return answer.outcome();
  }
  void publishPackage(const std::string& serial,
                      const std::vector<std::pair<std::string, std::string>>& files) {
    const auto zip = fx::zipArchive(files);
    world_->putPackage(serial, std::string(zip.begin(), zip.end()));
  }
  void publishArchive(const std::string& bytes) {
    const auto file = dir_ / "cloud" / "replacement.zip";
    std::ofstream(file, std::ios::binary) << bytes;
    world_->putCatalog(fx::kDemoPackageID, {published_.store, file, "2026-12-01T00:00:00.000Z"});
  }
  std::string zipText(const std::vector<std::pair<std::string, std::string>>& files) {
    const auto zip = fx::zipArchive(files);
    return std::string(zip.begin(), zip.end());
  }
};

// ---- a full disk --------------------------------------------------------------------------

class FullDisk : public FileFaults {
 protected:
  void prepareDataDirectory() override {
    if (!gPrivateMounts) GTEST_SKIP() << "no mount namespace of our own: cannot make a small disk";
    ASSERT_EQ(::mount("tmpfs", kit_.c_str(), "tmpfs", 0, sizeOption(16 << 20).c_str()), 0)
        << std::strerror(errno);
    mounted_ = true;
  }
  void releaseDataDirectory() override {
    if (mounted_) ::umount2(kit_.c_str(), MNT_DETACH);
  }
  // Shrinks the disk to what is used now plus `spare` bytes.
  void fill(std::uintmax_t spare) {
    ASSERT_EQ(::mount(nullptr, kit_.c_str(), nullptr, MS_REMOUNT,
                      sizeOption(bytesUnder(kit_) + spare).c_str()),
              0)
        << std::strerror(errno);
  }
  void grow() {
    ASSERT_EQ(::mount(nullptr, kit_.c_str(), nullptr, MS_REMOUNT, sizeOption(16 << 20).c_str()), 0);
  }
  bool mounted_ = false;
};

TEST_F(FullDisk, DownloadsAndCachesFailCleanlyAndWorkAgainWithSpace) {
  fill(8 * 1024);
  const auto dl = download();
  EXPECT_EQ(dl.calls, 1);
  EXPECT_EQ(hcf_test::describe(dl.error),
            "9291: The archive cannot be written: No space left on device");
  const auto cal = fetchCalibration(uncachedSerial());
  EXPECT_EQ(cal.calls, 1);
  EXPECT_FALSE(cal.error) << "the record comes, uncached";
  const auto pkg = models(spectrometer());
  EXPECT_EQ(pkg.calls, 1);
  EXPECT_EQ(hcf_test::describe(pkg.error), "9011: Unable to fetch tuning data from web");
  EXPECT_EQ(offlineCount(), kCatalogSize) << "the installed catalogue is still searched";
  expectNothingLostOrLeft("full disk");

  grow();
  EXPECT_FALSE(download().error);
  EXPECT_FALSE(models(spectrometer()).error);
  EXPECT_EQ(storedProducts(), kCatalogSize);
}

// ---- a read-only data directory -----------------------------------------------------------

class ReadOnly : public FileFaults {
 protected:
  void makeReadOnly() {
    if (gPrivateMounts) {
      ASSERT_EQ(::mount(kit_.c_str(), kit_.c_str(), nullptr, MS_BIND, nullptr), 0);
      bound_ = true;
      ASSERT_EQ(::mount(nullptr, kit_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
                0)
          << std::strerror(errno);
    } else if (::geteuid() != 0) {
      std::filesystem::permissions(kit_, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::remove);
      chmodded_ = true;
    } else {
      GTEST_SKIP() << "root without a mount namespace of its own: cannot make a directory "
                      "read-only";
    }
  }
  void makeWritable() {
    if (bound_) ::umount2(kit_.c_str(), MNT_DETACH);
    if (chmodded_) {
      std::filesystem::permissions(kit_, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    bound_ = chmodded_ = false;
  }
  void releaseDataDirectory() override { makeWritable(); }
  bool bound_ = false;
  bool chmodded_ = false;
};

TEST_F(ReadOnly, StoredDataIsReadAndWritesFailCleanly) {
  makeReadOnly();
  if (IsSkipped()) return;
  EXPECT_EQ(offlineCount(), kCatalogSize);
  const auto dl = download();
  EXPECT_EQ(dl.calls, 1);
  EXPECT_THAT(hcf_test::describe(dl.error),
              StartsWith("9291: The archive file cannot be created: "));
  EXPECT_THAT(hcf_test::describe(dl.error), EndsWith(": Read-only file system"));
  const auto cached = fetchCalibration(cachedSerial());
  EXPECT_FALSE(cached.error) << hcf_test::describe(cached.error);
  const auto cal = fetchCalibration(uncachedSerial());
  EXPECT_FALSE(cal.error) << "the record comes, uncached";
  const auto pkg = models(spectrometer());
  EXPECT_EQ(hcf_test::describe(pkg.error), "9011: Unable to fetch tuning data from web");
  expectNothingLostOrLeft("read-only");

  makeWritable();
  EXPECT_FALSE(download().error);
  EXPECT_FALSE(models(spectrometer()).error);
}

// ---- store files --------------------------------------------------------------------------

TEST_F(FileFaults, ACorruptCatalogueIsReportedAndReplacedByTheNextDownload) {
  corrupt(store());
  reopenStores();
  const auto opened = HCFProductCatalog::open(store());
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(hcf_test::describe(opened.error()), "9930: Invalid data: file is not a database");
  EXPECT_EQ(offlineCount(), 0u);
  const auto dl = download();
  EXPECT_FALSE(dl.error) << hcf_test::describe(dl.error);
  EXPECT_EQ(storedProducts(), kCatalogSize);
}

// Pages in the middle overwritten: the header still reads, so opening and counting may work;
// the first search that meets the damage reports it, the catalogue goes aside and a download
// is needed, which installs a sound one.
TEST_F(FileFaults, ACatalogueWithDamagedPagesIsSetAsideAndDownloadedAgain) {
  const auto size = std::filesystem::file_size(store());
  {
    std::fstream f(store(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size / 3 / 4096 * 4096));
    const std::string garbage(size / 3, '\x5a');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  reopenStores();
  auto search = HCFProductSearch::productSearch();
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  term->auxLab = HCFLabColor::labColorWithL(50, 10, 10, HCFIlluminant::D50);
  search.colorTerm = term;
  auto [results, error] =
      hcf_test::awaitOnMain<std::vector<HCFProductSearchResult>, std::optional<HCFError>>(
          [&](auto done) { search.execute(done); });
  EXPECT_TRUE(results.empty());
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedDescription.find("damaged"), std::string::npos);
  auto aside = store();
  aside += ".damaged";
  EXPECT_TRUE(std::filesystem::exists(aside));
  EXPECT_EQ(offlineCount(), 0u);
  HCFProductManager manager;
  auto [required, requiredError] = hcf_test::awaitOnMain<bool, std::optional<HCFError>>(
      [&](auto done) { manager.checkIfProductDownloadRequired(done); });
  EXPECT_TRUE(required);
  const auto dl = download();
  EXPECT_FALSE(dl.error) << hcf_test::describe(dl.error);
  EXPECT_EQ(storedProducts(), kCatalogSize);
}

// The device-data store is a cache: a corrupt one is moved aside whole and made again.
TEST_F(FileFaults, ACorruptDeviceStoreIsSetAsideAndCalibrationsStillCome) {
  const auto file = HCFRealmManager::storeFile(StoreKind::DeviceData);
  corrupt(file);
  reopenStores();
  const auto before = fileBytes(file);
  const auto cal = fetchCalibration(cachedSerial());
  EXPECT_FALSE(cal.error) << "from the cloud, as when nothing is cached";
  EXPECT_EQ(fileBytes(file.string() + ".damaged"), before);
  EXPECT_TRUE(HCFRealmManager::fetchTintraDeviceWithSerial(cachedSerial()));
}

TEST_F(FileFaults, StoresOfANewerVersionAreRefusedAndKept) {
  const auto device = HCFRealmManager::storeFile(StoreKind::DeviceData);
  setUserVersion(device, HCFRealmManager::kSchemaVersion + 1);
  setUserVersion(store(), HCFRealmManager::kSchemaVersion + 1);
  reopenStores();
  const auto kept = fileBytes(device);
  const auto opened = HCFProductCatalog::open(store());
  ASSERT_FALSE(opened.ok());
  EXPECT_THAT(hcf_test::describe(opened.error()), StartsWith("9930: Invalid data: "));
  EXPECT_THAT(hcf_test::describe(opened.error()),
              EndsWith("cannot be read as a products store: written at schema version 14, "
                       "newer than this kit's 13"));
  EXPECT_EQ(offlineCount(), 0u);
  const auto cal = fetchCalibration(cachedSerial());
  EXPECT_FALSE(cal.error) << "from the cloud, as when nothing is cached";
  EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial(cachedSerial()));
  EXPECT_EQ(fileBytes(device), kept) << "a newer kit's data is not touched";
}

// ---- archives -----------------------------------------------------------------------------

TEST_F(FileFaults, ArchivesThatAreNotArchivesAreRefused) {
  ASSERT_FALSE(models(spectrometer()).error);
  publishArchive("PK\x03\x04 but nothing after the signature");
  const auto dl = download();
  EXPECT_THAT(hcf_test::describe(dl.error), StartsWith("9280: Archive refused: "));
  EXPECT_THAT(hcf_test::describe(dl.error), EndsWith(" is not a zip archive"));
  world_->putPackage(spectrometer(), "this is not a zip archive");
  const auto pkg = downloadModels(spectrometer());
  EXPECT_EQ(hcf_test::describe(pkg.error), "9011: Unable to fetch tuning data from web");
  EXPECT_FALSE(storedModels(spectrometer()).error) << "the stored chain is kept";
  expectNothingLostOrLeft("not a zip");
}

TEST_F(FileFaults, ArchivesThatReachOutsideTheirFolderAreRefused) {
  ASSERT_FALSE(models(spectrometer()).error);
  publishArchive(zipText({{"../../escaped-catalogue.realm", "outside"}}));
  const auto dl = download();
  EXPECT_EQ(hcf_test::describe(dl.error),
            "9280: Archive refused: entry \"../../escaped-catalogue.realm\" would land outside the "
            "folder");
  publishPackage(spectrometer(), {{"info.json", R"({"ann_order":["a"]})"},
                                  {"../escaped-model.mlmodel", "outside"},
                                  {"/tmp/absolute-model.mlmodel", "outside"}});
  const auto pkg = downloadModels(spectrometer());
  EXPECT_EQ(hcf_test::describe(pkg.error), "9011: Unable to fetch tuning data from web");
  EXPECT_FALSE(std::filesystem::exists("/tmp/absolute-model.mlmodel"));
  EXPECT_FALSE(storedModels(spectrometer()).error) << "the stored chain is kept";
  expectNothingLostOrLeft("zip slip");
}

}  // namespace
