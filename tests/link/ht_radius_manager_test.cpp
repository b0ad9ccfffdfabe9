// The colorimeter link over the simulated instrument.
#include "hcf/link/ht_radius_manager.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../support/ble_recorders.h"
#include "../support/link_recorder.h"
#include "hcf/core/exception.h"

using namespace hcf_test;
using namespace std::chrono_literals;
namespace sim = hcf::ble::sim;
using hcf::HTRadiusManager;
using hcf::ble::UUID;

namespace {

const UUID kSense = UUID::UUIDWithString("1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2");
const UUID kEmissive = UUID::UUIDWithString("54368316-8385-42a6-a0fe-3f43d66201e6");
const UUID kBattery = UUID::UUIDWithString("4aecb80d-0f0a-45d4-a2da-4796f114b8d3");
const UUID kSerial = UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a");
const UUID kButton = UUID::UUIDWithString("4229bdb5-8b55-4c6f-9216-d71ab06f246a");
const UUID kConfirm = UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");
const UUID kTemperature = UUID::UUIDWithString("af2c461d-8a38-48a0-aa8f-5c4b2947d3a3");

class RadiusManagerTest : public SimWorldTest {
 protected:
  // Connects a simulated colorimeter and puts a link on it.
  void start(const sim::ColorimeterOptions& options = {}) {
    colorimeter_ = sim::Colorimeter::create(*world_, options);
    auto p = connect(colorimeter_->devicePtr());
    ASSERT_TRUE(p);
    link_ = HTRadiusManager::initWithPeripheral(p, recorder);
    advance(500ms);
  }
  std::shared_ptr<LinkRecorder> recorder = std::make_shared<LinkRecorder>();
  std::shared_ptr<sim::Colorimeter> colorimeter_;
  std::shared_ptr<HTRadiusManager> link_;
};

}  // namespace

TEST(RadiusManager, PlainInitialiserIsRefused) {
  try {
    HTRadiusManager::init();
    FAIL() << "no exception";
  } catch (const hcf::HCFException& e) {
    EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
    EXPECT_STREQ(e.what(), "-init is not a valid initializer for the class HTRadiusManager");
  }
}

TEST(RadiusManager, ServiceIdentifiers) {
  EXPECT_EQ(HTRadiusManager::bleService(), "26db67ab-fc40-420a-b080-2ce709bfb7d0");
  EXPECT_EQ(HTRadiusManager::bleCBUUID(),
            UUID::UUIDWithString("26DB67AB-FC40-420A-B080-2CE709BFB7D0"));
  const auto& services = HTRadiusManager::radiusServices();
  ASSERT_EQ(services.size(), 3u);
  EXPECT_EQ(services[1].lowercaseString(), "1d14d6ee-fd63-4fa1-bfa4-8f47b42119f0");
  EXPECT_EQ(services[2].lowercaseString(), "a8a52e81-5c93-4f8f-b18f-96bba3387bab");
}

TEST_F(RadiusManagerTest, ReadyAfterTheMainServiceAndAgainAfterEachUpdateService) {
  start();
  EXPECT_TRUE(link_->foundAllCharacteristics());
  EXPECT_EQ(recorder->ready, 3);  // main, then each of the two update services
  EXPECT_EQ(recorder->failed, 0);
  EXPECT_TRUE(link_->otaControlCharacteristic() && link_->otaDataCharacteristic());
  EXPECT_TRUE(link_->btnCharacteristic()->isNotifying());
  EXPECT_EQ(link_->cbperipheral()->delegate(), link_);  // took over the peripheral's events
}

TEST_F(RadiusManagerTest, WithoutUpdateServicesReadyOnce) {
  start({.updateServices = false});
  EXPECT_EQ(recorder->ready, 1);
}

TEST_F(RadiusManagerTest, MissingRequiredCharacteristicNeverReadyNeverFails) {
  for (const UUID& missing : {kButton, kConfirm}) {
    recorder = std::make_shared<LinkRecorder>();
    start({.omit = {missing}});
    advance(10s);
    EXPECT_FALSE(link_->foundAllCharacteristics());
    EXPECT_EQ(recorder->ready, 0);
    EXPECT_EQ(recorder->failed, 0);
  }
  // The optional ones may be missing.
  recorder = std::make_shared<LinkRecorder>();
  start({.emissiveSense = false, .temperature = false});
  EXPECT_GT(recorder->ready, 0);
}

TEST_F(RadiusManagerTest, MissingMainServiceFailsToInit) {
  start({.mainService = false});
  EXPECT_EQ(recorder->failed, 1);
  EXPECT_EQ(recorder->ready, 0);
}

TEST_F(RadiusManagerTest, StatusReadsVersionThenSerial) {
  start();
  colorimeter_->setVersion(3, 12);
  colorimeter_->setSerialBytes({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
  link_->getStatus();
  advance(200ms);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"version 3.12", "serial 001A2B3C4D5E"}));
}

TEST_F(RadiusManagerTest, ScanCountsAreBigEndianAndExactlySixBytes) {
  start();
  colorimeter_->device().setValue(kSense, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
  link_->getScan();
  advance(100ms);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"scan 258 772 1286"}));
  for (const std::size_t bad : {5u, 7u, 0u}) {
    recorder->values.clear();
    colorimeter_->device().injectFault(sim::Fault::wrongLength(sim::Operation::Read, kSense, bad));
    link_->getScan();
    advance(100ms);
    EXPECT_TRUE(recorder->values.empty()) << bad << " bytes";
  }
}

TEST_F(RadiusManagerTest, EmissiveScanComesThroughTheSameCallbackWhenTheInstrumentHasIt) {
  start();
  colorimeter_->setEmissiveCounts(100, 200, 65535);
  link_->getEScan();
  advance(100ms);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"scan 100 200 65535"}));
  recorder = std::make_shared<LinkRecorder>();
  start({.emissiveSense = false, .temperature = false});
  link_->getEScan();
  link_->getTemp();
  advance(1s);
  EXPECT_TRUE(recorder->values.empty());  // nothing to read, nothing asked
  EXPECT_FALSE(link_->xyzEmissSenseCharacteristic());
}

TEST_F(RadiusManagerTest, BatteryVoltsInSinglePrecisionAndChargeFlags) {
  start();
  const std::pair<std::uint32_t, float> cases[] = {
      {0, 0.0f}, {2048, 3.3f}, {2482, 3.999316f}, {2483, 4.000928f}, {4095, 6.598389f}};
  for (const auto& [raw, expected] : cases) {
    recorder->volts.clear();
    colorimeter_->setBatteryRaw(raw);
    colorimeter_->setChargeFlags(0x02, 0x00);
    link_->getBattInfo();
    advance(100ms);
    ASSERT_EQ(recorder->volts.size(), 1u) << raw;
    // The single-precision result of the stated arithmetic, to the float's last digit.
    const float exact = static_cast<float>(raw * 3300.0 * 0.000244140625 * 2.0) / 1000.0f;
    EXPECT_EQ(recorder->volts[0], exact) << raw;
    EXPECT_NEAR(recorder->volts[0], expected, 1e-6f) << raw;
  }
  EXPECT_EQ(recorder->values.back(), "charging yes power no");
  recorder->values.clear();
  colorimeter_->device().setValue(kBattery, {1, 2, 3});  // wrong length: dropped
  link_->getBattInfo();
  advance(100ms);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"charging yes power no"}));
}

TEST_F(RadiusManagerTest, TemperatureIsSigned) {
  start();
  colorimeter_->setTemperature(-30);  // 0xE2
  link_->getTemp();
  advance(100ms);
  colorimeter_->device().setValue(kTemperature, {0xFF});
  link_->getTemp();
  advance(100ms);
  EXPECT_EQ(recorder->values,
            (std::vector<std::string>{"temperature -30.000000", "temperature -1.000000"}));
}

TEST_F(RadiusManagerTest, ConfirmationWritesOneByteWithResponse) {
  start();
  EXPECT_EQ(colorimeter_->confirmWrites(), 0u);
  link_->confirmConnection();
  link_->confirmConnection();
  advance(100ms);
  EXPECT_EQ(colorimeter_->device().writes(kConfirm),
            (std::vector<hcf::ble::Bytes>{{0x01}, {0x01}}));
}

TEST_F(RadiusManagerTest, ButtonNotificationsArriveUnasked) {
  start();
  colorimeter_->pressButton();
  advance(100ms);
  colorimeter_->pressButton();
  advance(100ms);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"button", "button"}));
}

TEST_F(RadiusManagerTest, CommandsBeforeReadinessAndDroppedAnswersGoUnanswered) {
  colorimeter_ = sim::Colorimeter::create(*world_);
  auto p = connect(colorimeter_->devicePtr());
  ASSERT_TRUE(p);
  link_ = HTRadiusManager::initWithPeripheral(p, recorder);
  link_->getScan();  // no handles yet: nothing happens
  link_->getStatus();
  advance(500ms);
  EXPECT_TRUE(recorder->values.empty());
  EXPECT_GT(recorder->ready, 0);

  colorimeter_->device().injectFault(sim::Fault::dropAnswer(sim::Operation::Read, kSerial));
  colorimeter_->setVersion(1, 3);
  link_->getStatus();
  advance(1s);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"version 1.3"}));  // serial never came
}

TEST_F(RadiusManagerTest, AnswerUnderAnotherCharacteristicIsDecodedByItsOwnRule) {
  start();
  colorimeter_->setBatteryRaw(2048);
  // The battery's 4 bytes come back labelled as the serial: the serial rule (6 bytes) drops them.
  colorimeter_->device().injectFault(sim::Fault::answerAs(sim::Operation::Read, kBattery, kSerial));
  link_->getBattInfo();
  advance(100ms);
  EXPECT_TRUE(recorder->volts.empty());
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"charging no power no"}));
}

TEST_F(RadiusManagerTest, ALinkWhoseInstrumentDisconnectsGoesQuiet) {
  start();
  colorimeter_->device().injectFault(sim::Fault::disconnectBefore(sim::Operation::Read, kSense));
  link_->getScan();
  advance(1s);
  EXPECT_TRUE(recorder->values.empty());
  EXPECT_EQ(recorder_->count("disconnect"), 1u);
  link_->getStatus();  // the peripheral is gone: no answer, no crash
  advance(1s);
  EXPECT_TRUE(recorder->values.empty());
}
