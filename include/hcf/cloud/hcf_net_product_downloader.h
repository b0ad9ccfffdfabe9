// Downloading the offline product catalogue: a zip archive holding a prepared products store.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hcf/cloud/hcf_net_credentials.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/products/hcf_product.h"

HCF_NAMESPACE_BEGIN

/// Hears how a catalogue download goes.
class HCF_API HCFProductDownloaderDelegate {
 public:
  virtual ~HCFProductDownloaderDelegate() = default;
  /// The share of the archive received, from 0 to 1 (0 throughout when the server announces
  /// no length). On the main queue.
  virtual void productDownloaderDidUpdateProgress(float progress) = 0;
  /// The new catalogue is installed and logged. On the main queue.
  virtual void productDownloaderDidComplete() = 0;
  /// The download failed or was cancelled; the previous catalogue is untouched. On the main
  /// queue, like the other two.
  virtual void productDownloaderDidFailWithError(const HCFError& error) = 0;
};

/// A plain holder of products; no operation of the kit fills or reads it.
struct HCF_API HCFNetProductsDownloadResult {
  std::vector<HCFHalvernCloudProduct> products;  ///< the products held
  /// A holder of `p`.
  static HCFNetProductsDownloadResult resultWithProducts(std::vector<HCFHalvernCloudProduct> p) {
    return {std::move(p)};
  }
};

/// One download of the catalogue of the credentials' package. The archive is streamed to a
/// file beside `localZipURL` chunk by chunk as it arrives (never held in memory); progress goes
/// to the delegate every 0.2 s and once when the archive is in. The archive is kept at
/// `localZipURL` after a successful download. When the whole archive is in, it is unpacked beside
/// the store, the unpacked store is opened and checked (a products store of this kit's schema), and
/// only then does it replace the current store, in one rename. The download is logged with the
/// server's catalogue date (no entry when the status request fails, so that the next check
/// asks for a download again).
///
/// A transfer error, an error status, a body shorter than its "Content-Length", an archive
/// that cannot be unpacked or holds no valid store, and `cancel` all leave the previous
/// catalogue and its log as they were, delete the partial archive and report the error. An
/// archive file that cannot be created stops the transfer.
class HCF_API HCFNetProductDownloader
    : public std::enable_shared_from_this<HCFNetProductDownloader> {
 public:
  /// A new downloader (nothing received yet). The delegate is held weakly.
  static std::shared_ptr<HCFNetProductDownloader> downloaderWithCredentials(
      const HCFNetCredentials& credentials, std::weak_ptr<HCFProductDownloaderDelegate> delegate);
  ~HCFNetProductDownloader();
  HCFNetProductDownloader(const HCFNetProductDownloader&) = delete;
  HCFNetProductDownloader& operator=(const HCFNetProductDownloader&) = delete;

  /// Sends the request. A downloader serves one download: a second start does nothing.
  void start();
  /// Stops the download wherever it is (before the new store replaces the old one); the
  /// delegate hears the cancellation as a failure. Any thread.
  void cancel();
  /// The same, telling the delegate nothing: a newer download took this one's place, and its
  /// listener hears only about that one.
  void cancelSilently();

  /// "<product-database storage>/halvern-product-db-zips/v1/prod-dbs-<package>.zip".
  std::string zipFileEndpoint() const;
  /// The archive: "halvern-products-<package>.realm.zip" in the data directory
  /// ("halvern-products-testing.realm.zip" while unit tests run).
  std::filesystem::path localZipURL() const;
  /// The products store the archive replaces.
  std::filesystem::path localRealmURL() const;
  /// The data directory.
  static std::filesystem::path docDirectory();

  /// The credentials the download was made with.
  const HCFNetCredentials& credentials() const { return credentials_; }
  /// "Content-Length" of the answer (0 when unknown).
  std::int64_t totalByteCount() const { return total_.load(); }
  /// Bytes of the archive received so far. Any thread.
  std::int64_t runningByteCount() const { return running_.load(); }
  /// True once `cancel` or `cancelSilently` was called. Any thread.
  bool isCancelled() const { return cancelled_.load(); }

  struct Impl;

 private:
  struct Transfer;

  HCFNetProductDownloader(HCFNetCredentials credentials,
                          std::weak_ptr<HCFProductDownloaderDelegate> delegate);

  HCFNetCredentials credentials_;
  std::weak_ptr<HCFProductDownloaderDelegate> delegate_;
  std::atomic<std::int64_t> total_{0};
  std::atomic<std::int64_t> running_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> silenced_{false};
  std::unique_ptr<Impl> impl_;
};

HCF_NAMESPACE_END
