#include "hcf/store/hcf_realm_manager.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "../calibration/batch_alignment.h"
#include "../platform/keystore/key_file.h"
#include "cache_access.h"
#include "catalog_columns.h"
#include "hcf/core/log.h"
#include "store_layout.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN

namespace {

std::mutex& dirMutex() {
  static std::mutex m;
  return m;
}

std::optional<std::filesystem::path>& dirSlot() {
  static std::optional<std::filesystem::path> slot;
  return slot;
}

std::filesystem::path defaultDataDirectory() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "hcf";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::filesystem::path(home) / ".local/share/hcf";
  }
  return std::filesystem::temp_directory_path() / "hcf";
}

using Clock = std::chrono::system_clock;

// Opening a store costs about 0.3 ms, more than a whole reading should; each thread keeps the
// connections it opened and uses them again while the file is the same one. Wiping a store or
// moving the data directory starts every thread afresh.
std::atomic<std::uint64_t> gStoreGeneration{0};

struct CachedStore {
  std::filesystem::path path;
  std::shared_ptr<StoreHandle> handle;
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t generation = 0;
};

thread_local std::vector<CachedStore> tlStores;

bool sameFile(const CachedStore& c, const struct stat& st) {
  return c.device == st.st_dev && c.inode == st.st_ino;
}

// Dates are kept as whole nanoseconds since 1970, so that a date reads back exactly.
std::int64_t toNanoseconds(dispatch::WallTime t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

dispatch::WallTime fromNanoseconds(std::int64_t ns) {
  return dispatch::WallTime(
      std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

// Runs `work` on the device-data store; a store that cannot be used gives `fallback`.
template <typename T, typename Work>
T withDeviceStore(T fallback, Work work) {
  return store::withCache(StoreKind::DeviceData, "device-data store", std::move(fallback),
                          std::move(work));
}

std::optional<HRLMSpectroModule> readSpectro(sql::Database& db, const std::string& serial) {
  sql::Statement s(db,
                   "SELECT serial, model, batch, updatedAt, updatedAtLastChecked, annJsonData, "
                   "mlmodelcURLStringsData FROM HRLMSpectroModule WHERE serial = ?1");
  s.bind(1, std::string_view(serial));
  if (!s.step()) return std::nullopt;
  HRLMSpectroModule m;
  m.serial = s.text(0);
  m.model = s.optionalText(1);
  m.batch = s.optionalText(2);
  m.updatedAt = static_cast<std::int32_t>(s.int64(3));
  if (!s.isNull(4)) m.updatedAtLastChecked = fromNanoseconds(s.int64(4));
  m.annJsonData = s.optionalBlob(5);
  m.mlmodelcURLStringsData = s.optionalBlob(6);
  return m;
}

}  // namespace

StoreHandle::StoreHandle(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
StoreHandle::~StoreHandle() = default;

bool HCFRealmManager::isRunningUnitTests() {
  return std::getenv("XCTestConfigurationFilePath") != nullptr;
}

std::filesystem::path HCFRealmManager::docDirectory() {
  std::filesystem::path dir;
  {
    const std::lock_guard lock(dirMutex());
    if (dirSlot()) dir = *dirSlot();
  }
  if (dir.empty()) {
    dir = isRunningUnitTests() ? std::filesystem::temp_directory_path() : defaultDataDirectory();
  }
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) {
    // The kit's own folder holds keys and logs: the user's alone.
    std::filesystem::create_directories(dir, ec);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
  }
  return dir;
}

void HCFRealmManager::setDocDirectory(std::optional<std::filesystem::path> directory) {
  {
    const std::lock_guard lock(dirMutex());
    dirSlot() = std::move(directory);
  }
  ++gStoreGeneration;
}

std::filesystem::path HCFRealmManager::storeFile(StoreKind kind,
                                                 const std::optional<std::string>& packageID) {
  const bool testing = isRunningUnitTests();
  const auto dir = docDirectory();
  switch (kind) {
    case StoreKind::Products: {
      // The package identifier becomes part of a file name: no path separators in it.
      std::string package = packageID.value_or("(null)");
      for (char& c : package) {
        if (c == '/' || c == '\\' || c == '\0') c = '_';
      }
      if (package == "." || package == "..") package = "_";
      return dir / (testing ? std::string("halvern-products-testing.realm")
                            : "halvern-products-" + package + ".realm");
    }
    case StoreKind::DownloadLog:
      return dir / "halvern-product-logs.realm";
    case StoreKind::DeviceData:
      return dir / (testing ? "halvern-b2-testing.realm" : "halvern-b2.realm");
  }
  return dir / "halvern-unknown.realm";
}

namespace {

// This thread's connection to `file`, opened with `opener` when there is none yet or the file
// was replaced or wiped since.
template <typename Opener>
std::shared_ptr<StoreHandle> cachedConnection(const std::filesystem::path& file, Opener opener) {
  const std::uint64_t generation = gStoreGeneration.load();
  struct stat st {};
  const bool exists = ::stat(file.c_str(), &st) == 0;
  for (auto it = tlStores.begin(); it != tlStores.end(); ++it) {
    if (it->path != file) continue;
    if (exists && it->generation == generation && sameFile(*it, st)) return it->handle;
    tlStores.erase(it);
    break;
  }
  // The file the connection opened is the one the path named both before and after the
  // open; a replacement in between is opened again.
  for (int tries = 0;; ++tries) {
    struct stat before {};
    const bool existed = ::stat(file.c_str(), &before) == 0;
    auto impl = std::make_unique<StoreHandle::Impl>();
    impl->db = opener();
    struct stat after {};
    if (::stat(file.c_str(), &after) != 0) return std::make_shared<StoreHandle>(std::move(impl));
    // A file that did not exist was made by this open (or one beside it on another thread).
    const bool same = !existed || (before.st_dev == after.st_dev && before.st_ino == after.st_ino);
    if (!same && tries < 3) continue;
    impl->identity = {after.st_dev, after.st_ino};
    auto handle = std::make_shared<StoreHandle>(std::move(impl));
    if (same) tlStores.push_back({file, handle, after.st_dev, after.st_ino, generation});
    return handle;
  }
}

}  // namespace

std::shared_ptr<StoreHandle> HCFRealmManager::openStore(
    StoreKind kind, const std::optional<std::string>& packageID) {
  const auto file = storeFile(kind, packageID);
  // The products store is replaced whole by each catalogue download.
  const auto mode = kind == StoreKind::Products ? sql::OpenMode::Catalog : sql::OpenMode::Shared;
  try {
    return cachedConnection(file, [&] { return store::open(file, kind, mode); });
  } catch (const sql::Failure& e) {
    logLine(std::string("Error creating /setting config for realm: ") + e.what());
    if (!store::isDamage(e)) return nullptr;
    // Every store of the kit is a copy: a damaged catalogue goes aside and the kit starts
    // empty until the next download; a damaged cache goes aside and fills again.
    if (kind == StoreKind::Products) {
      store::setAsideDamagedCatalog(file, e);
    } else {
      store::setAsideDamagedCache(file, e);
    }
  }
  try {
    return cachedConnection(file, [&] { return store::open(file, kind, mode); });
  } catch (const sql::Failure& e) {
    logLine(std::string("Error creating /setting config for realm: ") + e.what());
    return nullptr;
  }
}

namespace store {

std::shared_ptr<StoreHandle> openCatalogFile(const std::filesystem::path& file) {
  return cachedConnection(file, [&] {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
      throw sql::Failure(14, "no products store at " + file.string());  // SQLITE_CANTOPEN
    }
    auto db = std::make_unique<sql::Database>(file, sql::OpenMode::ReadOnly);
    requireReadableProductsStore(*db, file.string());
    return db;
  });
}

void removeCompanions(const std::filesystem::path& file) {
  std::error_code ec;
  for (const char* extension : {".lock", ".note", ".management", "-wal", "-shm", "-journal"}) {
    std::filesystem::path companion = file;
    companion += extension;
    std::filesystem::remove_all(companion, ec);
  }
}

void forgetConnections() {
  ++gStoreGeneration;
  tlStores.clear();
}

bool isDamage(const sql::Failure& failure) {
  const int primary = failure.code() & 0xFF;
  return primary == 11 || primary == 26;  // SQLITE_CORRUPT, SQLITE_NOTADB
}

namespace {

// Moves a damaged store file aside; what happened, for the log.
std::string moveAside(const std::filesystem::path& file) {
  forgetConnections();  // this thread's connection goes before its file
  std::filesystem::path aside = file;
  aside += ".damaged";
  std::error_code ec;
  std::filesystem::rename(file, aside, ec);
  removeCompanions(file);
  return ec ? "it could not be moved aside: " + ec.message()
            : "moved to " + aside.filename().string();
}

}  // namespace

void setAsideDamagedCatalog(const std::filesystem::path& file, const sql::Failure& failure) {
  CatalogColumns::invalidate();
  const std::string done = moveAside(file);
  logLine("the product catalogue " + file.string() + " is damaged (" + failure.what() + "); " +
          done + "; a download is needed");
}

void setAsideDamagedCache(const std::filesystem::path& file, const sql::Failure& failure) {
  const std::string done = moveAside(file);
  logLine("the store " + file.string() + " is damaged (" + failure.what() + "); " + done +
          "; a new one is made and filled again from the cloud");
}

}  // namespace store

std::shared_ptr<StoreHandle> HCFRealmManager::getB2Realm() {
  return openStore(StoreKind::DeviceData);
}

void HCFRealmManager::performRealmWipeForRealmURL(const std::filesystem::path& file) {
  store::forgetConnections();  // this thread's connections go before their files
  std::error_code ec;
  std::filesystem::remove(file, ec);
  store::removeCompanions(file);
}

Bytes HCFRealmManager::getKey() { return keystore::storeKey(docDirectory()); }

void HCFRealmManager::addTintraDevice(const TintraDevice& record) {
  withDeviceStore(0, [&](sql::Database& db) {
    const auto* top = TintraDeviceProtoHelper::topCalForDevice(record);
    sql::Transaction t(db);
    sql::Statement s(db,
                     "INSERT OR REPLACE INTO HTintraModule(serial, buf, model, batch) "
                     "VALUES(?1, ?2, ?3, ?4)");
    s.bind(1, std::string_view(record.serial()))
        .bind(2, TintraDeviceRecord::data(record))
        .bind(3, std::string_view(record.tintra_model()))
        .bind(4, static_cast<std::int64_t>(top ? top->batch().batch_number() : 0));
    s.run();
    t.commit();
    return 0;
  });
}

std::optional<TintraDevice> HCFRealmManager::fetchTintraDeviceWithSerial(
    const std::string& serial) {
  return withDeviceStore(std::optional<TintraDevice>{}, [&](sql::Database& db) {
    sql::Statement s(db, "SELECT buf FROM HTintraModule WHERE serial = ?1");
    s.bind(1, std::string_view(serial));
    if (!s.step() || s.isNull(0)) return std::optional<TintraDevice>{};
    const Bytes buf = s.blob(0);
    auto record = TintraDeviceRecord::parseFromData(buf);
    if (!record) return std::optional<TintraDevice>{};
    return std::optional<TintraDevice>(std::move(*record));
  });
}

void HCFRealmManager::addUpdateAlignmentHash(const std::optional<Bytes>& data,
                                             std::int32_t sourceBatch, std::int32_t updatedAt) {
  if (!data || sourceBatch < 1) return;
  withDeviceStore(0, [&](sql::Database& db) {
    sql::Transaction t(db);
    sql::Statement find(db, "SELECT updatedAt FROM HAlignmentHash WHERE sourceBatch = ?1");
    find.bind(1, static_cast<std::int64_t>(sourceBatch));
    if (find.step() && find.int64(0) >= updatedAt) return 0;  // the stored one is as new
    sql::Statement s(db,
                     "INSERT OR REPLACE INTO HAlignmentHash(sourceBatch, jsonData, updatedAt) "
                     "VALUES(?1, ?2, ?3)");
    s.bind(1, static_cast<std::int64_t>(sourceBatch))
        .bind(2, *data)
        .bind(3, static_cast<std::int64_t>(updatedAt));
    s.run();
    t.commit();
    return 0;
  });
}

namespace {

// Readings find the cached alignment documents through the calibration floor's provider.
std::optional<BatchAlignment> cachedAlignment(std::int32_t sourceBatch) {
  const auto record = HCFRealmManager::fetchAlignmentForSource(sourceBatch);
  if (!record) return std::nullopt;
  BatchAlignment alignment;
  alignment.document = record->alignmentDic();
  alignment.targetBatches = record->sortedTargetBatches().value_or(std::vector<std::string>{});
  return alignment;
}

const bool kAlignmentProviderInstalled = (setBatchAlignmentProvider(cachedAlignment), true);

}  // namespace

std::optional<HAlignmentHash> HCFRealmManager::fetchAlignmentForSource(std::int32_t sourceBatch) {
  return withDeviceStore(std::optional<HAlignmentHash>{}, [&](sql::Database& db) {
    sql::Statement s(db,
                     "SELECT sourceBatch, jsonData, updatedAt FROM HAlignmentHash "
                     "WHERE sourceBatch = ?1");
    s.bind(1, static_cast<std::int64_t>(sourceBatch));
    if (!s.step()) return std::optional<HAlignmentHash>{};
    HAlignmentHash a;
    a.sourceBatch = static_cast<std::int32_t>(s.int64(0));
    a.jsonData = s.optionalBlob(1);
    a.updatedAt = static_cast<std::int32_t>(s.int64(2));
    return std::optional<HAlignmentHash>(std::move(a));
  });
}

std::vector<std::int32_t> HCFRealmManager::fetchAlignmentSources() {
  return withDeviceStore(std::vector<std::int32_t>{}, [&](sql::Database& db) {
    std::vector<std::int32_t> out;
    sql::Statement s(db, "SELECT DISTINCT sourceBatch FROM HAlignmentHash ORDER BY sourceBatch");
    while (s.step()) out.push_back(static_cast<std::int32_t>(s.int64(0)));
    return out;
  });
}

void HCFRealmManager::storeSpectro(const std::string& serial, const std::string& model,
                                   const std::string& batch, const JsonValue& json,
                                   const std::vector<std::string>& mlmcUrls) {
  if (mlmcUrls.size() < 2) return;
  JsonValue paths = JsonValue::array();
  for (const auto& p : mlmcUrls) paths.push_back(p);
  std::string annText;
  std::string pathText;
  try {
    annText = json.dump();
    pathText = paths.dump();
  } catch (const JsonValue::exception& e) {
    logLine(std::string("storeSpectro: ") + e.what());
    return;
  }
  withDeviceStore(0, [&](sql::Database& db) {
    sql::Transaction t(db);
    sql::Statement s(db,
                     "INSERT OR REPLACE INTO HRLMSpectroModule(serial, model, batch, updatedAt, "
                     "updatedAtLastChecked, annJsonData, mlmodelcURLStringsData) "
                     "VALUES(?1, ?2, ?3, 0, ?4, ?5, ?6)");
    s.bind(1, std::string_view(serial))
        .bind(2, std::string_view(model))
        .bind(3, std::string_view(batch))
        .bind(4, toNanoseconds(dispatch::wallClockNow()))
        .bind(5, Bytes(annText.begin(), annText.end()))
        .bind(6, Bytes(pathText.begin(), pathText.end()));
    s.run();
    t.commit();
    return 0;
  });
}

std::optional<HRLMSpectroModule> HCFRealmManager::fetchSpectro(const std::string& serial) {
  return withDeviceStore(std::optional<HRLMSpectroModule>{},
                         [&](sql::Database& db) { return readSpectro(db, serial); });
}

bool HCFRealmManager::spectroExists(const std::string& serial) {
  const auto m = fetchSpectro(serial);
  return m && m->mlmodelcURLStringsData.has_value();
}

bool HCFRealmManager::spectroNeedsUpdatedData(const std::string& serial) {
  const auto m = fetchSpectro(serial);
  if (!m || !m->mlmodelcURLStringsData) return true;
  return m->needToCheckServerForUpdatedInfo();
}

std::optional<std::vector<std::filesystem::path>> HCFRealmManager::fetchCompiledModelUrlsForSpectro(
    const std::string& serial) {
  const auto m = fetchSpectro(serial);
  if (!m) return std::nullopt;
  return m->cModelUrls();
}

std::optional<std::string> HCFRealmManager::spectroModelForSerial(const std::string& serial) {
  const auto m = fetchSpectro(serial);
  if (!m) return std::nullopt;
  return m->model;
}

HCF_NAMESPACE_END
