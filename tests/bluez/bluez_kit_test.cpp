// The kit's own controllers and instruments over the BlueZ backend: discovery, connection with
// its handshake, calibration and measurement of a colorimeter and a spectrometer served by the
// fake bluetoothd, with the reference cloud behind them.
#include <unistd.h>

#include "bluez_test_support.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/hcf.h"
#include "simulated_instruments.h"

namespace hcf_test {
namespace {

namespace fx = hcf_cloud::fixtures;
using namespace hcf;

const ble::UUID kSense = ble::UUID::UUIDWithString("1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2");
const ble::UUID kScan = ble::UUID::UUIDWithString("80db9d9a-6db9-43fa-ac23-c38062ef3c9e");
const std::string kOrla = "C0:20:00:00:00:01";
const std::string kIrisel = "C0:20:00:00:00:02";

HCFLabColor chartLab(std::size_t patch) {
  const auto& p = fx::colorCheckerXYZD50()[patch];
  return HCFXYZColor::XYZColorWithX(p.X, p.Y, p.Z, HCFIlluminant::D50).toLab();
}

class BluezKitTest : public BluezTest {
 protected:
  void SetUp() override {
    BluezTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() /
           ("hcf-bluez-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    HCFRealmManager::setDocDirectory(dir_);
    cloud_ = std::make_shared<hcf_cloud::CloudWorld>();
    fx::populate(*cloud_);
    hcf_cloud::addKitRoutes(server_, cloud_);
    server_.start();
    CloudEndpoints::setCurrent(CloudEndpoints::withBase(server_.baseUrl()));
    HITintraSession::currentSession().setApiKey(fx::kDemoDeviceKey);

    // The reference instruments, their GATT tables served by the fake daemon.
    world_ = ble::sim::World::create();
    orla_ = std::make_unique<fx::SimulatedColorimeter>(*world_, "4.0");
    orla_->radio().advertiseClick(true);
    irisel_ = std::make_unique<fx::SimulatedSpectrometer>(*world_);
    fake_->addDevice(kOrla, orla_->radio().device(), -48);
    fake_->addDevice(kIrisel, irisel_->radio().device(), -59, {kScan});

    backend_ = bluez::Backend::open();
    std::weak_ptr<bluez::Backend> weak = backend_;
    ble::setCentralFactory([weak](std::weak_ptr<ble::CentralManagerDelegate> d) {
      auto b = weak.lock();
      return b ? b->makeCentralManager(std::move(d)) : nullptr;
    });
    HCFConnectionManager::withB2Key(
        fx::kDemoDeviceKey, [this](auto m) { manager_ = std::move(m); },
        [](const HCFError& e) { FAIL() << e.localizedDescription; });
    ASSERT_TRUE(manager_);
    roundTrip();
  }
  void TearDown() override {
    if (manager_) manager_->multiConnectStop();
    manager_.reset();
    ble::setCentralFactory({});
    server_.stop();
    HCFRealmManager::setDocDirectory(std::nullopt);
    std::filesystem::remove_all(dir_);
    BluezTest::TearDown();
  }

  std::optional<HCFError> connectToSerial(const std::string& serial) {
    bool done = false;
    std::optional<HCFError> error;
    manager_->connectToSerial(serial, [&](auto e) {
      error = std::move(e);
      done = true;
    });
    // The connection scans for a discovery window before it picks the instrument.
    roundTrip();
    advance(HCFDirectConnectController::kDiscoveryWindow + std::chrono::milliseconds(10));
    EXPECT_TRUE(waitFor([&] { return done; }));
    return error;
  }
  /// One unrestricted discovery pass: what it found.
  std::vector<HPeripheralWRSSI> discoverPass() {
    bool done = false;
    std::optional<std::vector<HPeripheralWRSSI>> found;
    manager_->bleDiscoverWithRestricted(false, [&](auto f, auto) {
      found = std::move(f);
      done = true;
    });
    roundTrip();
    advance(HCFDirectConnectController::kDiscoveryWindow + std::chrono::milliseconds(10));
    EXPECT_TRUE(waitFor([&] { return done; }));
    return found.value_or(std::vector<HPeripheralWRSSI>{});
  }
  std::shared_ptr<ble::Peripheral> named(const std::vector<HPeripheralWRSSI>& found,
                                         const std::string& name) {
    for (const auto& r : found) {
      if (r.peripheral->name() == name) return r.peripheral;
    }
    return nullptr;
  }
  /// Connects a peripheral of a discovery pass, letting `wait` pass first; the error.
  std::optional<HCFError> connectTo(const std::shared_ptr<ble::Peripheral>& p,
                                    dispatch::Duration wait = {}) {
    bool done = false;
    std::optional<HCFError> error;
    manager_->connectTo(p, [&](auto e) {
      error = std::move(e);
      done = true;
    });
    roundTrip();
    if (wait > dispatch::Duration{}) advance(wait);
    EXPECT_TRUE(waitFor([&] { return done; }));
    return error;
  }
  void calibrate(HCFColorInstrument& device) {
    bool done = false;
    bool ok = false;
    device.requestCalibration([&](bool success, auto) {
      ok = success;
      done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done; }));
    EXPECT_TRUE(ok);
  }
  std::shared_ptr<HCFColorScan> measure(HCFColorInstrument& device) {
    std::shared_ptr<HCFColorScan> scan;
    bool done = false;
    device.requestColorScan([&](auto tristimulus, auto spectral, auto e) {
      EXPECT_FALSE(e);
      scan = tristimulus ? tristimulus : spectral;
      done = true;
    });
    EXPECT_TRUE(waitFor([&] { return done; }));
    return scan;
  }
  void disconnect() {
    manager_->connectedDevice()->disconnect();
    ASSERT_TRUE(waitFor([&] { return !manager_->isConnected(); }));
  }

  std::filesystem::path dir_;
  std::shared_ptr<hcf_cloud::CloudWorld> cloud_;
  hcf_cloud::CloudServer server_;
  std::shared_ptr<ble::sim::World> world_;
  std::unique_ptr<fx::SimulatedColorimeter> orla_;
  std::unique_ptr<fx::SimulatedSpectrometer> irisel_;
  std::shared_ptr<HCFConnectionManager> manager_;
};

TEST_F(BluezKitTest, DiscoveryFindsBothInstrumentsStrongestFirst) {
  bool done = false;
  std::optional<std::vector<HPeripheralWRSSI>> found;
  manager_->bleDiscoverWithRestricted(false, [&](auto f, auto) {
    found = std::move(f);
    done = true;
  });
  roundTrip();
  advance(HCFDirectConnectController::kDiscoveryWindow + std::chrono::milliseconds(10));
  ASSERT_TRUE(waitFor([&] { return done; }));
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 2u);
  EXPECT_EQ(found->at(0).peripheral->name(), "ColorOrla-" + orla_->serial());
  EXPECT_EQ(found->at(0).rssi, -48);
  EXPECT_EQ(found->at(1).peripheral->name(), "Irisel-" + irisel_->serial());
}

TEST_F(BluezKitTest, AColorimeterConnectsCalibratesAndMeasures) {
  ASSERT_FALSE(connectToSerial(orla_->serial()));
  auto device = manager_->connectedDevice();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->serial(), orla_->serial());
  // The handshake's connection confirmation reaches the instrument (the fake answers our
  // calls in order, so round trips settle it).
  const auto confirm = ble::UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");
  EXPECT_TRUE(waitFor([&] { return fake_->writes(kOrla, confirm).size() == 1; }, 50));

  orla_->presentWhiteTile();
  fake_->setValue(kOrla, kSense, orla_->radio().device().value(kSense));
  calibrate(*device);
  for (const std::size_t patch : {0u, 13u, 18u}) {
    orla_->measure(fx::colorCheckerXYZD50()[patch]);
    fake_->setValue(kOrla, kSense, orla_->radio().device().value(kSense));
    auto scan = measure(*device);
    ASSERT_TRUE(scan);
    EXPECT_LT(scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)->deltaE00(chartLab(patch)),
              1.0)
        << "patch " << patch;
  }

  // A sense read bluetoothd refuses fails the measurement with its error kept; the value of
  // the previous read is never measured again.
  fake_->failNext(kOrla, kSense, "ReadValue", "org.bluez.Error.Failed");
  bool done = false;
  std::shared_ptr<HCFColorScan> stale;
  std::optional<HCFError> error;
  device->requestColorScan([&](auto tristimulus, auto, auto e) {
    stale = tristimulus;
    error = e;
    done = true;
  });
  ASSERT_TRUE(waitFor([&] { return done; }));
  EXPECT_FALSE(stale);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, error_code::kScan);
  ASSERT_TRUE(error->native);
  EXPECT_EQ(error->native->library, "org.bluez.Error.Failed");
  disconnect();
}

TEST_F(BluezKitTest, ASpectrometerMeasuresThroughNotifications) {
  ASSERT_FALSE(connectToSerial(irisel_->serial()));
  auto device = manager_->connectedDevice();
  ASSERT_TRUE(device);
  for (const std::size_t patch : {2u, 14u}) {
    irisel_->measure(fx::reflectanceForLab(chartLab(patch)));
    fake_->setValue(kIrisel, kScan, irisel_->radio().response());
    auto scan = measure(*device);
    ASSERT_TRUE(scan);
    EXPECT_LT(scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)->deltaE00(chartLab(patch)),
              0.5)
        << "patch " << patch;
  }
  EXPECT_TRUE(waitFor([&] { return fake_->writes(kIrisel, kScan).size() == 2; }, 50));
}

TEST_F(BluezKitTest, ALinkLostOrBluetoothdGoneMidSessionReachesTheApplication) {
  ASSERT_FALSE(connectToSerial(orla_->serial()));
  fake_->dropLink(kOrla);
  ASSERT_TRUE(waitFor([&] { return !manager_->isConnected(); }));

  ASSERT_FALSE(connectToSerial(irisel_->serial()));
  fake_->vanish();
  ASSERT_TRUE(waitFor([&] { return !manager_->isConnected(); }));
}

TEST_F(BluezKitTest, AHandshakeReadTheDaemonRefusesEndsTheConnectionWithAnError) {
  const auto serial = ble::UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a");
  fake_->failNext(kOrla, serial, "ReadValue", "org.bluez.Error.Failed", 100);
  bool done = false;
  std::optional<HCFError> error;
  manager_->connectToSerial(orla_->serial(), [&](auto e) {
    error = std::move(e);
    done = true;
  });
  roundTrip();
  advance(HCFDirectConnectController::kDiscoveryWindow + std::chrono::milliseconds(10));
  waitFor([&] { return done; }, 50);  // the link is up; identification cannot finish
  EXPECT_FALSE(done);
  advance(HCFColorInstrument::kHandshakeTimeout);
  ASSERT_TRUE(waitFor([&] { return done; }));
  EXPECT_TRUE(error);
  EXPECT_FALSE(manager_->isConnected());
}

TEST_F(BluezKitTest, AnInstrumentBluetoothdForgotIsDiscoveredAgainOrReportedNotFound) {
  const auto orla = named(discoverPass(), "ColorOrla-" + orla_->serial());
  ASSERT_TRUE(orla);
  // 30 s after the pass bluetoothd has dropped the devices it found.
  fake_->expireTemporaryDevices();
  const auto e = connectTo(orla);
  ASSERT_FALSE(e) << e->localizedDescription;
  EXPECT_EQ(manager_->connectedDevice()->serial(), orla_->serial());
  disconnect();

  fake_->expireTemporaryDevices();
  fake_->setAdvertising(kOrla, false);
  const auto error = connectTo(orla, bluez::Options{}.rediscoveryTimeout);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription, "Device not found");
  EXPECT_FALSE(manager_->isConnected());
}

TEST_F(BluezKitTest, AnInstrumentThatRotatesItsPrivateAddressStaysReachable) {
  ASSERT_FALSE(connectToSerial(orla_->serial()));
  disconnect();
  // By serial: the next pass sees it under its new address only.
  fake_->rotateAddress(kOrla, "C0:20:00:00:00:11");
  ASSERT_FALSE(connectToSerial(orla_->serial()));
  EXPECT_EQ(manager_->connectedDevice()->serial(), orla_->serial());
  disconnect();
  // From a list made before the change, once bluetoothd has forgotten the old address.
  const auto orla = named(discoverPass(), "ColorOrla-" + orla_->serial());
  ASSERT_TRUE(orla);
  fake_->rotateAddress("C0:20:00:00:00:11", "C0:20:00:00:00:12");
  fake_->expireTemporaryDevices();
  ASSERT_FALSE(connectTo(orla));
  EXPECT_EQ(manager_->connectedDevice()->serial(), orla_->serial());
  disconnect();
}

TEST_F(BluezKitTest, ARestartOfBluetoothdOrOfTheSystemBusIsRecoveredFrom) {
  recorder_ = std::make_shared<CentralRecorder>();
  central_ = backend_->makeCentralManager(recorder_);
  ASSERT_TRUE(waitFor([&] { return central_->state() == ble::ManagerState::PoweredOn; }));
  struct Restart {
    const char* what;
    std::function<void()> down, up;
    ble::ManagerState meanwhile;
  };
  const std::vector<Restart> restarts = {
      {"bluetoothd", [&] { fake_->vanish(); }, [&] { fake_->comeBack(); },
       ble::ManagerState::Resetting},
      {"the system bus", [&] { fake_->busGoesDown(); },
       [&] {
         fake_->busComesBack();
         advance(bluez::Options{}.busReconnectInterval);
       },
       ble::ManagerState::Unknown},
  };
  for (const auto& r : restarts) {
    SCOPED_TRACE(r.what);
    ASSERT_FALSE(connectToSerial(orla_->serial()));
    r.down();
    ASSERT_TRUE(waitFor([&] { return !manager_->isConnected(); }));
    EXPECT_TRUE(waitFor([&] { return central_->state() == r.meanwhile; }));
    r.up();
    fake_->addDevice(kOrla, orla_->radio().device(), -48);
    ASSERT_TRUE(waitFor([&] { return central_->state() == ble::ManagerState::PoweredOn; }));
  }
  ASSERT_FALSE(connectToSerial(orla_->serial()));
  EXPECT_EQ(recorder_->count("state 0"), 1u);
  EXPECT_EQ(recorder_->events.back(), "state 5");
}

}  // namespace
}  // namespace hcf_test
