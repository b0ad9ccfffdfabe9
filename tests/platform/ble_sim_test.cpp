// The simulated Bluetooth world behaves as the platform does, faults included.
#include <gtest/gtest.h>

#include "../support/ble_recorders.h"

using namespace hcf_test;
using namespace std::chrono_literals;
namespace sim = hcf::ble::sim;
using hcf::ble::Bytes;
using hcf::ble::UUID;

namespace {

const UUID kService = UUID::UUIDWithString("26db67ab-fc40-420a-b080-2ce709bfb7d0");
const UUID kValue = UUID::UUIDWithString("1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2");
const UUID kOther = UUID::UUIDWithString("4aecb80d-0f0a-45d4-a2da-4796f114b8d3");
const UUID kWritable = UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");

// Records a peripheral's GATT events as text.
struct GattRecorder : hcf::ble::PeripheralDelegate {
  std::vector<std::string> events;
  void didDiscoverServices(hcf::ble::Peripheral& p,
                           const std::optional<hcf::ble::Error>&) override {
    events.push_back("services " + std::to_string(p.services().size()));
  }
  void didDiscoverCharacteristicsForService(hcf::ble::Peripheral&,
                                            const std::shared_ptr<hcf::ble::Service>& s,
                                            const std::optional<hcf::ble::Error>&) override {
    events.push_back("characteristics " + std::to_string(s->characteristics().size()));
  }
  void didUpdateValueForCharacteristic(hcf::ble::Peripheral&,
                                       const std::shared_ptr<hcf::ble::Characteristic>& c,
                                       const std::optional<hcf::ble::Error>&) override {
    std::string text = "value " + c->uuid().UUIDString().substr(0, 4) + " [";
    for (auto b : *c->value()) text += std::to_string(b) + ",";
    events.push_back(text + "]");
  }
  void didWriteValueForCharacteristic(hcf::ble::Peripheral&,
                                      const std::shared_ptr<hcf::ble::Characteristic>& c,
                                      const std::optional<hcf::ble::Error>&) override {
    events.push_back("written " + c->uuid().UUIDString().substr(0, 4));
  }
};

class BleSimTest : public SimWorldTest {
 protected:
  std::shared_ptr<sim::Device> makeDevice() {
    auto d = world_->addDevice();
    d->addService({kService,
                   {{kValue, {.read = true, .notify = true}, {1, 2, 3}},
                    {kOther, {.read = true}, {9}},
                    {kWritable, {.write = true}, {}}}});
    hcf::ble::AdvertisementData adv;
    adv.serviceUUIDs = std::vector<UUID>{UUID::UUIDWithString("180F"), kService};
    d->setAdvertisement(adv);
    d->setName("Device");
    return d;
  }

  // Connects, discovers everything and returns the characteristic with `uuid`.
  std::shared_ptr<hcf::ble::Characteristic> explore(const std::shared_ptr<hcf::ble::Peripheral>& p,
                                                    const UUID& uuid) {
    p->setDelegate(gatt_);
    p->discoverServices(std::nullopt);
    advance(50ms);
    for (const auto& s : p->services()) p->discoverCharacteristics(std::nullopt, s);
    advance(50ms);
    gatt_->events.clear();
    for (const auto& s : p->services()) {
      for (const auto& c : s->characteristics()) {
        if (c->uuid() == uuid) return c;
      }
    }
    return nullptr;
  }

  std::shared_ptr<GattRecorder> gatt_ = std::make_shared<GattRecorder>();
};

}  // namespace

TEST(BleUuid, TextInAnyCaseComparesByValue) {
  const auto lower = UUID::parse("26db67ab-fc40-420a-b080-2ce709bfb7d0");
  const auto upper = UUID::parse("26DB67AB-FC40-420A-B080-2CE709BFB7D0");
  ASSERT_TRUE(lower && upper);
  EXPECT_EQ(*lower, *upper);
  EXPECT_EQ(lower->UUIDString(), "26DB67AB-FC40-420A-B080-2CE709BFB7D0");
  EXPECT_EQ(upper->lowercaseString(), "26db67ab-fc40-420a-b080-2ce709bfb7d0");
  // Short UUIDs are the Bluetooth base UUID and print short.
  EXPECT_EQ(UUID::UUIDWithString("180a"),
            UUID::UUIDWithString("0000180A-0000-1000-8000-00805F9B34FB"));
  EXPECT_EQ(UUID::UUIDWithString("0000180a-0000-1000-8000-00805f9b34fb").UUIDString(), "180A");
  EXPECT_EQ(UUID::UUIDWithString("1234ABCD").UUIDString(), "1234ABCD");
  for (const char* bad : {"", "180", "26db67ab-fc40-420a-b080-2ce709bfb7d", "xyzw",
                          "26db67abxfc40-420a-b080-2ce709bfb7d0"}) {
    EXPECT_FALSE(UUID::parse(bad)) << bad;
  }
  EXPECT_THROW(UUID::UUIDWithString("nope"), std::invalid_argument);
}

TEST_F(BleSimTest, CentralReportsThePoweredRadioAfterItIsMade) {
  auto recorder = std::make_shared<CentralRecorder>();
  auto central = world_->makeCentralManager(recorder);
  EXPECT_EQ(central->state(), hcf::ble::ManagerState::Unknown);
  advance(10ms);
  EXPECT_EQ(central->state(), hcf::ble::ManagerState::PoweredOn);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"state 5"}));
}

TEST_F(BleSimTest, ScanFindsAdvertisersOfTheServiceOnceUnlessTheAdvertisementChanges) {
  auto device = makeDevice();
  auto stranger = world_->addDevice();  // advertises nothing of interest
  device->setRSSI(-48);
  central_->scanForPeripheralsWithServices(std::vector<UUID>{kService}, {});
  advance(1s);
  ASSERT_EQ(recorder_->discovered.size(), 1u);
  EXPECT_EQ(recorder_->events.back(), "discover " + device->identifier() + " -48");
  // A short service UUID listed before the full one is delivered as advertised.
  EXPECT_EQ((*recorder_->advertisements[0].serviceUUIDs)[0].UUIDString(), "180F");
  // A new advertisement (a double click) is reported again in the same scan.
  auto adv = device->advertisement();
  adv.manufacturerData = Bytes{0x3C, 0x0A, 0x02, 0x01, 0x00, 0x00};
  device->setAdvertisement(adv);
  advance(10ms);
  EXPECT_EQ(recorder_->discovered.size(), 2u);
  EXPECT_EQ(recorder_->discovered[0], recorder_->discovered[1]);  // one peripheral object
  central_->stopScan();
  advance(1s);
  EXPECT_EQ(recorder_->discovered.size(), 2u);
  // With duplicates allowed every advertisement is reported.
  hcf::ble::ScanOptions duplicates;
  duplicates.allowDuplicates = true;
  central_->scanForPeripheralsWithServices(std::nullopt, duplicates);
  advance(1s);
  EXPECT_GE(recorder_->count("discover " + device->identifier()), 10u);
  EXPECT_GE(recorder_->count("discover " + stranger->identifier()), 9u);
}

TEST_F(BleSimTest, ConnectAndDisconnectFromEitherSide) {
  auto device = makeDevice();
  auto p = connect(device);
  ASSERT_TRUE(p);
  EXPECT_EQ(recorder_->events.back(), "connect " + device->identifier());
  EXPECT_EQ(device->connectionCount(), 1u);
  central_->cancelPeripheralConnection(p);
  advance(100ms);
  EXPECT_EQ(recorder_->events.back(), "disconnect " + device->identifier());  // no error
  ASSERT_TRUE(connect(device));
  device->disconnect();  // from the device's side
  advance(100ms);
  EXPECT_EQ(recorder_->events.back(), "disconnect " + device->identifier() + " error 7");
  EXPECT_EQ(device->connectionCount(), 0u);
}

TEST_F(BleSimTest, ConnectionAttemptsWaitForTheDeviceAndCanFailOrBeCancelled) {
  auto device = makeDevice();
  central_->scanForPeripheralsWithServices(std::nullopt, {});
  advance(150ms);
  auto p = recorder_->discovered.at(0);
  device->setAdvertising(false);  // out of range
  central_->connectPeripheral(p, {});
  advance(1min);
  EXPECT_EQ(p->state(), hcf::ble::PeripheralState::Connecting);  // no time-out of its own
  device->setAdvertising(true);
  advance(100ms);
  EXPECT_EQ(p->state(), hcf::ble::PeripheralState::Connected);
  central_->cancelPeripheralConnection(p);
  advance(100ms);

  device->injectFault(sim::Fault::failConnect());
  central_->connectPeripheral(p, {});
  advance(100ms);
  EXPECT_EQ(recorder_->events.back(), "fail " + device->identifier() + " 10");

  device->setAdvertising(false);
  central_->connectPeripheral(p, {});
  central_->cancelPeripheralConnection(p);  // a pending attempt ends silently
  device->setAdvertising(true);
  advance(1s);
  EXPECT_EQ(p->state(), hcf::ble::PeripheralState::Disconnected);
  EXPECT_EQ(recorder_->events.back(), "fail " + device->identifier() + " 10");
}

TEST_F(BleSimTest, AlreadyConnectedDevicesAreRetrievedAndConnectWithoutAdvertising) {
  auto device = makeDevice();
  auto other = makeDevice();
  device->setConnectedToSystem(true);
  device->setAdvertising(false);
  auto found = central_->retrieveConnectedPeripheralsWithServices({kService});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->identifier(), device->identifier());
  EXPECT_TRUE(central_->retrieveConnectedPeripheralsWithServices({kValue}).empty());
  central_->connectPeripheral(found[0], {});
  advance(100ms);
  EXPECT_EQ(found[0]->state(), hcf::ble::PeripheralState::Connected);

  // The central's own links are listed too, as on the real platforms, and only while up.
  central_->scanForPeripheralsWithServices(std::nullopt, {});
  advance(150ms);
  central_->stopScan();
  ASSERT_FALSE(recorder_->discovered.empty());
  auto otherPeripheral = recorder_->discovered.back();
  ASSERT_EQ(otherPeripheral->identifier(), other->identifier());
  central_->connectPeripheral(otherPeripheral, {});
  advance(100ms);
  EXPECT_EQ(central_->retrieveConnectedPeripheralsWithServices({kService}).size(), 2u);
  central_->cancelPeripheralConnection(otherPeripheral);
  advance(100ms);
  EXPECT_EQ(central_->retrieveConnectedPeripheralsWithServices({kService}).size(), 1u);
}

TEST_F(BleSimTest, RadioOffEndsScansAndLinksSilently) {
  auto device = makeDevice();
  auto p = connect(device);
  ASSERT_TRUE(p);
  central_->scanForPeripheralsWithServices(std::nullopt, {});
  const auto events = recorder_->events.size();
  world_->setRadioState(hcf::ble::ManagerState::PoweredOff);
  advance(1s);
  EXPECT_EQ(central_->state(), hcf::ble::ManagerState::PoweredOff);
  EXPECT_FALSE(central_->isScanning());
  EXPECT_EQ(p->state(), hcf::ble::PeripheralState::Disconnected);
  EXPECT_EQ(recorder_->events.size(), events + 1);  // only the state report
  EXPECT_EQ(recorder_->events.back(), "state 4");
  central_->scanForPeripheralsWithServices(std::nullopt, {});  // refused while off
  EXPECT_FALSE(central_->isScanning());
  world_->setRadioState(hcf::ble::ManagerState::PoweredOn);
  advance(10ms);
  EXPECT_EQ(recorder_->events.back(), "state 5");
}

TEST_F(BleSimTest, GattReadsWritesAndNotificationsInOrder) {
  auto device = makeDevice();
  auto p = connect(device);
  ASSERT_TRUE(p);
  p->setDelegate(gatt_);
  p->discoverServices(std::nullopt);
  advance(50ms);
  EXPECT_EQ(gatt_->events, (std::vector<std::string>{"services 1"}));
  p->discoverCharacteristics(std::nullopt, p->services()[0]);
  advance(50ms);
  EXPECT_EQ(gatt_->events.back(), "characteristics 3");
  const auto& chars = p->services()[0]->characteristics();
  gatt_->events.clear();
  p->readValueForCharacteristic(chars[0]);
  p->readValueForCharacteristic(chars[1]);
  p->writeValue({0x01}, chars[2], hcf::ble::CharacteristicWriteType::WithResponse);
  advance(100ms);
  EXPECT_EQ(gatt_->events,
            (std::vector<std::string>{"value 1A0A [1,2,3,]", "value 4AEC [9,]", "written 3A79"}));
  EXPECT_EQ(device->writes(kWritable), (std::vector<Bytes>{{0x01}}));
  // Notifications arrive only once switched on.
  gatt_->events.clear();
  device->notify(kValue, {7});
  advance(50ms);
  EXPECT_TRUE(gatt_->events.empty());
  p->setNotifyValue(true, chars[0]);
  advance(50ms);
  device->notify(kValue, {8});
  advance(50ms);
  EXPECT_EQ(gatt_->events, (std::vector<std::string>{"value 1A0A [8,]"}));
  EXPECT_TRUE(chars[0]->isNotifying());
}

TEST_F(BleSimTest, InjectedFaultsDropCutDelayAndMislabelAnswers) {
  auto device = makeDevice();
  auto p = connect(device);
  auto value = explore(p, kValue);
  auto other = explore(p, kOther);
  ASSERT_TRUE(value && other);

  device->injectFault(sim::Fault::dropAnswer(sim::Operation::Read, kValue));
  p->readValueForCharacteristic(value);
  advance(100ms);
  EXPECT_TRUE(gatt_->events.empty());    // the request stays unanswered
  p->readValueForCharacteristic(value);  // the fault is spent
  advance(100ms);
  EXPECT_EQ(gatt_->events.size(), 1u);

  gatt_->events.clear();
  device->injectFault(sim::Fault::wrongLength(sim::Operation::Read, {}, 5));
  p->readValueForCharacteristic(value);
  advance(100ms);
  EXPECT_EQ(gatt_->events, (std::vector<std::string>{"value 1A0A [1,2,3,0,0,]"}));

  // A delayed answer holds back the answers behind it: events stay in order.
  gatt_->events.clear();
  device->injectFault(sim::Fault::delayed(sim::Operation::Read, kValue, 2s));
  p->readValueForCharacteristic(value);
  p->readValueForCharacteristic(other);
  advance(1s);
  EXPECT_TRUE(gatt_->events.empty());
  advance(2s);
  EXPECT_EQ(gatt_->events, (std::vector<std::string>{"value 1A0A [1,2,3,]", "value 4AEC [9,]"}));

  gatt_->events.clear();
  device->injectFault(sim::Fault::answerAs(sim::Operation::Read, {}, kOther));
  p->readValueForCharacteristic(value);
  advance(100ms);
  EXPECT_EQ(gatt_->events, (std::vector<std::string>{"value 4AEC [1,2,3,]"}));
}

TEST_F(BleSimTest, DisconnectBeforeOrAfterAnAnswer) {
  auto device = makeDevice();
  auto p = connect(device);
  auto value = explore(p, kValue);
  ASSERT_TRUE(value);
  device->injectFault(sim::Fault::disconnectAfter(sim::Operation::Read));
  p->readValueForCharacteristic(value);
  advance(100ms);
  EXPECT_EQ(gatt_->events.size(), 1u);  // answered first
  EXPECT_EQ(recorder_->events.back(), "disconnect " + device->identifier() + " error 7");

  p = connect(device);
  value = explore(p, kValue);
  ASSERT_TRUE(value);
  device->injectFault(sim::Fault::disconnectBefore(sim::Operation::Write));
  p->writeValue({0x01}, explore(p, kWritable), hcf::ble::CharacteristicWriteType::WithResponse);
  advance(100ms);
  EXPECT_TRUE(gatt_->events.empty());
  EXPECT_TRUE(device->writes(kWritable).empty());  // never reached the device
  EXPECT_EQ(recorder_->events.back(), "disconnect " + device->identifier() + " error 7");
  // Operations on a peripheral that is no longer connected do nothing.
  p->readValueForCharacteristic(value);
  advance(100ms);
  EXPECT_TRUE(gatt_->events.empty());
}
