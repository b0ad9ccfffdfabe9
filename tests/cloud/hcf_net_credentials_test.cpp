// Cloud login against the reference cloud.
#include "hcf/cloud/hcf_net_credentials.h"

#include <gtest/gtest.h>

#include <future>
#include <tuple>

#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/cloud/cloud_endpoints.h"

using namespace hcf;
using namespace std::chrono_literals;

namespace {

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = std::make_shared<hcf_cloud::CloudWorld>();
    hcf_cloud::fixtures::populate(*world_);
    hcf_cloud::addKitRoutes(server_, world_);
    server_.start();
    CloudEndpoints::setCurrent(CloudEndpoints::withBase(server_.baseUrl()));
  }
  void TearDown() override { server_.stop(); }

  std::pair<std::optional<HCFNetCredentials>, std::optional<HCFError>> login(
      const std::string& key) {
    std::promise<std::pair<std::optional<HCFNetCredentials>, std::optional<HCFError>>> done;
    HCFNetCas::authSDKUsingKey(key, [&](auto c, auto e) { done.set_value({c, e}); });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(20s), std::future_status::ready);
    return f.get();
  }

  std::shared_ptr<hcf_cloud::CloudWorld> world_;
  hcf_cloud::CloudServer server_;
};

}  // namespace

TEST_F(LoginTest, KnownKeyGivesCredentialsAndTheRequestCarriesCastAndToken) {
  auto [creds, error] = login(hcf_cloud::fixtures::kDemoSdkKey);
  ASSERT_TRUE(creds) << error->description();
  EXPECT_EQ(creds->sessionToken, "session-0001");
  EXPECT_EQ(creds->b2APIKey, hcf_cloud::fixtures::kDemoDeviceKey);
  EXPECT_EQ(creds->packageID, hcf_cloud::fixtures::kDemoPackageID);
  const auto seen = server_.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].path, "/cas/sdk/auth");
  EXPECT_EQ(seen[0].headers.find("CAST")->second, "5d2a8c47-91e3-4b6f-a0d8-3e7c19f4b2a6");
  EXPECT_EQ(seen[0].body, R"({"token":"demo-sdk-key"})");
}

TEST_F(LoginTest, RefusedKeysAndNonJsonAnswersAreTheAuthenticationFailure) {
  auto [creds, error] = login("unknown-key");
  EXPECT_FALSE(creds);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 9001);
  EXPECT_EQ(error->domain, "com.halverninc");
  server_.setFault("/cas/sdk/auth", {.status = 200, .body = "<html>maintenance</html>"});
  std::tie(creds, error) = login(hcf_cloud::fixtures::kDemoSdkKey);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 9001);
  // JSON that is not an object carries no credentials either.
  for (const char* body : {R"(["session_token", "sub-0001"])", "42", R"("text")", "null"}) {
    server_.setFault("/cas/sdk/auth", {.status = 200, .body = body});
    std::tie(creds, error) = login(hcf_cloud::fixtures::kDemoSdkKey);
    EXPECT_FALSE(creds) << body;
    ASSERT_TRUE(error) << body;
    EXPECT_EQ(error->code, 9001) << body;
  }
}

// A status at login is a refusal only for 400, 401 and 403; the cloud being down, overloaded or
// slow is an outage, told apart as the transport's failures are.
TEST_F(LoginTest, StatusesAtLoginAreRefusalsOrOutages) {
  const std::vector<std::tuple<int, const char*, std::int64_t, const char*>> rows = {
      {400, "com.halverninc", 9001, "the cloud refused the SDK key (HTTP 400)"},
      {401, "com.halverninc", 9001, "the cloud refused the SDK key (HTTP 401)"},
      {403, "com.halverninc", 9001, "the cloud refused the SDK key (HTTP 403)"},
      {404, "com.halverninc", 404, "Server Error:"},
      {408, "NSURLErrorDomain", -1011, "The cloud is not available now (HTTP 408"},
      {429, "NSURLErrorDomain", -1011, "The cloud is not available now (HTTP 429"},
      {502, "NSURLErrorDomain", -1011, "The cloud is not available now (HTTP 502"},
      {503, "NSURLErrorDomain", -1011, "The cloud is not available now (HTTP 503"},
  };
  for (const auto& [status, domain, code, text] : rows) {
    server_.setFault("/cas/sdk/auth", {.status = status, .body = "{}"});
    auto [creds, error] = login(hcf_cloud::fixtures::kDemoSdkKey);
    EXPECT_FALSE(creds) << status;
    ASSERT_TRUE(error) << status;
    EXPECT_EQ(error->domain, domain) << status;
    EXPECT_EQ(error->code, code) << status;
    EXPECT_NE(error->localizedDescription.find(text), std::string::npos)
        << error->localizedDescription;
  }
}

TEST_F(LoginTest, TransportFailuresPassUnchanged) {
  server_.stop();
  auto [creds, error] = login(hcf_cloud::fixtures::kDemoSdkKey);
  EXPECT_FALSE(creds);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "NSURLErrorDomain");
  EXPECT_EQ(error->code, -1004);
}

TEST_F(LoginTest, MissingMembersReadAsNullText) {
  world_->addLogin("partial",
                   {{"session_token", "s"}, {"subscription_id", nullptr}, {"platform_id", 7}});
  auto [creds, error] = login("partial");
  ASSERT_TRUE(creds);
  EXPECT_EQ(creds->sdkKey, "(null)");
  EXPECT_EQ(creds->b2APIKey, "(null)");
  EXPECT_EQ(creds->subscriptionID, "<null>");
  EXPECT_EQ(creds->platformID, "7");
}

TEST(HCFNetCredentials, DictionaryAndHeaders) {
  const auto only = HCFNetCredentials::credsWithSDKKey("k");
  EXPECT_EQ(only.toDictionary().dump(), R"({"sdk_key":"k"})");
  auto full = HCFNetCredentials::credsFromDictionary(JsonValue{{"sdk_key", "k"},
                                                               {"session_token", "t"},
                                                               {"subscription_id", "s"},
                                                               {"b2_access_key", "b"},
                                                               {"platform_id", "p"},
                                                               {"package_id", "pkg"}});
  EXPECT_FALSE(full.toDictionary().contains("package_id"));
  EXPECT_EQ(full.toDictionary().size(), 5u);
  const auto h = full.headersForTintVault();
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0], (std::pair<std::string, std::string>{"Session-Token", "t"}));
  EXPECT_EQ(h[1], (std::pair<std::string, std::string>{"Cas-Sub-Id", "s"}));
  EXPECT_EQ(only.headersForTintVault().size(), 2u);
}
