// Event recorders for the Bluetooth interfaces, and a connected simulated colorimeter.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/ble/sim.h"
#include "main_queue_fixture.h"

namespace hcf_test {

namespace ble = hcf::ble;

/// Records the central's events as text lines ("state 5", "discover <id> -55", ...).
struct CentralRecorder : ble::CentralManagerDelegate {
  std::vector<std::string> events;
  std::vector<std::shared_ptr<ble::Peripheral>> discovered;
  std::vector<ble::AdvertisementData> advertisements;
  std::optional<ble::Error> lastError;  // of the last failed or ended connection

  void centralManagerDidUpdateState(ble::CentralManager& c) override {
    events.push_back("state " + std::to_string(static_cast<int>(c.state())));
  }
  void didDiscoverPeripheral(ble::CentralManager&, const std::shared_ptr<ble::Peripheral>& p,
                             const ble::AdvertisementData& adv, int rssi) override {
    events.push_back("discover " + p->identifier() + " " + std::to_string(rssi));
    discovered.push_back(p);
    advertisements.push_back(adv);
  }
  void didConnectPeripheral(ble::CentralManager&,
                            const std::shared_ptr<ble::Peripheral>& p) override {
    events.push_back("connect " + p->identifier());
  }
  void didFailToConnectPeripheral(ble::CentralManager&, const std::shared_ptr<ble::Peripheral>& p,
                                  const std::optional<ble::Error>& e) override {
    lastError = e;
    events.push_back("fail " + p->identifier() + " " + std::to_string(e ? e->code : 0));
  }
  void didDisconnectPeripheral(ble::CentralManager&, const std::shared_ptr<ble::Peripheral>& p,
                               const std::optional<ble::Error>& e) override {
    lastError = e;
    events.push_back("disconnect " + p->identifier() +
                     (e ? " error " + std::to_string(e->code) : ""));
  }
  std::size_t count(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
};

/// A world with a powered central whose state report has arrived.
class SimWorldTest : public MainQueueTest {
 protected:
  void SetUp() override {
    MainQueueTest::SetUp();
    world_ = ble::sim::World::create();
    recorder_ = std::make_shared<CentralRecorder>();
    central_ = world_->makeCentralManager(recorder_);
    advance(10ms);
  }

  /// Connects `device` through the central and returns its peripheral.
  std::shared_ptr<ble::Peripheral> connect(const std::shared_ptr<ble::sim::Device>& device) {
    central_->scanForPeripheralsWithServices(std::nullopt, {});
    advance(150ms);
    central_->stopScan();
    std::shared_ptr<ble::Peripheral> found;
    for (const auto& p : recorder_->discovered) {
      if (p->identifier() == device->identifier()) found = p;
    }
    if (!found) return nullptr;
    central_->connectPeripheral(found, {});
    advance(100ms);
    return found->state() == ble::PeripheralState::Connected ? found : nullptr;
  }

  std::shared_ptr<ble::sim::World> world_;
  std::shared_ptr<CentralRecorder> recorder_;
  std::shared_ptr<ble::CentralManager> central_;
};

}  // namespace hcf_test
