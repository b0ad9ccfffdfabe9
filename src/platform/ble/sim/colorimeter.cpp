// A simulated colorimeter: the GATT table of the instrument's firmware and its answers.
#include <algorithm>

#include "../instrument_gatt.h"
#include "sim_internal.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

namespace {

// The instrument's GATT table (as its firmware defines it).
const UUID& kMainService = instrument_gatt::colorimeterService();
const UUID& kUpdateService1 = instrument_gatt::colorimeterUpdateService1();
const UUID& kUpdateService2 = instrument_gatt::colorimeterUpdateService2();
const UUID& kSense = instrument_gatt::colorimeterSense();
const UUID& kEmissiveSense = instrument_gatt::colorimeterEmissiveSense();
const UUID& kBattery = instrument_gatt::battery();
const UUID& kSerial = instrument_gatt::serial();
const UUID& kVersion = instrument_gatt::version();
const UUID& kButton = instrument_gatt::button();
const UUID& kConnectConfirm = instrument_gatt::connectConfirm();
const UUID& kCharging = instrument_gatt::chargingStatus();
const UUID& kTemperature = instrument_gatt::colorimeterTemperature();
const UUID& kOtaControl = instrument_gatt::colorimeterOtaControl();
const UUID& kOtaData = instrument_gatt::colorimeterOtaData();

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
