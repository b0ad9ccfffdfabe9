#include "hcf/platform/http/session.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "hcf/core/ht_utility.h"
#include "hcf/core/version.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace http {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

HCFError urlError(std::int64_t code, std::string message, CURLcode curl) {
  HCFError e;
  e.domain = kURLErrorDomain;
  e.code = code;
  e.localizedDescription = message;
  e.localizedFailureReason = message;
  e.localizedRecoverySuggestion = message;
  e.native = NativeError{"curl", static_cast<std::int64_t>(curl), curl_easy_strerror(curl)};
  return e;
}

// A URL's parts as libcurl reads them; empty texts for the parts it lacks.
struct UrlParts {
  std::string scheme;
  std::string host;
  std::string port;         // as written; empty when the URL names none
  std::string defaultPort;  // the scheme's when none is written
};

UrlParts partsOf(const std::string& url) {
  UrlParts parts;
  CURLU* u = curl_url();
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    const auto get = [u](CURLUPart part, unsigned flags, std::string& out) {
      char* text = nullptr;
      if (curl_url_get(u, part, &text, flags) == CURLUE_OK) out = text;
      curl_free(text);
    };
    get(CURLUPART_SCHEME, 0, parts.scheme);
    get(CURLUPART_HOST, 0, parts.host);
    get(CURLUPART_PORT, 0, parts.port);
    get(CURLUPART_PORT, CURLU_DEFAULT_PORT, parts.defaultPort);
  }
  curl_url_cleanup(u);
  return parts;
}

// The host (with its port when the URL names one) of `url`; empty when it has none.
std::string hostOf(const std::string& url) {
  const UrlParts parts = partsOf(url);
  return parts.port.empty() ? parts.host : parts.host + ":" + parts.port;
}

// The platform's error for a failed transfer to `host`.
HCFError transportError(CURLcode code, long osErrno, bool tooLarge, const std::string& host) {
  using namespace url_error;
  if (tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    return urlError(kDataLengthExceedsMaximum, "resource exceeds maximum size", code);
  }
  const std::string named = host.empty() ? "" : " (" + host + ")";
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return urlError(kTimedOut, "The request timed out.", code);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return urlError(kCannotFindHost,
                      "A server with the specified hostname could not be found" + named + ".",
                      code);
    case CURLE_COULDNT_CONNECT:
      if (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH) {
        return urlError(kNotConnectedToInternet, "The Internet connection appears to be offline.",
                        code);
      }
      return urlError(kCannotConnectToHost, "Could not connect to the server" + named + ".", code);
    case CURLE_PEER_FAILED_VERIFICATION:
      return urlError(kServerCertificateUntrusted,
                      "The certificate of the server" + named + " was refused: it is not valid.",
                      code);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_USE_SSL_FAILED:
      return urlError(kSecureConnectionFailed,
                      "An SSL error has occurred and a secure connection to the server" + named +
                          " cannot be made.",
                      code);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return urlError(kNetworkConnectionLost, "The network connection was lost.", code);
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return urlError(kUnsupportedURL, "unsupported URL", code);
    case CURLE_TOO_MANY_REDIRECTS:
      return urlError(kTooManyRedirects, "too many HTTP redirects", code);
    case CURLE_BAD_CONTENT_ENCODING:
      return urlError(kCannotDecodeContentData, "cannot decode raw data", code);
    default:
      return urlError(kUnknown, "An unknown error occurred.", code);
  }
}

}  // namespace

struct StreamTask::State {
  StreamDelegate delegate;
  std::atomic<bool> cancelled{false};
  std::function<void()> wake;  // wakes the worker to notice a cancellation
};

void StreamTask::cancel() {
  if (state_->cancelled.exchange(true)) return;
  if (state_->wake) state_->wake();
}

namespace {

struct Transfer {
  Request request;
  Completion completion;
  std::shared_ptr<StreamTask::State> stream;  // a streamed transfer's delegate
  bool responseDelivered = false;
  bool stopped = false;  // the delegate or a cancellation ended it
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  Bytes body;
  Response response;
  bool tooLarge = false;
  // Redirects are followed here, not by libcurl, so that no credential leaves its origin.
  long status = 0;           // of the response being received
  bool redirecting = false;  // that response is a redirect: its body is not wanted
  int redirects = 0;
  // The time-out is an idle one: the transfer fails when nothing moves for that long.
  std::chrono::steady_clock::time_point lastActivity;
  std::chrono::milliseconds idleLimit{0};
  curl_off_t lastBytes = -1;
  bool idleExpired = false;
  std::optional<HCFError> redirectError;
  dispatch::WorkInFlight inFlight;  // the manual-clock main queue waits for the answer

  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    if (headerList) curl_slist_free_all(headerList);
  }
};

// A streamed transfer's response head, once, before its first data; false stops it.
bool deliverResponse(Transfer& t) {
  if (t.responseDelivered) return true;
  t.responseDelivered = true;
  curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &t.response.statusCode);
  char* url = nullptr;
  curl_easy_getinfo(t.easy, CURLINFO_EFFECTIVE_URL, &url);
  if (url) t.response.url = url;
  return !t.stream->delegate.onResponse || t.stream->delegate.onResponse(t.response);
}

size_t onStreamBody(Transfer& t, const char* data, size_t n) {
  if (t.stream->cancelled || !deliverResponse(t)) {
    t.stopped = true;
    return 0;  // aborts the transfer
  }
  if (t.stream->delegate.onData &&
      !t.stream->delegate.onData(reinterpret_cast<const std::uint8_t*>(data), n)) {
    t.stopped = true;
    return 0;
  }
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->redirecting) return n;
  if (t->stream) return onStreamBody(*t, data, n);
  if (t->body.size() + n > t->request.maxBodyBytes) {
    t->tooLarge = true;
    return 0;  // aborts the transfer
  }
  t->body.insert(t->body.end(), data, data + n);
  return n;
}

int onProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
               curl_off_t ulnow) {
  (void)dltotal;
  (void)ultotal;
  auto* t = static_cast<Transfer*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (dlnow + ulnow != t->lastBytes) {
    t->lastBytes = dlnow + ulnow;
    t->lastActivity = now;
    return 0;
  }
  if (now - t->lastActivity <= t->idleLimit) return 0;
  t->idleExpired = true;
  return 1;  // aborts the transfer
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.rfind("HTTP/", 0) == 0) {
    t->response.headers.clear();  // a new response (after a 100 Continue)
    const auto space = line.find(' ');
    t->status = space == std::string_view::npos
                    ? 0
                    : std::atol(std::string(line.substr(space + 1, 3)).c_str());
    t->redirecting = false;
  } else if (line.empty()) {
    const bool redirect = t->status == 301 || t->status == 302 || t->status == 303 ||
                          t->status == 307 || t->status == 308;
    t->redirecting = redirect && headerValue(t->response.headers, "Location").has_value();
  } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    t->response.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  return n;
}

// The error of a transfer that failed with `result`.
HCFError failure(Transfer& t, CURLcode result) {
  if (t.idleExpired) return transportError(CURLE_OPERATION_TIMEDOUT, 0, false, "");
  long osErrno = 0;
  curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osErrno);
  return transportError(result, osErrno, t.tooLarge, hostOf(t.request.url));
}

bool isCredentialSafe(std::string_view header) {
  for (const char* safe : {"Accept", "Accept-Encoding", "Accept-Language", "Cache-Control",
                           "Content-Type", "Pragma", "User-Agent"}) {
    if (equalsIgnoringCase(header, safe)) return true;
  }
  return false;
}

// "scheme://host:port" of a URL (the port made explicit), empty when it cannot be read.
std::string originOf(const std::string& url) {
  const UrlParts parts = partsOf(url);
  if (parts.scheme.empty() || parts.host.empty()) return "";
  std::string origin = parts.scheme + "://" + parts.host + ":" + parts.defaultPort;
  for (char& c : origin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return origin;
}

// Turns `t` into the request its redirect asks for, or says why it is not followed. Within the
// origin the request goes on as it was; to another origin it goes without any header that may
// carry a credential, and a body is never sent there; https never leads to http.
std::optional<HCFError> followRedirect(Transfer& t) {
  using namespace url_error;
  char* target = nullptr;
  curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_URL, &target);
  const std::string to = target ? target : "";
  const auto refused = [&](std::int64_t code, const std::string& why) {
    return urlError(code, why, CURLE_TOO_MANY_REDIRECTS);
  };
  if (to.empty()) return refused(kUnsupportedURL, "The server's redirect has no target.");
  if (++t.redirects > 16) return refused(kTooManyRedirects, "too many HTTP redirects");
  const std::string from = t.request.url;
  const std::string fromOrigin = originOf(from);
  const std::string toOrigin = originOf(to);
  if (toOrigin.rfind("http://", 0) != 0 && toOrigin.rfind("https://", 0) != 0) {
    return refused(kUnsupportedURL, "The server redirected to a URL the session does not take.");
  }
  if (fromOrigin.rfind("https://", 0) == 0 && toOrigin.rfind("http://", 0) == 0) {
    return refused(kSecureConnectionFailed, "The server (" + hostOf(from) +
                                                ") redirected to an address that is not secure (" +
                                                hostOf(to) + "); it was not followed.");
  }
  Request& r = t.request;
  // 303, and 301/302 after a POST, continue as a GET without the body, as browsers do.
  if (t.status == 303 || ((t.status == 301 || t.status == 302) && r.method == "POST")) {
    r.method = "GET";
    r.body.clear();
  }
  if (toOrigin != fromOrigin) {
    if (!r.body.empty()) {
      return refused(kUnsupportedURL, "The server (" + hostOf(from) +
                                          ") redirected the request to " + hostOf(to) +
                                          "; its body is not sent to another host.");
    }
    std::erase_if(r.headers, [](const auto& h) { return !isCredentialSafe(h.first); });
  }
  r.url = to;
  // The transfer starts again from nothing.
  curl_easy_cleanup(t.easy);
  t.easy = nullptr;
  if (t.headerList) curl_slist_free_all(t.headerList);
  t.headerList = nullptr;
  t.body.clear();
  t.response = Response{};
  t.tooLarge = false;
  t.status = 0;
  t.redirecting = false;
  t.lastBytes = -1;
  return std::nullopt;
}

}  // namespace

HCFError cancelledError() {
  auto e = HTUtility::cancelledError();
  e.native =
      NativeError{"curl", CURLE_ABORTED_BY_CALLBACK, curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK)};
  return e;
}

std::optional<std::int64_t> parseHttpDate(const std::string& text) {
  const time_t t = curl_getdate(text.c_str(), nullptr);
  if (t < 0) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

std::optional<std::string> headerValue(const Headers& headers, std::string_view name) {
  for (const auto& [k, v] : headers) {
    if (equalsIgnoringCase(k, name)) return v;
  }
  return std::nullopt;
}

struct Session::Impl {
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> incoming;
  std::vector<std::unique_ptr<Transfer>> running;
  CURLM* multi = nullptr;
  std::atomic<long long> defaultTimeoutMs{60000};
  std::thread worker;

  Impl() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi = curl_multi_init();
    worker = std::thread([this] { loop(); });
    worker.detach();  // the shared session lives as long as the process
  }

  void start(std::unique_ptr<Transfer> t) {
    CURL* e = curl_easy_init();
    t->easy = e;
    const Request& r = t->request;
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    // The time-out bounds connecting and every silence after it, not the whole exchange: a
    // steady but slow answer goes on, a stalled one fails.
    const long long timeout =
        r.timeout ? static_cast<long long>(r.timeout->count()) : defaultTimeoutMs.load();
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1LL, timeout)));
    t->idleLimit = std::chrono::milliseconds(timeout);
    t->lastActivity = std::chrono::steady_clock::now();
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t.get());
    if (!t->stream) {
      // A body announced longer than allowed is refused before any of it arrives.
      curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(r.maxBodyBytes));
    }
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
    if (t->stream)
      curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(StreamTask::kChunkBytes));
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
    static const std::string agent = std::string("hcf/") + version();
    curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
    if (r.acceptGzip) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip");

    for (const auto& [name, value] : r.headers) {
      // libcurl writes Accept-Encoding itself (and then decodes what it asked for).
      if (r.acceptGzip && equalsIgnoringCase(name, "Accept-Encoding")) continue;
      t->headerList = curl_slist_append(t->headerList, (name + ": " + value).c_str());
    }
    t->headerList = curl_slist_append(t->headerList, "Expect:");  // no 100-continue round trip
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);

    if (r.method == "GET") {
      curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (r.method == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
      if (r.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
      curl_easy_setopt(e, CURLOPT_POST, 1L);
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
      // Never a null pointer here: libcurl would read the body from standard input.
      static const char kEmpty[] = "";
      curl_easy_setopt(e, CURLOPT_POSTFIELDS,
                       r.body.empty() ? kEmpty : reinterpret_cast<const char*>(r.body.data()));
    }
    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    curl_multi_add_handle(multi, e);
    running.push_back(std::move(t));
  }

  void finish(CURL* easy, CURLcode result) {
    auto it = std::find_if(running.begin(), running.end(),
                           [&](const auto& t) { return t->easy == easy; });
    if (it == running.end()) return;
    std::unique_ptr<Transfer> t = std::move(*it);
    running.erase(it);
    curl_multi_remove_handle(multi, easy);
    if (result == CURLE_OK && t->redirecting) {
      auto error = followRedirect(*t);
      if (!error) {
        start(std::move(t));
        return;
      }
      result = CURLE_OK;
      t->redirectError = std::move(error);
    }
    if (t->stream) return finishStream(*t, result);

    std::optional<Bytes> body;
    std::optional<Response> response;
    std::optional<HCFError> error;
    if (t->redirectError) {
      error = std::move(t->redirectError);
    } else if (result != CURLE_OK) {
      error = failure(*t, result);
    } else {
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &t->response.statusCode);
      char* url = nullptr;
      curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
      if (url) t->response.url = url;
      response = std::move(t->response);
      body = std::move(t->body);
    }
    Completion completion = std::move(t->completion);
    dispatch::globalQueue().async([completion = std::move(completion), body = std::move(body),
                                   response = std::move(response), error = std::move(error)] {
      if (completion) completion(body, response, error);
    });
    // `t` (and its in-flight token) goes only now, after the completion is queued.
  }

  // A streamed transfer ends on the worker thread, after its last data event.
  void finishStream(Transfer& t, CURLcode result) {
    std::optional<HCFError> error;
    if (t.stopped || t.stream->cancelled) {
      error = cancelledError();
    } else if (t.redirectError) {
      error = std::move(t.redirectError);
    } else if (result != CURLE_OK) {
      error = failure(t, result);
    } else if (!deliverResponse(t)) {  // an empty body: the head alone
      error = cancelledError();
    }
    // The events go with the end: a task kept by its caller must not keep alive what they
    // hold (often the caller itself, which would then never be freed).
    const auto events = std::exchange(t.stream->delegate, StreamDelegate{});
    if (events.onComplete) events.onComplete(std::move(error));
  }

  // Ends the streamed transfers cancelled since the last turn.
  void finishCancelled() {
    std::vector<CURL*> cancelled;
    for (const auto& t : running) {
      if (t->stream && t->stream->cancelled) cancelled.push_back(t->easy);
    }
    for (CURL* e : cancelled) finish(e, CURLE_ABORTED_BY_CALLBACK);
  }

  void loop() {
    for (;;) {
      finishCancelled();
      {
        std::deque<std::unique_ptr<Transfer>> batch;
        {
          const std::lock_guard lock(mutex);
          batch.swap(incoming);
        }
        for (auto& t : batch) start(std::move(t));
      }
      int stillRunning = 0;
      curl_multi_perform(multi, &stillRunning);
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) finish(msg->easy_handle, msg->data.result);
      }
      // Often enough to notice a short time-out's silence in time.
      long wait = 1000;
      for (const auto& t : running) {
        wait = std::min<long>(wait, std::max<long>(20, t->idleLimit.count() / 4));
      }
      curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr);
    }
  }
};

Session::Session() : impl_(std::make_unique<Impl>()) {}
Session::~Session() = default;

Session& Session::shared() {
  static Session* session = new Session();  // its worker runs for the life of the process
  return *session;
}

void Session::dataTask(Request request, Completion completion) {
  auto t = std::make_unique<Transfer>();
  t->request = std::move(request);
  t->completion = std::move(completion);
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->incoming.push_back(std::move(t));
  }
  curl_multi_wakeup(impl_->multi);
}

std::shared_ptr<StreamTask> Session::streamTask(Request request, StreamDelegate delegate) {
  auto state = std::make_shared<StreamTask::State>();
  state->delegate = std::move(delegate);
  CURLM* multi = impl_->multi;
  state->wake = [multi] { curl_multi_wakeup(multi); };
  auto t = std::make_unique<Transfer>();
  t->request = std::move(request);
  t->stream = state;
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->incoming.push_back(std::move(t));
  }
  curl_multi_wakeup(impl_->multi);
  return std::make_shared<StreamTask>(std::move(state));
}

void Session::setDefaultTimeout(std::chrono::milliseconds timeout) {
  impl_->defaultTimeoutMs = static_cast<long long>(timeout.count());
}

std::chrono::milliseconds Session::defaultTimeout() const {
  return std::chrono::milliseconds(impl_->defaultTimeoutMs.load());
}

}  // namespace http
HCF_NAMESPACE_END
