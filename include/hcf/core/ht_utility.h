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
  /// "Device not found" (9200): no instrument discovered matches the serial or identifier.
  static HCFError deviceNotFoundError();
  /// "Operation halted" (9201): a pending connection or identification was stopped.
  static HCFError operationHaltedError();
  /// "Unknown Device" (9210): the peripheral advertises no instrument service the kit knows.
  static HCFError unknownDeviceError();
  /// "no response body" (9240): the cloud answered a JSON call with an empty body.
  static HCFError noResponseBodyError();
  /// "Error encoding JSON request." (9241): a request body could not be written as JSON.
  static HCFError jsonEncodingError();
  /// "Store error: " and `detail` (9260); the caller adds the SQLite result as the native error.
  static HCFError storeError(std::string_view detail);
  /// The catalogue status could not be fetched, with the service's message: 9250 when the
  /// network failed, 9251 when the server answered with an error status, 9252 when its answer
  /// cannot be read. The service's domain and code are kept as the native error.
  static HCFError catalogStatusError(const HCFError& cause);
  /// A file that cannot be read (9290), with the system's `errno` as the native error.
  static HCFError fileReadError(std::string_view message, int systemError);
  /// A file that cannot be written or put in place (9291), with the system's `errno` as the
  /// native error.
  static HCFError fileWriteError(std::string_view message, int systemError);
  /// Any message with any code.
  static HCFError errWithMsg(std::string_view message, std::int64_t code);
};

/// The codes of the kit's errors, each kind of failure its own (docs/errors.md lists them).
/// Where a library failed underneath, its own code is in `HCFError::native`.
namespace error_code {
inline constexpr std::int64_t kAuthenticationFailed = 9001;  ///< key refused, or no login
inline constexpr std::int64_t kNoInternet = 9004;            ///< no network at start-up or login
inline constexpr std::int64_t kNoBle = 9005;                 ///< the radio is not powered on
inline constexpr std::int64_t kConnectionConfirmTimeout = 9006;  ///< no button press in time
inline constexpr std::int64_t kNoPeripherals = 9007;             ///< discovery found no instrument
inline constexpr std::int64_t kNoCalibration = 9008;  ///< measuring without a calibration
inline constexpr std::int64_t kWhitePointCalibrationFailed = 9009;  ///< an unusable white reading
inline constexpr std::int64_t kBleInitFailed = 9010;   ///< the instrument link did not start
inline constexpr std::int64_t kAlignmentFetch = 9011;  ///< alignment or model package not fetched
inline constexpr std::int64_t kNoCalibrationData = 9012;    ///< no usable calibration record
inline constexpr std::int64_t kNoBatch = 9013;              ///< no correction method in force
inline constexpr std::int64_t kCalibrationDownload = 9014;  ///< the record could not be downloaded
inline constexpr std::int64_t kUnsupportedLegacyDevice = 9015;  ///< an unsupported generation
inline constexpr std::int64_t kScan = 9016;                     ///< a measurement failed
inline constexpr std::int64_t kUnsupportedOS = 9100;            ///< a model that cannot be compiled
inline constexpr std::int64_t kIllegalObserver = 9920;    ///< an observer the kit does not know
inline constexpr std::int64_t kInvalidData = 9930;        ///< data from outside that cannot be read
inline constexpr std::int64_t kInstrumentTimeout = 9931;  ///< an instrument did not answer in time

// Connecting.
inline constexpr std::int64_t kDeviceNotFound = 9200;      ///< no discovered instrument matches
inline constexpr std::int64_t kOperationHalted = 9201;     ///< a pending connect was stopped
inline constexpr std::int64_t kNoBluetoothBackend = 9202;  ///< no central manager can be made
// Instruments.
inline constexpr std::int64_t kUnknownDevice = 9210;      ///< not an instrument service
inline constexpr std::int64_t kBatteryUnreadable = 9211;  ///< the battery read failed
// Calibration and readings.
inline constexpr std::int64_t kInvalidCalibrationRecord = 9220;  ///< a record the kit cannot use
inline constexpr std::int64_t kInvalidNetworkDocument = 9221;    ///< a correction network
inline constexpr std::int64_t kInvalidCorrectionTable = 9222;    ///< a look-up-table correction
inline constexpr std::int64_t kUnknownHardwareVersion = 9223;    ///< no reading for the version
inline constexpr std::int64_t kTooFewSensorValues = 9224;        ///< a scan needs three senses
// The cloud.
inline constexpr std::int64_t kNoResponseBody = 9240;  ///< an empty answer to a JSON call
inline constexpr std::int64_t kJSONEncoding = 9241;    ///< a request body that is not JSON
inline constexpr std::int64_t kNoModelPackage = 9242;  ///< no stored spectrometer package
inline constexpr std::int64_t kCatalogStatusUnreachable = 9250;  ///< the network failed
inline constexpr std::int64_t kCatalogStatusServerError = 9251;  ///< an HTTP error status
inline constexpr std::int64_t kCatalogStatusUnreadable = 9252;   ///< an answer without a date
// Stores.
inline constexpr std::int64_t kStore = 9260;  ///< SQLite or the file system failed a store
// Files, archives and models.
inline constexpr std::int64_t kArchiveRefused = 9280;  ///< a zip archive that is not unpacked
inline constexpr std::int64_t kModelRefused = 9281;    ///< a model file that is not loaded
inline constexpr std::int64_t kFileNotRead = 9290;     ///< a file that cannot be read
inline constexpr std::int64_t kFileNotWritten = 9291;  ///< a file that cannot be written
// Colour.
inline constexpr std::int64_t kUnknownColorName = 9300;  ///< an illuminant, observer or method
inline constexpr std::int64_t kInvalidSpectrum = 9301;   ///< a curve off the CIE tables
}  // namespace error_code

HCF_NAMESPACE_END
