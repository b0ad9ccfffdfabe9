// The reference cloud with the fixture catalogue published, the kit pointed at it, and the
// main queue on a manual clock.
#pragma once

#include <memory>

#include "await.h"
#include "catalog_fixture.h"
#include "catalog_routes.h"
#include "cloud_test_support.h"
#include "hcf/hcf.h"

namespace hcf_test {

class CatalogCloudTest : public CloudTest {
 protected:
  /// Products in the published catalogue.
  static constexpr std::size_t kCatalogSize = 120;

  void SetUp() override {
    CloudTest::SetUp();
    hcf::dispatch::mainQueue().reset(std::make_shared<hcf::dispatch::ManualClock>());
    hcf_cloud::addCatalogRoutes(server_, world_);
    published_ = hcf_cloud::fixtures::publishCatalog(*world_, dir_ / "cloud", kCatalogSize);
  }

  void TearDown() override {
    signOut();  // the kit's credentials outlive a test
    CloudTest::TearDown();
  }

  /// Logs in with the demo SDK key: the kit's credentials then carry a session.
  void signIn() {
    auto [error] = awaitAnywhere<std::optional<hcf::HCFError>>([](auto done) {
      hcf::HCFCentral::tryCasAuthWithSDKKey(hcf_cloud::fixtures::kDemoSdkKey, done);
    });
    ASSERT_FALSE(error) << error->localizedDescription;
  }
  /// Credentials without a session (no login succeeded).
  void signOut() {
    hcf::HCFCentral::initWithCreds(
        hcf::HCFNetCredentials::credsWithSDKKey(hcf_cloud::fixtures::kDemoSdkKey), {});
  }
  /// The credentials of a login, without making them the kit's.
  hcf::HCFNetCredentials loginCredentials() const {
    return hcf::HCFNetCredentials::sdkAuthResponseFromDictionary(
        *world_->login(hcf_cloud::fixtures::kDemoSdkKey));
  }
  /// The requests the server saw for `path`.
  std::vector<hcf_cloud::SeenRequest> requestsTo(const std::string& path) const {
    std::vector<hcf_cloud::SeenRequest> out;
    for (const auto& r : server_.requests()) {
      if (r.path == path) out.push_back(r);
    }
    return out;
  }

  hcf_cloud::fixtures::CatalogFiles published_;
};

}  // namespace hcf_test
