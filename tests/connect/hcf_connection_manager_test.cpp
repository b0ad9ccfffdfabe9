// The connection manager: connect by identifier and by serial, halting, listeners, disconnect.
#include <gtest/gtest.h>

#include "connect_fixture.h"
#include "hcf/core/ht_utility.h"

using namespace hcf;
using namespace hcf_test;
using S = HCFConnectivityState;

TEST_F(ConnectTest, ByIdentifierAndSerialWithExactMatchesOnly) {
  fx::SimulatedColorimeter orla(*world_, "4.0");
  fx::SimulatedColorimeter other(*world_, "2.0");
  const std::string id = other.radio().device().identifier();
  std::string lower = id;
  for (auto& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));

  auto lowerCase = connectWith([&](auto& m, auto cb) { m.connectToUUID(lower, cb); });
  ASSERT_TRUE(lowerCase->error);
  EXPECT_EQ(lowerCase->error->localizedDescription, "Device not found");
  auto empty = connectWith([&](auto& m, auto cb) { m.connectToSerial("", cb); });
  ASSERT_TRUE(empty->error);
  EXPECT_EQ(empty->error->localizedDescription, "Device not found");

  auto byId = connectWith([&](auto& m, auto cb) { m.connectToUUID(id, cb); });
  ASSERT_FALSE(byId->error) << byId->error->localizedDescription;
  EXPECT_EQ(manager_->connectedDevice()->serial(), other.serial());
  auto bySerial = connectWith([&](auto& m, auto cb) { m.connectToSerial(orla.serial(), cb); });
  ASSERT_FALSE(bySerial->error);
  EXPECT_EQ(manager_->connectedDevice()->serial(), orla.serial());
}

TEST_F(ConnectTest, HaltingListenersAndDisconnecting) {
  fx::SimulatedColorimeter orla(*world_, "4.0");
  auto halted = std::make_shared<Connection>();
  manager_->connectToSerial(orla.serial(), [halted](auto e) {
    ++halted->calls;
    halted->error = e;
  });
  advance(1s);
  manager_->haltConnect();
  advance(3s);
  EXPECT_EQ(halted->calls, 1);
  ASSERT_TRUE(halted->error);
  EXPECT_EQ(halted->error->localizedDescription, "Operation halted");
  EXPECT_EQ(orla.radio().device().connectionCount(), 0u);

  // Disconnecting a peripheral that is not connected changes nothing.
  auto pass = discover();
  ASSERT_TRUE(pass->found);
  listener_->states.clear();
  manager_->disconnect((*pass->found)[0].peripheral);
  advance(200ms);
  EXPECT_TRUE(listener_->states.empty());

  // The instrument's own disconnect goes through the manager.
  auto conn = connectWith([&](auto& m, auto cb) { m.connectToSerial(orla.serial(), cb); });
  ASSERT_FALSE(conn->error);
  manager_->connectedDevice()->disconnect();
  advance(200ms);
  EXPECT_FALSE(manager_->isConnected());
  EXPECT_EQ(orla.radio().device().connectionCount(), 0u);

  // multiConnectStart without a listener uses the recorded one.
  listener_->states.clear();
  manager_->multiConnectStart();
  advance(300ms);
  EXPECT_TRUE(listener_->saw(S::Idle));
  EXPECT_TRUE(listener_->saw(S::Scanning));
}

// An attempt on an instrument out of range waits for it until the connection time-out;
// halting or disconnecting answers it at once. Either way the listener is left Idle and the
// instrument is not connected when it comes back in range.
TEST_F(ConnectTest, APendingAttemptIsHaltedDisconnectedOrTimedOut) {
  fx::SimulatedColorimeter orla(*world_, "4.0");
  using Halt = std::function<void(const std::shared_ptr<ble::Peripheral>&)>;
  struct Row {
    const char* name;
    Halt halt;
    const char* answer;
  };
  const std::vector<Row> rows = {
      {"haltConnect", [&](const auto&) { manager_->haltConnect(); }, "Operation halted"},
      {"disconnect", [&](const auto& p) { manager_->disconnect(p); }, "Operation halted"},
      {"time-out", [&](const auto&) { advance(HCFDirectConnectController::kConnectTimeout); },
       "The connection did not arrive in time"}};
  for (const auto& row : rows) {
    auto pass = discover();
    ASSERT_TRUE(pass->found) << row.name;
    const auto peripheral = (*pass->found)[0].peripheral;
    orla.radio().device().setAdvertising(false);  // out of range
    auto attempt = std::make_shared<Connection>();
    manager_->connectTo(peripheral, [attempt](auto e) {
      ++attempt->calls;
      attempt->error = e;
    });
    advance(HCFDirectConnectController::kConnectTimeout / 2);
    EXPECT_EQ(attempt->calls, 0) << row.name;
    EXPECT_EQ(listener_->states.back(), S::Connecting) << row.name;
    row.halt(peripheral);
    advance(10ms);
    EXPECT_EQ(attempt->calls, 1) << row.name;
    ASSERT_TRUE(attempt->error) << row.name;
    EXPECT_EQ(attempt->error->localizedDescription, row.answer) << row.name;
    EXPECT_EQ(listener_->states.back(), S::Idle) << row.name;
    orla.radio().device().setAdvertising(true);
    advance(1s);
    EXPECT_EQ(orla.radio().device().connectionCount(), 0u) << row.name << ": connected after all";
    EXPECT_EQ(attempt->calls, 1) << row.name;
  }
}

// Once connected, the kit keeps the link alive on its own: the instrument's keep-alive write
// every 90 s, until the link ends.
TEST_F(ConnectTest, AConnectedInstrumentIsKeptAliveWithoutTheApplication) {
  fx::SimulatedColorimeter orla(*world_, "4.0");
  ASSERT_FALSE(connectWith([&](auto& m, auto cb) { m.connectToSerial(orla.serial(), cb); })->error);
  const auto confirmed = orla.radio().confirmWrites();  // the connection's own confirmation
  advance(200s);
  EXPECT_EQ(orla.radio().confirmWrites(), confirmed + 2);
  manager_->connectedDevice()->disconnect();
  advance(200s);
  EXPECT_EQ(orla.radio().confirmWrites(), confirmed + 2);
}

TEST(ConnectionManager, WithoutABluetoothBackendCreationFails) {
  ble::setCentralFactory({});
  std::optional<HCFError> error;
  bool made = false;
  HCFConnectionManager::withB2Key(
      "key", [&](auto) { made = true; }, [&](const HCFError& e) { error = e; });
  EXPECT_FALSE(made);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, error_code::kNoBluetoothBackend);
}

namespace {

struct DisconnectRecorder : HCFColorInstrumentDelegate {
  std::vector<std::string> disconnected;
  void buttonPressed(HCFColorInstrument&) override {}
  void onDisconnect(HCFColorInstrument& i) override { disconnected.push_back(i.serial()); }
};

}  // namespace

// Each request is answered once, with its own instrument; one instrument is connected at a
// time, and the one left is told and released; the listener follows the current one.
TEST_F(ConnectTest, SecondConnectionsRepeatedRequestsAndCrossingRequests) {
  fx::SimulatedColorimeter first(*world_, "4.0");
  fx::SimulatedColorimeter second(*world_, "2.0");
  const auto byIdentifier = [&](fx::SimulatedColorimeter& c) {
    const auto id = c.radio().device().identifier();
    return connectWith([&](auto& m, auto cb) { m.connectToUUID(id, cb); });
  };
  ASSERT_FALSE(byIdentifier(first)->error);
  auto recorder = std::make_shared<DisconnectRecorder>();
  manager_->connectedDevice()->setDelegate(recorder);

  // The instrument already connected: answered at once, still connected, nothing dropped.
  auto again = std::make_shared<Connection>();
  manager_->connectTo(manager_->connectedDevice()->peripheral(), [again](auto e) {
    ++again->calls;
    again->error = e;
  });
  advance(10ms);
  EXPECT_EQ(again->calls, 1);
  EXPECT_FALSE(again->error);
  EXPECT_EQ(manager_->connectedDevice()->serial(), first.serial());

  // Another instrument: the first is disconnected first, and its delegate hears it although
  // the application holds no reference of its own.
  const auto switched = byIdentifier(second);
  ASSERT_FALSE(switched->error) << switched->error->localizedDescription;
  EXPECT_EQ(manager_->connectedDevice()->serial(), second.serial());
  EXPECT_EQ(recorder->disconnected, std::vector<std::string>{first.serial()});
  EXPECT_EQ(first.radio().device().connectionCount(), 0u);
  EXPECT_EQ(listener_->states.back(), S::Connected);

  // Two requests in a row: the first is halted, the second gets its own instrument.
  const auto peripherals = discover()->found.value();
  const auto peripheralOf = [&](fx::SimulatedColorimeter& c) {
    for (const auto& r : peripherals) {
      if (r.peripheral->identifier() == c.radio().device().identifier()) return r.peripheral;
    }
    return std::shared_ptr<ble::Peripheral>();
  };
  manager_->connectedDevice()->disconnect();
  advance(1s);
  auto earlier = std::make_shared<Connection>();
  manager_->connectTo(peripheralOf(second), [earlier](auto e) {
    ++earlier->calls;
    earlier->error = e;
  });
  auto later = connectWith([&](auto& m, auto cb) { m.connectTo(peripheralOf(first), cb); });
  EXPECT_EQ(earlier->calls, 1);
  ASSERT_TRUE(earlier->error);
  EXPECT_EQ(earlier->error->localizedDescription, "Operation halted");
  EXPECT_EQ(later->calls, 1);
  EXPECT_FALSE(later->error);
  EXPECT_EQ(manager_->connectedDevice()->serial(), first.serial());
  EXPECT_EQ(second.radio().device().connectionCount(), 0u);
  EXPECT_EQ(listener_->states.back(), S::Connected);
}
