#include "hcf/core/ht_utility.h"

#include <memory>
#include <mutex>
#include <system_error>

HCF_NAMESPACE_BEGIN

namespace {

using Translate = std::function<std::string(std::string_view)>;

std::mutex& translationMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<const Translate>& translationSlot() {
  static std::shared_ptr<const Translate> slot;
  return slot;
}

std::string translate(std::string_view message) {
  std::shared_ptr<const Translate> t;
  {
    const std::lock_guard lock(translationMutex());
    t = translationSlot();
  }
  if (!t) return std::string(message);
  try {
    std::string out = (*t)(message);
    return out.empty() ? std::string(message) : out;  // no translation: the message itself
  } catch (...) {
    return std::string(message);
  }
}

// The message with its one "%@" replaced by `argument`.
std::string withArgument(std::string_view format, std::string_view argument) {
  std::string out(format);
  if (const auto at = out.find("%@"); at != std::string::npos) out.replace(at, 2, argument);
  return out;
}

HCFError withText(std::string text, std::int64_t code) {
  return HCFError{kHCFErrorDomain, code, text, text, text, std::nullopt};
}

HCFError make(std::string_view message, std::int64_t code) {
  return withText(translate(message), code);
}

// A "%@" message: the pattern is what gets translated, then the argument goes in.
HCFError makeWith(std::string_view pattern, std::string_view argument, std::int64_t code) {
  return withText(withArgument(translate(pattern), argument), code);
}

// `e` with the system's `errno` value kept as its native error (none for 0).
HCFError withSystemError(HCFError e, int systemError) {
  if (systemError != 0) {
    e.native = NativeError{"errno", systemError, std::generic_category().message(systemError)};
  }
  return e;
}

}  // namespace

std::string HCFError::description() const {
  return domain + " " + std::to_string(code) + ": " + localizedDescription;
}

void HTUtility::setTranslation(std::function<std::string(std::string_view)> t) {
  std::shared_ptr<const Translate> next;
  if (t) next = std::make_shared<const Translate>(std::move(t));
  const std::lock_guard lock(translationMutex());
  translationSlot() = std::move(next);
}

using namespace error_code;

HCFError HTUtility::noInternetError() {
  return make("No internet connection detected.", kNoInternet);
}
HCFError HTUtility::noBleError() {
  return make("Bluetooth not enabled, please turn on BLE to proceed.", kNoBle);
}
HCFError HTUtility::connectionConfirmBtnTimeoutError() {
  return make("Timed out waiting for button press", kConnectionConfirmTimeout);
}
HCFError HTUtility::noBlePeripheralsError() { return make("No peripherals found", kNoPeripherals); }
HCFError HTUtility::noCalError() { return make("Device Not Calibrated", kNoCalibration); }
HCFError HTUtility::wpCalError() {
  return make("Whitepoint Calibration Failed", kWhitePointCalibrationFailed);
}
HCFError HTUtility::devBleInitFailed() {
  return make("Device's bluetooth initialization failed.", kBleInitFailed);
}
HCFError HTUtility::alignmentFetchError() {
  return make("Unable to fetch tuning data from web", kAlignmentFetch);
}
HCFError HTUtility::noCalDataError(std::string_view serial) {
  return makeWith("Defective device(calibration). Serial:%@", serial, kNoCalibrationData);
}
HCFError HTUtility::noBatchError(std::string_view serial) {
  return makeWith("Defective device(batching). Serial:%@", serial, kNoBatch);
}
HCFError HTUtility::noCalDownloadError(std::string_view serial) {
  return makeWith("Device calibration fetch from web failed. Serial:%@", serial,
                  kCalibrationDownload);
}
HCFError HTUtility::unsupportedLegacyDeviceError(std::string_view serial) {
  return makeWith("Unsupported legacy device. Serial:%@", serial, kUnsupportedLegacyDevice);
}
HCFError HTUtility::scanError() { return make("Error scanning on colorimeter", kScan); }
HCFError HTUtility::unsupportedOS() {
  return make("Unsupported legacy version of iOS. This feature requires iOS 11 or newer",
              kUnsupportedOS);
}
HCFError HTUtility::illegalObserver() {
  return make("Unsupported observer requested", kIllegalObserver);
}
HCFError HTUtility::authenticationFailedError() {
  return make("Authentication failed: the cloud refused the SDK key.", kAuthenticationFailed);
}
HCFError HTUtility::loginRefusedError(std::int64_t status) {
  return make(
      "Authentication failed: the cloud refused the SDK key (HTTP " + std::to_string(status) + ").",
      kAuthenticationFailed);
}
HCFError HTUtility::loginAnswerUnreadableError() {
  return make("Authentication failed: the cloud's answer to the login carries no credentials.",
              kAuthenticationFailed);
}
HCFError HTUtility::notLoggedInError() {
  return make(
      "Not logged in: the kit started without the cloud; this needs a login, which is tried "
      "again at the next start.",
      kAuthenticationFailed);
}
HCFError HTUtility::serverResponseError(std::string_view message, std::int64_t code) {
  return makeWith("Server Error:%@", message, code);
}
HCFError HTUtility::instrumentTimeoutError(std::string_view what) {
  return make(std::string(what) + " did not arrive in time", kInstrumentTimeout);
}

HCFError HTUtility::invalidDataError(std::string_view detail) {
  return make("Invalid data: " + std::string(detail), kInvalidData);
}

HCFError HTUtility::deviceNotFoundError() { return make("Device not found", kDeviceNotFound); }
HCFError HTUtility::operationHaltedError() { return make("Operation halted", kOperationHalted); }
HCFError HTUtility::unknownDeviceError() { return make("Unknown Device", kUnknownDevice); }
HCFError HTUtility::noResponseBodyError() { return make("no response body", kNoResponseBody); }
HCFError HTUtility::jsonEncodingError() {
  return make("Error encoding JSON request.", kJSONEncoding);
}
HCFError HTUtility::storeError(std::string_view detail) {
  return make("Store error: " + std::string(detail), kStore);
}

HCFError HTUtility::catalogStatusError(const HCFError& cause) {
  // The server's error statuses are the codes of its answers in the kit's domain.
  const bool refused = cause.domain == kHCFErrorDomain && cause.code >= 400 && cause.code <= 599;
  const std::int64_t code = cause.isTransportError() ? kCatalogStatusUnreachable
                            : refused                ? kCatalogStatusServerError
                                                     : kCatalogStatusUnreadable;
  HCFError e = make(cause.localizedDescription, code);
  e.native = NativeError{cause.domain, cause.code, cause.native ? cause.native->name : ""};
  return e;
}

HCFError HTUtility::fileReadError(std::string_view message, int systemError) {
  return withSystemError(make(message, kFileNotRead), systemError);
}
HCFError HTUtility::fileWriteError(std::string_view message, int systemError) {
  return withSystemError(make(message, kFileNotWritten), systemError);
}

HCFError HTUtility::errWithMsg(std::string_view message, std::int64_t code) {
  return make(message, code);
}

HCFError HTUtility::cancelledError() {
  HCFError e;
  e.domain = kURLErrorDomain;
  e.code = -999;
  e.localizedDescription = e.localizedFailureReason = e.localizedRecoverySuggestion = "cancelled";
  return e;
}

HCF_NAMESPACE_END
