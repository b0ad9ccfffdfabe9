#include "hcf/cloud/hcf_net_product_downloader.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../store/catalog_install.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hcf_net_tint_vault.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/platform/http/session.h"
#include "hcf/store/hcf_realm_manager.h"
#include "percent_encode.h"

HCF_NAMESPACE_BEGIN

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

// The transfer's state. The stream's events come one at a time on the session's worker; the
// file is touched only there (and before the request is sent).
struct HCFNetProductDownloader::Impl {
  std::mutex mutex;
  std::shared_ptr<http::StreamTask> task;
  dispatch::Timer progressTimer;
  std::unique_ptr<std::FILE, FileCloser> file;
  // The archive while it arrives and is installed: a name of this download's own, so that a
  // download replacing it never shares its file. It becomes `localZipURL` when installed.
  std::filesystem::path partial;
  bool started = false;
  std::atomic<bool> failed{false};  // a failure was reported: nothing else is
};

HCFNetProductDownloader::HCFNetProductDownloader(
    HCFNetCredentials credentials, std::weak_ptr<HCFProductDownloaderDelegate> delegate)
    : credentials_(std::move(credentials)),
      delegate_(std::move(delegate)),
      impl_(std::make_unique<Impl>()) {}

HCFNetProductDownloader::~HCFNetProductDownloader() { impl_->progressTimer.cancel(); }

std::shared_ptr<HCFNetProductDownloader> HCFNetProductDownloader::downloaderWithCredentials(
    const HCFNetCredentials& credentials, std::weak_ptr<HCFProductDownloaderDelegate> delegate) {
  return std::shared_ptr<HCFNetProductDownloader>(
      new HCFNetProductDownloader(credentials, std::move(delegate)));
}

std::string HCFNetProductDownloader::zipFileEndpoint() const {
  return CloudEndpoints::current().productDatabaseStorage + "/halvern-product-db-zips/v1" +
         "/prod-dbs-" + percentEncode(credentials_.packageID.value_or("(null)")) + ".zip";
}

std::filesystem::path HCFNetProductDownloader::localRealmURL() const {
  return HCFRealmManager::storeFile(StoreKind::Products, credentials_.packageID);
}

std::filesystem::path HCFNetProductDownloader::localZipURL() const {
  auto path = localRealmURL();
  path += ".zip";
  return path;
}

std::filesystem::path HCFNetProductDownloader::docDirectory() {
  return HCFRealmManager::docDirectory();
}

void HCFNetProductDownloader::start() {
  {
    const std::lock_guard lock(impl_->mutex);
    if (impl_->started) return;
    impl_->started = true;
    static std::atomic<unsigned> downloads{0};
    impl_->partial = localZipURL();
    impl_->partial +=
        "." + std::to_string(::getpid()) + "-" + std::to_string(downloads++) + ".part";
  }
  auto self = shared_from_this();
  const auto delegate = [self] { return self->delegate_.lock(); };
  const auto fail = [self, delegate](const HCFError& error) {
    if (self->impl_->failed.exchange(true)) return;
    logLine("catalogue download failed: " + error.description());
    if (auto d = delegate()) d->productDownloaderDidFailWithError(error);
  };
  const auto removeArchive = [self] {
    std::error_code ec;
    std::filesystem::remove(self->impl_->partial, ec);
    if (ec) logLine(ec.message());
  };
  // Held by the progress timer: a weak reference, so that the timer never keeps the
  // downloader alive.
  const std::weak_ptr<HCFNetProductDownloader> weakSelf = self;
  const auto postProgress = [weakSelf] {
    const auto me = weakSelf.lock();
    if (!me) return;
    const auto total = me->total_.load();
    const float progress = total == 0
                               ? 0.0f
                               : static_cast<float>(static_cast<double>(me->running_.load()) /
                                                    static_cast<double>(total));
    dispatch::mainQueue().async([listener = me->delegate_, progress] {
      if (auto d = listener.lock()) d->productDownloaderDidUpdateProgress(progress);
    });
  };

  http::StreamDelegate events;
  events.onResponse = [self, fail, postProgress](const http::Response& response) {
    if (self->cancelled_) return false;
    if (response.statusCode > 399) {
      fail(HTUtility::errWithMsg(
          "Received bad response (" + std::to_string(response.statusCode) + ") from server.",
          response.statusCode));
      return false;
    }
    std::int64_t total = 0;
    if (const auto length = http::headerValue(response.headers, "Content-Length")) {
      try {
        total = std::max<std::int64_t>(0, std::stoll(*length));
      } catch (const std::exception&) {
      }
    }
    self->total_ = total;
    const auto archive = self->impl_->partial;
    std::error_code ec;
    std::filesystem::create_directories(archive.parent_path(), ec);
    self->impl_->file.reset(std::fopen(archive.c_str(), "wb"));
    if (!self->impl_->file) {
      fail(HTUtility::errWithMsg(
          "The archive file cannot be created: " + archive.string() + ": " + std::strerror(errno),
          error_code::kInvalidData));
      return false;  // the transfer stops rather than waiting for a file
    }
    postProgress();
    auto timer = dispatch::mainQueue().every(kProgressInterval, postProgress);
    const std::lock_guard lock(self->impl_->mutex);
    self->impl_->progressTimer = timer;
    if (self->cancelled_) self->impl_->progressTimer.cancel();
    return true;
  };
  events.onData = [self, fail](const std::uint8_t* data, std::size_t size) {
    if (self->cancelled_ || !self->impl_->file) return false;
    if (std::fwrite(data, 1, size, self->impl_->file.get()) != size) {
      fail(HTUtility::errWithMsg(
          std::string("The archive cannot be written: ") + std::strerror(errno),
          error_code::kInvalidData));
      return false;
    }
    self->running_ += static_cast<std::int64_t>(size);
    return true;
  };
  events.onComplete = [self, fail, removeArchive, postProgress](std::optional<HCFError> error) {
    bool written = true;
    if (self->impl_->file) {
      written = std::fclose(self->impl_->file.release()) == 0;
    }
    {
      const std::lock_guard lock(self->impl_->mutex);
      self->impl_->progressTimer.cancel();
      self->impl_->task.reset();  // the transfer is over
    }
    if (!error && self->cancelled_) error = http::cancelledError();
    if (!error && !written) {
      error = HTUtility::errWithMsg("The archive cannot be written", error_code::kInvalidData);
    }
    if (error || self->impl_->failed) {
      removeArchive();
      if (error) fail(*error);
      return;
    }
    postProgress();
    dispatch::globalQueue(dispatch::QueuePriority::Default).async([self, fail, removeArchive] {
      if (auto problem = store::installCatalogArchive(self->impl_->partial, self->localRealmURL(),
                                                      [self] { return !self->cancelled_; })) {
        removeArchive();
        fail(*problem);
        return;
      }
      // The archive is kept (as the last download's) until the next download replaces it.
      std::error_code ec;
      std::filesystem::rename(self->impl_->partial, self->localZipURL(), ec);
      if (ec) removeArchive();
      // The download is logged with the server's date of the catalogue, so that later status
      // answers compare with it on the same clock.
      HCFNetTintVault::fetchProductsStatusUsingCredentials(
          self->credentials_, [self](std::optional<HCFNetProductsStatusResponse> status,
                                     std::optional<HCFError> statusError) {
            const auto complete = [self] {
              if (auto d = self->delegate_.lock()) d->productDownloaderDidComplete();
            };
            if (!status) {
              logLine("catalogue installed, not logged: " +
                      (statusError ? statusError->description() : std::string("no status")));
              dispatch::mainQueue().async(complete);
              return;
            }
            HCFRealmManager::insertProductDownloadEntryForSDKKey(
                self->credentials_.sdkKey.value_or(""), status->productsUpdatedAt, complete);
          });
    });
  };

  http::Request request;
  request.url = zipFileEndpoint();
  request.method = "GET";
  request.acceptGzip = false;  // a zip archive: its length is what arrives
  auto task = http::Session::shared().streamTask(std::move(request), std::move(events));
  const std::lock_guard lock(impl_->mutex);
  if (!impl_->failed) impl_->task = std::move(task);
  if (cancelled_ && impl_->task) impl_->task->cancel();
}

void HCFNetProductDownloader::cancel() {
  cancelled_ = true;
  std::shared_ptr<http::StreamTask> task;
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->progressTimer.cancel();
    task = impl_->task;
  }
  // The session ends the transfer with its cancellation; the partial archive is then deleted
  // and the delegate hears the failure.
  if (task) task->cancel();
}

HCF_NAMESPACE_END
