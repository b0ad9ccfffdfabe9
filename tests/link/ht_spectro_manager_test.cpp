// The spectrometer link over the simulated instrument.
#include "hcf/link/ht_spectro_manager.h"

#include <gtest/gtest.h>

#include "../support/ble_recorders.h"
#include "../support/link_recorder.h"
#include "hcf/core/exception.h"

using namespace hcf_test;
using namespace std::chrono_literals;
namespace sim = hcf::ble::sim;
using hcf::HTSpectroManager;
using hcf::ble::UUID;

namespace {

const UUID kScan = UUID::UUIDWithString("80db9d9a-6db9-43fa-ac23-c38062ef3c9e");
const UUID kEScan = UUID::UUIDWithString("ec4ca502-982a-4fc2-82ec-033e37ab4fe9");
const UUID kError = UUID::UUIDWithString("8d6bfa01-c14e-4079-96f5-57a5b136fbdc");
const UUID kConfirm = UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");

class SpectroManagerTest : public SimWorldTest {
 protected:
  void start(const sim::SpectrometerOptions& options = {}) {
    spectrometer_ = sim::Spectrometer::create(*world_, options);
    auto p = connect(spectrometer_->devicePtr());
    ASSERT_TRUE(p);
    link_ = HTSpectroManager::initWithPeripheral(p, recorder);
    advance(500ms);
  }
  std::shared_ptr<LinkRecorder> recorder = std::make_shared<LinkRecorder>();
  std::shared_ptr<sim::Spectrometer> spectrometer_;
  std::shared_ptr<HTSpectroManager> link_;
};

}  // namespace

TEST(SpectroManager, PlainInitialiserIsRefusedAndTheServiceIsItsOwn) {
  try {
    HTSpectroManager::init();
    FAIL() << "no exception";
  } catch (const hcf::HCFException& e) {
    EXPECT_STREQ(e.what(), "-init is not a valid initializer for the class HTSpectroManager");
  }
  EXPECT_EQ(HTSpectroManager::bleService(), "89504ca4-c879-446f-a10e-f6c2da131d41");
  ASSERT_EQ(HTSpectroManager::services().size(), 1u);
  EXPECT_EQ(HTSpectroManager::services()[0], HTSpectroManager::bleCBUUID());
}

TEST_F(SpectroManagerTest, ReadyWithAllNineAndNotificationsOnForScansButtonAndErrors) {
  start();
  EXPECT_TRUE(link_->foundAllCharacteristics());
  EXPECT_EQ(recorder->ready, 1);
  EXPECT_TRUE(link_->scanCharacteristic()->isNotifying());
  EXPECT_TRUE(link_->eScanCharacteristic()->isNotifying());
  EXPECT_TRUE(link_->btnCharacteristic()->isNotifying());
  EXPECT_TRUE(link_->errorCharacteristic()->isNotifying());
  EXPECT_FALSE(link_->battCharacteristic()->isNotifying());
}

TEST_F(SpectroManagerTest, NotReadyWithoutTheErrorCharacteristicAndFailsWithoutTheService) {
  start({.omit = {kError}});
  EXPECT_EQ(recorder->ready, 0);
  EXPECT_EQ(recorder->failed, 0);
  recorder = std::make_shared<LinkRecorder>();
  start({.mainService = false});
  EXPECT_EQ(recorder->failed, 1);
}

TEST_F(SpectroManagerTest, ScanWritesTheCommandAndTheNotificationCarries32Values) {
  start();
  std::array<std::uint16_t, 32> counts{};
  counts.fill(0x8000);
  counts[0] = 0xFFFF;
  counts[31] = 0;
  spectrometer_->setResponseCounts(counts);
  link_->getScan();
  advance(100ms);
  EXPECT_EQ(spectrometer_->device().writes(kScan), (std::vector<hcf::ble::Bytes>{{0x01}}));
  ASSERT_EQ(recorder->responses.size(), 1u);
  const auto& r = recorder->responses[0];
  ASSERT_EQ(r.size(), 32u);
  EXPECT_EQ(r[0], 1.0f);
  EXPECT_EQ(r[1], static_cast<float>(32768.0 / 65535.0));
  EXPECT_EQ(r[31], 0.0f);

  // The emissive command goes to its own characteristic; answers of 63 or 65 bytes are dropped.
  link_->getEScan();
  advance(100ms);
  EXPECT_EQ(spectrometer_->device().writes(kEScan).size(), 1u);
  EXPECT_EQ(recorder->responses.size(), 2u);
  for (const std::size_t length : {63u, 65u}) {
    spectrometer_->setResponse(hcf::ble::Bytes(length, 0xFF));
    link_->getScan();
    advance(100ms);
  }
  EXPECT_EQ(recorder->responses.size(), 2u);
}

TEST_F(SpectroManagerTest, DeviceErrorsStatusAndConfirmation) {
  start();
  spectrometer_->device().notify(kError, {0x03, 0x00});
  spectrometer_->device().notify(kError, {});
  spectrometer_->failScansWith(7);
  link_->getScan();
  advance(100ms);
  EXPECT_EQ(recorder->values, (std::vector<std::string>{"device error 3", "device error 7"}));
  recorder->values.clear();
  spectrometer_->setSerialBytes({0x00, 0xE1, 0x5E, 0x00, 0x00, 0x01});
  spectrometer_->setVersion(1, 2);
  link_->getStatus();
  link_->getBattInfo();
  link_->confirmConnection();
  spectrometer_->pressButton();
  advance(200ms);
  EXPECT_EQ(recorder->values,
            (std::vector<std::string>{"version 1.2", "serial 00E15E000001", "battery",
                                      "charging no power no", "button"}));
  EXPECT_EQ(spectrometer_->device().writes(kConfirm), (std::vector<hcf::ble::Bytes>{{0x01}}));
}
