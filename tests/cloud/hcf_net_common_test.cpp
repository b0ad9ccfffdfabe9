// The kit's HTTP layer against the reference cloud on loopback: every failure row of the
// transport, produced by a real request.
#include "hcf/cloud/hcf_net_common.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "cloud_server.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/http/session.h"

using hcf::Bytes;
using hcf::HCFError;
using hcf::HCFNetCommon;
using hcf::JsonValue;
using namespace std::chrono_literals;

namespace {

struct JsonResult {
  std::optional<JsonValue> json;
  std::optional<HCFError> error;
  std::thread::id thread;
};

struct DataResult {
  std::optional<Bytes> data;
  std::optional<hcf::http::Response> response;
  std::optional<std::string> error;
};

class NetCommonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hcf_cloud::addTransportTestRoutes(server_);
    server_.start();
  }
  void TearDown() override { server_.stop(); }
  std::string url(const std::string& path) const { return server_.baseUrl() + path; }

  // Runs a JSON request and waits (in real time, bounded) for its completion.
  JsonResult request(const std::string& path, const std::string& method = "GET",
                     hcf::http::Headers headers = {},
                     std::optional<std::chrono::milliseconds> timeout = std::nullopt,
                     const std::string& body = "") {
    hcf::http::Request r;
    r.url = url(path);
    r.method = method;
    r.body.assign(body.begin(), body.end());
    r.headers = std::move(headers);
    r.timeout = timeout;
    std::promise<JsonResult> done;
    HCFNetCommon::doJSONRequestOnCompErr(
        r, [&](std::optional<JsonValue> j, std::optional<HCFError> e) {
          done.set_value({std::move(j), std::move(e), std::this_thread::get_id()});
        });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(20s), std::future_status::ready);
    return f.get();
  }

  DataResult raw(const std::string& path, const std::string& method = "GET") {
    std::promise<DataResult> done;
    HCFNetCommon::fetchResponseFrom(
        url(path), method, "application/octet-stream", {},
        [&](std::optional<Bytes> d, std::optional<hcf::http::Response> r,
            std::optional<std::string> e) {
          done.set_value({std::move(d), std::move(r), std::move(e)});
        });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(20s), std::future_status::ready);
    return f.get();
  }

  hcf_cloud::CloudServer server_;
};

}  // namespace

TEST_F(NetCommonTest, JsonAnswerOnACallbackQueueNotTheCallersThread) {
  const JsonResult r = request("/test/json");
  ASSERT_FALSE(r.error) << r.error->description();
  EXPECT_EQ((*r.json)["items"], JsonValue::parse("[1,2,3]"));
  EXPECT_EQ((*r.json)["name"], "Grüne Wiese");
  EXPECT_NE(r.thread, std::this_thread::get_id());
  // Members keep document order.
  EXPECT_EQ(r.json->begin().key(), "ok");
  // A fragment is a value too.
  EXPECT_EQ(*request("/test/fragment").json, "just a string");
}

TEST_F(NetCommonTest, FixedHeadersWinOverTheCallersAndGzipIsAsked) {
  std::promise<JsonResult> done;
  HCFNetCommon::fetchJSONFrom(
      url("/test/echo"),
      {{"content-type", "text/plain"}, {"X-Kit", "1"}, {"Accept-Encoding", "identity"}},
      [&](std::optional<JsonValue> j, std::optional<std::string> e) {
        done.set_value(
            {std::move(j), e ? std::optional<HCFError>(hcf::HCFError{}) : std::nullopt, {}});
      });
  const JsonResult r = done.get_future().get();
  ASSERT_TRUE(r.json);
  const auto& h = (*r.json)["headers"];
  EXPECT_EQ(h["Content-Type"], "application/json; charset=utf-8");
  EXPECT_EQ(h["Accept-Encoding"], "gzip");
  EXPECT_EQ(h["X-Kit"], "1");
  const auto seen = server_.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].headers.count("Content-Type"), 1u);  // the caller's is gone, not doubled
}

TEST_F(NetCommonTest, PostSendsTheObjectOrAnEmptyOne) {
  std::promise<JsonResult> done;
  HCFNetCommon::postJSON(JsonValue{{"key", "sdk-123"}, {"n", 2}}, {}, url("/test/echo"),
                         [&](std::optional<JsonValue> j, std::optional<HCFError> e) {
                           done.set_value({std::move(j), std::move(e), {}});
                         });
  const JsonResult r = done.get_future().get();
  ASSERT_TRUE(r.json);
  EXPECT_EQ((*r.json)["method"], "POST");
  EXPECT_EQ((*r.json)["body"], R"({"key":"sdk-123","n":2})");
  std::promise<JsonResult> empty;
  HCFNetCommon::postJSON(std::nullopt, {}, url("/test/echo"),
                         [&](std::optional<JsonValue> j, std::optional<HCFError> e) {
                           empty.set_value({std::move(j), std::move(e), {}});
                         });
  EXPECT_EQ((*empty.get_future().get().json)["body"], "{}");
}

TEST_F(NetCommonTest, UnserialisableBodyIsRefusedWithoutSending) {
  for (const JsonValue& bad : {JsonValue{{"x", std::nan("")}}, JsonValue{{"x", "\xff\xfe"}},
                               JsonValue{{"deep", {1.0, INFINITY}}}}) {
    std::promise<JsonResult> done;
    HCFNetCommon::postJSON(
        bad, {}, url("/test/echo"), [&](std::optional<JsonValue> j, std::optional<HCFError> e) {
          done.set_value({std::move(j), std::move(e), std::this_thread::get_id()});
        });
    const JsonResult r = done.get_future().get();
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->localizedDescription, "Error encoding JSON request.");
    EXPECT_EQ(r.error->code, hcf::error_code::kJSONEncoding);
    EXPECT_EQ(r.error->domain, "com.halverninc");
    EXPECT_NE(r.thread, std::this_thread::get_id());
  }
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(NetCommonTest, ServerErrorsCarryTheMessageWithoutItsPrefixAndTheStatusAsCode) {
  JsonResult r = request("/test/status/404?message=hi-not_found");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->localizedDescription, "Server Error:not_found");
  EXPECT_EQ(r.error->code, 404);
  EXPECT_EQ(r.error->domain, "com.halverninc");
  r = request("/test/status/400?message=bad%20key");
  EXPECT_EQ(r.error->localizedDescription, "Server Error:bad key");
  // Empty, non-JSON and non-object error bodies have no message.
  const std::pair<const char*, int> cases[] = {{"/test/status/500", 500},
                                               {"/test/status/500?raw=%3Chtml%3E", 500},
                                               {"/test/status/503?raw=%5B1%2C2%5D", 503}};
  for (const auto& [path, code] : cases) {
    r = request(path);
    ASSERT_TRUE(r.error) << path;
    EXPECT_EQ(r.error->localizedDescription, "Server Error:") << path;
    EXPECT_EQ(r.error->code, code);
  }
}

TEST_F(NetCommonTest, EmptyAndNonJsonBodies) {
  JsonResult r = request("/test/empty");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->localizedDescription, "no response body");
  EXPECT_EQ(r.error->code, hcf::error_code::kNoResponseBody);
  r = request("/test/text");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->domain, "NSCocoaErrorDomain");
  EXPECT_EQ(r.error->code, 3840);
  server_.setFault("/test/json", {.malformed = true});
  r = request("/test/json");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->code, 3840);
}

TEST_F(NetCommonTest, TransportFailuresKeepTheUrlLoadingDomain) {
  // A port nobody listens on.
  hcf_cloud::CloudServer closed;
  const int port = closed.start();
  closed.stop();
  hcf::http::Request req;
  req.url = "http://127.0.0.1:" + std::to_string(port) + "/test/json";
  std::promise<JsonResult> done;
  HCFNetCommon::doJSONRequestOnCompErr(req,
                                       [&](std::optional<JsonValue> j, std::optional<HCFError> e) {
                                         done.set_value({std::move(j), std::move(e), {}});
                                       });
  JsonResult r = done.get_future().get();
  ASSERT_TRUE(r.error);
  EXPECT_TRUE(r.error->isTransportError());
  EXPECT_EQ(r.error->code, -1004);
  EXPECT_EQ(r.error->localizedDescription,
            "Could not connect to the server (127.0.0.1:" + std::to_string(port) + ").");
  ASSERT_TRUE(r.error->native);
  EXPECT_EQ(r.error->native->library, "curl");

  // Too slow for the request's time-out.
  r = request("/test/slow?ms=5000", "GET", {}, 300ms);
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->domain, "NSURLErrorDomain");
  EXPECT_EQ(r.error->code, -1001);
  EXPECT_EQ(r.error->localizedDescription, "The request timed out.");

  // The connection drops in the middle of the body.
  server_.setFault("/test/cut", {.cutAfter = 100});
  const DataResult cut = raw("/test/cut");
  EXPECT_FALSE(cut.data);
  EXPECT_EQ(cut.error, "The network connection was lost.");

  // Not a URL the session takes.
  hcf::http::Request file;
  file.url = "file:///etc/passwd";
  std::promise<JsonResult> refused;
  HCFNetCommon::doJSONRequestOnCompErr(file,
                                       [&](std::optional<JsonValue> j, std::optional<HCFError> e) {
                                         refused.set_value({std::move(j), std::move(e), {}});
                                       });
  r = refused.get_future().get();
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->code, -1002);
}

TEST_F(NetCommonTest, InjectedFaultsHitTheirEndpointAsManyTimesAsAsked) {
  server_.setFault("/test/json",
                   {.status = 503, .body = R"({"message":"hi-maintenance"})", .times = 1});
  JsonResult r = request("/test/json");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->localizedDescription, "Server Error:maintenance");
  r = request("/test/json");
  EXPECT_FALSE(r.error);
  server_.setFault("/test/json", {.delay = 50ms});
  r = request("/test/json");
  EXPECT_FALSE(r.error);
}

TEST_F(NetCommonTest, RawExchangePassesBodiesAndNamesBadStatuses) {
  DataResult r = raw("/test/binary");
  ASSERT_TRUE(r.data);
  ASSERT_EQ(r.data->size(), 256u);
  EXPECT_EQ((*r.data)[255], 255);
  EXPECT_EQ(r.response->statusCode, 200);
  r = raw("/test/gzip-binary");  // decoded on the way in
  ASSERT_TRUE(r.data);
  EXPECT_EQ(r.data->size(), 4096u);
  EXPECT_EQ((*r.data)[8], 1);
  r = raw("/test/status/404?message=nope");
  EXPECT_FALSE(r.data);
  ASSERT_TRUE(r.response);
  EXPECT_EQ(r.response->statusCode, 404);
  EXPECT_EQ(r.error, "Received bad response (404) from server.");
  r = raw("/test/empty");
  ASSERT_TRUE(r.data);  // an empty body is passed on
  EXPECT_TRUE(r.data->empty());
  r = raw("/test/redirect");
  ASSERT_TRUE(r.response);
  EXPECT_EQ(r.response->statusCode, 200);
  EXPECT_NE(r.response->url.find("/test/json"), std::string::npos);

  std::promise<std::pair<std::optional<Bytes>, std::optional<std::string>>> queried;
  HCFNetCommon::queryDataFrom(url("/test/echo"), {}, [&](auto d, auto e) {
    queried.set_value({std::move(d), std::move(e)});
  });
  const auto q = queried.get_future().get();
  ASSERT_TRUE(q.first);
  const auto echo = JsonValue::parse(q.first->begin(), q.first->end());
  EXPECT_EQ(echo["method"], "POST");
  EXPECT_EQ(echo["headers"]["Content-Type"], "application/json; charset=utf-8");
}

TEST_F(NetCommonTest, ErrorTextCompletionGivesTheDescription) {
  std::promise<std::optional<std::string>> done;
  HCFNetCommon::fetchJSONFrom(
      url("/test/status/401?message=hi-unauthorised"),
      [&](std::optional<JsonValue>, std::optional<std::string> e) { done.set_value(e); });
  EXPECT_EQ(done.get_future().get(), "Server Error:unauthorised");
}

TEST(JsonText, CompactPrettyAndRefusals) {
  const JsonValue v = {{"b", 1}, {"a", {true, nullptr}}};
  EXPECT_EQ(HCFNetCommon::hJsonString(v, 0), R"({"b":1,"a":[true,null]})");
  EXPECT_EQ(HCFNetCommon::hJsonString(v, 1),
            "{\n  \"b\": 1,\n  \"a\": [\n    true,\n    null\n  ]\n}");
  const auto data = HCFNetCommon::toJsonData(JsonValue::array({1, 2}), 0);
  ASSERT_TRUE(data);
  EXPECT_EQ(std::string(data->begin(), data->end()), "[1,2]");
  std::string logged;
  hcf::setLogHandler([&](std::string_view l) { logged = l; });
  EXPECT_FALSE(HCFNetCommon::hJsonString(JsonValue{{"x", std::nan("")}}, 0));
  EXPECT_EQ(logged.rfind("hJsonString: error: ", 0), 0u);
  hcf::setLogHandler(nullptr);
  EXPECT_FALSE(HCFNetCommon::toJsonData(JsonValue{{"x", "\xc3"}}, 0));
}

// What a stream's events capture may own the task (a downloader keeps its transfer, whose
// events keep the downloader): the session lets go of them at the end, else neither is freed.
TEST_F(NetCommonTest, AFinishedStreamLetsGoOfItsEventsWhileItsTaskIsKept) {
  struct Owner {
    std::promise<void> gone;
    std::shared_ptr<hcf::http::StreamTask> task;
    ~Owner() { gone.set_value(); }
  };
  for (const std::string path : {"/test/binary", "/test/status/404", "/test/cut"}) {
    auto owner = std::make_shared<Owner>();
    auto gone = owner->gone.get_future();
    hcf::http::StreamDelegate events;
    events.onData = [owner](const std::uint8_t*, std::size_t) { return true; };
    events.onComplete = [owner](std::optional<HCFError>) {};
    hcf::http::Request r;
    r.url = url(path);
    owner->task = hcf::http::Session::shared().streamTask(std::move(r), std::move(events));
    owner.reset();  // only the events hold the owner now, and the owner holds the task
    EXPECT_EQ(gone.wait_for(20s), std::future_status::ready) << path;
  }
}

// Redirects keep credentials with their origin: within it the request goes on as it was; to
// another host it goes without the headers that may carry a secret, and never with a body.
TEST_F(NetCommonTest, RedirectsLeaveCredentialsWithTheirOrigin) {
  hcf_cloud::CloudServer other;
  hcf_cloud::addTransportTestRoutes(other);
  other.start();
  const hcf::http::Headers secrets = {{"Session-Token", "s3cret"},
                                      {"HI-Auth-Token", "k3y"},
                                      {"CAST", "c4st"},
                                      {"Cas-Sub-Id", "sub"}};
  struct Case {
    const char* what;
    std::string location;
    int status;
    std::string method;
    bool arrives;        // the request reaches /test/json
    bool withSecrets;    // ... with the secret headers
    std::int64_t error;  // or fails with this code
  };
  const std::vector<Case> cases = {
      {"same origin", url("/test/json"), 302, "GET", true, true, 0},
      {"same origin, POST kept by 307", "/test/json", 307, "POST", true, true, 0},
      {"another host", other.baseUrl() + "/test/json", 302, "GET", true, false, 0},
      {"another host, body to re-send", other.baseUrl() + "/test/json", 307, "POST", false, false,
       hcf::http::url_error::kUnsupportedURL},
      {"a loop", url("/test/echo"), 302, "GET", false, false,
       hcf::http::url_error::kTooManyRedirects},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server_.clearRequests();
    other.clearRequests();
    server_.setFault("/test/echo", {.status = c.status, .location = c.location});
    const JsonResult r = request("/test/echo", c.method, secrets, std::nullopt,
                                 c.method == "POST" ? R"({"token":"sdk-key"})" : "");
    std::vector<hcf_cloud::SeenRequest> arrived;
    for (const auto* s : {&server_, &other}) {
      for (const auto& seen : s->requests()) {
        if (seen.path == "/test/json") arrived.push_back(seen);
      }
    }
    if (c.error) {
      ASSERT_TRUE(r.error);
      EXPECT_EQ(r.error->code, c.error) << r.error->localizedDescription;
    } else {
      EXPECT_FALSE(r.error) << r.error->localizedDescription;
    }
    ASSERT_EQ(arrived.size(), c.arrives ? 1u : 0u);
    if (!c.arrives) continue;
    EXPECT_EQ(arrived[0].method, c.method);
    for (const auto& [name, value] : secrets) {
      EXPECT_EQ(arrived[0].headers.count(name), c.withSecrets ? 1u : 0u) << name;
    }
  }
  other.stop();
}

// The time-out is a silence, not a bound on the whole answer: a steady trickle that takes far
// longer than the time-out arrives.
TEST_F(NetCommonTest, ASteadySlowAnswerIsNotCutByTheTimeOut) {
  server_.setFault("/test/json", {.trickle = 1500ms});
  const JsonResult r = request("/test/json", "GET", {}, 400ms);
  EXPECT_FALSE(r.error) << r.error->localizedDescription;
  EXPECT_TRUE(r.json);
}
