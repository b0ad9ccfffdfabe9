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

// One transfer of the archive: a method for each event of the stream, then the install and
// the log entry. The stream's events hold it until the transfer completes; the install holds
// it while it runs. Every event reaches the delegate on the main queue.
struct HCFNetProductDownloader::Transfer : std::enable_shared_from_this<Transfer> {
  explicit Transfer(std::shared_ptr<HCFNetProductDownloader> downloader)
      : self(std::move(downloader)) {}

  bool onResponse(const http::Response& response);
  bool onData(const std::uint8_t* data, std::size_t size);
  void onComplete(std::optional<HCFError> error);

  // Installs the whole archive in place of the catalogue (on a global queue), then logs it.
  void install();
  // Logs the download with the server's date of the catalogue, so that later status answers
  // compare with it on the same clock; completes either way.
  void logDownload();
  // Reports the first failure only; nothing else is reported after it.
  void fail(const HCFError& error);
  void removeArchive();
  // Held by the progress timer as a weak reference, so that it never keeps the downloader.
  static void postProgress(const std::weak_ptr<HCFNetProductDownloader>& downloader);

  Impl& state() const { return *self->impl_; }

  std::shared_ptr<HCFNetProductDownloader> self;
};

bool HCFNetProductDownloader::Transfer::onResponse(const http::Response& response) {
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
  const auto archive = state().partial;
  std::error_code ec;
  std::filesystem::create_directories(archive.parent_path(), ec);
  state().file.reset(std::fopen(archive.c_str(), "wb"));
  if (!state().file) {
    const int error = errno;
    fail(HTUtility::fileWriteError(
        "The archive file cannot be created: " + archive.string() + ": " + std::strerror(error),
        error));
    return false;  // the transfer stops rather than waiting for a file
  }
  const std::weak_ptr<HCFNetProductDownloader> weakSelf = self;
  postProgress(weakSelf);
  auto timer =
      dispatch::mainQueue().every(kProgressInterval, [weakSelf] { postProgress(weakSelf); });
  const std::lock_guard lock(state().mutex);
  state().progressTimer = timer;
  if (self->cancelled_) state().progressTimer.cancel();
  return true;
}

bool HCFNetProductDownloader::Transfer::onData(const std::uint8_t* data, std::size_t size) {
  if (self->cancelled_ || !state().file) return false;
  if (std::fwrite(data, 1, size, state().file.get()) != size) {
    const int error = errno;
    fail(HTUtility::fileWriteError(
        std::string("The archive cannot be written: ") + std::strerror(error), error));
    return false;
  }
  self->running_ += static_cast<std::int64_t>(size);
  return true;
}

void HCFNetProductDownloader::Transfer::onComplete(std::optional<HCFError> error) {
  int closeError = 0;
  if (state().file && std::fclose(state().file.release()) != 0) closeError = errno ? errno : EIO;
  {
    const std::lock_guard lock(state().mutex);
    state().progressTimer.cancel();
    state().task.reset();  // the transfer is over
  }
  if (!error && self->cancelled_) error = HTUtility::cancelledError();
  if (!error && closeError != 0) {
    error = HTUtility::fileWriteError("The archive cannot be written", closeError);
  }
  if (error || state().failed) {
    removeArchive();
    if (error) fail(*error);
    return;
  }
  postProgress(self);
  dispatch::globalQueue(dispatch::QueuePriority::Default).async([me = shared_from_this()] {
    me->install();
  });
}

void HCFNetProductDownloader::Transfer::install() {
  if (auto problem = store::installCatalogArchive(state().partial, self->localRealmURL(),
                                                  [me = self] { return !me->cancelled_; })) {
    removeArchive();
    fail(*problem);
    return;
  }
  // The archive is kept (as the last download's) until the next download replaces it.
  std::error_code ec;
  std::filesystem::rename(state().partial, self->localZipURL(), ec);
  if (ec) removeArchive();
  logDownload();
}

void HCFNetProductDownloader::Transfer::logDownload() {
  HCFNetTintVault::fetchProductsStatusUsingCredentials(
      self->credentials_, [me = self](std::optional<HCFNetProductsStatusResponse> status,
                                      std::optional<HCFError> statusError) {
        const auto complete = [me] {
          if (auto d = me->delegate_.lock()) d->productDownloaderDidComplete();
        };
        if (!status) {
          logLine("catalogue installed, not logged: " +
                  (statusError ? statusError->description() : std::string("no status")));
          dispatch::mainQueue().async(complete);
          return;
        }
        HCFRealmManager::insertProductDownloadEntryForSDKKey(me->credentials_.sdkKey.value_or(""),
                                                             status->productsUpdatedAt, complete);
      });
}

void HCFNetProductDownloader::Transfer::fail(const HCFError& error) {
  if (state().failed.exchange(true)) return;
  logLine("catalogue download failed: " + error.description());
  if (self->silenced_) return;
  dispatch::mainQueue().async([listener = self->delegate_, error] {
    if (auto d = listener.lock()) d->productDownloaderDidFailWithError(error);
  });
}

void HCFNetProductDownloader::Transfer::removeArchive() {
  std::error_code ec;
  std::filesystem::remove(state().partial, ec);
  if (ec) logLine(ec.message());
}

void HCFNetProductDownloader::Transfer::postProgress(
    const std::weak_ptr<HCFNetProductDownloader>& downloader) {
  const auto me = downloader.lock();
  if (!me || me->silenced_) return;
  const auto total = me->total_.load();
  const float progress = total == 0 ? 0.0f
                                    : static_cast<float>(static_cast<double>(me->running_.load()) /
                                                         static_cast<double>(total));
  dispatch::mainQueue().async([listener = me->delegate_, progress] {
    if (auto d = listener.lock()) d->productDownloaderDidUpdateProgress(progress);
  });
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
  // What a download killed before it finished left beside the catalogue goes now.
  store::removeDownloadLeftovers(localZipURL().parent_path());
  const auto transfer = std::make_shared<Transfer>(shared_from_this());
  http::StreamDelegate events;
  events.onResponse = [transfer](const http::Response& r) { return transfer->onResponse(r); };
  events.onData = [transfer](const std::uint8_t* data, std::size_t size) {
    return transfer->onData(data, size);
  };
  events.onComplete = [transfer](std::optional<HCFError> error) {
    transfer->onComplete(std::move(error));
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

void HCFNetProductDownloader::cancelSilently() {
  silenced_ = true;
  cancel();
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
