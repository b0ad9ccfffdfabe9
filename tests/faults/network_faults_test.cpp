// The fault matrix, network part: every way a connection or a server can fail, walked through
// each cloud call an application makes (login, online search, catalogue status, catalogue
// download, calibration record). For each: the error the application sees, exactly one answer
// in bounded time, the installed catalogue and the cached calibration untouched, and nothing
// written outside the data directory. Then the same calls work again once the fault is gone.
#include <gtest/gtest.h>

#include <map>

#include "hcf/cloud/hcf_net_tint_vault.h"
#include "matrix_fixture.h"

using namespace hcf;
using namespace std::chrono_literals;
using hcf_test::Answer;
using hcf_test::Outcome;

namespace {

namespace fx = hcf_cloud::fixtures;

enum class Op { Login, Search, Status, Download, Calibration };

// Each call, its name in the report and the path it asks for.
struct Call {
  Op op;
  const char* name;
  const char* path;
};
constexpr Call kCalls[] = {
    {Op::Login, "login", "/cas/sdk/auth"},
    {Op::Search, "search", "/ss/v2/search2"},
    {Op::Status, "status", "/ss/v2/download2_status"},
    {Op::Download, "download", "/halvern-product-db-zips/v1/prod-dbs-demo-package.zip"},
    {Op::Calibration, "calibration", "/b2/ext_api/v1/tintra_device.protobuf"},
};

const char* nameOf(Op op) {
  for (const auto& c : kCalls) {
    if (c.op == op) return c.name;
  }
  return "";
}

// A row of the matrix: a fault, made for the path of one call (or for every call by moving the
// cloud's base URL).
struct Row {
  const char* name;
  std::function<void(hcf_cloud::CloudServer&, const std::string& path, std::string& base)> apply;
};

std::string nowhere() {
  hcf_cloud::CloudServer closed;  // a port that was free a moment ago and is closed again
  const int port = closed.start();
  closed.stop();
  return "http://127.0.0.1:" + std::to_string(port);
}

// A server error body with a message, and a reply of the wrong shape for every call.
const std::string kForbidden = R"({"message":"hi-sdk_key_revoked"})";
const std::string kWrongShape = R"(["products", {"count": "many"}, 3])";

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {"refused", [](auto&, auto&, std::string& base) { base = nowhere(); }},
      {"unresolvable name",
       [](auto&, auto&, std::string& base) { base = "http://hcf-cloud.invalid"; }},
      {"time-out",
       [](auto& server, const std::string& path, auto&) { server.setFault(path, {.delay = 20s}); }},
      {"slow trickle", [](auto& server, const std::string& path,
                          auto&) { server.setFault(path, {.trickle = 6s}); }},
      {"cut mid-body", [](auto& server, const std::string& path,
                          auto&) { server.setFault(path, {.cutAfter = 20}); }},
      {"longer length announced", [](auto& server, const std::string& path,
                                     auto&) { server.setFault(path, {.announce = 1u << 20}); }},
      {"shorter length announced", [](auto& server, const std::string& path,
                                      auto&) { server.setFault(path, {.announce = 20}); }},
      {"4xx with a message",
       [](auto& server, const std::string& path, auto&) {
         server.setFault(path, {.status = 403, .body = kForbidden});
       }},
      {"5xx without a message", [](auto& server, const std::string& path,
                                   auto&) { server.setFault(path, {.status = 503, .body = ""}); }},
      {"not JSON", [](auto& server, const std::string& path,
                      auto&) { server.setFault(path, {.malformed = true}); }},
      {"JSON of the wrong shape", [](auto& server, const std::string& path,
                                     auto&) { server.setFault(path, {.body = kWrongShape}); }},
      {"nested a million deep",
       [](auto& server, const std::string& path, auto&) {
         server.setFault(path, {.status = 500,
                                .body = R"({"message":)" + std::string(1000000, '[') +
                                        std::string(1000000, ']') + "}"});
       }},
      {"huge body", [](auto& server, const std::string& path,
                       auto&) { server.setFault(path, {.hugeBody = std::size_t{80} << 20}); }},
  };
  return table;
}

// What each call answers under each fault ("code: message"; a trailing "*" matches any rest).
const std::map<std::string, std::map<Op, std::string>>& expectations() {
  static const std::map<std::string, std::map<Op, std::string>> table = {
      {"refused",
       {{Op::Login, "-1004: Could not connect to the server (127.0.0.1:*"},
        {Op::Search, "-1004: Could not connect to the server (127.0.0.1:*"},
        {Op::Status, "9250: Could not connect to the server (127.0.0.1:*"},
        {Op::Download, "-1004: Could not connect to the server (127.0.0.1:*"},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"unresolvable name",
       {{Op::Login,
         "-1003: A server with the specified hostname could not be found (hcf-cloud.invalid)."},
        {Op::Search,
         "-1003: A server with the specified hostname could not be found (hcf-cloud.invalid)."},
        {Op::Status,
         "9250: A server with the specified hostname could not be found (hcf-cloud.invalid)."},
        {Op::Download,
         "-1003: A server with the specified hostname could not be found (hcf-cloud.invalid)."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"time-out",
       {{Op::Login, "-1001: The request timed out."},
        {Op::Search, "-1001: The request timed out."},
        {Op::Status, "9250: The request timed out."},
        {Op::Download, "-1001: The request timed out."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"slow trickle",
       {{Op::Login, "ok"},
        {Op::Search, "ok"},
        {Op::Status, "ok"},
        {Op::Download, "ok"},
        {Op::Calibration, "ok"}}},
      {"cut mid-body",
       {{Op::Login, "-1005: The network connection was lost."},
        {Op::Search, "-1005: The network connection was lost."},
        {Op::Status, "9250: The network connection was lost."},
        {Op::Download, "-1005: The network connection was lost."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"longer length announced",
       {{Op::Login, "-1001: The request timed out."},
        {Op::Search, "-1001: The request timed out."},
        {Op::Status, "9250: The request timed out."},
        {Op::Download, "-1001: The request timed out."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"shorter length announced",
       {{Op::Login,
         "9001: Authentication failed: the cloud's answer to the login carries no credentials."},
        {Op::Search, "3840: The data couldn't be read because it isn't in the correct format."},
        {Op::Status, "9252: The data couldn't be read because it isn't in the correct format."},
        {Op::Download, "9280: Archive refused: *"},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"4xx with a message",
       {{Op::Login, "9001: Authentication failed: the cloud refused the SDK key (HTTP 403)."},
        {Op::Search, "403: Server Error:sdk_key_revoked"},
        {Op::Status, "9251: Server Error:sdk_key_revoked"},
        {Op::Download, "403: Received bad response (403) from server."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"5xx without a message",
       {{Op::Login, "-1011: The cloud is not available now (HTTP 503 from *"},
        {Op::Search, "503: Server Error:"},
        {Op::Status, "9251: Server Error:"},
        {Op::Download, "503: Received bad response (503) from server."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"not JSON",
       {{Op::Login,
         "9001: Authentication failed: the cloud's answer to the login carries no credentials."},
        {Op::Search, "3840: The data couldn't be read because it isn't in the correct format."},
        {Op::Status, "9252: The data couldn't be read because it isn't in the correct format."},
        {Op::Download, "9280: Archive refused: *"},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"JSON of the wrong shape",
       {{Op::Login,
         "9001: Authentication failed: the cloud's answer to the login carries no credentials."},
        {Op::Search, "ok"},
        {Op::Status,
         "9252: Invalid data: the catalogue status has no valid \"products_updated_at\" date"},
        {Op::Download, "9280: Archive refused: *"},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"nested a million deep",
       {{Op::Login, "-1011: The cloud is not available now (HTTP 500 from *"},
        {Op::Search, "500: Server Error:"},
        {Op::Status, "9251: Server Error:"},
        {Op::Download, "500: Received bad response (500) from server."},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
      {"huge body",
       {{Op::Login, "-1103: resource exceeds maximum size"},
        {Op::Search, "-1103: resource exceeds maximum size"},
        {Op::Status, "9250: resource exceeds maximum size"},
        {Op::Download, "9280: Archive refused: *"},
        {Op::Calibration, "9014: Device calibration fetch from web failed. Serial:*"}}},
  };
  return table;
}

bool matches(const std::string& seen, const std::string& want) {
  if (!want.empty() && want.back() == '*') {
    return seen.rfind(want.substr(0, want.size() - 1), 0) == 0;
  }
  return seen == want;
}

class NetworkFaults : public hcf_test::KitMatrixTest,
                      public ::testing::WithParamInterface<std::size_t> {
 protected:
  // Runs one call through the kit's public API and waits for its answer.
  Outcome run(Op op) {
    Answer answer;
    switch (op) {
      case Op::Login:
        HCFCentral::tryCasAuthWithSDKKey(fx::kDemoSdkKey,
                                         [&](auto error) { answer(std::move(error)); });
        break;
      case Op::Search: {
        auto s = HCFProductSearch::productSearch();
        auto term = std::make_shared<HCFGenericColorSearchTerm>();
        term->auxLab = HCFLabColor::labColorWithL(60, 10, 20, HCFIlluminant::D50);
        s.colorTerm = term;
        s.limit = 5;
        HCFNetTintVault::performTintVaultProductSearchUsingCredentials(
            loginCredentials(),
            JsonValue{{"search", HCFTintVaultSerialization::productSearchToServerDictionary(s)}},
            [&](auto, auto error) { answer(std::move(error)); });
        break;
      }
      case Op::Status:
        manager_.fetchProductsStatus([&](auto, auto error) { answer(std::move(error)); });
        break;
      case Op::Download:
        return download();
      case Op::Calibration:
        return fetchCalibration(uncachedSerial());
    }
    answer.await();
    return answer.outcome();
  }
};

TEST_P(NetworkFaults, EachCallAnswersOnceWithItsErrorAndLosesNothing) {
  const Row& row = rows()[GetParam()];
  std::string observed;
  bool allAsExpected = true;
  for (const auto& [op, name, path] : kCalls) {
    server_.clearFaults();
    std::string base = server_.baseUrl();
    row.apply(server_, path, base);
    CloudEndpoints::setCurrent(CloudEndpoints::withBase(base));
    stillRunning_ = 0;
    const Outcome answer = run(op);
    EXPECT_EQ(answer.calls, 1) << name;
    std::string seen = hcf_test::describe(answer.error);
    if (stillRunning_ != 0) seen += " (cancelled while still receiving)";
    observed += std::string("        {Op::") + name + ", \"" + seen + "\"},\n";
    const auto& expected = expectations().at(row.name);
    const auto want = expected.find(op);
    if (want == expected.end() || !matches(seen, want->second)) allAsExpected = false;
    CloudEndpoints::setCurrent(CloudEndpoints::withBase(server_.baseUrl()));
    // A download that succeeds (slowly) installs its catalogue, as it should.
    if (op == Op::Download && !answer.error) storeInode_ = inodeOf(store());
    expectNothingLostOrLeft(std::string(row.name) + ", " + name);
  }
  EXPECT_TRUE(allAsExpected) << row.name << " answered:\n" << observed;

  // Without the fault every call works again.
  server_.clearFaults();
  for (const Op op : {Op::Login, Op::Search, Op::Status}) {
    const Outcome again = run(op);
    EXPECT_FALSE(again.error) << nameOf(op) << " after " << row.name << ": "
                              << hcf_test::describe(again.error);
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, NetworkFaults, ::testing::Range<std::size_t>(0, rows().size()),
                         [](const auto& p) {
                           std::string name = rows()[p.param].name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
