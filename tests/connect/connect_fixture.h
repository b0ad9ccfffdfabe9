// A connection manager on the simulated radio, with the reference cloud behind it.
#pragma once

#include <gtest/gtest.h>

#include "../support/instrument_fixture.h"
#include "hcf/connect/hcf_connection_manager.h"
#include "hcf/connect/hcf_multi_connect_controller.h"

namespace hcf_test {

/// What a connection listener heard.
struct StateRecorder : hcf::HCFConnectionManagerDelegate {
  std::vector<hcf::HCFConnectivityState> states;
  std::vector<hcf::dispatch::TimePoint> times;  ///< when each state was heard
  std::vector<std::size_t> counts;
  std::vector<hcf::HCFError> warnings;
  std::vector<hcf::HCFError> errors;
  void onStateChanged(hcf::HCFConnectivityState state, std::size_t discovered) override {
    states.push_back(state);
    times.push_back(hcf::dispatch::mainQueue().now());
    counts.push_back(discovered);
  }
  void onWarning(const hcf::HCFError& w) override { warnings.push_back(w); }
  void onError(const hcf::HCFError& e) override { errors.push_back(e); }
  bool saw(hcf::HCFConnectivityState s) const {
    return std::find(states.begin(), states.end(), s) != states.end();
  }
  /// When `s` was last heard (the epoch if never).
  hcf::dispatch::TimePoint heardAt(hcf::HCFConnectivityState s) const {
    for (std::size_t i = states.size(); i-- > 0;) {
      if (states[i] == s) return times[i];
    }
    return {};
  }
};

struct Discovery {
  std::optional<std::vector<hcf::HPeripheralWRSSI>> found;
  std::optional<hcf::HCFError> error;
  int calls = 0;
};

struct Connection {
  std::optional<hcf::HCFError> error;
  int calls = 0;
};

class ConnectTest : public InstrumentTest {
 protected:
  void SetUp() override {
    InstrumentTest::SetUp();
    std::weak_ptr<hcf::ble::sim::World> world = world_;
    hcf::ble::setCentralFactory([world](std::weak_ptr<hcf::ble::CentralManagerDelegate> d) {
      auto w = world.lock();
      return w ? w->makeCentralManager(std::move(d)) : nullptr;
    });
    hcf::HCFConnectionManager::withB2Key(
        fx::kDemoDeviceKey, [this](auto m) { manager_ = std::move(m); },
        [](const hcf::HCFError& e) { FAIL() << e.localizedDescription; });
    ASSERT_TRUE(manager_);
    manager_->setConnectionListener(listener_);
    advance(10ms);  // the central's first state report
  }
  void TearDown() override {
    if (manager_) manager_->multiConnectStop();
    manager_.reset();
    hcf::ble::setCentralFactory({});
    InstrumentTest::TearDown();
  }

  std::shared_ptr<Discovery> discover(bool restricted = false) {
    auto out = std::make_shared<Discovery>();
    manager_->bleDiscoverWithRestricted(restricted, [out](auto found, auto error) {
      ++out->calls;
      out->found = std::move(found);
      out->error = std::move(error);
    });
    advance(hcf::HCFDirectConnectController::kDiscoveryWindow + 10ms);
    return out;
  }
  std::shared_ptr<Connection> connectWith(
      const std::function<void(hcf::HCFConnectionManager&, hcf::ConnectCallback)>& how) {
    auto out = std::make_shared<Connection>();
    how(*manager_, [out](auto error) {
      ++out->calls;
      out->error = std::move(error);
    });
    for (int i = 0; i < 4; ++i) {
      advance(hcf::HCFDirectConnectController::kDiscoveryWindow + 10ms);
      settle();
    }
    return out;
  }

  std::shared_ptr<hcf::HCFConnectionManager> manager_;
  std::shared_ptr<StateRecorder> listener_ = std::make_shared<StateRecorder>();
};

}  // namespace hcf_test
