// The instrument base: creation by service, the handshake, battery, button, keep-alive and
// disconnection, over simulated instruments.
#include <gtest/gtest.h>

#include "../support/instrument_fixture.h"
#include "hcf/core/ht_utility.h"
#include "instrument/instrument_link_access.h"

using namespace hcf;
using namespace hcf_test;
namespace sim = hcf::ble::sim;

namespace {
const ble::UUID kVersion = ble::UUID::UUIDWithString("591eddc9-0ebe-4512-af25-b83ce44d24de");
const ble::UUID kConfirm = ble::UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");
const ble::UUID kBattery = ble::UUID::UUIDWithString("4aecb80d-0f0a-45d4-a2da-4796f114b8d3");
const ble::UUID kCharging = ble::UUID::UUIDWithString("9e60ce27-9f77-40f8-a916-2c0b5f606a68");
}  // namespace

TEST_F(InstrumentTest, ServiceChoosesTheKindAndTheHandshakeCompletesOnce) {
  fx::SimulatedColorimeter colorimeter(*world_, "2.0");
  Created c = create(colorimeter.radio().devicePtr(), kColorimeterService);  // upper case
  ASSERT_FALSE(c.error) << c.error->localizedDescription;
  ASSERT_EQ(c.calls, 1);
  ASSERT_TRUE(dynamic_cast<HCFColorimeter*>(c.instrument.get()));
  EXPECT_EQ(c.instrument->serial(), colorimeter.serial());
  EXPECT_EQ(c.instrument->firmwareVersion(), "020A");
  EXPECT_TRUE(HCFColorInstrument::uninitializedDevices().empty());
  EXPECT_TRUE(std::dynamic_pointer_cast<HTRadiusManager>(c.instrument->peripheralManager()));
  // A later readiness report rereads the status but never completes again.
  hcf::InstrumentLinkAccess::link(*c.instrument)
      .peripheralManagerIsReady(*c.instrument->peripheralManager());
  advance(200ms);
  EXPECT_EQ(c.calls, 1);

  fx::SimulatedSpectrometer spectrometer(*world_);
  Created s = create(spectrometer.radio().devicePtr(), kSpectrometerService);
  ASSERT_FALSE(s.error);
  ASSERT_TRUE(dynamic_cast<HCFSpectrometer*>(s.instrument.get()));
  EXPECT_EQ(s.instrument->serial(), spectrometer.serial());
  EXPECT_EQ(s.instrument->firmwareVersion(), "0104");
  EXPECT_TRUE(std::dynamic_pointer_cast<HTSpectroManager>(s.instrument->peripheralManager()));

  ASSERT_EQ(HCFColorInstrument::serviceUUIDs().size(), 2u);
  EXPECT_EQ(HCFColorInstrument::serviceUUIDs()[0], HTRadiusManager::bleCBUUID());
  EXPECT_EQ(HCFColorInstrument::serviceUUIDs()[1], HTSpectroManager::bleCBUUID());
}

TEST_F(InstrumentTest, UnknownServiceMissingServiceAndSilentInstrumentsFail) {
  fx::SimulatedColorimeter colorimeter(*world_, "2.0");
  Created unknown = create(colorimeter.radio().devicePtr(), "0000180f-0000-1000-8000-00805f9b34fb");
  ASSERT_TRUE(unknown.error);
  EXPECT_EQ(unknown.error->localizedDescription, "Unknown Device");
  EXPECT_EQ(unknown.error->code, error_code::kUnknownDevice);
  EXPECT_FALSE(unknown.instrument);

  // An instrument without its main service never gets a link; identification gives up after
  // its bound.
  auto bare = sim::Colorimeter::create(*world_, {.mainService = false});
  Created missing = create(bare->devicePtr(), kColorimeterService);
  EXPECT_FALSE(missing.error);
  advance(HCFColorInstrument::kHandshakeTimeout);
  missing = lastCreated();
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->code, error_code::kBleInitFailed);
  EXPECT_EQ(missing.calls, 1);
  EXPECT_TRUE(HCFColorInstrument::uninitializedDevices().empty());

  // Version reads that are never answered: the handshake gives up after its bound.
  fx::SimulatedColorimeter silent(*world_, "2.0");
  silent.radio().device().injectFault(
      sim::Fault::dropAnswer(sim::Operation::Read, kVersion).repeated(-1));
  Created stuck = create(silent.radio().devicePtr(), kColorimeterService);
  EXPECT_EQ(stuck.calls, 0);
  ASSERT_EQ(HCFColorInstrument::uninitializedDevices().size(), 1u);
  advance(HCFColorInstrument::kHandshakeTimeout);
  EXPECT_TRUE(HCFColorInstrument::uninitializedDevices().empty());
  stuck = lastCreated();
  EXPECT_EQ(stuck.calls, 1);
  EXPECT_EQ(stuck.error->code, error_code::kBleInitFailed);

  // The link's report of a missing main service fails a pending creation once; the time-out
  // that follows finds nothing left to do.
  fx::SimulatedColorimeter another(*world_, "2.0");
  another.radio().device().injectFault(
      sim::Fault::dropAnswer(sim::Operation::Read, kVersion).repeated(-1));
  create(another.radio().devicePtr(), kColorimeterService);
  ASSERT_EQ(HCFColorInstrument::uninitializedDevices().size(), 1u);
  auto pending = HCFColorInstrument::uninitializedDevices()[0];
  hcf::InstrumentLinkAccess::link(*pending).peripheralManagerFailedToInit(
      *pending->peripheralManager());
  hcf::InstrumentLinkAccess::link(*pending).peripheralManagerFailedToInit(
      *pending->peripheralManager());
  advance(HCFColorInstrument::kHandshakeTimeout);
  EXPECT_EQ(lastCreated().calls, 1);
  EXPECT_EQ(lastCreated().error->localizedDescription, "Device's bluetooth initialization failed.");
  EXPECT_TRUE(HCFColorInstrument::uninitializedDevices().empty());
}

TEST_F(InstrumentTest, BatteryNeedsBothHalvesOfTheCurrentRequestInEitherOrder) {
  EXPECT_EQ(HCFColorInstrument::getBattPercent(4.0f), 1.0f);
  EXPECT_EQ(HCFColorInstrument::getBattPercent(4.3f), 1.0f);
  EXPECT_EQ(HCFColorInstrument::getBattPercent(3.5f), 0.0f);
  EXPECT_EQ(HCFColorInstrument::getBattPercent(3.2f), 0.0f);
  EXPECT_EQ(HCFColorInstrument::getBattPercent(3.75f), 0.5f);
  EXPECT_NEAR(HCFColorInstrument::getBattPercent(3.9995f), 0.999f, 1e-6);

  fx::SimulatedColorimeter colorimeter(*world_, "2.0");
  Created c = create(colorimeter.radio().devicePtr(), kColorimeterService);
  ASSERT_TRUE(c.instrument);
  auto& instrument = *c.instrument;
  std::vector<HCFBatteryStatus> seen;
  std::vector<HCFError> errors;
  const auto record = [&](auto status, auto error) {
    if (status) seen.push_back(*status);
    if (error) errors.push_back(*error);
  };
  colorimeter.radio().setBatteryRaw(2420);  // 3.899 V
  colorimeter.radio().setChargeFlags(1, 0);
  instrument.requestBatt(record);
  advance(200ms);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NEAR(seen[0].volts, 3.8994f, 1e-3);
  EXPECT_EQ(seen[0].level, HCFColorInstrument::getBattPercent(seen[0].volts));
  EXPECT_TRUE(seen[0].isFullyCharged);
  EXPECT_FALSE(seen[0].isOnPower);

  // The charge flags first (the voltage answer held back): still one status per request.
  colorimeter.radio().device().injectFault(
      sim::Fault::delayed(sim::Operation::Read, kBattery, 300ms));
  instrument.requestBatt(record);
  advance(100ms);
  EXPECT_EQ(seen.size(), 1u);
  advance(400ms);
  EXPECT_EQ(seen.size(), 2u);
  hcf::InstrumentLinkAccess::link(instrument).gotBatt(3.7f);  // unasked: only remembered
  EXPECT_EQ(seen.size(), 2u);

  // A request whose voltage never comes fails after its bound instead of staying pending.
  colorimeter.radio().device().injectFault(sim::Fault::dropAnswer(sim::Operation::Read, kBattery));
  instrument.requestBatt(record);
  advance(HCFColorInstrument::kBatteryTimeout + 1s);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].code, error_code::kInstrumentTimeout);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(InstrumentTest, ButtonKeepAliveAndDisconnection) {
  fx::SimulatedColorimeter colorimeter(*world_, "2.0");
  Created c = create(colorimeter.radio().devicePtr(), kColorimeterService);
  ASSERT_TRUE(c.instrument);
  auto recorder = std::make_shared<InstrumentRecorder>();
  c.instrument->setDelegate(recorder);
  colorimeter.radio().pressButton();
  advance(100ms);
  EXPECT_EQ(recorder->buttons, 1);

  c.instrument->setKeepAlive(true);
  c.instrument->setKeepAlive(true);  // one timer
  advance(HCFColorInstrument::kKeepAliveInterval * 3 + 1s);
  EXPECT_EQ(colorimeter.radio().confirmWrites(), 3u);
  EXPECT_EQ(colorimeter.radio().device().writes(kConfirm)[0], ble::Bytes{0x01});
  c.instrument->confirmConnection();
  advance(100ms);
  EXPECT_EQ(colorimeter.radio().confirmWrites(), 4u);

  hcf::InstrumentLinkAccess::deviceDisconnected(*c.instrument);
  EXPECT_EQ(recorder->disconnects, 0) << "reported after the current event";
  advance(10ms);
  EXPECT_EQ(recorder->disconnects, 1);
  EXPECT_FALSE(c.instrument->keepAlive());
  advance(HCFColorInstrument::kKeepAliveInterval * 2);
  EXPECT_EQ(colorimeter.radio().confirmWrites(), 4u);
  c.instrument->setKeepAlive(false);  // harmless
}

// A second creation on a peripheral still being identified answers the first at once and
// leaves one instrument in the registry.
TEST_F(InstrumentTest, ARetryOnTheSamePeripheralAnswersBothAndRegistersOne) {
  fx::SimulatedColorimeter colorimeter(*world_, "2.0");
  auto peripheral = connect(colorimeter.radio().devicePtr());
  ASSERT_TRUE(peripheral);
  Created first, second;
  HCFColorInstrument::createWithPeripheral(peripheral, kColorimeterService, [&](auto i, auto e) {
    ++first.calls;
    first.instrument = i;
    first.error = e;
  });
  HCFColorInstrument::createWithPeripheral(peripheral, kColorimeterService, [&](auto i, auto e) {
    ++second.calls;
    second.instrument = i;
    second.error = e;
  });
  EXPECT_EQ(HCFColorInstrument::uninitializedDevices().size(), 1u);
  advance(500ms);
  EXPECT_EQ(first.calls, 1);
  ASSERT_TRUE(first.error);
  EXPECT_EQ(first.error->localizedDescription, "Operation halted");
  EXPECT_EQ(second.calls, 1);
  EXPECT_FALSE(second.error);
  EXPECT_TRUE(second.instrument);
  EXPECT_TRUE(HCFColorInstrument::uninitializedDevices().empty());
}
