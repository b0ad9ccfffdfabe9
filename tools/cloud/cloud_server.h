// The reference cloud: an HTTP server on loopback that answers every endpoint the kit calls,
// from a fixture folder, with faults injected per endpoint on request.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace hcf_cloud {

/// A fault for one path: what the server does instead of (or to) its normal answer.
struct Fault {
  std::optional<int> status;            ///< answer with this status ...
  std::optional<std::string> body;      ///< ... and this body (default: the normal one)
  std::chrono::milliseconds delay{0};   ///< wait before answering
  std::optional<std::size_t> cutAfter;  ///< announce the full length, send this many bytes, hang up
  bool malformed = false;               ///< replace the body by text that is not JSON
  /// Files: stop for `pauseFor` (or until the server stops) after this many bytes, then go on.
  std::optional<std::size_t> pauseAfter;
  std::chrono::milliseconds pauseFor{0};
  bool chunked = false;  ///< files: send without announcing the length
  /// Sends the body in 20 even pieces spread over this long (a slow trickle).
  std::chrono::milliseconds trickle{0};
  /// Announces this length instead of the body's: with more, the whole body is sent and the
  /// connection then held open until the server stops; with less, only that much is sent.
  std::optional<std::size_t> announce;
  /// Replaces the body by a JSON array of zeros this many bytes long, made as it is sent.
  std::optional<std::size_t> hugeBody;
  /// Answers with a redirect to this URL instead (status `status`, else 302).
  std::optional<std::string> location;
  int times = -1;  ///< how many requests it hits (−1: all)
};

/// A normal answer of a route.
struct Answer {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  httplib::Headers headers;
  /// When set, the body is this file, streamed from disk in chunks with its length announced
  /// (`body` is ignored).
  std::filesystem::path file;
};

/// One request the server saw.
struct SeenRequest {
  std::string method;
  std::string path;
  httplib::Headers headers;
  std::string body;
};

class CloudServer {
 public:
  using Handler = std::function<Answer(const httplib::Request&)>;

  CloudServer();
  ~CloudServer();
  CloudServer(const CloudServer&) = delete;
  CloudServer& operator=(const CloudServer&) = delete;

  /// Listens on `host`:`port` (0: any free port) on a thread of its own; returns the port.
  /// Throws std::invalid_argument for a port outside 0 to 65535, and std::runtime_error when
  /// the address cannot be bound ("port N is in use" when another socket listens on it: the
  /// port is never shared).
  int start(const std::string& host = "127.0.0.1", int port = 0);
  /// Stops listening; waiting answers (delays) are released at once.
  void stop();
  /// "http://127.0.0.1:<port>".
  std::string baseUrl() const;

  /// Adds a route for `method` ("GET", "POST", "PUT", "DELETE", or "*" for any) and a path
  /// pattern (a regular expression matching the whole path), also while the server runs.
  /// Faults apply to every route.
  void route(const std::string& method, const std::string& pattern, Handler handler);

  void setFault(const std::string& path, const Fault& fault);
  void clearFaults();
  std::vector<SeenRequest> requests() const;
  void clearRequests();

  /// Waits up to `d` unless the server stops first (how slow answers are made).
  void pause(std::chrono::milliseconds d);

 private:
  void serve(const Handler& handler, const httplib::Request& req, httplib::Response& res);
  void serveFile(const Answer& answer, const std::optional<Fault>& fault, httplib::Response& res);
  void serveReshaped(const Answer& answer, const Fault& fault, httplib::Response& res);

  httplib::Server server_;
  std::thread thread_;
  std::string host_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  std::map<std::string, Fault> faults_;
  struct Route {
    std::string method;  // "GET", "POST", "PUT", "DELETE" or "*"
    std::regex pattern;
    Handler handler;
  };
  std::vector<Route> routes_;  // in the order added; the first that matches answers
  std::vector<SeenRequest> seen_;
};

/// The endpoints the transport tests use, under /test/.
void addTransportTestRoutes(CloudServer& server);

/// gzip-compressed `data`.
std::string gzip(const std::string& data);

}  // namespace hcf_cloud
