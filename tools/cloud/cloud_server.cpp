#include "cloud_server.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

namespace hcf_cloud {

namespace {

// Address reuse only: a port left in TIME_WAIT by a stopped server binds again at once, but a
// port another socket listens on does not. (The HTTP library's default also sets SO_REUSEPORT,
// which lets a second server share a port with the first without a word.)
void reuseAddressOnly(socket_t sock) {
  int yes = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

// Why `host`:`port` could not be bound: the library does not say, so the bind is tried again
// here with the same options and the system's reason kept.
std::string bindFailure(const std::string& host, int port) {
  const std::string where = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
      rc != 0) {
    return "cannot listen on " + where + ": " + ::gai_strerror(rc);
  }
  int error = 0;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    const int sock = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (sock < 0) {
      error = errno;
      continue;
    }
    reuseAddressOnly(sock);
    const bool bound = ::bind(sock, a->ai_addr, a->ai_addrlen) == 0;
    error = bound ? 0 : errno;
    ::close(sock);
    if (bound) break;
  }
  ::freeaddrinfo(found);
  if (error == EADDRINUSE) return "port " + std::to_string(port) + " is in use";
  if (error == 0) return "cannot listen on " + where;
  return "cannot listen on " + where + ": " + std::strerror(error);
}

}  // namespace

// Each answer closes its connection ("Connection: close"): an idle kept-alive connection would
// hold a worker until its time-out and delay stop() by seconds.
CloudServer::CloudServer() {
  server_.set_keep_alive_max_count(1);
  server_.set_socket_options(reuseAddressOnly);
  // One handler per method that looks the route up in our own table, so that routes may be
  // added while the server runs (the HTTP library's own table is not safe for that).
  const auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
    Handler handler;
    httplib::Request matched = req;
    {
      const std::lock_guard lock(mutex_);
      for (const auto& r : routes_) {
        if ((r.method == "*" || r.method == req.method ||
             (req.method == "HEAD" && r.method == "GET")) &&
            std::regex_match(matched.path, matched.matches, r.pattern)) {
          handler = r.handler;
          break;
        }
      }
    }
    if (!handler) {
      res.status = 404;
      return;
    }
    serve(handler, matched, res);
  };
  server_.Get(".*", dispatch);
  server_.Post(".*", dispatch);
  server_.Put(".*", dispatch);
  server_.Delete(".*", dispatch);
}

CloudServer::~CloudServer() { stop(); }

int CloudServer::start(const std::string& host, int port) {
  if (port < 0 || port > 65535) {
    throw std::invalid_argument("port " + std::to_string(port) +
                                " is not a port (1 to 65535, or 0 for any free one)");
  }
  host_ = host;
  port_ =
      port == 0 ? server_.bind_to_any_port(host) : (server_.bind_to_port(host, port) ? port : -1);
  if (port_ <= 0) throw std::runtime_error(bindFailure(host, port));
  {
    const std::lock_guard lock(mutex_);
    stopped_ = false;
  }
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // The socket already listens; wait until the accept loop runs, so that stop() can end it.
  while (!server_.is_running()) std::this_thread::yield();
  return port_;
}

void CloudServer::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  stopping_.notify_all();
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

std::string CloudServer::baseUrl() const { return "http://" + host_ + ":" + std::to_string(port_); }

void CloudServer::pause(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  stopping_.wait_for(lock, d, [&] { return stopped_; });
}

void CloudServer::route(const std::string& method, const std::string& pattern, Handler handler) {
  const std::lock_guard lock(mutex_);
  routes_.push_back({method, std::regex(pattern), std::move(handler)});
}

void CloudServer::setFault(const std::string& path, const Fault& fault) {
  const std::lock_guard lock(mutex_);
  faults_[path] = fault;
}

void CloudServer::clearFaults() {
  const std::lock_guard lock(mutex_);
  faults_.clear();
}

std::vector<SeenRequest> CloudServer::requests() const {
  const std::lock_guard lock(mutex_);
  return seen_;
}

void CloudServer::clearRequests() {
  const std::lock_guard lock(mutex_);
  seen_.clear();
}

void CloudServer::serve(const Handler& handler, const httplib::Request& req,
                        httplib::Response& res) {
  std::optional<Fault> fault;
  {
    const std::lock_guard lock(mutex_);
    seen_.push_back({req.method, req.path, req.headers, req.body});
    auto it = faults_.find(req.path);
    if (it != faults_.end() && it->second.times != 0) {
      fault = it->second;
      if (it->second.times > 0) --it->second.times;
    }
  }
  if (fault && fault->delay.count() > 0) pause(fault->delay);
  if (fault && fault->location) {
    res.status = fault->status.value_or(302);
    res.set_header("Location", *fault->location);
    return;
  }

  Answer answer = handler(req);
  if (fault) {
    if (fault->status) answer.status = *fault->status;
    if (fault->body) answer.body = *fault->body;
    if (fault->malformed) answer.body = "{\"cut\": [1, 2,";
  }
  res.status = answer.status;
  for (const auto& [k, v] : answer.headers) res.set_header(k, v);
  const bool reshaped = fault && (fault->trickle.count() > 0 || fault->announce || fault->hugeBody);
  if (!answer.file.empty() && reshaped && !fault->body && !fault->malformed) {
    std::ifstream in(answer.file, std::ios::binary);
    answer.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    answer.file.clear();
  }
  if (!answer.file.empty() && !(fault && (fault->body || fault->malformed))) {
    serveFile(answer, fault, res);
    return;
  }
  if (reshaped) {
    serveReshaped(answer, *fault, res);
    return;
  }
  if (fault && fault->cutAfter) {
    // Announce the whole body, send part of it, then hang up.
    const std::string body = answer.body;
    const std::size_t cut = std::min(*fault->cutAfter, body.size());
    res.set_content_provider(body.size(), answer.contentType,
                             [body, cut](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset < cut) sink.write(body.data() + offset, cut - offset);
                               return false;  // abandons the connection
                             });
    return;
  }
  res.set_content(answer.body, answer.contentType);
}

void CloudServer::serveReshaped(const Answer& answer, const Fault& fault, httplib::Response& res) {
  if (fault.hugeBody) {
    // "[0,0,...,0]" of the asked length (made odd, at least 3), sent from one repeated block.
    static const std::string block = [] {
      std::string b;
      for (int i = 0; i < 32768; ++i) b += "0,";
      return b;
    }();
    const std::size_t size = std::max<std::size_t>(*fault.hugeBody, 3) | 1;
    res.set_content_provider(
        size, answer.contentType, [size](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          if (offset == 0) return sink.write("[", 1);
          if (offset == size - 1) return sink.write("]", 1);
          const std::size_t phase = (offset - 1) % 2;
          const std::size_t n = std::min(size - 1 - offset, block.size() - phase);
          return sink.write(block.data() + phase, n);
        });
    return;
  }
  const std::string body = answer.body;
  const std::size_t announced = fault.announce.value_or(body.size());
  const std::size_t sent = std::min(announced, body.size());
  constexpr std::size_t kPieces = 20;
  const auto gap = fault.trickle / kPieces;
  const std::size_t piece = gap.count() > 0
                                ? std::max<std::size_t>(1, (sent + kPieces - 1) / kPieces)
                                : std::max<std::size_t>(1, sent);
  res.set_content_provider(
      announced, answer.contentType,
      [this, body, sent, gap, piece](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (offset >= sent) {
          // Everything there is was sent but more was announced: hold the connection.
          pause(std::chrono::hours(1));
          return false;
        }
        if (gap.count() > 0) pause(gap);
        return sink.write(body.data() + offset, std::min(piece, sent - offset));
      });
}

void CloudServer::serveFile(const Answer& answer, const std::optional<Fault>& fault,
                            httplib::Response& res) {
  auto in = std::make_shared<std::ifstream>(answer.file, std::ios::binary);
  std::error_code ec;
  const auto size = std::filesystem::file_size(answer.file, ec);
  if (!*in || ec) {
    res.status = 404;
    res.set_content("<Error><Code>NoSuchKey</Code></Error>", "application/xml");
    return;
  }
  const std::size_t cut = fault && fault->cutAfter ? std::min<std::size_t>(*fault->cutAfter, size)
                                                   : static_cast<std::size_t>(size);
  const std::optional<std::size_t> pauseAt = fault ? fault->pauseAfter : std::nullopt;
  const auto pauseFor = fault ? fault->pauseFor : std::chrono::milliseconds(0);
  auto paused = std::make_shared<bool>(false);
  // Sends from `offset`: pieces of at most 256 kB, stopping at the pause point once.
  auto send = [this, in, cut, pauseAt, pauseFor, paused](std::size_t offset,
                                                         httplib::DataSink& sink) {
    if (offset >= cut) return false;  // a cut answer: hang up before the end
    std::size_t end = std::min<std::size_t>(cut, offset + 256 * 1024);
    if (pauseAt && !*paused) {
      if (offset >= *pauseAt) {
        *paused = true;
        pause(pauseFor);
      } else {
        end = std::min(end, *pauseAt);
      }
    }
    std::vector<char> chunk(end - offset);
    in->seekg(static_cast<std::streamoff>(offset));
    in->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in->gcount());
    if (got == 0) return false;
    return sink.write(chunk.data(), got);
  };
  if (fault && fault->chunked) {
    res.set_chunked_content_provider(answer.contentType,
                                     [send, size](std::size_t offset, httplib::DataSink& sink) {
                                       if (offset >= size) {
                                         sink.done();
                                         return true;
                                       }
                                       return send(offset, sink);
                                     });
    return;
  }
  res.set_content_provider(size, answer.contentType,
                           [send](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                             return send(offset, sink);
                           });
}

std::string gzip(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("zlib: deflateInit2 failed");
  }
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("zlib: deflate failed");
  return out;
}

}  // namespace hcf_cloud
