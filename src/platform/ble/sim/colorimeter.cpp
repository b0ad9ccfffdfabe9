// A simulated colorimeter: the GATT table of the instrument's firmware and its answers.
#include <algorithm>

#include "sim_internal.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

namespace {

// The instrument's GATT table (as its firmware defines it).
const UUID kMainService = UUID::UUIDWithString("26db67ab-fc40-420a-b080-2ce709bfb7d0");
const UUID kUpdateService1 = UUID::UUIDWithString("1d14d6ee-fd63-4fa1-bfa4-8f47b42119f0");
const UUID kUpdateService2 = UUID::UUIDWithString("a8a52e81-5c93-4f8f-b18f-96bba3387bab");
const UUID kSense = UUID::UUIDWithString("1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2");
const UUID kEmissiveSense = UUID::UUIDWithString("54368316-8385-42a6-a0fe-3f43d66201e6");
const UUID kBattery = UUID::UUIDWithString("4aecb80d-0f0a-45d4-a2da-4796f114b8d3");
const UUID kSerial = UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a");
const UUID kVersion = UUID::UUIDWithString("591eddc9-0ebe-4512-af25-b83ce44d24de");
const UUID kButton = UUID::UUIDWithString("4229bdb5-8b55-4c6f-9216-d71ab06f246a");
const UUID kConnectConfirm = UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");
const UUID kCharging = UUID::UUIDWithString("9e60ce27-9f77-40f8-a916-2c0b5f606a68");
const UUID kTemperature = UUID::UUIDWithString("af2c461d-8a38-48a0-aa8f-5c4b2947d3a3");
const UUID kOtaControl = UUID::UUIDWithString("f7bf3564-fb6d-4e53-88a4-5e37e0326063");
const UUID kOtaData = UUID::UUIDWithString("984227f3-34fc-4045-a5d0-2c581f81a153");

// The manufacturer data of the instrument's advertisement: company, click type, customer,
// options, reserved.
constexpr std::uint16_t kCompanyId = 0x0A3C;

Bytes counts(std::uint16_t x, std::uint16_t y, std::uint16_t z) {
  return {static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(x & 0xFF),
          static_cast<std::uint8_t>(y >> 8), static_cast<std::uint8_t>(y & 0xFF),
          static_cast<std::uint8_t>(z >> 8), static_cast<std::uint8_t>(z & 0xFF)};
}

Bytes manufacturerData(std::uint8_t advertisingType) {
  return {static_cast<std::uint8_t>(kCompanyId & 0xFF),
          static_cast<std::uint8_t>(kCompanyId >> 8),
          advertisingType,
          0x01,
          0x00,
          0x00};
}

}  // namespace

std::shared_ptr<Colorimeter> Colorimeter::create(World& world, const ColorimeterOptions& options) {
  auto device = world.addDevice();
  const auto omitted = [&](const UUID& u) {
    return std::find(options.omit.begin(), options.omit.end(), u) != options.omit.end();
  };
  constexpr CharacteristicProperties kRead{.read = true};
  constexpr CharacteristicProperties kReadNotify{.read = true, .notify = true};
  constexpr CharacteristicProperties kWrite{.write = true};

  if (options.mainService) {
    ServiceSpec main{kMainService, {}};
    const auto add = [&](const UUID& u, CharacteristicProperties p, Bytes value) {
      if (!omitted(u)) main.characteristics.push_back({u, p, std::move(value)});
    };
    add(kSense, kReadNotify, counts(0, 0, 0));
    if (options.emissiveSense) add(kEmissiveSense, kReadNotify, counts(0, 0, 0));
    add(kBattery, kRead, {0x00, 0x0A, 0x00, 0x00});  // 2560: 4.1 V
    add(kSerial, kRead, {0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    add(kVersion, kRead, {0x02, 0x01});
    add(kButton, kReadNotify, {0x00});
    add(kConnectConfirm, kWrite, {0x00});
    add(kCharging, kRead, {0x00, 0x00});
    if (options.temperature) add(kTemperature, kRead, {0x16});  // 22 °C
    device->addService(main);
  }
  if (options.updateServices) {
    for (const auto& s : {kUpdateService1, kUpdateService2}) {
      device->addService({s,
                          {{kOtaControl, {.write = true, .notify = true}, {}},
                           {kOtaData, {.writeWithoutResponse = true}, {}}}});
    }
  }
  device->setName(options.name);
  AdvertisementData adv;
  adv.serviceUUIDs = std::vector<UUID>{kMainService};
  adv.manufacturerData = manufacturerData(1);
  adv.localName = options.name;
  device->setAdvertisement(adv);
  return std::make_shared<Colorimeter>(device);
}

void Colorimeter::setScanCounts(std::uint16_t x, std::uint16_t y, std::uint16_t z) {
  device_->setValue(kSense, counts(x, y, z));
}

void Colorimeter::setEmissiveCounts(std::uint16_t x, std::uint16_t y, std::uint16_t z) {
  device_->setValue(kEmissiveSense, counts(x, y, z));
}

void Colorimeter::setSerialBytes(const std::array<std::uint8_t, 6>& serial) {
  device_->setValue(kSerial, Bytes(serial.begin(), serial.end()));
}

void Colorimeter::setVersion(std::uint8_t major, std::uint8_t minor) {
  device_->setValue(kVersion, {major, minor});
}

void Colorimeter::setBatteryRaw(std::uint32_t raw) {
  device_->setValue(
      kBattery,
      {static_cast<std::uint8_t>(raw & 0xFF), static_cast<std::uint8_t>((raw >> 8) & 0xFF),
       static_cast<std::uint8_t>((raw >> 16) & 0xFF), static_cast<std::uint8_t>(raw >> 24)});
}

void Colorimeter::setChargeFlags(std::uint8_t charging, std::uint8_t onPower) {
  device_->setValue(kCharging, {charging, onPower});
}

void Colorimeter::setTemperature(std::int8_t degrees) {
  device_->setValue(kTemperature, {static_cast<std::uint8_t>(degrees)});
}

void Colorimeter::pressButton() { device_->notify(kButton, {0x01}); }

void Colorimeter::advertiseClick(bool doubleClick) {
  AdvertisementData adv = device_->advertisement();
  adv.manufacturerData = manufacturerData(doubleClick ? 2 : 1);
  device_->setAdvertisement(adv);
}

std::size_t Colorimeter::confirmWrites() const { return device_->writes(kConnectConfirm).size(); }

}  // namespace ble::sim
HCF_NAMESPACE_END
