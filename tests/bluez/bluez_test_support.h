// The BlueZ backend against the fake bluetoothd on a private bus, on the manual clock: time
// only moves when a test says so; waiting means round trips to the daemon.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "../support/ble_recorders.h"
#include "fake_bluez_bus.h"
#include "hcf/platform/ble/bluez.h"

namespace hcf_test {

namespace bluez = hcf::ble::bluez;

/// Records a peripheral's events as text lines ("read <uuid> <hex>", "notify <uuid> <hex>", ...).
struct PeripheralRecorder : ble::PeripheralDelegate {
  std::vector<std::string> events;
  static std::string hex(const std::optional<hcf::Bytes>& v) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (auto b : v.value_or(hcf::Bytes{})) {
      out += d[b >> 4];
      out += d[b & 0xF];
    }
    return out;
  }
  static std::string err(const std::optional<ble::Error>& e) {
    return e ? " error " + (e->domain.empty() ? std::to_string(e->code) : e->domain) : "";
  }
  void didDiscoverServices(ble::Peripheral& p, const std::optional<ble::Error>& e) override {
    events.push_back("services " + std::to_string(p.services().size()) + err(e));
  }
  void didDiscoverCharacteristicsForService(ble::Peripheral&,
                                            const std::shared_ptr<ble::Service>& s,
                                            const std::optional<ble::Error>& e) override {
    events.push_back("characteristics " + std::to_string(s->characteristics().size()) + err(e));
  }
  void didUpdateValueForCharacteristic(ble::Peripheral&,
                                       const std::shared_ptr<ble::Characteristic>& c,
                                       const std::optional<ble::Error>& e) override {
    events.push_back("value " + c->uuid().lowercaseString().substr(0, 8) + " " + hex(c->value()) +
                     err(e));
  }
  void didWriteValueForCharacteristic(ble::Peripheral&,
                                      const std::shared_ptr<ble::Characteristic>& c,
                                      const std::optional<ble::Error>& e) override {
    events.push_back("wrote " + c->uuid().lowercaseString().substr(0, 8) + err(e));
  }
  void didUpdateNotificationStateForCharacteristic(ble::Peripheral&,
                                                   const std::shared_ptr<ble::Characteristic>& c,
                                                   const std::optional<ble::Error>& e) override {
    events.push_back(std::string(c->isNotifying() ? "notifying " : "not notifying ") +
                     c->uuid().lowercaseString().substr(0, 8) + err(e));
  }
};

class BluezTest : public MainQueueTest {
 protected:
  void SetUp() override {
    MainQueueTest::SetUp();
    fake_ = std::make_unique<hcf_bluez::FakeBluez>(fakeParameters(), busConfig());
  }
  void TearDown() override {
    central_.reset();
    backend_.reset();
    fake_.reset();
    MainQueueTest::TearDown();
  }
  virtual std::string fakeParameters() const { return "{}"; }
  virtual std::optional<std::filesystem::path> busConfig() const { return std::nullopt; }

  /// Opens the backend and a central, and waits for its first state report.
  void openCentral(const bluez::Options& options = {}) {
    backend_ = bluez::Backend::open(options);
    recorder_ = std::make_shared<CentralRecorder>();
    central_ = backend_->makeCentralManager(recorder_);
    ASSERT_TRUE(waitFor([&] { return recorder_->count("state") > 0; }));
  }

  /// One round trip to the daemon: everything it sent before is handled when this returns.
  void roundTrip() {
    bool done = false;
    backend_->sync([&] { done = true; });
    queue().runUntil([&] { return done; });
  }
  /// Round trips until `done` holds: false after `limit` of them when one is given, else
  /// after half a minute of real time. A count suits what only the daemon answers; the kit
  /// also waits on the reference cloud, which answers from threads of its own (under
  /// ThreadSanitizer a download outlasts thousands of round trips).
  bool waitFor(const std::function<bool()>& done, int limit = 0) {
    if (limit > 0) {
      for (int i = 0; i < limit && !done(); ++i) roundTrip();
      return done();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      roundTrip();
    }
    return true;
  }

  /// Scans until the peripheral named `name` is reported, then stops; the peripheral.
  std::shared_ptr<ble::Peripheral> discover(const std::string& name,
                                            std::optional<std::vector<ble::UUID>> services = {}) {
    central_->scanForPeripheralsWithServices(services, {});
    waitFor([&] { return byName(name) != nullptr; });
    central_->stopScan();
    return byName(name);
  }
  /// Discovers and connects the peripheral named `name`, with its peripheral recorder.
  std::shared_ptr<ble::Peripheral> connect(const std::string& name) {
    auto p = discover(name);
    if (!p) return nullptr;
    p->setDelegate(peripheralRecorder_);
    central_->connectPeripheral(p, {});
    waitFor([&] { return p->state() == ble::PeripheralState::Connected; });
    return p->state() == ble::PeripheralState::Connected ? p : nullptr;
  }

  /// The discovered peripheral whose name is `name`.
  std::shared_ptr<ble::Peripheral> byName(const std::string& name) const {
    for (const auto& p : recorder_->discovered) {
      if (p->name() == name) return p;
    }
    return nullptr;
  }

  std::unique_ptr<hcf_bluez::FakeBluez> fake_;
  std::shared_ptr<bluez::Backend> backend_;
  std::shared_ptr<CentralRecorder> recorder_;
  std::shared_ptr<ble::CentralManager> central_;
  std::shared_ptr<PeripheralRecorder> peripheralRecorder_ = std::make_shared<PeripheralRecorder>();
};

}  // namespace hcf_test
