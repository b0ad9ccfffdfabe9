// hcf serve as a browser meets it: the measuring path over the JSON API, the event stream,
// and the refusals that keep other sites and other hosts away from the instrument.
#include <gtest/gtest.h>
#include <hcf/hcf.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using hcf::JsonValue;

// A running `hcf serve --sim --port 0 ...`: its address from its first line; ended by SIGTERM.
class Server {
 public:
  explicit Server(const std::vector<std::string>& extra = {}) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::freopen("/dev/null", "w", stderr);
      std::vector<std::string> words = {"hcf", "serve", "--sim", "--port", "0"};
      words.insert(words.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (auto& w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      ::execv(HCF_TOOL_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    // The first line, "hcf serve: http://127.0.0.1:PORT/[?token=TOKEN]".
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line_ += c;
    ::close(out[0]);
    const auto colon = line_.rfind(':');
    if (colon != std::string::npos) port_ = std::atoi(line_.c_str() + colon + 1);
    if (const auto t = line_.find("?token="); t != std::string::npos) token_ = line_.substr(t + 7);
  }
  ~Server() {
    if (pid_ > 0 && status_ < 0) stop();
  }
  // SIGTERM; the exit status.
  int stop() {
    ::kill(pid_, SIGTERM);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_;
  }
  int port() const { return port_; }
  const std::string& line() const { return line_; }
  const std::string& token() const { return token_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(40, 0);
    return c;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int port_ = 0;
  std::string line_;
  std::string token_;
};

JsonValue post(httplib::Client& c, const std::string& path, const JsonValue& body = {}) {
  const auto r = c.Post(path.c_str(), body.is_null() ? "{}" : body.dump(), "application/json");
  EXPECT_TRUE(r) << path;
  if (!r) return nullptr;
  EXPECT_EQ(r->status, 200) << path << ": " << r->body;
  return JsonValue::parse(r->body, nullptr, false);
}

// Reads /api/events on a thread of its own until `wanted` has come (or 40 s passed).
class EventReader {
 public:
  EventReader(const Server& server, std::string wanted) : wanted_(std::move(wanted)) {
    thread_ = std::thread([this, port = server.port()] {
      httplib::Client c("127.0.0.1", port);
      c.set_read_timeout(40, 0);
      c.Get("/api/events", [this](const char* data, std::size_t size) {
        const std::lock_guard lock(mutex_);
        text_.append(data, size);
        changed_.notify_all();
        return text_.find(wanted_) == std::string::npos;
      });
      const std::lock_guard lock(mutex_);
      ended_ = true;
      changed_.notify_all();
    });
  }
  ~EventReader() { thread_.join(); }
  // Waits until `part` has come; the text so far.
  std::string waitFor(const std::string& part) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(40),
                      [&] { return ended_ || text_.find(part) != std::string::npos; });
    return text_;
  }

 private:
  std::string wanted_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  bool ended_ = false;
  std::thread thread_;
};

TEST(HcfServe, MeasuresOnTheSimulatedColorimeterAndSendsTheButtonsReading) {
  Server server;
  ASSERT_GT(server.port(), 0) << server.line();
  EXPECT_EQ(server.line(), "hcf serve: http://" + server.host() + "/");
  auto c = server.client();
  const auto page = c.Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("id=\"measure\""), std::string::npos);

  const JsonValue found = post(c, "/api/discover");
  std::string id;
  for (const auto& i : found.value("instruments", JsonValue::array())) {
    if (i.value("serial", "") == "00C0FFEE4095") id = i.value("id", "");
  }
  ASSERT_FALSE(id.empty()) << found.dump();
  const JsonValue instrument = post(c, "/api/connect", {{"id", id}});
  EXPECT_EQ(instrument.value("kind", ""), "colorimeter") << instrument.dump();
  EXPECT_TRUE(instrument.value("needsWhiteCalibration", false));
  // A reading before the white calibration is refused with the instruction.
  const auto early = c.Post("/api/measure", "{}", "application/json");
  ASSERT_TRUE(early);
  EXPECT_EQ(early->status, 409);
  EXPECT_NE(early->body.find("white tile"), std::string::npos) << early->body;
  EXPECT_TRUE(post(c, "/api/calibrate").value("calibrated", false));

  const JsonValue reading = post(c, "/api/measure");
  const JsonValue lab = reading.value("lab", JsonValue(nullptr));
  ASSERT_TRUE(lab.is_object()) << reading.dump();
  const auto colour =
      hcf::HCFLabColor::labColorWithL(lab["L"], lab["a"], lab["b"], hcf::HCFIlluminant::D50);
  EXPECT_EQ(reading.value("hex", ""), colour.hex());
  EXPECT_EQ(reading.value("number", 0), 1);

  // The view's names are the kit's; a name it does not know is its error.
  const auto bad = c.Post("/api/view", R"({"illuminant": "D55"})", "application/json");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_NE(bad->body.find("unknown illuminant 'D55'"), std::string::npos) << bad->body;
  post(c, "/api/view", {{"illuminant", "D65"}, {"observer", "10"}});
  const auto readings = c.Get("/api/readings");
  ASSERT_TRUE(readings);
  const JsonValue history = JsonValue::parse(readings->body, nullptr, false);
  EXPECT_EQ(history["readings"][0].value("illuminant", ""), "D65") << history.dump();

  {
    EventReader events(server, "event: reading");
    events.waitFor(": hcf events");
    post(c, "/api/sim/button");
    const std::string text = events.waitFor("event: reading");
    EXPECT_NE(text.find("event: button\ndata: {\"serial\":\"00C0FFEE4095\"}"), std::string::npos)
        << text;
    EXPECT_NE(text.find("event: reading"), std::string::npos) << text;
  }
  const auto cgats = c.Get("/api/history.cgats");
  ASSERT_TRUE(cgats);
  EXPECT_NE(cgats->get_header_value("Content-Disposition").find("hcf-readings.cgats"),
            std::string::npos);
  EXPECT_NE(cgats->body.find("NUMBER_OF_SETS 2"), std::string::npos) << cgats->body;
  EXPECT_EQ(server.stop(), 0);
}

// Each refusal, with the status it must get.
TEST(HcfServe, RefusesOtherHostsOtherSitesLargeBodiesAndMalformedJson) {
  Server server;
  ASSERT_GT(server.port(), 0) << server.line();
  const std::string port = std::to_string(server.port());
  struct Refusal {
    const char* what;
    httplib::Headers headers;
    std::string body;  // empty: GET /api/state
    int status;
  } rows[] = {
      {"own address", {}, "", 200},
      {"localhost", {{"Host", "localhost:" + port}}, "", 200},
      {"rebound name", {{"Host", "evil.example:" + port}}, "", 403},
      {"other port", {{"Host", "127.0.0.1:1"}}, "", 403},
      {"own origin", {{"Origin", "http://" + server.host()}}, "{}", 200},
      {"other site", {{"Origin", "http://evil.example"}}, "{}", 403},
      {"other site by fetch metadata", {{"Sec-Fetch-Site", "cross-site"}}, "", 403},
      {"large body", {}, "{\"x\": \"" + std::string(17 * 1024, 'a') + "\"}", 413},
      {"malformed body", {}, "{\"illuminant\": ", 400},
      {"not an object", {}, "[1]", 400},
  };
  auto c = server.client();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const auto r = row.body.empty()
                       ? c.Get("/api/state", row.headers)
                       : c.Post("/api/view", row.headers, row.body, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, row.status) << r->body;
    const JsonValue body = JsonValue::parse(r->body, nullptr, false);
    EXPECT_TRUE(body.is_object()) << r->body;
    if (row.status != 200) {
      EXPECT_TRUE(body.contains("error") && body.contains("code")) << r->body;
    }
  }
  EXPECT_EQ(server.stop(), 0);
}

TEST(HcfServe, ListeningElsewhereNeedsTheTokenItPrinted) {
  Server server({"--listen", "127.0.0.1"});
  ASSERT_GT(server.port(), 0) << server.line();
  ASSERT_EQ(server.token().size(), 32U) << server.line();
  auto c = server.client();
  const struct {
    httplib::Headers headers;
    const char* query;
    int status;
  } rows[] = {
      {{}, "", 401},
      {{{"X-HCF-Token", std::string(32, '0')}}, "", 401},
      {{{"X-HCF-Token", server.token()}}, "", 200},
      {{}, "?token=", 200},
  };
  for (const auto& row : rows) {
    const std::string path =
        std::string("/api/state") + row.query + (*row.query ? server.token() : "");
    const auto r = c.Get(path.c_str(), row.headers);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, row.status) << path << ": " << r->body;
  }
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
