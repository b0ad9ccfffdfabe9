// Store access shared by every store user, and the device-data cache.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/calibration/tintra_device.h"
#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/json.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product.h"
#include "hcf/products/hcf_product_search_sort_descriptor.h"
#include "hcf/store/store_records.h"

HCF_NAMESPACE_BEGIN

/// The three stores.
enum class StoreKind { Products, DownloadLog, DeviceData };

/// An open store (one connection, for the thread that opened it).
class HCF_API StoreHandle {
 public:
  /// The connection underneath (the kit's own).
  struct Impl;
  /// For `HCFRealmManager::openStore`: the handle of an open connection.
  explicit StoreHandle(std::unique_ptr<Impl> impl);
  ~StoreHandle();
  /// The connection underneath, for the kit's stores.
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

/// The stores' files and the device-data cache. Class operations only; each uses a store
/// connection of the calling thread (kept per thread while its file stays the same), so any
/// thread may call them. No operation
/// reports an error: a store that cannot be opened is logged ("Error creating /setting config
/// for realm: ...") and lookups then give nothing.
class HCF_API HCFRealmManager {
 public:
  HCFRealmManager() = delete;

  /// The schema version every store is written with.
  static constexpr std::int64_t kSchemaVersion = 13;

  /// The data directory: the one the application set, else the temporary directory while unit
  /// tests run (environment variable "XCTestConfigurationFilePath"), else $XDG_DATA_HOME/hcf or
  /// ~/.local/share/hcf. Created when missing.
  static std::filesystem::path docDirectory();
  /// Sets (or, empty, clears) the application's data directory.
  static void setDocDirectory(std::optional<std::filesystem::path> directory);
  /// True when the environment variable "XCTestConfigurationFilePath" is set (test mode).
  static bool isRunningUnitTests();

  /// The file of a store: "halvern-products-<packageID>.realm", "halvern-product-logs.realm",
  /// "halvern-b2.realm" (test mode: "halvern-products-testing.realm",
  /// "halvern-b2-testing.realm").
  static std::filesystem::path storeFile(StoreKind kind,
                                         const std::optional<std::string>& packageID = {});
  /// A store connection for the calling thread (used on that thread only), with the schema
  /// version and the wipe rule: a products or download-log store
  /// written at version 10, or a device-data store at version 6, is deleted and starts empty;
  /// other older versions are migrated and keep their data. Null when it cannot be opened.
  static std::shared_ptr<StoreHandle> openStore(StoreKind kind,
                                                const std::optional<std::string>& packageID = {});
  /// The device-data store.
  static std::shared_ptr<StoreHandle> getB2Realm();
  /// Deletes a store file and its companions ("lock", "note", "management", and SQLite's
  /// "-wal", "-shm", "-journal"), ignoring errors.
  static void performRealmWipeForRealmURL(const std::filesystem::path& file);
  /// The 64-byte store key, made once from the system random source and kept in a file only
  /// the user can read.
  static Bytes getKey();

  // ---- device-data cache -------------------------------------------------------------------

  /// Adds or replaces the record of its serial (with its model and top batch).
  static void addTintraDevice(const TintraDevice& record);
  /// The cached record of a serial.
  static std::optional<TintraDevice> fetchTintraDeviceWithSerial(const std::string& serial);
  /// Stores alignment data unless it is absent, the batch is below 1, or the stored entry's
  /// time is equal or newer.
  static void addUpdateAlignmentHash(const std::optional<Bytes>& data, std::int32_t sourceBatch,
                                     std::int32_t updatedAt);
  /// The cached alignment document of `sourceBatch`; none when there is none.
  static std::optional<HAlignmentHash> fetchAlignmentForSource(std::int32_t sourceBatch);
  /// The source batches that have alignment data.
  static std::vector<std::int32_t> fetchAlignmentSources();
  /// Stores a spectrometer's model entry, only when at least two compiled-model paths are
  /// given; the last check time is now.
  static void storeSpectro(const std::string& serial, const std::string& model,
                           const std::string& batch, const JsonValue& json,
                           const std::vector<std::string>& mlmcUrls);
  /// True when a model entry with compiled-model paths is cached for `serial`.
  static bool spectroExists(const std::string& serial);
  /// True when no such entry is cached, or its last check is more than 24 hours ago.
  static bool spectroNeedsUpdatedData(const std::string& serial);
  /// The compiled models' paths of the cached entry (see `HRLMSpectroModule::cModelUrls`);
  /// none without an entry.
  static std::optional<std::vector<std::filesystem::path>> fetchCompiledModelUrlsForSpectro(
      const std::string& serial);
  /// The model of the cached entry; none without an entry or a model.
  static std::optional<std::string> spectroModelForSerial(const std::string& serial);
  /// The cached model entry of `serial`; none when there is none.
  static std::optional<HRLMSpectroModule> fetchSpectro(const std::string& serial);

  // ---- products store and download log ----------------------------------------------------
  // Queries run on a high-priority global queue and deliver on the main queue; a store that
  // cannot be opened gives empty results (the open is logged).

  /// The download log's file.
  static std::filesystem::path urlForLogsRealm();
  /// The products store file of the credentials' package (any value with a `packageID`).
  template <class Credentials>
  static std::filesystem::path urlForProductsRealmWithCredentials(const Credentials& creds) {
    return storeFile(StoreKind::Products, creds.packageID);
  }
  /// The package whose products store `productsRealm` opens: the kit hands it down at login.
  static void setProductsPackageID(const std::optional<std::string>& packageID);
  /// The package set by `setProductsPackageID`; none before a login.
  static std::optional<std::string> productsPackageID();
  /// The products store of the current package.
  static std::shared_ptr<StoreHandle> productsRealm();
  /// The download log's store; null when it cannot be opened.
  static std::shared_ptr<StoreHandle> realmForDownloadLog();

  /// "vendorOrder", "code", "name", "hue", "saturation", "brightness".
  static const std::vector<std::string>& validSortKeys();
  /// The descriptors with valid keys, in order; none valid: every valid key ascending.
  static std::vector<HCFProductSearchSortDescriptor> validedSortDescriptorsFromArray(
      const std::vector<HCFProductSearchSortDescriptor>& descriptors);

  /// Called once, on the main queue, with the products found (none when the store cannot be
  /// read).
  using ProductsCompletion = std::function<void(std::vector<HCFHalvernCloudProduct> products)>;
  /// The most products a query without a limit gives.
  static constexpr std::uint64_t kDefaultLimit = 5000;
  /// The products matching `where`, ordered by the valid `sortDescriptors` (see
  /// `validedSortDescriptorsFromArray`), from position `offset`, at most `limit`.
  static void offlineProductsMatchingPredicate(
      const predicate::Predicate& where,
      const std::vector<HCFProductSearchSortDescriptor>& sortDescriptors, std::uint64_t offset,
      std::uint64_t limit, ProductsCompletion completion);
  /// The same from the first, at most `kDefaultLimit`.
  static void offlineProductsMatchingPredicate(
      const predicate::Predicate& where,
      const std::vector<HCFProductSearchSortDescriptor>& sortDescriptors,
      ProductsCompletion completion);
  /// The same in the default order.
  static void offlineProductsMatchingPredicate(const predicate::Predicate& where,
                                               ProductsCompletion completion);
  /// How many products match `where` (0 when the store cannot be read), on the main queue.
  static void offlineProductCountForPredicate(const predicate::Predicate& where,
                                              std::function<void(std::uint64_t)> completion);
  /// The distinct filter pairs of the matching products (of all without a predicate).
  static void offlineProductFiltersForProductsMatchingPredicate(
      const std::optional<predicate::Predicate>& where,
      std::function<void(std::vector<HCFProductKV>)> completion);
  /// The distinct filter pairs of every product.
  static void allOfflineProductFiltersWithCompletionHandler(
      std::function<void(std::vector<HCFProductKV>)> completion);
  /// The date of the latest download for `sdkKey`; 1970-01-01 when there is none.
  static void lastOfflineProductDownloadForSDKKey(
      const std::string& sdkKey, std::function<void(dispatch::WallTime)> completion);
  /// Logs a download for `sdkKey` at `date`; `onComplete` runs on the main queue afterwards,
  /// also when the log cannot be written.
  static void insertProductDownloadEntryForSDKKey(const std::string& sdkKey,
                                                  dispatch::WallTime date,
                                                  std::function<void()> onComplete);
  /// Writes products into the products store in one transaction (a product of the same uuid
  /// is replaced); one whose "category" filter is "Inspirations" is stored as an inspiration.
  /// False when the store cannot be written.
  static bool addOfflineProducts(const std::vector<HCFHalvernCloudProduct>& products);
};

HCF_NAMESPACE_END
