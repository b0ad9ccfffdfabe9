#include "hcf/cloud/hcf_net_common.h"

#include <cctype>
#include <cmath>

#include "../core/json_text.h"
#include "fixed_headers.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN

namespace {

using cloud::kJSONContentType;
using cloud::withFixedHeaders;
// The platform's error for a body that is not JSON.
constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kPropertyListReadCorruptError = 3840;

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

HCFError parseError(const std::string& detail) {
  const std::string text = "The data couldn't be read because it isn't in the correct format.";
  return HCFError{kCocoaErrorDomain,
                  kPropertyListReadCorruptError,
                  text,
                  text,
                  text,
                  NativeError{"nlohmann_json", 0, detail}};
}

std::optional<JsonValue> parseJSON(const Bytes& body, std::optional<HCFError>* error) {
  try {
    return json_text::parse(
        std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
  } catch (const JsonValue::exception& e) {
    if (error) *error = parseError(e.what());
    return std::nullopt;
  }
}

// The server's "message" of an error body, "hi-" prefix removed; empty when the body is not
// a JSON object with that member.
std::string serverMessage(const std::optional<Bytes>& body) {
  if (!body || body->empty()) return "";
  const auto json = parseJSON(*body, nullptr);
  if (!json || !json->is_object()) return "";
  const auto it = json->find("message");
  if (it == json->end() || it->is_null()) return "";
  std::string message = it->is_string() ? it->get<std::string>() : it->dump();
  if (message.rfind("hi-", 0) == 0) message.erase(0, 3);
  return message;
}

// True when every number in `v` is finite (JSON has no text for the others).
bool finiteNumbers(const JsonValue& v) {
  if (v.is_number_float()) return std::isfinite(v.get<double>());
  if (v.is_structured()) {
    for (const auto& child : v) {
      if (!finiteNumbers(child)) return false;
    }
  }
  return true;
}

std::optional<std::string> writeJSON(const JsonValue& v, int options, std::string* reason) {
  if (!finiteNumbers(v)) {
    if (reason) *reason = "Invalid number value (NaN or infinity) in JSON write";
    return std::nullopt;
  }
  try {
    return options == 1 ? v.dump(2) : v.dump();
  } catch (const JsonValue::exception& e) {
    if (reason) *reason = e.what();
    return std::nullopt;
  }
}

}  // namespace

http::Headers cloud::withFixedHeaders(const http::Headers& caller, const std::string& contentType) {
  http::Headers out;
  for (const auto& h : caller) {
    if (sameName(h.first, "Content-Type") || sameName(h.first, "Accept-Encoding")) continue;
    out.push_back(h);
  }
  out.emplace_back("Content-Type", contentType);
  out.emplace_back("Accept-Encoding", "gzip");
  return out;
}

void HCFNetCommon::doJSONRequestOnCompErr(http::Request request, JSONErrorCompletion onComplete) {
  http::Session::shared().dataTask(std::move(request), [onComplete = std::move(onComplete)](
                                                           std::optional<Bytes> body,
                                                           std::optional<http::Response> response,
                                                           std::optional<HCFError> error) {
    if (error) return onComplete(std::nullopt, std::move(error));
    if (response && response->statusCode > 399) {
      return onComplete(std::nullopt,
                        HTUtility::serverResponseError(serverMessage(body), response->statusCode));
    }
    if (!body || body->empty()) {
      return onComplete(std::nullopt, HTUtility::noResponseBodyError());
    }
    std::optional<HCFError> parseFailure;
    auto json = parseJSON(*body, &parseFailure);
    if (!json) return onComplete(std::nullopt, std::move(parseFailure));
    onComplete(std::move(json), std::nullopt);
  });
}

void HCFNetCommon::doJSONRequestOnComplete(http::Request request,
                                           JSONErrorTextCompletion onComplete) {
  doJSONRequestOnCompErr(std::move(request),
                         [onComplete = std::move(onComplete)](std::optional<JsonValue> json,
                                                              std::optional<HCFError> error) {
                           if (error) return onComplete(std::nullopt, error->localizedDescription);
                           onComplete(std::move(json), std::nullopt);
                         });
}

void HCFNetCommon::fetchJSONFrom(const std::string& url, JSONErrorTextCompletion onComplete) {
  fetchJSONFrom(url, {}, std::move(onComplete));
}

void HCFNetCommon::fetchJSONFrom(const std::string& url, const http::Headers& headers,
                                 JSONErrorTextCompletion onComplete) {
  http::Request r;
  r.url = url;
  r.method = "GET";  // nothing is cached here: every fetch goes to the server
  r.headers = withFixedHeaders(headers, kJSONContentType);
  doJSONRequestOnComplete(std::move(r), std::move(onComplete));
}

void HCFNetCommon::postJSON(const std::optional<JsonValue>& object, const http::Headers& headers,
                            const std::string& url, JSONErrorCompletion onComplete) {
  const JsonValue body = object ? *object : JsonValue::object();
  const auto text = writeJSON(body, 0, nullptr);
  if (!text) {
    // Completes on the callback queue, as every answer does.
    dispatch::globalQueue().async([onComplete = std::move(onComplete)] {
      onComplete(std::nullopt, HTUtility::jsonEncodingError());
    });
    return;
  }
  http::Request r;
  r.url = url;
  r.method = "POST";
  r.headers = withFixedHeaders(headers, kJSONContentType);
  r.body.assign(text->begin(), text->end());
  doJSONRequestOnCompErr(std::move(r), std::move(onComplete));
}

void HCFNetCommon::queryDataFrom(const std::string& url, const http::Headers& headers,
                                 DataCompletion onComplete) {
  fetchDataFrom(url, "POST", kJSONContentType, headers, std::move(onComplete));
}

void HCFNetCommon::fetchDataFrom(const std::string& url, const std::string& httpMethod,
                                 const std::string& contentType, const http::Headers& headers,
                                 DataCompletion onComplete) {
  fetchResponseFrom(
      url, httpMethod, contentType, headers,
      [onComplete = std::move(onComplete)](std::optional<Bytes> data, std::optional<http::Response>,
                                           std::optional<std::string> error) {
        onComplete(std::move(data), std::move(error));
      });
}

void HCFNetCommon::fetchResponseFrom(const std::string& url, const std::string& httpMethod,
                                     const std::string& contentType, const http::Headers& headers,
                                     ResponseCompletion onComplete) {
  http::Request r;
  r.url = url;
  r.method = httpMethod;
  r.headers = withFixedHeaders(headers, contentType);
  http::Session::shared().dataTask(
      std::move(r), [onComplete = std::move(onComplete)](std::optional<Bytes> body,
                                                         std::optional<http::Response> response,
                                                         std::optional<HCFError> error) {
        if (error) return onComplete(std::nullopt, std::nullopt, error->localizedDescription);
        if (response && response->statusCode > 399) {
          auto reason =
              "Received bad response (" + std::to_string(response->statusCode) + ") from server.";
          return onComplete(std::nullopt, std::move(response), std::move(reason));
        }
        onComplete(std::move(body), std::move(response), std::nullopt);
      });
}

std::optional<std::string> HCFNetCommon::hJsonString(const JsonValue& value, int options) {
  std::string reason;
  auto text = writeJSON(value, options, &reason);
  if (!text) logLine("hJsonString: error: " + reason);
  return text;
}

std::optional<Bytes> HCFNetCommon::toJsonData(const JsonValue& value, int options) {
  auto text = writeJSON(value, options, nullptr);
  if (!text) return std::nullopt;
  return Bytes(text->begin(), text->end());
}

HCF_NAMESPACE_END
