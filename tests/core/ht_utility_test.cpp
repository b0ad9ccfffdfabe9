// The kit's error table.
#include "hcf/core/ht_utility.h"

#include <gtest/gtest.h>

using hcf::HCFError;
using hcf::HTUtility;

namespace {

void expectError(const HCFError& e, std::int64_t code, const std::string& message) {
  EXPECT_EQ(e.domain, "com.halverninc");
  EXPECT_EQ(e.code, code);
  EXPECT_EQ(e.localizedDescription, message);
  EXPECT_EQ(e.localizedFailureReason, message);
  EXPECT_EQ(e.localizedRecoverySuggestion, message);
  EXPECT_FALSE(e.isTransportError());
}

}  // namespace

TEST(HTUtility, EveryErrorOfTheTableWithItsCodeAndMessage) {
  expectError(HTUtility::noInternetError(), 9004, "No internet connection detected.");
  expectError(HTUtility::noBleError(), 9005,
              "Bluetooth not enabled, please turn on BLE to proceed.");
  expectError(HTUtility::connectionConfirmBtnTimeoutError(), 9006,
              "Timed out waiting for button press");
  expectError(HTUtility::noBlePeripheralsError(), 9007, "No peripherals found");
  expectError(HTUtility::noCalError(), 9008, "Device Not Calibrated");
  expectError(HTUtility::wpCalError(), 9009, "Whitepoint Calibration Failed");
  expectError(HTUtility::devBleInitFailed(), 9010, "Device's bluetooth initialization failed.");
  expectError(HTUtility::alignmentFetchError(), 9011, "Unable to fetch tuning data from web");
  expectError(HTUtility::noCalDataError("ABC123"), 9012,
              "Defective device(calibration). Serial:ABC123");
  expectError(HTUtility::noBatchError("ABC123"), 9013, "Defective device(batching). Serial:ABC123");
  expectError(HTUtility::noCalDownloadError("X"), 9014,
              "Device calibration fetch from web failed. Serial:X");
  expectError(HTUtility::unsupportedLegacyDeviceError("00112233"), 9015,
              "Unsupported legacy device. Serial:00112233");
  expectError(HTUtility::scanError(), 9016, "Error scanning on colorimeter");
  expectError(HTUtility::unsupportedOS(), 9100,
              "Unsupported legacy version of iOS. This feature requires iOS 11 or newer");
  expectError(HTUtility::illegalObserver(), 9920, "Unsupported observer requested");
  EXPECT_EQ(HTUtility::authenticationFailedError().code, 9001);
  EXPECT_EQ(HTUtility::authenticationFailedError().domain, "com.halverninc");
}

TEST(HTUtility, ServerAndFreeFormErrors) {
  expectError(HTUtility::serverResponseError("not_found", 404), 404, "Server Error:not_found");
  expectError(HTUtility::serverResponseError("", 500), 500, "Server Error:");
  expectError(HTUtility::errWithMsg("no response body", 0), 0, "no response body");
  // A serial holding "%@" is put in as it is, not expanded again.
  expectError(HTUtility::noBatchError("%@"), 9013, "Defective device(batching). Serial:%@");
}

TEST(HTUtility, MessagesGoThroughTheTranslationHook) {
  HTUtility::setTranslation([](std::string_view m) -> std::string {
    if (m == "No peripherals found") return "Keine Geräte gefunden";
    if (m == "Defective device(batching). Serial:%@")
      return "Gerät defekt (Charge). Seriennummer:%@";
    return "";  // no translation: the message itself
  });
  expectError(HTUtility::noBlePeripheralsError(), 9007, "Keine Geräte gefunden");
  expectError(HTUtility::noBatchError("42"), 9013, "Gerät defekt (Charge). Seriennummer:42");
  expectError(HTUtility::noCalError(), 9008, "Device Not Calibrated");
  HTUtility::setTranslation([](std::string_view) -> std::string { throw std::runtime_error("x"); });
  expectError(HTUtility::noCalError(), 9008, "Device Not Calibrated");
  HTUtility::setTranslation(nullptr);
  expectError(HTUtility::noBlePeripheralsError(), 9007, "No peripherals found");
}
