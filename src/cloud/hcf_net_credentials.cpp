#include "hcf/cloud/hcf_net_credentials.h"

#include <mutex>

#include "current_credentials.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hcf_net_common.h"
#include "hcf/core/ht_utility.h"
#include "hcf/platform/http/session.h"

HCF_NAMESPACE_BEGIN

namespace {

// A member as the platform's "%@" writes it.
std::string asText(const JsonValue& dict, const char* key) {
  if (!dict.is_object()) return "(null)";
  const auto it = dict.find(key);
  if (it == dict.end()) return "(null)";
  if (it->is_null()) return "<null>";
  if (it->is_string()) return it->get<std::string>();
  if (it->is_boolean()) return it->get<bool>() ? "1" : "0";
  return it->dump();
}

// A login answered with an error status. The cloud being down, overloaded or slow (5xx, 408,
// 429) is an outage, told apart as the transport's failures are, so that the kit starts
// offline; 400, 401 and 403 refuse the key; any other status is the server's own error.
HCFError loginStatusError(const HCFError& answer, const std::string& url) {
  const std::int64_t status = answer.code;
  if (status >= 500 || status == 408 || status == 429) {
    const std::string message =
        "The cloud is not available now (HTTP " + std::to_string(status) + " from " + url + ").";
    return HCFError{kURLErrorDomain, http::url_error::kBadServerResponse,  message, message,
                    message,         NativeError{"http", status, "status"}};
  }
  if (status == 400 || status == 401 || status == 403) return HTUtility::loginRefusedError(status);
  return answer;
}

}  // namespace

HCFNetCredentials HCFNetCredentials::credsWithSDKKey(const std::string& sdkKey) {
  HCFNetCredentials c;
  c.sdkKey = sdkKey;
  return c;
}

HCFNetCredentials HCFNetCredentials::sdkAuthResponseFromDictionary(const JsonValue& r) {
  HCFNetCredentials c;
  c.sdkKey = asText(r, "sdk_key");
  c.sessionToken = asText(r, "session_token");
  c.subscriptionID = asText(r, "subscription_id");
  c.b2APIKey = asText(r, "b2_access_key");
  c.platformID = asText(r, "platform_id");
  c.packageID = asText(r, "package_id");
  return c;
}

JsonValue HCFNetCredentials::toDictionary() const {
  JsonValue d = JsonValue::object();
  if (sdkKey) d["sdk_key"] = *sdkKey;
  if (sessionToken) d["session_token"] = *sessionToken;
  if (subscriptionID) d["subscription_id"] = *subscriptionID;
  if (b2APIKey) d["b2_access_key"] = *b2APIKey;
  if (platformID) d["platform_id"] = *platformID;
  return d;
}

std::string HCFNetCredentials::description() const { return toDictionary().dump(2); }

http::Headers HCFNetCredentials::headersForTintVault() const {
  return {{"Session-Token", sessionToken.value_or("")},
          {"Cas-Sub-Id", subscriptionID.value_or("")}};
}

void HCFNetCas::authSDKUsingKey(
    const std::string& sdkKey,
    std::function<void(std::optional<HCFNetCredentials>, std::optional<HCFError>)> onComplete) {
  const std::string url = CloudEndpoints::current().apiHost + "/cas" + "/sdk/auth";
  HCFNetCommon::postJSON(
      JsonValue{{"token", sdkKey}}, {{"CAST", kCastHeaderValue}}, url,
      [onComplete = std::move(onComplete), url](std::optional<JsonValue> json,
                                                std::optional<HCFError> error) {
        if (error && error->isTransportError()) {
          return onComplete(std::nullopt, std::move(error));
        }
        if (error && error->domain == kHCFErrorDomain && error->code >= 400 && error->code < 600) {
          return onComplete(std::nullopt, loginStatusError(*error, url));
        }
        // A reply that is not an object carries no credentials: taking it for a login would
        // replace working credentials with empty ones.
        if (error || !json || !json->is_object()) {
          return onComplete(std::nullopt, HTUtility::loginAnswerUnreadableError());
        }
        onComplete(HCFNetCredentials::sdkAuthResponseFromDictionary(*json), std::nullopt);
      });
}

namespace {

struct Current {
  std::mutex mutex;
  HCFNetCredentials creds;
};

Current& current() {
  static Current c;
  return c;
}

}  // namespace

HCFNetCredentials currentCredentials() {
  const std::lock_guard lock(current().mutex);
  return current().creds;
}

void setCurrentCredentials(const HCFNetCredentials& creds) {
  const std::lock_guard lock(current().mutex);
  current().creds = creds;
}

HCF_NAMESPACE_END
