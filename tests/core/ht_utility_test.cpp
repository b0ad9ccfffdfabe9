// The kit's error table.
#include "hcf/core/ht_utility.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using hcf::HCFError;
using hcf::HTUtility;
using hcf::NativeError;

namespace {

void expectError(const HCFError& e, std::int64_t code, const std::string& message) {
  EXPECT_EQ(e.domain, "com.halverninc");
  EXPECT_EQ(e.code, code);
  EXPECT_EQ(e.localizedDescription, message);
  EXPECT_EQ(e.localizedFailureReason, message);
  EXPECT_EQ(e.localizedRecoverySuggestion, message);
  EXPECT_FALSE(e.isTransportError());
}

std::string sourceText(const std::string& relative) {
  std::ifstream in(std::string(HCF_SOURCE_DIR) + "/" + relative);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Name → code of every match of `pattern` in `text`; false in `distinct` when a name or a code
// comes twice.
std::map<std::string, std::int64_t> namedCodes(const std::string& text, const std::regex& pattern,
                                               int nameGroup, int codeGroup, bool& distinct) {
  std::map<std::string, std::int64_t> out;
  std::set<std::int64_t> codes;
  distinct = true;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    const std::int64_t code = std::stoll((*it)[codeGroup].str());
    if (!codes.insert(code).second) distinct = false;
    if (!out.emplace((*it)[nameGroup].str(), code).second) distinct = false;
  }
  return out;
}

}  // namespace

TEST(HTUtility, EveryCodeIsDistinctAndDocumentedInTheErrorTable) {
  std::string header = sourceText("include/hcf/core/ht_utility.h");
  header = header.substr(header.find("namespace error_code {"));
  bool headerDistinct = false, docDistinct = false;
  const auto constants =
      namedCodes(header, std::regex(R"(inline constexpr std::int64_t (k\w+)\s*=\s*(\d+);)"), 1, 2,
                 headerDistinct);
  const auto documented = namedCodes(sourceText("docs/errors.md"),
                                     std::regex(R"(\n\| (\d+) \| `(k\w+)` \|)"), 2, 1, docDistinct);
  EXPECT_GE(constants.size(), 40u);
  EXPECT_TRUE(headerDistinct) << "two constants of error_code share a code";
  EXPECT_TRUE(docDistinct) << "docs/errors.md lists a code or a name twice";
  EXPECT_EQ(constants, documented) << "docs/errors.md and error_code differ";
}

TEST(HTUtility, NamedErrorsAndWhatTheyKeepOfTheFailureUnderneath) {
  const HCFError transport{hcf::kURLErrorDomain,
                           -1004,
                           "Could not connect",
                           "",
                           "",
                           NativeError{"curl", 7, "Couldn't connect to server"}};
  const HCFError notJSON{"NSCocoaErrorDomain", 3840, "not JSON", "", "", std::nullopt};
  struct Row {
    HCFError error;
    std::int64_t code;
    std::string message;
    std::optional<NativeError> native;
  };
  const Row rows[] = {
      {HTUtility::deviceNotFoundError(), 9200, "Device not found", std::nullopt},
      {HTUtility::operationHaltedError(), 9201, "Operation halted", std::nullopt},
      {HTUtility::unknownDeviceError(), 9210, "Unknown Device", std::nullopt},
      {HTUtility::noResponseBodyError(), 9240, "no response body", std::nullopt},
      {HTUtility::jsonEncodingError(), 9241, "Error encoding JSON request.", std::nullopt},
      {HTUtility::storeError("disk I/O error"), 9260, "Store error: disk I/O error", std::nullopt},
      {HTUtility::catalogStatusError(transport), 9250, "Could not connect",
       NativeError{hcf::kURLErrorDomain, -1004, "Couldn't connect to server"}},
      {HTUtility::catalogStatusError(HTUtility::serverResponseError("", 503)), 9251,
       "Server Error:", NativeError{"com.halverninc", 503, ""}},
      {HTUtility::catalogStatusError(notJSON), 9252, "not JSON",
       NativeError{"NSCocoaErrorDomain", 3840, ""}},
      {HTUtility::catalogStatusError(HTUtility::invalidDataError("no date")), 9252,
       "Invalid data: no date", NativeError{"com.halverninc", 9930, ""}},
      {HTUtility::fileReadError("a cannot be read", ENOENT), 9290, "a cannot be read",
       NativeError{"errno", ENOENT, std::strerror(ENOENT)}},
      {HTUtility::fileWriteError("b could not be written", ENOSPC), 9291, "b could not be written",
       NativeError{"errno", ENOSPC, std::strerror(ENOSPC)}},
      {HTUtility::fileWriteError("no reason known", 0), 9291, "no reason known", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    expectError(row.error, row.code, row.message);
    EXPECT_EQ(row.error.native, row.native);
  }
}

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
  expectError(HTUtility::errWithMsg("Free text", 9930), 9930, "Free text");
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
