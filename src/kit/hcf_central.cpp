#include "hcf/kit/hcf_central.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>

#include "../cloud/current_credentials.h"
#include "../store/catalog_install.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/platform/notify/notification_center.h"
#include "hcf/store/hcf_realm_manager.h"

HCF_NAMESPACE_BEGIN

HCFCentralDelegate::~HCFCentralDelegate() = default;

struct HCFCentral::State {
  std::mutex mutex;
  std::shared_ptr<HCFConnectionManager> connectionManager;
  std::shared_ptr<HCFProductManager> productManager;
  std::weak_ptr<HCFCentralDelegate> delegate;
  std::atomic<bool> initialized{false};
};

namespace {

HCFCentral::State& state() {
  static HCFCentral::State s;
  return s;
}

// The services below the kit read the login from the cloud floor and the store's package.
void setCreds(const HCFNetCredentials& creds) {
  setCurrentCredentials(creds);
  HCFRealmManager::setProductsPackageID(creds.packageID);
}

std::optional<std::string> loadSavedKey() {
  std::ifstream in(HCFCentral::savedDeviceKeyPath());
  std::string key;
  if (!in || !std::getline(in, key) || key.empty()) return std::nullopt;
  return key;
}

// Kept for offline starts; written whole (temporary file, then renamed) and readable by the
// user alone from the moment it exists.
void saveKey(const std::string& key) {
  const auto path = HCFCentral::savedDeviceKeyPath();
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  const auto partial = path.string() + ".partial-" + std::to_string(::getpid());
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string line = key + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  if (written) std::filesystem::rename(partial, path, ec);
  if (!written || ec) std::filesystem::remove(partial, ec);
}

// Starts the device-data service with `key` and makes the managers, on the main queue (the
// Bluetooth backend lives there); `done` runs there too.
void createManagers(const std::string& key, bool keepKey, InitCompletion done) {
  dispatch::mainQueue().async([key, keepKey, done = std::move(done)] {
    HCFConnectionManager::withB2Key(
        key,
        [key, keepKey, done](std::shared_ptr<HCFConnectionManager> manager) {
          {
            const std::lock_guard lock(state().mutex);
            state().connectionManager = std::move(manager);
            state().productManager = std::make_shared<HCFProductManager>();
          }
          state().initialized = true;
          if (keepKey) saveKey(key);
          if (done) done(std::nullopt);
        },
        [done](const HCFError& error) {
          if (done) done(error);
        });
  });
}

// The device-service key a login carried; none when its answer had none (a missing or null
// member reads "(null)" or "<null>").
std::optional<std::string> loginDeviceKey(const HCFNetCredentials& credentials) {
  const auto& key = credentials.b2APIKey;
  if (!key || key->empty() || *key == "(null)" || *key == "<null>") return std::nullopt;
  return key;
}

// Starts the services after a login. A login without a device-service key keeps the key of
// the last one: overwriting it would lose the device service for good.
void startAfterLogin(const HCFNetCredentials& credentials, InitCompletion done) {
  if (auto key = loginDeviceKey(credentials)) {
    createManagers(*key, true, std::move(done));
    return;
  }
  const auto saved = loadSavedKey();
  logLine(saved ? "the login carried no device-service key; the kept one is used"
                : "the login carried no device-service key and none is kept");
  createManagers(saved.value_or(""), false, std::move(done));
}

}  // namespace

HCFCentral::HCFCentral() = default;

HCFCentral& HCFCentral::sharedInstance() {
  static HCFCentral instance;
  return instance;
}

void HCFCentral::configure(const HCFConfiguration& configuration) {
  if (configuration.dataDirectory) HCFRealmManager::setDocDirectory(configuration.dataDirectory);
  if (configuration.endpoints) CloudEndpoints::setCurrent(*configuration.endpoints);
  if (configuration.bluetooth) ble::setCentralFactory(configuration.bluetooth);
}

void HCFCentral::applicationDidBecomeActive() {
  notify::NotificationCenter::defaultCenter().post(notify::kApplicationDidBecomeActiveNotification);
}

std::filesystem::path HCFCentral::savedDeviceKeyPath() {
  return HCFRealmManager::docDirectory() / "device-service.key";
}

namespace {

// A transport failure that means the cloud cannot be reached now (the kit may start offline);
// a refused certificate is not one: it is reported as it is.
bool isOutage(const HCFError& error) {
  return error.isTransportError() && error.code != http::url_error::kServerCertificateUntrusted &&
         error.code != http::url_error::kSecureConnectionFailed;
}

bool hasSession(const HCFNetCredentials& c) {
  return c.sessionToken && !c.sessionToken->empty() && *c.sessionToken != "(null)" &&
         *c.sessionToken != "<null>";
}

void restartSession(const std::string& sdkKey, InitCompletion done) {
  // The same key with a session: the session stays. Another key, or none yet: a new login.
  if (HCFCentral::creds().sdkKey == sdkKey && hasSession(HCFCentral::creds())) {
    done(std::nullopt);
    return;
  }
  HCFCentral::tryCasAuthWithSDKKey(sdkKey, [sdkKey, done](std::optional<HCFError> error) {
    if (error) setCreds(HCFNetCredentials::credsWithSDKKey(sdkKey));
    done(error);
  });
}

}  // namespace

void HCFCentral::initWith(const std::string& sdkKey, InitCompletion onComplete) {
  // Downloads of an earlier run killed before they finished leave partial files behind.
  store::removeDownloadLeftovers(HCFRealmManager::docDirectory());
  if (isInitialized()) {
    restartSession(sdkKey, [onComplete](std::optional<HCFError> error) {
      dispatch::mainQueue().async([onComplete, error] {
        if (onComplete) onComplete(error);
      });
    });
    return;
  }
  setCreds(HCFNetCredentials::credsWithSDKKey(sdkKey));
  tryCasAuthWithSDKKey(sdkKey, [sdkKey, onComplete](std::optional<HCFError> error) {
    if (error && isOutage(*error)) {
      tryWorkingOffline(sdkKey, onComplete);
    } else if (error) {
      if (onComplete) onComplete(error);
    } else {
      startAfterLogin(creds(), onComplete);
    }
  });
}

void HCFCentral::initWith(const std::string& sdkKey, std::weak_ptr<HCFCentralDelegate> delegate) {
  setDelegate(delegate);
  store::removeDownloadLeftovers(HCFRealmManager::docDirectory());
  if (isInitialized()) {
    restartSession(sdkKey, [delegate](std::optional<HCFError> error) {
      if (delegate.lock()) initComplete(error);
    });
    return;
  }
  setCreds(HCFNetCredentials::credsWithSDKKey(sdkKey));
  tryCasAuthWithSDKKey(sdkKey, [sdkKey](std::optional<HCFError> error) {
    if (error && isOutage(*error)) {
      tryWorkingOffline(sdkKey, HTUtility::noInternetError());
    } else if (error) {
      logLine("error trying to auth using sdk key...");
      initComplete(error);
    } else {
      startAfterLogin(creds(), initComplete);
    }
  });
}

void HCFCentral::initWithCreds(const HCFNetCredentials& credentials,
                               std::weak_ptr<HCFCentralDelegate> delegate) {
  setCreds(credentials);
  setDelegate(delegate);
  if (isInitialized()) {
    if (delegate.lock()) initComplete(std::nullopt);
    return;
  }
  startAfterLogin(credentials, initComplete);
}

void HCFCentral::tryCasAuth(InitCompletion completion) {
  tryCasAuthWithSDKKey(creds().sdkKey.value_or(""), std::move(completion));
}

void HCFCentral::tryCasAuthWithSDKKey(const std::string& sdkKey, InitCompletion onComplete) {
  HCFNetCas::authSDKUsingKey(sdkKey,
                             [sdkKey, onComplete](std::optional<HCFNetCredentials> credentials,
                                                  std::optional<HCFError> error) {
                               if (credentials) {
                                 // What the answer lacks ("(null)", as a missing member reads) is
                                 // what the kit knew.
                                 const auto missing = [](const std::optional<std::string>& v) {
                                   return !v || v->empty() || *v == "(null)" || *v == "<null>";
                                 };
                                 if (missing(credentials->sdkKey)) credentials->sdkKey = sdkKey;
                                 if (missing(credentials->b2APIKey)) {
                                   const auto known = creds().b2APIKey;
                                   credentials->b2APIKey = !missing(known) ? known : loadSavedKey();
                                 }
                                 setCreds(*credentials);
                                 if (onComplete) onComplete(std::nullopt);
                               } else if (onComplete) {
                                 onComplete(error ? error : HTUtility::authenticationFailedError());
                               }
                             });
}

void HCFCentral::tryWorkingOffline(const std::string& /*sdkKey*/, InitCompletion onComplete) {
  const auto saved = loadSavedKey();
  if (!saved) {
    if (onComplete) onComplete(HTUtility::noInternetError());
    return;
  }
  createManagers(*saved, false, std::move(onComplete));
}

void HCFCentral::tryWorkingOffline(const std::string& /*sdkKey*/, const HCFError& networkError) {
  const auto saved = loadSavedKey();
  if (!saved) {
    initComplete(networkError);
    return;
  }
  createManagers(*saved, false, [networkError](std::optional<HCFError> error) {
    initComplete(error ? std::optional<HCFError>(networkError) : std::nullopt);
  });
}

void HCFCentral::initComplete(std::optional<HCFError> error) {
  dispatch::mainQueue().async([error] {
    std::shared_ptr<HCFCentralDelegate> delegate;
    {
      const std::lock_guard lock(state().mutex);
      delegate = state().delegate.lock();
    }
    if (delegate) delegate->onInit(error);
  });
}

bool HCFCentral::isInitialized() { return state().initialized; }

std::shared_ptr<HCFConnectionManager> HCFCentral::connectionManager() {
  const std::lock_guard lock(state().mutex);
  return state().connectionManager;
}

std::shared_ptr<HCFProductManager> HCFCentral::productManager() {
  const std::lock_guard lock(state().mutex);
  return state().productManager;
}

HCFNetCredentials HCFCentral::creds() { return currentCredentials(); }

void HCFCentral::setDelegate(std::weak_ptr<HCFCentralDelegate> delegate) {
  const std::lock_guard lock(state().mutex);
  state().delegate = std::move(delegate);
}

HCF_NAMESPACE_END
