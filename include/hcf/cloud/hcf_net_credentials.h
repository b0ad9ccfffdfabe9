// Cloud login and the credentials it returns.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/core/json.h"
#include "hcf/platform/http/session.h"

HCF_NAMESPACE_BEGIN

/// The credentials one login with the application's SDK key returns. A plain value: the kit
/// replaces it rather than changing it.
struct HCF_API HCFNetCredentials {
  std::optional<std::string> sdkKey;          ///< "sdk_key"
  std::optional<std::string> sessionToken;    ///< "session_token"
  std::optional<std::string> subscriptionID;  ///< "subscription_id"
  std::optional<std::string> b2APIKey;        ///< "b2_access_key"
  std::optional<std::string> platformID;      ///< "platform_id"
  std::optional<std::string> packageID;       ///< "package_id"

  /// Credentials holding only the SDK key.
  static HCFNetCredentials credsWithSDKKey(const std::string& sdkKey);
  /// From a login answer: each field is its member as text ("%@"): a missing member gives
  /// "(null)", a JSON null "<null>", a number its decimal text.
  static HCFNetCredentials sdkAuthResponseFromDictionary(const JsonValue& response);
  /// `sdkAuthResponseFromDictionary`.
  static HCFNetCredentials credsFromDictionary(const JsonValue& response) {
    return sdkAuthResponseFromDictionary(response);
  }
  /// "sdk_key", "session_token", "subscription_id", "b2_access_key", "platform_id" for the
  /// fields that are present; never "package_id".
  JsonValue toDictionary() const;
  /// `toDictionary()` as JSON text indented by two, for logs.
  std::string description() const;
  /// The headers of the cloud product services: "Session-Token" and "Cas-Sub-Id".
  http::Headers headersForTintVault() const;

  /// True when every field is equal.
  friend bool operator==(const HCFNetCredentials&, const HCFNetCredentials&) = default;
};

/// Logs in to the cloud.
class HCF_API HCFNetCas {
 public:
  HCFNetCas() = delete;

  /// The fixed value of the "CAST" header of every login.
  static constexpr const char* kCastHeaderValue = "5d2a8c47-91e3-4b6f-a0d8-3e7c19f4b2a6";

  /// POSTs {"token": sdkKey} to "<api host>/cas/sdk/auth". The completion (on a global queue)
  /// gets the credentials, or: a transport failure's own error unchanged (URL-loading domain),
  /// or the authentication failure (9001) for a status of 400 or more or a body that is not
  /// JSON.
  static void authSDKUsingKey(
      const std::string& sdkKey,
      std::function<void(std::optional<HCFNetCredentials>, std::optional<HCFError>)> onComplete);
};

HCF_NAMESPACE_END
