// The BlueZ backend's central and peripherals against the fake bluetoothd.
#include <cstdlib>
#include <set>

#include "bluez_test_support.h"
#include "hcf/platform/ble/sim.h"

namespace hcf_test {
namespace {

using ble::UUID;

const UUID kColorimeterService = UUID::UUIDWithString("26db67ab-fc40-420a-b080-2ce709bfb7d0");
const UUID kSense = UUID::UUIDWithString("1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2");
const UUID kSerial = UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a");
const UUID kButton = UUID::UUIDWithString("4229bdb5-8b55-4c6f-9216-d71ab06f246a");
const UUID kConfirm = UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");
const UUID kSpectrometerService = UUID::UUIDWithString("89504ca4-c879-446f-a10e-f6c2da131d41");
const UUID kScan = UUID::UUIDWithString("80db9d9a-6db9-43fa-ac23-c38062ef3c9e");

const std::string kTintra = "C0:10:00:00:00:01";
const std::string kIrisel = "C0:10:00:00:00:02";
const std::string kPulse = "C0:10:00:00:00:03";

// A colorimeter, a spectrometer and a heart-rate belt in range of the fake daemon.
class BluezCentralTest : public BluezTest {
 protected:
  void SetUp() override {
    BluezTest::SetUp();
    world_ = ble::sim::World::create();
    tintra_ = ble::sim::Colorimeter::create(*world_);
    tintra_->setSerialBytes({0, 0, 0, 0, 0x12, 0x34});
    fake_->addDevice(kTintra, tintra_->device(), -50);
    auto irisel = ble::sim::Spectrometer::create(*world_);
    irisel->setResponse(hcf::Bytes(64, 0x5A));
    // The spectrometer answers a scan command with a notification of its response.
    fake_->addDevice(kIrisel, irisel->device(), -61, {kScan});
    fake_->setValue(kIrisel, kScan, irisel->response());
    fake_->addDevice(kPulse, {{"name", "Pulse"},
                              {"rssi", -70},
                              {"uuids", {"0000180d-0000-1000-8000-00805f9b34fb"}},
                              {"services", nlohmann::json::array()}});
  }

  std::shared_ptr<ble::Service> service(ble::Peripheral& p, const UUID& uuid) {
    for (const auto& s : p.services()) {
      if (s->uuid() == uuid) return s;
    }
    return nullptr;
  }
  std::shared_ptr<ble::Characteristic> characteristic(ble::Peripheral& p, const UUID& uuid) {
    for (const auto& s : p.services()) {
      for (const auto& c : s->characteristics()) {
        if (c->uuid() == uuid) return c;
      }
    }
    return nullptr;
  }
  /// Discovers every service and characteristic of a connected peripheral.
  void discoverAll(const std::shared_ptr<ble::Peripheral>& p) {
    p->discoverServices(std::nullopt);
    ASSERT_TRUE(waitFor([&] { return count("services") == 1; }));
    for (const auto& s : p->services()) p->discoverCharacteristics(std::nullopt, s);
    ASSERT_TRUE(waitFor([&] { return count("characteristics") == p->services().size(); }));
  }
  /// Starts connecting `name` (device at `address`) with its services held back: the link
  /// comes up, the connection stays pending.
  std::shared_ptr<ble::Peripheral> connectHeld(const std::string& address,
                                               const std::string& name) {
    fake_->holdServiceResolution(address, true);
    auto p = discover(name);
    if (!p) return nullptr;
    p->setDelegate(peripheralRecorder_);
    central_->connectPeripheral(p, {});
    for (int i = 0; i < 3; ++i) roundTrip();
    return p;
  }
  std::size_t count(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& e : peripheralRecorder_->events) n += e.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  const std::string& lastEvent() const { return peripheralRecorder_->events.back(); }

  std::shared_ptr<ble::sim::World> world_;
  std::shared_ptr<ble::sim::Colorimeter> tintra_;
};

TEST_F(BluezCentralTest, TheAdapterPowerIsTheRadioState) {
  openCentral();
  EXPECT_EQ(recorder_->events, std::vector<std::string>{"state 5"});
  fake_->setPowered(false);
  ASSERT_TRUE(waitFor([&] { return recorder_->count("state") == 2; }));
  EXPECT_EQ(central_->state(), ble::ManagerState::PoweredOff);
  fake_->setPowered(true);
  ASSERT_TRUE(waitFor([&] { return recorder_->count("state") == 3; }));
  EXPECT_EQ(recorder_->events.back(), "state 5");
}

TEST_F(BluezCentralTest, AnUnreachableBusIsUnsupported) {
  const std::string real = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/hcf-bus", 1);
  backend_ = bluez::Backend::open();
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", real.c_str(), 1);
  recorder_ = std::make_shared<CentralRecorder>();
  central_ = backend_->makeCentralManager(recorder_);
  queue().drain();
  EXPECT_EQ(recorder_->events, std::vector<std::string>{"state 2"});
  EXPECT_TRUE(backend_->failure());
  // Nothing it is asked to do can hang or crash.
  central_->scanForPeripheralsWithServices(std::nullopt, {});
  bool synced = false;
  backend_->sync([&] { synced = true; });
  queue().runUntil([&] { return synced; });
  EXPECT_TRUE(synced);
}

class BluezLockedBusTest : public BluezTest {
  std::optional<std::filesystem::path> busConfig() const override {
    return std::filesystem::path(HCF_BLUEZ_TEST_DIR) / "locked-bus.conf";
  }
};

TEST_F(BluezLockedBusTest, ADaemonThatWillNotAnswerUsIsUnauthorized) {
  openCentral();
  EXPECT_EQ(recorder_->events, std::vector<std::string>{"state 3"});
}

class BluezPoweredOffTest : public BluezCentralTest {
  std::string fakeParameters() const override { return R"({"powered": false})"; }
};

TEST_F(BluezPoweredOffTest, AnAdapterSwitchedOffIsPoweredOff) {
  openCentral();
  EXPECT_EQ(recorder_->events, std::vector<std::string>{"state 4"});
}

TEST_F(BluezCentralTest, DiscoveryReportsOnlyWhatMatchesOurFilterInThePlatformsForm) {
  openCentral();
  roundTrip();
  EXPECT_TRUE(recorder_->discovered.empty());  // nothing is seen before a scan

  central_->scanForPeripheralsWithServices(std::vector<UUID>{kColorimeterService}, {});
  ASSERT_TRUE(waitFor([&] { return byName("Tintra") != nullptr; }));
  roundTrip();
  EXPECT_FALSE(byName("Pulse"));  // the daemon reported it: another client's filter let it in
  EXPECT_FALSE(byName("Irisel-000000000001"));
  ASSERT_EQ(recorder_->advertisements.size(), 1u);
  const auto& adv = recorder_->advertisements[0];
  EXPECT_EQ(adv.manufacturerData, (hcf::Bytes{0x3C, 0x0A, 0x01, 0x01, 0x00, 0x00}));
  EXPECT_EQ(adv.serviceUUIDs, std::vector<UUID>{kColorimeterService});
  EXPECT_EQ(adv.localName, "Tintra");
  EXPECT_EQ(recorder_->events.back().substr(recorder_->events.back().size() - 3), "-50");
  const auto filter = fake_->discoveryFilter();
  EXPECT_EQ(filter.at("Transport"), "le");
  EXPECT_EQ(filter.at("UUIDs"), kColorimeterService.lowercaseString());

  // Without duplicates a device is reported again only when its advertisement changes.
  fake_->setRSSI(kTintra, -40);
  roundTrip();
  EXPECT_EQ(recorder_->count("discover"), 1u);
  fake_->setManufacturerData(kTintra, 0x0A3C, {0x02, 0x01, 0x00, 0x00});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("discover") == 2; }));
  EXPECT_EQ(recorder_->advertisements[1].manufacturerData,
            (hcf::Bytes{0x3C, 0x0A, 0x02, 0x01, 0x00, 0x00}));

  central_->stopScan();
  roundTrip();
  fake_->setManufacturerData(kTintra, 0x0A3C, {0x01, 0x01, 0x00, 0x00});
  roundTrip();
  EXPECT_EQ(recorder_->count("discover"), 2u);
}

TEST_F(BluezCentralTest, AScanWithoutFilterSeesEveryDeviceAndADeviceComingIntoRange) {
  fake_->setAdvertising(kPulse, false);
  openCentral();
  central_->scanForPeripheralsWithServices(std::nullopt, {});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("discover") == 2; }));
  EXPECT_FALSE(byName("Pulse"));
  fake_->setAdvertising(kPulse, true);
  ASSERT_TRUE(waitFor([&] { return byName("Pulse") != nullptr; }));
  EXPECT_FALSE(fake_->discoveryFilter().count("UUIDs"));
  // Identifiers are stable, in the platform's form.
  const auto id = byName("Tintra")->identifier();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(id, UUID::UUIDWithString(id).UUIDString());
}

TEST_F(BluezCentralTest, PropertiesOfUnexpectedTypesAreLeftOut) {
  openCentral();
  central_->scanForPeripheralsWithServices(std::nullopt, {});
  ASSERT_TRUE(waitFor([&] { return byName("Tintra") != nullptr; }));
  const auto before = recorder_->count("discover");
  // The form a faulty daemon might send: manufacturer data nested one level too deep, and a
  // 32-bit signal strength.
  const std::string update =
      "gdbus call --system -d org.bluez -o /org/bluez/hci0/dev_C0_10_00_00_00_01 "
      "-m org.freedesktop.DBus.Mock.UpdateProperties org.bluez.Device1 "
      "\"{'ManufacturerData': <@aa{qv} [{2620: <@ay [1, 2]>}]>, 'RSSI': <int32 -20>}\" "
      ">/dev/null";
  ASSERT_EQ(std::system(update.c_str()), 0);
  roundTrip();
  EXPECT_EQ(recorder_->count("discover"), before);
  // What is read correctly afterwards still counts.
  fake_->setManufacturerData(kTintra, 0x0A3C, {0x02, 0x01, 0x00, 0x00});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("discover") == before + 1; }));
  EXPECT_EQ(recorder_->advertisements.back().manufacturerData,
            (hcf::Bytes{0x3C, 0x0A, 0x02, 0x01, 0x00, 0x00}));
}

TEST_F(BluezCentralTest, AConnectionCompletesOnlyOnceTheServicesAreResolved) {
  openCentral();
  auto p = connectHeld(kTintra, "Tintra");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->state(), ble::PeripheralState::Connecting);
  EXPECT_EQ(recorder_->count("connect"), 0u);
  fake_->resolveServices(kTintra);
  ASSERT_TRUE(waitFor([&] { return recorder_->count("connect") == 1; }));
  EXPECT_EQ(p->state(), ble::PeripheralState::Connected);
}

TEST_F(BluezCentralTest, CancellingAPendingConnectionIsSilentAndFinal) {
  openCentral();
  auto p = connectHeld(kTintra, "Tintra");
  ASSERT_TRUE(p);
  central_->cancelPeripheralConnection(p);
  EXPECT_EQ(p->state(), ble::PeripheralState::Disconnected);
  for (int i = 0; i < 3; ++i) roundTrip();
  EXPECT_EQ(recorder_->count("connect"), 0u);
  EXPECT_EQ(recorder_->count("disconnect"), 0u);
  EXPECT_EQ(recorder_->count("fail"), 0u);
  // The attempt was taken down; a new one is a connection of its own.
  fake_->holdServiceResolution(kTintra, false);
  central_->connectPeripheral(p, {});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("connect") == 1; }));
  roundTrip();
  EXPECT_EQ(recorder_->count("connect"), 1u);
}

TEST_F(BluezCentralTest, UnresolvedServicesTimeOut) {
  bluez::Options options;
  options.serviceResolutionTimeout = std::chrono::seconds(5);
  openCentral(options);
  auto p = connectHeld(kTintra, "Tintra");
  ASSERT_TRUE(p);
  advance(std::chrono::seconds(5));
  EXPECT_EQ(recorder_->events.back(), "fail " + p->identifier() + " 6");
  EXPECT_EQ(p->state(), ble::PeripheralState::Disconnected);
  // A later attempt works.
  fake_->holdServiceResolution(kTintra, false);
  roundTrip();  // the abandoned link's teardown
  central_->connectPeripheral(p, {});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("connect") == 1; }));
}

TEST_F(BluezCentralTest, FailuresKeepTheDaemonsErrorNameAndInProgressIsTriedAgain) {
  openCentral();
  auto p = discover("Tintra");
  fake_->failNext(kTintra, std::nullopt, "Connect", "org.bluez.Error.Failed");
  central_->connectPeripheral(p, {});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("fail") == 1; }));
  ASSERT_TRUE(recorder_->lastError);
  EXPECT_EQ(recorder_->lastError->domain, "org.bluez.Error.Failed");

  fake_->failNext(kTintra, std::nullopt, "Connect", "org.bluez.Error.InProgress", 2);
  central_->connectPeripheral(p, {});
  for (int i = 0; i < 3; ++i) {
    roundTrip();
    advance(std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(waitFor([&] { return recorder_->count("connect") == 1; }));
  EXPECT_EQ(recorder_->count("fail"), 1u);
}

TEST_F(BluezCentralTest, CancellingAndLosingTheLinkAreReportedDifferently) {
  openCentral();
  auto p = connect("Tintra");
  ASSERT_TRUE(p);
  central_->cancelPeripheralConnection(p);
  EXPECT_EQ(p->state(), ble::PeripheralState::Disconnecting);
  ASSERT_TRUE(waitFor([&] { return recorder_->count("disconnect") == 1; }));
  EXPECT_EQ(recorder_->events.back(), "disconnect " + p->identifier());

  central_->connectPeripheral(p, {});
  ASSERT_TRUE(waitFor([&] { return recorder_->count("connect") == 2; }));
  fake_->dropLink(kTintra);
  ASSERT_TRUE(waitFor([&] { return recorder_->count("disconnect") == 2; }));
  EXPECT_EQ(recorder_->events.back(), "disconnect " + p->identifier() + " error 7");
  EXPECT_EQ(p->state(), ble::PeripheralState::Disconnected);
  EXPECT_TRUE(p->services().empty());
}

TEST_F(BluezCentralTest, ReadsWritesAndNotificationsOfAColorimeter) {
  openCentral();
  auto p = connect("Tintra");
  ASSERT_TRUE(p);
  discoverAll(p);
  EXPECT_EQ(p->services().size(), 3u);  // the main service and the two update services
  ASSERT_TRUE(service(*p, kColorimeterService));
  EXPECT_EQ(service(*p, kColorimeterService)->characteristics().size(), 9u);

  auto serial = characteristic(*p, kSerial);
  p->readValueForCharacteristic(serial);
  ASSERT_TRUE(waitFor([&] { return count("value") == 1; }));
  EXPECT_EQ(lastEvent(), "value 06bee248 000000001234");

  // A read of a subscribed characteristic is one event, though BlueZ also changes its Value.
  auto button = characteristic(*p, kButton);
  p->setNotifyValue(true, button);
  ASSERT_TRUE(waitFor([&] { return count("notifying") == 1; }));
  p->readValueForCharacteristic(button);
  ASSERT_TRUE(waitFor([&] { return count("value") == 2; }));
  roundTrip();
  EXPECT_EQ(count("value"), 2u);
  EXPECT_TRUE(fake_->notify(kTintra, kButton, {0x01}));
  ASSERT_TRUE(waitFor([&] { return count("value") == 3; }));
  EXPECT_EQ(lastEvent(), "value 4229bdb5 01");

  // A read of a characteristic nobody subscribed to is one event too; a change of its Value
  // (another client read it) is not a notification; of a subscribed one it is.
  auto sense = characteristic(*p, kSense);
  p->readValueForCharacteristic(sense);
  ASSERT_TRUE(waitFor([&] { return count("value") == 4; }));
  EXPECT_TRUE(fake_->changeValue(kTintra, kSense, {1, 2, 3, 4, 5, 6}));
  roundTrip();
  EXPECT_EQ(count("value"), 4u);
  EXPECT_TRUE(fake_->changeValue(kTintra, kButton, {0x02}));
  ASSERT_TRUE(waitFor([&] { return count("value") == 5; }));
  EXPECT_EQ(lastEvent(), "value 4229bdb5 02");

  auto confirm = characteristic(*p, kConfirm);
  p->writeValue({0x01}, confirm, ble::CharacteristicWriteType::WithResponse);
  ASSERT_TRUE(waitFor([&] { return count("wrote") == 1; }));
  EXPECT_EQ(lastEvent(), "wrote 3a796671");
  EXPECT_EQ(fake_->writes(kTintra, kConfirm), std::vector<hcf::Bytes>{{0x01}});
  fake_->failNext(kTintra, kConfirm, "WriteValue", "org.bluez.Error.NotPermitted");
  p->writeValue({0x02}, confirm, ble::CharacteristicWriteType::WithResponse);
  ASSERT_TRUE(waitFor([&] { return count("wrote") == 2; }));
  EXPECT_EQ(lastEvent(), "wrote 3a796671 error org.bluez.Error.NotPermitted");
}

TEST_F(BluezCentralTest, ASpectrometerAnswersItsScanCommandWithANotification) {
  openCentral();
  auto p = connect("Irisel-000000000001");
  ASSERT_TRUE(p);
  discoverAll(p);
  auto scan = characteristic(*p, kScan);
  ASSERT_TRUE(scan);
  p->setNotifyValue(true, scan);
  ASSERT_TRUE(waitFor([&] { return count("notifying") == 1; }));
  p->writeValue({0x01}, scan, ble::CharacteristicWriteType::WithResponse);
  ASSERT_TRUE(waitFor([&] { return count("wrote") == 1; }));
  ASSERT_EQ(count("value"), 1u);  // the notification came before the write's answer
  std::string response;
  for (int i = 0; i < 64; ++i) response += "5a";
  EXPECT_EQ(peripheralRecorder_->events.at(peripheralRecorder_->events.size() - 2),
            "value 80db9d9a " + response);
}

TEST_F(BluezCentralTest, CharacteristicsThatAppearAfterTheServicesAreWaitedFor) {
  openCentral();
  auto p = connectHeld(kTintra, "Tintra");
  ASSERT_TRUE(p);
  fake_->resolveServices(kTintra, {kSerial});
  ASSERT_TRUE(waitFor([&] { return p->state() == ble::PeripheralState::Connected; }));
  p->discoverServices(std::vector<UUID>{kColorimeterService});
  ASSERT_TRUE(waitFor([&] { return count("services") == 1; }));
  p->discoverCharacteristics(std::vector<UUID>{kSense, kSerial}, service(*p, kColorimeterService));
  for (int i = 0; i < 3; ++i) roundTrip();
  EXPECT_EQ(count("characteristics"), 0u);
  fake_->exportWithheld(kTintra);
  ASSERT_TRUE(waitFor([&] { return count("characteristics") == 1; }));
  EXPECT_EQ(lastEvent(), "characteristics 2");
}

TEST_F(BluezCentralTest, WhenTheDaemonGoesAwayEveryDeviceIsDisconnected) {
  openCentral();
  auto tintra = connect("Tintra");
  ASSERT_TRUE(tintra);
  auto irisel = connectHeld(kIrisel, "Irisel-000000000001");
  ASSERT_TRUE(irisel);
  ASSERT_EQ(irisel->state(), ble::PeripheralState::Connecting);
  fake_->vanish();
  ASSERT_TRUE(waitFor([&] { return central_->state() == ble::ManagerState::Resetting; }));
  // The connection and the attempt both end, and only then is the new state reported.
  const auto n = recorder_->events.size();
  ASSERT_GE(n, 3u);
  EXPECT_EQ(recorder_->events[n - 1], "state 1");
  const std::set<std::string> ended{recorder_->events[n - 3], recorder_->events[n - 2]};
  EXPECT_EQ(ended, (std::set<std::string>{"disconnect " + tintra->identifier() + " error 0",
                                          "fail " + irisel->identifier() + " 0"}));
  EXPECT_EQ(tintra->state(), ble::PeripheralState::Disconnected);
  EXPECT_EQ(irisel->state(), ble::PeripheralState::Disconnected);
  fake_->comeBack();
  ASSERT_TRUE(waitFor([&] { return central_->state() == ble::ManagerState::PoweredOn; }));
  EXPECT_EQ(recorder_->events.back(), "state 5");
}

TEST_F(BluezCentralTest, DiscoveringAllCharacteristicsWaitsUntilTheyStopComing) {
  openCentral();
  auto p = connectHeld(kTintra, "Tintra");
  ASSERT_TRUE(p);
  std::vector<UUID> main;
  for (const auto& s : tintra_->device().services()) {
    if (s.uuid != kColorimeterService) continue;
    for (const auto& c : s.characteristics) main.push_back(c.uuid);
  }
  fake_->resolveServices(kTintra, main);  // the main service's characteristics come later
  ASSERT_TRUE(waitFor([&] { return p->state() == ble::PeripheralState::Connected; }));
  p->discoverServices(std::vector<UUID>{kColorimeterService});
  ASSERT_TRUE(waitFor([&] { return count("services") == 1; }));
  p->discoverCharacteristics(std::nullopt, service(*p, kColorimeterService));
  for (int i = 0; i < 3; ++i) roundTrip();
  fake_->exportWithheld(kTintra);
  for (int i = 0; i < 3; ++i) roundTrip();
  EXPECT_EQ(count("characteristics"), 0u);
  advance(std::chrono::milliseconds(100));
  EXPECT_EQ(lastEvent(), "characteristics " + std::to_string(main.size()));
}

}  // namespace
}  // namespace hcf_test
