// A fresh data directory and the reference cloud, populated with the fixture world, on an
// ephemeral loopback port; the kit's endpoints point at it.
#pragma once

#include <memory>

#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "store_test_support.h"

namespace hcf_test {

class CloudTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    world_ = std::make_shared<hcf_cloud::CloudWorld>();
    hcf_cloud::fixtures::populate(*world_);
    hcf_cloud::addKitRoutes(server_, world_);
    server_.start();
    hcf::CloudEndpoints::setCurrent(hcf::CloudEndpoints::withBase(server_.baseUrl()));
  }
  void TearDown() override {
    server_.stop();
    StoreTest::TearDown();
  }

  std::shared_ptr<hcf_cloud::CloudWorld> world_;
  hcf_cloud::CloudServer server_;
};

}  // namespace hcf_test
