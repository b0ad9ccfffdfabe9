// The kit's single entry point: configuration, start-up (cloud login, device-data service) and
// the two managers the application works with.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hcf_net_credentials.h"
#include "hcf/connect/hcf_connection_manager.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/platform/ble/central_manager.h"
#include "hcf/search/hcf_product_manager.h"

HCF_NAMESPACE_BEGIN

/// Receives the outcome of start-up, on the main queue: no error means the kit is ready.
class HCF_API HCFCentralDelegate {
 public:
  virtual ~HCFCentralDelegate();
  /// Start-up finished: no error when the kit is ready, else why it could not start (9001 for
  /// a refused SDK key, 9004 without a network and no kept device-service key).
  virtual void onInit(std::optional<HCFError> error) = 0;
};

/// What the application sets before start-up. Everything unset keeps its default.
struct HCF_API HCFConfiguration {
  /// Where the kit keeps its stores and files (default: $XDG_DATA_HOME/hcf or
  /// ~/.local/share/hcf).
  std::optional<std::filesystem::path> dataDirectory;
  /// The cloud's hosts (default: from HCF_CLOUD_URL).
  std::optional<CloudEndpoints> endpoints;
  /// The Bluetooth backend: makes the central manager (for example a simulated world's).
  ble::CentralFactory bluetooth;
};

/// Receives the outcome of a start-up or a login: no error means it succeeded.
using InitCompletion = std::function<void(std::optional<HCFError> error)>;

/// The process-wide entry object. Start-up may be called from any thread; the managers are
/// used on the main queue, which the application drives.
class HCF_API HCFCentral {
 public:
  /// The one instance. Every call of the kit is static: it exists for applications that
  /// expect an object.
  static HCFCentral& sharedInstance();

  /// Applies `configuration` (call before start-up).
  static void configure(const HCFConfiguration& configuration);
  /// Tells the kit that the application became active (refreshes alignment data).
  static void applicationDidBecomeActive();

  /// Logs in with `sdkKey`, starts the device-data service and makes the managers; without a
  /// network, starts offline with the device-service key kept from an earlier online start.
  /// Once initialised, later calls only report success (on the main queue, no traffic).
  static void initWith(const std::string& sdkKey, InitCompletion onComplete);
  /// The same, reporting to `delegate`'s `onInit`.
  static void initWith(const std::string& sdkKey, std::weak_ptr<HCFCentralDelegate> delegate);
  /// Starts with credentials the application holds, without logging in.
  static void initWithCreds(const HCFNetCredentials& creds,
                            std::weak_ptr<HCFCentralDelegate> delegate);
  /// Logs in again with the SDK key of the current credentials.
  static void tryCasAuth(InitCompletion completion);
  /// Logs in; on success the credentials are replaced by the ones returned.
  static void tryCasAuthWithSDKKey(const std::string& sdkKey, InitCompletion onComplete);
  /// Starts from the kept device-service key; 9004 when there is none.
  static void tryWorkingOffline(const std::string& sdkKey, InitCompletion onComplete);
  /// The same, reporting to the delegate (with `networkError` on failure).
  static void tryWorkingOffline(const std::string& sdkKey, const HCFError& networkError);
  /// Sends `onInit` to the delegate, on the main queue.
  static void initComplete(std::optional<HCFError> error);

  /// True once a start-up has made the managers. Any thread.
  static bool isInitialized();
  /// Discovers and connects instruments; null until initialised. Any thread.
  static std::shared_ptr<HCFConnectionManager> connectionManager();
  /// Downloads and searches the product catalogue; null until initialised. Any thread.
  static std::shared_ptr<HCFProductManager> productManager();
  /// The credentials in use (SDK key, session, device-service key): empty before the first
  /// start, the SDK key alone until a login succeeds.
  static HCFNetCredentials creds();
  /// Sets who hears `onInit` (held without ownership). Any thread.
  static void setDelegate(std::weak_ptr<HCFCentralDelegate> delegate);

  /// The file the device-service key is kept in for offline starts:
  /// "<data directory>/device-service.key" (readable by the user only).
  static std::filesystem::path savedDeviceKeyPath();

  struct State;

 private:
  HCFCentral();
};

HCF_NAMESPACE_END
