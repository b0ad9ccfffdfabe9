// hcf serve: the measuring path as a page in the browser, served on loopback. The kit runs on
// the main queue, which the main thread drives in real time; the HTTP server's threads hand
// each request to it and wait for the answer (ServeKit).
#include <arpa/inet.h>
#include <hcf/platform/dispatch/poll_loop.h>
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <random>
#include <thread>

#include "cli.h"
#include "commands.h"
#include "interrupt.h"
#include "output_format.h"
#include "serve_events.h"
#include "serve_kit.h"
#include "serve_page.h"
#include "sim_session.h"

namespace hcf_tool {

namespace {

using namespace hcf;
using namespace std::chrono_literals;

constexpr const char* kUsage =
    "usage: hcf serve [--sim] [--port N] [--data DIR] [--listen ADDR] [--adapter NAME]\n"
    "\n"
    "Serves a page to measure with: the instruments in range, connection, white calibration,\n"
    "readings (a click or the instrument's button), their colours under a chosen illuminant\n"
    "and observer, the nearest catalogue products with a filter panel, the catalogue's\n"
    "download, and the session's readings saved as CGATS or CSV. The first line printed is\n"
    "the page's address; Ctrl-C ends it.\n"
    "--sim: simulated instruments and the reference cloud on loopback (no radio, no\n"
    "network); else the instruments bluetoothd sees. --port: 8417 by default, 0 for any free\n"
    "port. --data: the kit's data directory (the catalogue stays there). --listen ADDR\n"
    "serves on that address instead of 127.0.0.1; each call then needs the token printed in\n"
    "the address.\n";

constexpr int kDefaultPort = 8417;
// Request bodies are small JSON objects.
constexpr std::size_t kMaxBody = 16 * 1024;
// The most threads the server answers with; event streams hold one each (EventHub).
constexpr int kServerThreads = 12;
// An idle event stream gets a comment this often, so that proxies and browsers keep it.
constexpr auto kKeepAlive = 15s;
// How long the main loop sleeps at most before it looks for Ctrl-C.
constexpr int kLoopWakeMs = 200;
// The bytes of the token --listen asks for: 32 hexadecimal digits.
constexpr int kTokenBytes = 16;

// How long a request waits for the kit: an operation on the instrument is answered by the
// kit's own timeouts (a connection's handshake 20 s, a measurement 10 s) before these.
constexpr auto kQuick = 5s;
constexpr auto kInstrument = 30s;
constexpr auto kCatalogue = 60s;

struct ServeOptions {
  bool simulated = false;
  int port = kDefaultPort;
  std::string host = "127.0.0.1";
  bool listen = false;
  std::string data;
  std::string adapter;
};

ServeOptions optionsOf(const std::vector<std::string>& words, bool& help) {
  const Args args = Args::parse(words, {"--port", "--data", "--listen", "--adapter"}, {"--sim"});
  help = args.help;
  if (!args.positional.empty()) throw UsageError("unexpected '" + args.positional[0] + "'");
  ServeOptions o;
  o.simulated = args.has("--sim");
  if (const auto port = args.option("--port")) {
    const double n = parseNumber(*port);
    if (n < 0 || n > 65535 || n != static_cast<int>(n)) {
      throw UsageError("--port takes a port number from 0 to 65535, not '" + *port + "'");
    }
    o.port = static_cast<int>(n);
  }
  if (const auto listen = args.option("--listen")) {
    if (listen->empty() || listen->find_first_of("/ \t[]") != std::string::npos) {
      throw UsageError("--listen takes an IP address such as 0.0.0.0 or 192.168.1.20");
    }
    o.host = *listen;
    o.listen = true;
  }
  o.data = args.option("--data").value_or("");
  o.adapter = args.option("--adapter").value_or("");
  if (!o.adapter.empty() && o.simulated) throw UsageError("--adapter goes with real instruments");
  return o;
}

std::string randomToken() {
  std::random_device device;
  std::string token;
  for (int i = 0; i < kTokenBytes; ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(device() & 0xFF));
    token += digits;
  }
  return token;
}

// Equal texts, compared in time that does not depend on where they differ.
bool sameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return diff == 0;
}

void send(httplib::Response& res, const Reply& reply) {
  res.status = reply.status;
  if (!reply.fileName.empty()) {
    res.set_header("Content-Disposition", "attachment; filename=\"" + reply.fileName + "\"");
    res.set_content(reply.file, reply.contentType.c_str());
    return;
  }
  res.set_content(reply.body.dump(-1, ' ', false, JsonValue::error_handler_t::replace),
                  "application/json");
}

// The request's body as a JSON object ({} when empty); nothing, and a 400 sent, when not one.
std::optional<JsonValue> bodyOf(const httplib::Request& req, httplib::Response& res) {
  if (req.body.empty()) return JsonValue::object();
  JsonValue body = JsonValue::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    send(res, errorReply(400, "the request's body is not a JSON object"));
    return std::nullopt;
  }
  return body;
}

// Who may call: the page's own address, and with --listen the token.
class Gate {
 public:
  Gate(const ServeOptions& o, int port, std::string token) : token_(std::move(token)) {
    const std::string p = ":" + std::to_string(port);
    const std::string host = o.host.find(':') != std::string::npos ? "[" + o.host + "]" : o.host;
    hosts_ = {host + p};
    if (!o.listen) hosts_.push_back("localhost" + p);
    port_ = p;
    anyAddress_ = o.listen && (o.host == "0.0.0.0" || o.host == "::");
  }
  const std::string& primaryHost() const { return hosts_.front(); }

  // A refusal, or nothing when the request may go on.
  std::optional<Reply> check(const httplib::Request& req) const {
    const std::string host = req.get_header_value("Host");
    if (std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end() && !addressOfThisHost(host)) {
      return errorReply(403, "this server answers only to its own address");
    }
    if (req.path.rfind("/api/", 0) != 0) return std::nullopt;
    // A page of another site in the same browser: its calls carry its own origin.
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
      return errorReply(403, "calls from other sites are refused");
    }
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (!site.empty() && site != "same-origin" && site != "none") {
      return errorReply(403, "calls from other sites are refused");
    }
    if (!token_.empty()) {
      const std::string given = req.has_header("X-HCF-Token") ? req.get_header_value("X-HCF-Token")
                                                              : req.get_param_value("token");
      if (!sameSecret(given, token_)) {
        return errorReply(401, "this server needs the token printed when it started");
      }
    }
    return std::nullopt;
  }

 private:
  // Served on every address (--listen 0.0.0.0): any of them by number, never by a name, which
  // is what DNS rebinding needs.
  bool addressOfThisHost(const std::string& host) const {
    if (!anyAddress_ || host.size() <= port_.size() ||
        host.compare(host.size() - port_.size(), port_.size(), port_) != 0) {
      return false;
    }
    std::string address = host.substr(0, host.size() - port_.size());
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
      address = address.substr(1, address.size() - 2);
    }
    unsigned char bytes[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, address.c_str(), bytes) == 1 ||
           ::inet_pton(AF_INET6, address.c_str(), bytes) == 1;
  }

  std::vector<std::string> hosts_;
  std::string port_;
  bool anyAddress_ = false;
  std::string token_;
};

// A POST route whose body is handed to `call` on the main queue.
using Call = std::function<void(ServeKit&, const JsonValue&, const ServeKit::Done&)>;

void routes(httplib::Server& server, ServeKit& kit, EventHub& events, bool simulated) {
  const auto page = [&server](const char* path, std::string_view text, const char* type) {
    server.Get(path, [text, type](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; img-src 'self' data:; object-src 'none'; "
                     "base-uri 'none'; frame-ancestors 'none'");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_content(std::string(text), type);
    });
  };
  page("/", kServeIndexHtml, "text/html; charset=utf-8");
  page("/index.html", kServeIndexHtml, "text/html; charset=utf-8");
  page("/app.js", kServeAppJs, "text/javascript; charset=utf-8");
  page("/app.css", kServeAppCss, "text/css; charset=utf-8");

  const auto post = [&server, &kit](const char* path, std::chrono::milliseconds limit, Call call) {
    server.Post(path, [&kit, limit, call](const httplib::Request& req, httplib::Response& res) {
      const auto body = bodyOf(req, res);
      if (!body) return;
      send(res,
           onMain([&kit, call, body = *body](const ServeKit::Done& done) { call(kit, body, done); },
                  limit));
    });
  };
  const auto get =
      [&server, &kit](
          const char* path, std::chrono::milliseconds limit,
          std::function<void(ServeKit&, const httplib::Request&, const ServeKit::Done&)> call) {
        server.Get(path, [&kit, limit, call](const httplib::Request& req, httplib::Response& res) {
          send(res, onMain([&kit, call, req](const ServeKit::Done& done) { call(kit, req, done); },
                           limit));
        });
      };

  get("/api/state", kQuick, [](ServeKit& k, const auto&, const auto& d) { k.state(d); });
  get("/api/readings", kQuick, [](ServeKit& k, const auto&, const auto& d) { k.readings(d); });
  get("/api/difference", kQuick, [](ServeKit& k, const httplib::Request& req, const auto& d) {
    k.difference(req.get_param_value("a"), req.get_param_value("b"), d);
  });
  get("/api/history.cgats", kQuick,
      [](ServeKit& k, const auto&, const auto& d) { k.historyCgats(d); });
  get("/api/history.csv", kQuick, [](ServeKit& k, const auto&, const auto& d) { k.historyCsv(d); });

  server.Post("/api/discover", [&kit](const httplib::Request& req, httplib::Response& res) {
    if (!bodyOf(req, res)) return;
    const Reply started =
        onMain([&kit](const ServeKit::Done& done) { kit.whenStarted(done); }, kInstrument);
    if (started.status != 200) return send(res, started);
    // The kit's discovery waits for a radio that has not reported its state yet.
    auto pending = std::make_shared<std::future<Result<std::vector<HPeripheralWRSSI>>>>(
        HCFFutures::discover());
    if (pending->wait_for(kInstrument) != std::future_status::ready) {
      return send(res, errorReply(504, "the discovery did not end in time"));
    }
    send(res, onMain(
                  [&kit, pending](const ServeKit::Done& done) {
                    // Kept and let go on the main queue, where the peripherals live.
                    kit.found(pending->get(), done);
                  },
                  kQuick));
  });
  post("/api/connect", kInstrument, [](ServeKit& k, const JsonValue& body, const auto& d) {
    const JsonValue id = body.value("id", JsonValue(nullptr));
    if (!id.is_string())
      return d(errorReply(400, "connect takes the id of a discovered instrument"));
    k.connect(id.get<std::string>(), d);
  });
  post("/api/disconnect", kQuick, [](ServeKit& k, const auto&, const auto& d) { k.disconnect(d); });
  post("/api/calibrate", kInstrument,
       [](ServeKit& k, const auto&, const auto& d) { k.calibrate(d); });
  post("/api/battery", kInstrument, [](ServeKit& k, const auto&, const auto& d) { k.battery(d); });
  post("/api/measure", kInstrument, [](ServeKit& k, const auto&, const auto& d) { k.measure(d); });
  post("/api/view", kQuick,
       [](ServeKit& k, const JsonValue& body, const auto& d) { k.setView(body, d); });
  post("/api/search", kCatalogue,
       [](ServeKit& k, const JsonValue& body, const auto& d) { k.search(body, d); });
  post("/api/filters", kCatalogue,
       [](ServeKit& k, const JsonValue& body, const auto& d) { k.filters(body, d); });
  post("/api/catalogue/download", kQuick,
       [](ServeKit& k, const auto&, const auto& d) { k.download(d); });
  if (simulated) {
    post("/api/sim/button", kQuick,
         [](ServeKit& k, const auto&, const auto& d) { k.pressButton(d); });
  }

  server.Get("/api/events", [&events](const httplib::Request&, httplib::Response& res) {
    auto stream = events.subscribe();
    if (!stream) return send(res, errorReply(503, "too many event streams are open"));
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [stream, first = true](std::size_t, httplib::DataSink& sink) mutable {
          if (first) {
            first = false;  // the headers go out at once, so the page knows it is listening
            const std::string hello = ": hcf events\n\n";
            return sink.write(hello.data(), hello.size());
          }
          const auto message = stream->next(kKeepAlive);
          if (stream->closed()) return false;
          const std::string text = message.value_or(": keep-alive\n\n");
          return sink.write(text.data(), text.size());
        },
        [&events, stream](bool) { events.unsubscribe(stream); });
  });
}

int runServe(const std::vector<std::string>& words) {
  bool help = false;
  const ServeOptions options = optionsOf(words, help);
  if (help) return std::cout << kUsage, kExitOk;

  SessionOptions session;
  session.radio = options.simulated ? Radio::Simulated : Radio::Bluez;
  session.adapter = options.adapter;
  session.realTime = true;
  session.dataDirectory = options.data;
  SimSession s(session);
  // The page's download button installs it, over a second or so, as over a real network.
  if (s.simulated()) {
    s.publishCatalog(2000);
    s.slowCatalogDownload(std::chrono::milliseconds(1500));
  }

  EventHub events;
  ServeKit kit(s, events);
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_payload_max_length(kMaxBody);
  const int port = options.port == 0
                       ? server.bind_to_any_port(options.host)
                       : (server.bind_to_port(options.host, options.port) ? options.port : -1);
  if (port < 0) {
    throw Failure("cannot serve on " + options.host + ":" + std::to_string(options.port) +
                  " (in use, or no such address here)");
  }
  const std::string token = options.listen ? randomToken() : "";
  const Gate gate(options, port, token);
  server.set_pre_routing_handler([&gate](const httplib::Request& req, httplib::Response& res) {
    const auto refused = gate.check(req);
    if (!refused) return httplib::Server::HandlerResponse::Unhandled;
    send(res, *refused);
    return httplib::Server::HandlerResponse::Handled;
  });
  // Every error answer is JSON, those of the server itself (413, 404) included.
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    const char* what = res.status == 413   ? "the request's body is larger than 16 KiB"
                       : res.status == 404 ? "no such page"
                       : res.status == 400 ? "the request could not be read"
                                           : "the request was refused";
    send(res, errorReply(res.status, what));
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr e) {
        std::string what = "the server failed";
        try {
          if (e) std::rethrow_exception(e);
        } catch (const std::exception& x) {
          what += std::string(": ") + x.what();
        } catch (...) {
        }
        send(res, errorReply(500, what));
      });
  routes(server, kit, events, s.simulated());

  StopRequests stops;
  kit.start();
  std::atomic<bool> served{false};
  std::thread http([&server, &served] {
    server.listen_after_bind();
    served = true;
  });
  std::cout << "hcf serve: http://" << gate.primaryHost() << "/"
            << (token.empty() ? "" : "?token=" + token) << std::endl;
  std::fprintf(stderr, "Open the address above in a browser; Ctrl-C stops the server.\n");
  while (!stopRequested()) dispatch::pollAndRunDue({}, kLoopWakeMs);

  // Requests under way still wait for the main queue: it runs until the server has ended them.
  events.close();
  server.stop();
  const auto deadline = std::chrono::steady_clock::now() + kQuick;
  while (!served && std::chrono::steady_clock::now() < deadline) {
    dispatch::pollAndRunDue({}, kLoopWakeMs / 4);
  }
  if (served) {
    http.join();
  } else {
    http.detach();  // a request stuck past its bound; the program ends without it
  }
  kit.stop();
  return kExitOk;
}

}  // namespace

int serveCommand(const std::vector<std::string>& args) { return runServe(args); }

}  // namespace hcf_tool
