// The one place the kit's errors are made: one domain, one code table, one message layout.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN

/// Makes the kit's errors: domain "com.halverninc", the code of the table, and the message in
/// all three user-info slots, passed through the translation hook first. Callable from any
/// thread.
class HCF_API HTUtility {
 public:
  HTUtility() = delete;

  /// Translates each message (looked up as a key); the default returns it unchanged. The
  /// hook must be thread-safe; an empty function restores the default.
  static void setTranslation(std::function<std::string(std::string_view message)> translate);

  static HCFError noInternetError();                                      ///< 9004
  static HCFError noBleError();                                           ///< 9005
  static HCFError connectionConfirmBtnTimeoutError();                     ///< 9006
  static HCFError noBlePeripheralsError();                                ///< 9007
  static HCFError noCalError();                                           ///< 9008
  static HCFError wpCalError();                                           ///< 9009
  static HCFError devBleInitFailed();                                     ///< 9010
  static HCFError alignmentFetchError();                                  ///< 9011
  static HCFError noCalDataError(std::string_view serial);                ///< 9012
  static HCFError noBatchError(std::string_view serial);                  ///< 9013
  static HCFError noCalDownloadError(std::string_view serial);            ///< 9014
  static HCFError unsupportedLegacyDeviceError(std::string_view serial);  ///< 9015
  static HCFError scanError();                                            ///< 9016
  static HCFError unsupportedOS();                                        ///< 9100
  static HCFError illegalObserver();                                      ///< 9920
  /// The cloud refused the credentials (9001).
  static HCFError authenticationFailedError();
  /// The cloud refused the SDK key with `status` (400, 401 or 403) (9001).
  static HCFError loginRefusedError(std::int64_t status);
  /// The cloud's answer to a login carried no credentials (9001).
  static HCFError loginAnswerUnreadableError();
  /// A call that needs a login when none has succeeded yet, after an offline start (9001).
  static HCFError notLoggedInError();
  /// "Server Error:<message>" with the HTTP status as the code.
  static HCFError serverResponseError(std::string_view message, std::int64_t code);
  /// An instrument did not answer in time (9931): "<what> did not arrive in time".
  static HCFError instrumentTimeoutError(std::string_view what);
  /// Data from outside that the kit cannot read (9930), with what is wrong.
  static HCFError invalidDataError(std::string_view detail);
  /// The error of work a cancellation stopped (a transfer, or what follows one): the
  /// URL-loading domain, its cancellation code (-999) and "cancelled".
  static HCFError cancelledError();
  /// Any message with any code.
  static HCFError errWithMsg(std::string_view message, std::int64_t code);
};

/// The codes of the kit's errors.
namespace error_code {
inline constexpr std::int64_t kAuthenticationFailed = 9001;
inline constexpr std::int64_t kNoInternet = 9004;
inline constexpr std::int64_t kNoBle = 9005;
inline constexpr std::int64_t kConnectionConfirmTimeout = 9006;
inline constexpr std::int64_t kNoPeripherals = 9007;
inline constexpr std::int64_t kNoCalibration = 9008;
inline constexpr std::int64_t kWhitePointCalibrationFailed = 9009;
inline constexpr std::int64_t kBleInitFailed = 9010;
inline constexpr std::int64_t kAlignmentFetch = 9011;
inline constexpr std::int64_t kNoCalibrationData = 9012;
inline constexpr std::int64_t kNoBatch = 9013;
inline constexpr std::int64_t kCalibrationDownload = 9014;
inline constexpr std::int64_t kUnsupportedLegacyDevice = 9015;
inline constexpr std::int64_t kScan = 9016;
inline constexpr std::int64_t kUnsupportedOS = 9100;
inline constexpr std::int64_t kIllegalObserver = 9920;
inline constexpr std::int64_t kInvalidData = 9930;
inline constexpr std::int64_t kInstrumentTimeout = 9931;
}  // namespace error_code

HCF_NAMESPACE_END
