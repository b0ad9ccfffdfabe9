// The one HTTP layer of the kit: every cloud call goes through it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/core/json.h"
#include "hcf/platform/http/session.h"

HCF_NAMESPACE_BEGIN

/// JSON answer or an error value.
using JSONErrorCompletion =
    std::function<void(std::optional<JsonValue> json, std::optional<HCFError> error)>;
/// JSON answer or an error text.
using JSONErrorTextCompletion =
    std::function<void(std::optional<JsonValue> json, std::optional<std::string> error)>;
/// Raw answer or an error text.
using DataCompletion =
    std::function<void(std::optional<Bytes> data, std::optional<std::string> error)>;
/// Raw answer with the response, or an error text.
using ResponseCompletion =
    std::function<void(std::optional<Bytes> data, std::optional<http::Response> response,
                       std::optional<std::string> error)>;

/// A point in time (the kit's dates).
using Date = std::chrono::system_clock::time_point;

/// Builds requests with the kit's fixed headers ("Content-Type", "Accept-Encoding: gzip", set
/// after the caller's so they win), runs them on the shared session and turns the answers into
/// JSON, bytes or errors. Completions run on a global queue, never on the caller's thread.
/// Transport failures keep the URL-loading domain (so a missing network can be told from a
/// server's answer); a status above 399 gives "Server Error:<message>" with the server's
/// "message" (a leading "hi-" removed) and the status as code; an empty body gives
/// "no response body"; a body that is not JSON gives the parse error.
class HCF_API HCFNetCommon {
 public:
  HCFNetCommon() = delete;

  /// GET `url` for JSON.
  static void fetchJSONFrom(const std::string& url, JSONErrorTextCompletion onComplete);
  /// GET `url` for JSON with the caller's headers.
  static void fetchJSONFrom(const std::string& url, const http::Headers& headers,
                            JSONErrorTextCompletion onComplete);
  /// POST `object` (an empty object when absent) as JSON. A value that cannot be written as
  /// JSON (not-a-number, infinity, invalid UTF-8) completes at once with "Error encoding JSON
  /// request." (code 0) and sends nothing.
  static void postJSON(const std::optional<JsonValue>& object, const http::Headers& headers,
                       const std::string& url, JSONErrorCompletion onComplete);
  /// POST with content type "application/json; charset=utf-8", for raw bytes.
  static void queryDataFrom(const std::string& url, const http::Headers& headers,
                            DataCompletion onComplete);
  /// Any method, for raw bytes.
  static void fetchDataFrom(const std::string& url, const std::string& httpMethod,
                            const std::string& contentType, const http::Headers& headers,
                            DataCompletion onComplete);
  /// Any method, for raw bytes and the response: a status above 399 gives "Received bad
  /// response (\<status\>) from server.".
  static void fetchResponseFrom(const std::string& url, const std::string& httpMethod,
                                const std::string& contentType, const http::Headers& headers,
                                ResponseCompletion onComplete);
  /// Runs a prepared request for JSON; errors as their text.
  static void doJSONRequestOnComplete(http::Request request, JSONErrorTextCompletion onComplete);
  /// Runs a prepared request for JSON; errors as values.
  static void doJSONRequestOnCompErr(http::Request request, JSONErrorCompletion onComplete);

  /// Parses an RFC 3339 date ("2019-03-04T05:06:07.123+01:00", "…07Z", or "…07" read as UTC).
  /// An absent value gives the current date; text of no known form logs "Could not parse
  /// RFC3339 date: "\<text\>" Possibly invalid format." and gives nothing.
  static std::optional<Date> dateFromRFC3339String(const std::optional<std::string>& text);
  /// The date in UTC as "yyyy-MM-ddTHH:mm:ss.SSSZ" (always milliseconds and a literal Z).
  static std::string RFC3339StringFromDate(Date date);

  /// JSON text of `value` (options 1: pretty-printed, 0: compact); on failure logs
  /// "hJsonString: error: <reason>" and gives nothing.
  static std::optional<std::string> hJsonString(const JsonValue& value, int options);
  /// JSON bytes of `value`; nothing on failure.
  static std::optional<Bytes> toJsonData(const JsonValue& value, int options);
};

HCF_NAMESPACE_END
