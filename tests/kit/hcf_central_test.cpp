// Start-up of the kit. The entry object is process-wide and, once initialised, stays so: each
// case needs a process of its own, which ctest gives it (run alone, later cases skip).
#include "hcf/kit/hcf_central.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "../support/instrument_fixture.h"
#include "hcf/core/ht_utility.h"

using namespace hcf;
using namespace hcf_test;

namespace {

struct DelegateRecorder : HCFCentralDelegate {
  std::vector<std::optional<HCFError>> reports;
  void onInit(std::optional<HCFError> error) override { reports.push_back(error); }
};

class CentralTest : public InstrumentTest {
 protected:
  void SetUp() override {
    if (HCFCentral::isInitialized()) {
      GTEST_SKIP() << "needs a fresh process (ctest runs each case on its own)";
    }
    InstrumentTest::SetUp();
    std::weak_ptr<ble::sim::World> world = world_;
    HCFConfiguration config;
    config.dataDirectory = dir_;
    config.endpoints = CloudEndpoints::withBase(server_.baseUrl());
    config.bluetooth = [world](std::weak_ptr<ble::CentralManagerDelegate> d) {
      auto w = world.lock();
      return w ? w->makeCentralManager(std::move(d)) : nullptr;
    };
    HCFCentral::configure(config);
  }
  void TearDown() override {
    if (IsSkipped()) return;
    ble::setCentralFactory({});
    InstrumentTest::TearDown();
  }
  std::optional<std::optional<HCFError>> start(const std::string& key) {
    std::optional<std::optional<HCFError>> result;
    HCFCentral::initWith(key, [&](std::optional<HCFError> e) { result = e; });
    settle();
    return result;
  }
  void goOffline() {
    server_.stop();
    CloudEndpoints::setCurrent(CloudEndpoints::withBase("http://127.0.0.1:9"));
  }
};

}  // namespace

TEST_F(CentralTest, OnlineStartKeepsTheDeviceKeyAndLaterStartsOnlyReport) {
  auto result = start(fx::kDemoSdkKey);
  ASSERT_TRUE(result);
  ASSERT_FALSE(*result) << (*result)->localizedDescription;
  EXPECT_TRUE(HCFCentral::isInitialized());
  ASSERT_TRUE(HCFCentral::connectionManager());
  EXPECT_TRUE(HCFCentral::productManager());
  EXPECT_EQ(HCFCentral::creds().b2APIKey, fx::kDemoDeviceKey);
  std::ifstream saved(HCFCentral::savedDeviceKeyPath());
  std::string key;
  std::getline(saved, key);
  EXPECT_EQ(key, fx::kDemoDeviceKey);
  struct stat st {};
  ASSERT_EQ(::stat(HCFCentral::savedDeviceKeyPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The managers work: the connection manager discovers on the configured backend.
  fx::SimulatedColorimeter c(*world_, "2.0");
  std::optional<std::vector<HPeripheralWRSSI>> found;
  HCFCentral::connectionManager()->bleDiscoverWithRestricted(false,
                                                             [&](auto f, auto) { found = f; });
  advance(3100ms);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->size(), 1u);

  // Once initialised with the same key: success on the main queue, no traffic, the session
  // kept. Another key logs in again and its answer is reported.
  const auto before = server_.requests().size();
  const auto session = HCFCentral::creds().sessionToken;
  bool called = false;
  HCFCentral::initWith(fx::kDemoSdkKey, [&](std::optional<HCFError> e) {
    called = true;
    EXPECT_FALSE(e);
  });
  EXPECT_FALSE(called) << "delivered on the main queue, after this call";
  advance(1ms);
  EXPECT_TRUE(called);
  EXPECT_EQ(server_.requests().size(), before);
  EXPECT_EQ(HCFCentral::creds().sessionToken, session);
  std::optional<std::optional<HCFError>> other;
  HCFCentral::initWith("another-key", [&](std::optional<HCFError> e) { other = e; });
  settle();
  advance(1ms);
  ASSERT_TRUE(other && *other);
  EXPECT_EQ((*other)->code, error_code::kAuthenticationFailed);
  EXPECT_EQ(server_.requests().size(), before + 1);
  EXPECT_EQ(HCFCentral::creds().sdkKey, "another-key");
  auto recorder = std::make_shared<DelegateRecorder>();
  HCFCentral::initWith("k", std::weak_ptr<HCFCentralDelegate>());  // no delegate: no report
  HCFCentral::initWith("k", recorder);
  settle();
  advance(1ms);
  EXPECT_EQ(recorder->reports.size(), 1u);
}

// A login whose answer lacks the SDK key and the device-service key keeps what the kit knew.
TEST_F(CentralTest, ALoginWithoutADeviceKeyKeepsTheKeptOne) {
  std::filesystem::create_directories(dir_);
  std::ofstream(HCFCentral::savedDeviceKeyPath()) << fx::kDemoDeviceKey << '\n';
  world_cloud_->addLogin("no-device-key", {{"session_token", "session-0002"},
                                           {"subscription_id", "sub-0002"},
                                           {"package_id", fx::kDemoPackageID}});
  auto result = start("no-device-key");
  ASSERT_TRUE(result);
  ASSERT_FALSE(*result) << (*result)->localizedDescription;
  EXPECT_EQ(HITintraSession::currentSession().apiKey(), fx::kDemoDeviceKey);
  EXPECT_EQ(HCFCentral::creds().sdkKey, "no-device-key");
  EXPECT_EQ(HCFCentral::creds().b2APIKey, fx::kDemoDeviceKey);
  std::ifstream saved(HCFCentral::savedDeviceKeyPath());
  std::string key;
  std::getline(saved, key);
  EXPECT_EQ(key, fx::kDemoDeviceKey);
}

// The cloud answering 503 at login is an outage, not a refusal: the kit starts offline with the
// kept key, and what needs a login says that none has happened.
TEST_F(CentralTest, AnOutageAtLoginStartsOfflineWithTheKeptKey) {
  std::filesystem::create_directories(dir_);
  std::ofstream(HCFCentral::savedDeviceKeyPath()) << fx::kDemoDeviceKey << '\n';
  server_.setFault("/cas/sdk/auth", {.status = 503, .body = ""});
  auto result = start(fx::kDemoSdkKey);
  ASSERT_TRUE(result);
  ASSERT_FALSE(*result) << (*result)->localizedDescription;
  EXPECT_TRUE(HCFCentral::isInitialized());
  std::optional<HCFError> status;
  HCFCentral::productManager()->fetchProductsStatus([&](auto, auto e) { status = e; });
  ASSERT_TRUE(status);
  EXPECT_EQ(status->code, error_code::kAuthenticationFailed);
  EXPECT_EQ(status->localizedDescription.rfind("Not logged in", 0), 0u);
}

// A secure connection that fails (here: a server that speaks no TLS) is not being offline: it is
// reported, naming the host, and the kit does not quietly start without the cloud.
TEST_F(CentralTest, AFailedSecureConnectionIsReportedNotTakenForOffline) {
  std::filesystem::create_directories(dir_);
  std::ofstream(HCFCentral::savedDeviceKeyPath()) << fx::kDemoDeviceKey << '\n';
  auto base = server_.baseUrl();
  base.replace(0, 4, "https");
  CloudEndpoints::setCurrent(CloudEndpoints::withBase(base));
  auto result = start(fx::kDemoSdkKey);
  ASSERT_TRUE(result && *result);
  EXPECT_EQ((*result)->code, http::url_error::kSecureConnectionFailed);
  EXPECT_NE((*result)->localizedDescription.find("127.0.0.1"), std::string::npos);
  EXPECT_FALSE(HCFCentral::isInitialized());
}

TEST_F(CentralTest, RefusedKeyIsTheAuthenticationFailure) {
  auto result = start("not-a-key");
  ASSERT_TRUE(result && *result);
  EXPECT_EQ((*result)->code, error_code::kAuthenticationFailed);
  EXPECT_FALSE(HCFCentral::isInitialized());
  auto recorder = std::make_shared<DelegateRecorder>();
  HCFCentral::initWith("not-a-key", recorder);
  settle();
  advance(1ms);
  ASSERT_EQ(recorder->reports.size(), 1u);
  EXPECT_EQ(recorder->reports[0]->code, error_code::kAuthenticationFailed);
}

TEST_F(CentralTest, OfflineStartUsesTheKeptKeyWithoutTrafficOfItsOwn) {
  std::filesystem::create_directories(dir_);
  std::ofstream(HCFCentral::savedDeviceKeyPath()) << fx::kDemoDeviceKey << '\n';
  goOffline();
  auto result = start(fx::kDemoSdkKey);
  ASSERT_TRUE(result);
  EXPECT_FALSE(*result);
  EXPECT_TRUE(HCFCentral::isInitialized());
  EXPECT_TRUE(HCFCentral::connectionManager());
}

TEST_F(CentralTest, OfflineStartWithoutAKeptKeyIsNoInternet) {
  goOffline();
  auto result = start(fx::kDemoSdkKey);
  ASSERT_TRUE(result && *result);
  EXPECT_EQ((*result)->code, error_code::kNoInternet);
  auto recorder = std::make_shared<DelegateRecorder>();
  HCFCentral::initWith(fx::kDemoSdkKey, recorder);
  settle();
  advance(1ms);
  ASSERT_EQ(recorder->reports.size(), 1u);
  EXPECT_EQ(recorder->reports[0]->code, error_code::kNoInternet);
  EXPECT_FALSE(HCFCentral::isInitialized());
}

TEST_F(CentralTest, StartWithCredentialsMakesNoLogin) {
  auto recorder = std::make_shared<DelegateRecorder>();
  HCFNetCredentials creds = HCFNetCredentials::credsWithSDKKey(fx::kDemoSdkKey);
  creds.b2APIKey = fx::kDemoDeviceKey;
  HCFCentral::initWithCreds(creds, recorder);
  settle();
  advance(1ms);
  ASSERT_EQ(recorder->reports.size(), 1u);
  EXPECT_FALSE(recorder->reports[0]);
  EXPECT_TRUE(HCFCentral::isInitialized());
  for (const auto& r : server_.requests()) EXPECT_NE(r.path, "/cas/sdk/auth");
}
