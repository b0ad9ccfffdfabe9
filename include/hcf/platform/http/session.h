// The URL session: HTTP(S) requests run by one worker thread, completions on a global queue.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN
/// HTTP(S) for the cloud services: requests and streamed transfers over libcurl, and the
/// transport errors of the URL-loading domain.
namespace http {

/// Header fields in order; names compare without regard to case.
using Headers = std::vector<std::pair<std::string, std::string>>;

/// The value of header `name` (case-insensitive), if present.
HCF_API std::optional<std::string> headerValue(const Headers& headers, std::string_view name);

/// One request.
struct Request {
  std::string url;             ///< absolute http or https URL
  std::string method = "GET";  ///< the HTTP method, upper case
  Headers headers;             ///< sent as given, in order
  Bytes body;                  ///< sent with any method but GET and HEAD
  /// The whole exchange must end within this time, or it fails with "The request timed out.";
  /// unset: the session's default.
  std::optional<std::chrono::milliseconds> timeout;
  /// A body longer than this fails the request ("resource exceeds maximum size"). The kit's
  /// answers are far smaller; the bound keeps a broken or hostile server from filling memory.
  std::size_t maxBodyBytes = std::size_t{64} << 20;
  /// Answers are gzip-decoded; "Accept-Encoding: gzip" is sent.
  bool acceptGzip = true;
};

/// An HTTP answer (any status).
struct Response {
  long statusCode = 0;  ///< the HTTP status of the final response (after redirects)
  Headers headers;      ///< the final response's header fields, in order
  std::string url;      ///< the final URL after redirects
};

/// The outcome of a request: the body and response, or a transport error (domain
/// NSURLErrorDomain with the platform's code and text, the CURLcode kept inside).
using Completion = std::function<void(std::optional<Bytes> body, std::optional<Response> response,
                                      std::optional<HCFError> error)>;

/// The events of a streamed transfer. They run on the session's worker thread, in order, one
/// at a time: keep them short and never wait in them for other requests. The session lets go
/// of them once `onComplete` has run, so what they capture may own the task.
struct StreamDelegate {
  /// The final response's status and headers, before any body; false stops the transfer.
  std::function<bool(const Response& response)> onResponse;
  /// The next piece of the body (at most `StreamTask::kChunkBytes`); false stops the transfer.
  std::function<bool(const std::uint8_t* data, std::size_t size)> onData;
  /// The end: no error when the whole body arrived (a body shorter than its announced length
  /// is "The network connection was lost."); a transfer stopped by the delegate or cancelled
  /// ends with `url_error::kCancelled` ("cancelled").
  std::function<void(std::optional<HCFError> error)> onComplete;
};

/// A streamed transfer under way.
class HCF_API StreamTask {
 public:
  /// The largest piece of body handed over at once.
  static constexpr std::size_t kChunkBytes = 256 * 1024;
  /// Stops the transfer: no data event follows; `onComplete` reports the cancellation.
  /// Any thread; a transfer already ended is left alone.
  void cancel();

  /// The transfer's state, shared with the session's worker.
  struct State;
  /// For `Session::streamTask`: the task over `state`.
  explicit StreamTask(std::shared_ptr<State> state) : state_(std::move(state)) {}

 private:
  std::shared_ptr<State> state_;
};

/// Runs requests. TLS peers are verified, redirects followed, only http and https allowed.
/// Completions run on a global queue (never on the caller's thread); the session keeps no
/// state between requests, so calls may overlap freely.
class HCF_API Session {
 public:
  /// The shared session.
  static Session& shared();

  /// Starts `request`; `completion` is called once.
  void dataTask(Request request, Completion completion);
  /// Starts `request` with its body handed to `delegate` piece by piece as it arrives (never
  /// held whole; `maxBodyBytes` does not apply). Every status is passed on.
  std::shared_ptr<StreamTask> streamTask(Request request, StreamDelegate delegate);

  /// The time-out of requests that do not set their own (default 60 s).
  void setDefaultTimeout(std::chrono::milliseconds timeout);
  /// The time-out of requests that do not set their own.
  std::chrono::milliseconds defaultTimeout() const;

  struct Impl;
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  std::unique_ptr<Impl> impl_;
};

/// The platform's codes of the URL-loading domain the session reports.
namespace url_error {
/// Any other transport failure ("An unknown error occurred.").
inline constexpr std::int64_t kUnknown = -1;
/// The transfer was cancelled or stopped by its delegate ("cancelled").
inline constexpr std::int64_t kCancelled = -999;
/// The exchange did not end within its time-out ("The request timed out.").
inline constexpr std::int64_t kTimedOut = -1001;
/// A malformed URL, a scheme other than http and https, or a redirect the session refuses.
inline constexpr std::int64_t kUnsupportedURL = -1002;
/// The host name could not be resolved.
inline constexpr std::int64_t kCannotFindHost = -1003;
/// The server refused the connection or could not be reached.
inline constexpr std::int64_t kCannotConnectToHost = -1004;
/// The connection broke mid-exchange, or the body was shorter than announced.
inline constexpr std::int64_t kNetworkConnectionLost = -1005;
/// The redirects did not end ("too many HTTP redirects").
inline constexpr std::int64_t kTooManyRedirects = -1007;
/// The server's answer could not be used (an unreadable login answer, for one).
inline constexpr std::int64_t kBadServerResponse = -1011;
/// No route to the network or the host: the machine is offline.
inline constexpr std::int64_t kNotConnectedToInternet = -1009;
/// The body's content encoding (gzip) could not be decoded.
inline constexpr std::int64_t kCannotDecodeContentData = -1016;
/// The body was longer than the request's `maxBodyBytes`.
inline constexpr std::int64_t kDataLengthExceedsMaximum = -1103;
/// TLS could not be set up, or a redirect would leave https for http.
inline constexpr std::int64_t kSecureConnectionFailed = -1200;
/// The server's certificate was refused as not valid.
inline constexpr std::int64_t kServerCertificateUntrusted = -1202;
}  // namespace url_error

/// The error a cancelled or stopped transfer ends with (`url_error::kCancelled`,
/// "cancelled"); also for work that a cancellation stops after the transfer.
HCF_API HCFError cancelledError();

/// The seconds since 1970 of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT" and the older
/// forms HTTP allows); none when the text is not a date.
HCF_API std::optional<std::int64_t> parseHttpDate(const std::string& text);

}  // namespace http
HCF_NAMESPACE_END
