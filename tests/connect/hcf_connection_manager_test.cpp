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

TEST(ConnectionManager, WithoutABluetoothBackendCreationFails) {
  ble::setCentralFactory({});
  std::optional<HCFError> error;
  bool made = false;
  HCFConnectionManager::withB2Key(
      "key", [&](auto) { made = true; }, [&](const HCFError& e) { error = e; });
  EXPECT_FALSE(made);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, error_code::kBleInitFailed);
}
