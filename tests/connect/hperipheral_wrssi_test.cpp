// Discovery's value types: service, serial and manufacturer data read from an advertisement.
#include "hcf/connect/hperipheral_wrssi.h"

#include <gtest/gtest.h>

#include "../support/ble_recorders.h"

using namespace hcf;
using namespace hcf_test;
using ble::UUID;

TEST(AdvertisingPacket, SixBytesOrNothing) {
  EXPECT_FALSE(HCFAdvertisingPacket::fromData({0x34, 0x12, 0x01, 0x07, 0x02}));
  const auto p = HCFAdvertisingPacket::initWith({0x34, 0x12, 0x01, 0x07, 0x02, 0x00, 0xFF});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->companyId, 0x1234);
  EXPECT_EQ(p->advertisingType, 1);
  EXPECT_EQ(p->customerId, 7);
  EXPECT_EQ(p->customOptions, 2);
}

TEST(PeripheralRecord, ServiceUUIDSkipsShortOnes) {
  ble::AdvertisementData adv;
  EXPECT_FALSE(HPeripheralWRSSI::getServiceUUID(adv));
  adv.serviceUUIDs = std::vector<UUID>{UUID::UUIDWithString("180F")};
  EXPECT_FALSE(HPeripheralWRSSI::getServiceUUID(adv));
  adv.serviceUUIDs->push_back(UUID::UUIDWithString("26db67ab-fc40-420a-b080-2ce709bfb7d0"));
  EXPECT_EQ(HPeripheralWRSSI::getServiceUUID(adv), "26DB67AB-FC40-420A-B080-2CE709BFB7D0");
}

class PeripheralRecordTest : public SimWorldTest {};

TEST_F(PeripheralRecordTest, SerialFromTheAdvertisedNameAndIdentity) {
  const auto named = [&](std::optional<std::string> name) {
    auto d = world_->addDevice();
    d->setName(name);
    d->setAdvertisement({std::vector<UUID>{UUID::UUIDWithString("180F")}, std::nullopt, name});
    auto p = connect(d);
    EXPECT_TRUE(p);
    return HPeripheralWRSSI::with(p, -50, std::nullopt);
  };
  EXPECT_EQ(named("ColorOrla-1234ABCD").serial(), "1234ABCD");
  EXPECT_EQ(named("Irisel-").serial(), "");
  EXPECT_FALSE(named("colororla-1").serial());
  EXPECT_FALSE(named("Tintra").serial());
  EXPECT_FALSE(named(std::nullopt).serial());
  EXPECT_FALSE(HPeripheralWRSSI{}.serial());

  const auto a = named("Irisel-00E15E000001");
  auto later = a;
  later.rssi = -80;
  EXPECT_TRUE(a.samePer(later));
  EXPECT_FALSE(a.samePer(named("Irisel-00E15E000001")));  // another device, same name
  const auto records = HPeripheralWRSSI::arrayFromPlainPeripherals({a.peripheral}, "X-UUID");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].rssi);
  EXPECT_EQ(HPeripheralWRSSI::serviceUUIDforPeripheral(a.peripheral, records), "X-UUID");
}
