// The application's handle on the offline product catalogue: made by the kit entry on start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "hcf/cloud/hcf_net_product_downloader.h"
#include "hcf/cloud/hcf_net_tint_vault.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN

/// Counts the stored products, tells whether the server has a newer catalogue, downloads it
/// and fetches the server's catalogue status. The credentials are those of the kit's login
/// (`HCFCentral::creds`); without a login every operation that needs the server reports the
/// authentication failure (9001). Searches go through HCFProductSearch. Used from the main
/// thread.
class HCF_API HCFProductManager : public HCFProductDownloaderDelegate {
 public:
  /// Called once with the number of stored products (and never an error).
  using CountCompletion = std::function<void(std::uint64_t count, std::optional<HCFError>)>;
  /// Called once with whether a download is needed, and the error that decided it if any.
  using RequiredCompletion = std::function<void(bool required, std::optional<HCFError>)>;

  HCFProductManager();
  ~HCFProductManager() override;
  HCFProductManager(const HCFProductManager&) = delete;
  HCFProductManager& operator=(const HCFProductManager&) = delete;

  /// How many products are stored; on the main queue, never an error.
  void countDownloadedProducts(CountCompletion completion) const;
  /// Whether a download is needed, on the main queue: yes for an empty store (the server is
  /// not asked), else yes when the last download of this SDK key is older than the server's
  /// `productsUpdatedAt`. Without a login: no, with 9001. When the status request fails: yes,
  /// with that error (a catalogue that cannot be checked is not assumed current).
  void checkIfProductDownloadRequired(RequiredCompletion completion) const;
  /// Starts a download whose events go straight to `delegate` (held weakly); a download under
  /// way is replaced. Without a login the delegate hears 9001 on the main queue.
  void downloadProductsWithDelegate(std::weak_ptr<HCFProductDownloaderDelegate> delegate);
  /// Cancels the download under way, if any.
  void cancelDownload();
  /// The server's catalogue status, on the transport's queue: errors become kit errors of
  /// code 0 with the service's message; without a login 9001 at once.
  void fetchProductsStatus(HCFNetTintVault::StatusCompletion completion) const;

  /// The download under way (kept until the next download or `cancelDownload`).
  std::shared_ptr<HCFNetProductDownloader> productDownloader() const;

  // Forwarding to the application's delegate (for downloads that report to the manager).
  void productDownloaderDidUpdateProgress(float progress) override;
  void productDownloaderDidComplete() override;
  void productDownloaderDidFailWithError(const HCFError& error) override;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<HCFNetProductDownloader> downloader_;
  std::weak_ptr<HCFProductDownloaderDelegate> delegate_;
};

HCF_NAMESPACE_END
