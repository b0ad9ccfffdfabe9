#include "hcf/search/hcf_product_manager.h"

#include "../cloud/current_credentials.h"
#include "hcf/core/ht_utility.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/store/hcf_realm_manager.h"

HCF_NAMESPACE_BEGIN

namespace {

// The kit's credentials when a login succeeded.
std::optional<HCFNetCredentials> loggedIn() {
  auto creds = currentCredentials();
  if (!creds.sessionToken || creds.sessionToken->empty()) return std::nullopt;
  return creds;
}

void onMain(std::function<void()> work) { dispatch::mainQueue().async(std::move(work)); }

}  // namespace

HCFProductManager::HCFProductManager() = default;
HCFProductManager::~HCFProductManager() = default;

void HCFProductManager::countDownloadedProducts(CountCompletion completion) const {
  HCFRealmManager::offlineProductCountForPredicate(predicate::Predicate::truePredicate(),
                                                   [completion](std::uint64_t count) {
                                                     if (completion)
                                                       completion(count, std::nullopt);
                                                   });
}

void HCFProductManager::checkIfProductDownloadRequired(RequiredCompletion completion) const {
  const auto answer = [completion](bool required, std::optional<HCFError> error) {
    onMain([completion, required, error] {
      if (completion) completion(required, error);
    });
  };
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([answer] {
    const auto creds = loggedIn();
    if (!creds) return answer(false, HTUtility::notLoggedInError());
    HCFRealmManager::offlineProductCountForPredicate(
        predicate::Predicate::truePredicate(), [answer, creds](std::uint64_t count) {
          if (count == 0) return answer(true, std::nullopt);
          HCFRealmManager::lastOfflineProductDownloadForSDKKey(
              creds->sdkKey.value_or(""), [answer, creds](dispatch::WallTime lastDownload) {
                HCFNetTintVault::fetchProductsStatusUsingCredentials(
                    *creds, [answer, lastDownload](std::optional<HCFNetProductsStatusResponse> s,
                                                   std::optional<HCFError> error) {
                      // Without the server's answer nothing says a download is needed.
                      if (!s) return answer(false, error);
                      // The log keeps the server's own date of the catalogue installed: any
                      // other date, later or earlier (a catalogue rolled back), is a new one.
                      answer(lastDownload != s->productsUpdatedAt, std::nullopt);
                    });
              });
        });
  });
}

void HCFProductManager::downloadProductsWithDelegate(
    std::weak_ptr<HCFProductDownloaderDelegate> delegate) {
  std::shared_ptr<HCFNetProductDownloader> previous, started;
  {
    const std::lock_guard lock(mutex_);
    delegate_ = delegate;
    const auto creds = loggedIn();
    if (!creds) {
      onMain([delegate] {
        if (auto d = delegate.lock()) {
          d->productDownloaderDidFailWithError(HTUtility::notLoggedInError());
        }
      });
      return;
    }
    previous = std::move(downloader_);
    downloader_ = HCFNetProductDownloader::downloaderWithCredentials(*creds, delegate);
    started = downloader_;
  }
  // One download at a time into the same files; the one replaced tells its listener nothing.
  if (previous) previous->cancelSilently();
  started->start();
}

void HCFProductManager::cancelDownload() {
  std::shared_ptr<HCFNetProductDownloader> downloader;
  {
    const std::lock_guard lock(mutex_);
    downloader = std::move(downloader_);
  }
  if (downloader) downloader->cancel();
}

void HCFProductManager::fetchProductsStatus(HCFNetTintVault::StatusCompletion completion) const {
  const auto creds = loggedIn();
  if (!creds) {
    if (completion) completion(std::nullopt, HTUtility::notLoggedInError());
    return;
  }
  HCFNetTintVault::fetchProductsStatusUsingCredentials(
      *creds, [completion](std::optional<HCFNetProductsStatusResponse> status,
                           std::optional<HCFError> error) {
        if (!completion) return;
        if (error) return completion(std::nullopt, HTUtility::catalogStatusError(*error));
        completion(status, std::nullopt);
      });
}

std::shared_ptr<HCFNetProductDownloader> HCFProductManager::productDownloader() const {
  const std::lock_guard lock(mutex_);
  return downloader_;
}

void HCFProductManager::productDownloaderDidUpdateProgress(float progress) {
  std::shared_ptr<HCFProductDownloaderDelegate> d;
  {
    const std::lock_guard lock(mutex_);
    d = delegate_.lock();
  }
  if (d) d->productDownloaderDidUpdateProgress(progress);
}

void HCFProductManager::productDownloaderDidComplete() {
  std::shared_ptr<HCFProductDownloaderDelegate> d;
  {
    const std::lock_guard lock(mutex_);
    d = delegate_.lock();
    downloader_.reset();
  }
  if (d) d->productDownloaderDidComplete();
}

void HCFProductManager::productDownloaderDidFailWithError(const HCFError& error) {
  std::shared_ptr<HCFProductDownloaderDelegate> d;
  {
    const std::lock_guard lock(mutex_);
    d = delegate_.lock();
    downloader_.reset();
  }
  if (d) d->productDownloaderDidFailWithError(error);
}

HCF_NAMESPACE_END
