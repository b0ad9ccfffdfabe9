// Discovery passes and direct connection over the simulated radio, every failure row, and the
// simulator's faults leaving the controller ready for the next request.
#include <gtest/gtest.h>

#include "connect_fixture.h"
#include "hcf/core/ht_utility.h"

using namespace hcf;
using namespace hcf_test;
namespace sim = hcf::ble::sim;
using S = HCFConnectivityState;

TEST_F(ConnectTest, DiscoveryListsStrongestFirstAndAlreadyConnectedLast) {
  fx::SimulatedColorimeter near(*world_, "2.0");
  fx::SimulatedColorimeter far(*world_, "4.0");
  fx::SimulatedSpectrometer middle(*world_);
  near.radio().device().setRSSI(-40);
  far.radio().device().setRSSI(-85);
  middle.radio().device().setRSSI(-60);
  fx::SimulatedColorimeter paired(*world_, "3.0");
  paired.radio().device().setAdvertising(false);
  paired.radio().device().setConnectedToSystem(true);

  auto d = discover();
  ASSERT_EQ(d->calls, 1);
  ASSERT_FALSE(d->error);
  ASSERT_EQ(d->found->size(), 4u);
  const auto& r = *d->found;
  EXPECT_EQ(r[0].peripheral->identifier(), near.radio().device().identifier());
  EXPECT_EQ(r[1].peripheral->identifier(), middle.radio().device().identifier());
  EXPECT_EQ(r[2].peripheral->identifier(), far.radio().device().identifier());
  EXPECT_EQ(r[3].peripheral->identifier(), paired.radio().device().identifier());
  EXPECT_FALSE(r[3].rssi);
  EXPECT_EQ(r[0].rssi, -40);
  EXPECT_EQ(r[2].serial(), far.serial());  // "ColorOrla-<serial>"
  EXPECT_EQ(listener_->states, (std::vector<S>{S::Idle, S::Scanning, S::Idle}));
  EXPECT_EQ(manager_->directMgr()->sortPeripherals().size(), 4u);
}

TEST_F(ConnectTest, RestrictedDiscoveryIgnoresSingleClicksAndRepeatsAreOneRecord) {
  fx::SimulatedColorimeter single(*world_, "2.0");  // advertises a single click
  fx::SimulatedColorimeter dbl(*world_, "2.1");
  dbl.radio().advertiseClick(true);
  auto shortData = sim::Colorimeter::create(*world_);
  auto adv = shortData->device().advertisement();
  adv.manufacturerData = ble::Bytes{0x3C, 0x0A, 0x01};
  shortData->device().setAdvertisement(adv);

  auto d = discover(true);
  ASSERT_TRUE(d->found);
  std::vector<std::string> ids;
  for (const auto& r : *d->found) ids.push_back(r.peripheral->identifier());
  EXPECT_EQ(ids.size(), 2u);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), single.radio().device().identifier()), 0);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), dbl.radio().device().identifier()), 1);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), shortData->device().identifier()), 1);
  EXPECT_EQ(discover(false)->found->size(), 3u);
}

TEST_F(ConnectTest, NothingFoundRadioOffAndARestartedWindow) {
  auto none = discover();
  ASSERT_TRUE(none->error);
  EXPECT_EQ(none->error->code, error_code::kNoPeripherals);
  EXPECT_FALSE(none->found);

  // A second pass during the window replaces the first callback without calling it.
  fx::SimulatedColorimeter c(*world_, "2.0");
  auto first = std::make_shared<Discovery>();
  manager_->bleDiscoverWithRestricted(false, [first](auto, auto) { ++first->calls; });
  advance(2s);
  auto second = discover();
  EXPECT_EQ(first->calls, 0);
  EXPECT_EQ(second->calls, 1);
  EXPECT_EQ(second->found->size(), 1u);

  // The radio goes off in the middle of a pass: the pass still ends; with the radio off the
  // next requests fail at once with 9005; back on, discovery works again.
  auto during = std::make_shared<Discovery>();
  manager_->bleDiscoverWithRestricted(false, [during](auto f, auto e) {
    ++during->calls;
    during->found = f;
    during->error = e;
  });
  advance(1s);
  world_->setRadioState(ble::ManagerState::PoweredOff);
  advance(3s);
  EXPECT_EQ(during->calls, 1);
  auto off = discover();
  ASSERT_TRUE(off->error);
  EXPECT_EQ(off->error->code, error_code::kNoBle);
  EXPECT_TRUE(off->found && off->found->empty());
  auto conn = connectWith([&](auto& m, auto cb) { m.connectTo(nullptr, cb); });
  ASSERT_TRUE(conn->error);
  EXPECT_EQ(conn->error->code, error_code::kNoBle);
  EXPECT_EQ(conn->error->localizedDescription,
            "Bluetooth not enabled, please turn on BLE to proceed.");

  // Each state the radio cannot be used in says why, all with 9005.
  const std::vector<std::pair<ble::ManagerState, std::string>> states = {
      {ble::ManagerState::Unsupported,
       "No Bluetooth service is available: there is no adapter, or the Bluetooth service is not "
       "running."},
      {ble::ManagerState::Unauthorized, "This application is not permitted to use Bluetooth."},
      {ble::ManagerState::Resetting, "Bluetooth is not ready yet; try again in a moment."},
      {ble::ManagerState::Unknown, "Bluetooth is not ready yet; try again in a moment."}};
  for (const auto& [state, message] : states) {
    world_->setRadioState(state);
    advance(100ms);
    const auto refused = discover();
    ASSERT_TRUE(refused->error) << message;
    EXPECT_EQ(refused->error->code, error_code::kNoBle) << message;
    EXPECT_EQ(refused->error->localizedDescription, message);
  }
  world_->setRadioState(ble::ManagerState::PoweredOn);
  advance(100ms);
  EXPECT_EQ(discover()->found->size(), 1u);
}

TEST_F(ConnectTest, ConnectingIdentifiesCalibratesConfirmsAndPublishes) {
  fx::SimulatedColorimeter c(*world_, "2.1");
  auto d = discover();
  ASSERT_TRUE(d->found);
  listener_->states.clear();
  auto conn = connectWith([&](auto& m, auto cb) { m.connectTo((*d->found)[0].peripheral, cb); });
  EXPECT_EQ(conn->calls, 1);
  ASSERT_FALSE(conn->error) << conn->error->localizedDescription;
  ASSERT_TRUE(manager_->isConnected());
  auto device = manager_->connectedDevice();
  EXPECT_EQ(device->serial(), c.serial());
  EXPECT_EQ(device->model(), "2.1");
  EXPECT_EQ(c.radio().confirmWrites(), 1u);
  EXPECT_EQ(listener_->states, (std::vector<S>{S::Connecting, S::Initializing, S::Connected}));

  // Another peripheral's disconnection changes only the state; the device's own clears it.
  auto recorder = std::make_shared<InstrumentRecorder>();
  device->setDelegate(recorder);
  listener_->states.clear();
  c.radio().device().disconnect();
  advance(100ms);
  EXPECT_FALSE(manager_->isConnected());
  EXPECT_EQ(recorder->disconnects, 1);
  EXPECT_EQ(listener_->states, (std::vector<S>{S::Idle}));

  // A discovery pass started while connecting clears the list the peripheral came from; the
  // connection still knows which instrument it is.
  const auto peripheral = discover()->found.value()[0].peripheral;
  auto during = std::make_shared<Connection>();
  manager_->connectTo(peripheral, [during](auto e) {
    ++during->calls;
    during->error = e;
  });
  manager_->bleDiscoverWithRestricted(false, [](auto, auto) {});
  advance(HCFDirectConnectController::kDiscoveryWindow + 1s);
  EXPECT_EQ(during->calls, 1);
  EXPECT_FALSE(during->error) << during->error->localizedDescription;
  EXPECT_TRUE(manager_->isConnected());
}

TEST_F(ConnectTest, ConnectFailuresCancelTheConnectionAndTheNextRequestWorks) {
  // A colorimeter whose record the cloud does not have, one that drops the link while it is
  // identified, and one advertising a single click.
  fx::SimulatedColorimeter unknown(*world_, "2.0");
  unknown.radio().setSerialBytes({0x00, 0xBA, 0xDB, 0xAD, 0x00, 0x00});
  fx::SimulatedColorimeter dropping(*world_, "3.0");
  dropping.radio().device().injectFault(sim::Fault::disconnectBefore(
      sim::Operation::Read, ble::UUID::UUIDWithString("591eddc9-0ebe-4512-af25-b83ce44d24de")));
  fx::SimulatedColorimeter leaving(*world_, "1.1");
  unknown.radio().advertiseClick(true);
  dropping.radio().advertiseClick(true);
  auto pass = discover();
  ASSERT_TRUE(pass->found);
  ASSERT_EQ(pass->found->size(), 3u);
  const auto find = [&](const sim::Device& d) {
    for (const auto& r : *pass->found) {
      if (r.peripheral->identifier() == d.identifier()) return r.peripheral;
    }
    return std::shared_ptr<ble::Peripheral>();
  };

  auto bad =
      connectWith([&](auto& m, auto cb) { m.connectTo(find(unknown.radio().device()), cb); });
  EXPECT_EQ(bad->calls, 1);
  ASSERT_TRUE(bad->error);
  EXPECT_EQ(bad->error->code, error_code::kCalibrationDownload);
  EXPECT_EQ(unknown.radio().device().connectionCount(), 0u) << "connection cancelled";
  EXPECT_EQ(listener_->states.back(), S::Idle);
  EXPECT_FALSE(manager_->isConnected());

  auto dropped = std::make_shared<Connection>();
  manager_->connectTo(find(dropping.radio().device()), [dropped](auto e) {
    ++dropped->calls;
    dropped->error = e;
  });
  advance(HCFColorInstrument::kHandshakeTimeout + 1s);
  EXPECT_EQ(dropped->calls, 1);
  ASSERT_TRUE(dropped->error);
  EXPECT_EQ(dropped->error->code, error_code::kBleInitFailed);

  // Connecting a peripheral the current pass did not list (a restricted pass leaves out its
  // single-click advertisement): no service, "Unknown Device".
  auto later = discover(true);
  auto stale =
      connectWith([&](auto& m, auto cb) { m.connectTo(find(leaving.radio().device()), cb); });
  ASSERT_TRUE(stale->error);
  EXPECT_EQ(stale->error->localizedDescription, "Unknown Device");
  EXPECT_EQ(stale->error->code, error_code::kUnknownDevice);
  EXPECT_EQ(leaving.radio().device().connectionCount(), 0u);

  // After all that the next request works.
  fx::SimulatedColorimeter orla(*world_, "4.0");
  auto ok = connectWith([&](auto& m, auto cb) { m.connectToSerial(orla.serial(), cb); });
  ASSERT_FALSE(ok->error) << ok->error->localizedDescription;
  EXPECT_EQ(manager_->connectedDevice()->serial(), orla.serial());
}
