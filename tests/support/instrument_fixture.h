// Instruments on the simulated radio, with the reference cloud answering for their records and
// model packages. The main queue runs on the manual clock; `settle` waits for the network.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "ble_recorders.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hi_tintra.h"
#include "hcf/instrument/hcf_colorimeter.h"
#include "hcf/instrument/hcf_spectrometer.h"
#include "hcf/store/hcf_realm_manager.h"
#include "simulated_instruments.h"

namespace hcf_test {

namespace fx = hcf_cloud::fixtures;

/// What an instrument's delegate saw.
struct InstrumentRecorder : hcf::HCFColorInstrumentDelegate {
  int buttons = 0;
  int disconnects = 0;
  void buttonPressed(hcf::HCFColorInstrument&) override { ++buttons; }
  void onDisconnect(hcf::HCFColorInstrument&) override { ++disconnects; }
};

struct Created {
  std::shared_ptr<hcf::HCFColorInstrument> instrument;
  std::optional<hcf::HCFError> error;
  int calls = 0;
};

class InstrumentTest : public SimWorldTest {
 protected:
  void SetUp() override {
    SimWorldTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() /
           ("hcf-instrument-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    hcf::HCFRealmManager::setDocDirectory(dir_);
    world_cloud_ = std::make_shared<hcf_cloud::CloudWorld>();
    fx::populate(*world_cloud_);
    hcf_cloud::addKitRoutes(server_, world_cloud_);
    server_.start();
    hcf::CloudEndpoints::setCurrent(hcf::CloudEndpoints::withBase(server_.baseUrl()));
    hcf::HITintraSession::currentSession().setApiKey(fx::kDemoDeviceKey);
  }
  void TearDown() override {
    server_.stop();
    hcf::HCFRealmManager::setDocDirectory(std::nullopt);
    std::filesystem::remove_all(dir_);
    SimWorldTest::TearDown();
  }

  /// Lets the network answer and the main queue run what it posts. The clock moves by at most
  /// a few milliseconds: idle waits are spent waiting for the network, not jumping timers.
  void settle() {
    for (int i = 0; i < 3; ++i) queue().runUntil(nullptr, queue().now() + 1ms);
  }

  /// Connects `device` and creates its instrument for `service` (text of the main service).
  Created create(const std::shared_ptr<hcf::ble::sim::Device>& device, const std::string& service) {
    auto peripheral = connect(device);
    EXPECT_TRUE(peripheral);
    auto out = std::make_shared<Created>();
    last_ = out;
    hcf::HCFColorInstrument::createWithPeripheral(peripheral, service,
                                                  [out](auto instrument, auto error) {
                                                    ++out->calls;
                                                    out->instrument = std::move(instrument);
                                                    out->error = std::move(error);
                                                  });
    advance(500ms);
    return *out;
  }
  /// The outcome of the last creation as it stands now.
  Created lastCreated() const { return last_ ? *last_ : Created{}; }

  std::shared_ptr<hcf_cloud::CloudWorld> world_cloud_;
  hcf_cloud::CloudServer server_;
  std::filesystem::path dir_;
  std::shared_ptr<Created> last_;
};

inline const std::string kColorimeterService = "26DB67AB-FC40-420A-B080-2CE709BFB7D0";
inline const std::string kSpectrometerService = "89504ca4-c879-446f-a10e-f6c2da131d41";

}  // namespace hcf_test
