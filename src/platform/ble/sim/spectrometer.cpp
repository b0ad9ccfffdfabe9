// A simulated Irisel spectrometer: the GATT table of its firmware and its answers.
#include <algorithm>

#include "../instrument_gatt.h"
#include "sim_internal.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

namespace {

const UUID& kMainService = instrument_gatt::spectrometerService();
const UUID& kScan = instrument_gatt::spectrometerScan();
const UUID& kEScan = instrument_gatt::spectrometerEmissiveScan();
const UUID& kBattery = instrument_gatt::battery();
const UUID& kSerial = instrument_gatt::serial();
const UUID& kVersion = instrument_gatt::version();
const UUID& kButton = instrument_gatt::button();
const UUID& kConnectConfirm = instrument_gatt::connectConfirm();
const UUID& kCharging = instrument_gatt::chargingStatus();
const UUID& kError = instrument_gatt::spectrometerError();

}  // namespace

struct Spectrometer::State {
  Bytes response = Bytes(64, 0);
  Bytes emissive = Bytes(64, 0);
  std::uint8_t failCode = 0;
  int failTimes = 0;
};

std::shared_ptr<Spectrometer> Spectrometer::create(World& world,
                                                   const SpectrometerOptions& options) {
  auto device = world.addDevice();
  auto state = std::make_shared<State>();
  const auto omitted = [&](const UUID& u) {
    return std::find(options.omit.begin(), options.omit.end(), u) != options.omit.end();
  };
  constexpr CharacteristicProperties kRead{.read = true};
  constexpr CharacteristicProperties kReadNotify{.read = true, .notify = true};
  constexpr CharacteristicProperties kWrite{.write = true};
  constexpr CharacteristicProperties kWriteNotify{.write = true, .notify = true};
  if (options.mainService) {
    ServiceSpec main{kMainService, {}};
    const auto add = [&](const UUID& u, CharacteristicProperties p, Bytes value) {
      if (!omitted(u)) main.characteristics.push_back({u, p, std::move(value)});
    };
    add(kScan, kWriteNotify, {});
    add(kEScan, kWriteNotify, {});
    add(kBattery, kRead, {0x00, 0x0A, 0x00, 0x00});  // 2560: 4.1 V
    add(kSerial, kRead, {0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    add(kVersion, kRead, {0x01, 0x00});
    add(kButton, kReadNotify, {0x00});
    add(kConnectConfirm, kWrite, {0x00});
    add(kCharging, kRead, {0x00, 0x00});
    add(kError, kReadNotify, {0x00});
    device->addService(main);
  }
  device->setName(options.name);
  AdvertisementData adv;
  adv.serviceUUIDs = std::vector<UUID>{kMainService};
  adv.localName = options.name;
  device->setAdvertisement(adv);

  // A scan command is answered by a notification: the response, or a device error.
  std::weak_ptr<Device> weak = device;
  const auto answer = [weak, state](const UUID& characteristic, bool emissive) {
    return [weak, state, characteristic, emissive](const Bytes&) {
      auto d = weak.lock();
      if (!d) return;
      if (state->failTimes != 0) {
        if (state->failTimes > 0) --state->failTimes;
        d->notify(kError, {state->failCode});
        return;
      }
      d->notify(characteristic, emissive ? state->emissive : state->response);
    };
  };
  device->setWriteHandler(kScan, answer(kScan, false));
  device->setWriteHandler(kEScan, answer(kEScan, true));
  return std::make_shared<Spectrometer>(device, state);
}

void Spectrometer::setResponse(Bytes response) { state_->response = std::move(response); }

const Bytes& Spectrometer::response() const { return state_->response; }

void Spectrometer::setResponseCounts(const std::array<std::uint16_t, 32>& counts) {
  Bytes bytes;
  for (const auto c : counts) {
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
  }
  state_->response = std::move(bytes);
}

void Spectrometer::setEmissiveResponse(Bytes response) { state_->emissive = std::move(response); }

void Spectrometer::failScansWith(std::uint8_t code, int times) {
  state_->failCode = code;
  state_->failTimes = times;
}

void Spectrometer::reportError(std::uint8_t code) { device_->notify(kError, {code}); }

void Spectrometer::setSerialBytes(const std::array<std::uint8_t, 6>& serial) {
  device_->setValue(kSerial, Bytes(serial.begin(), serial.end()));
}

void Spectrometer::setVersion(std::uint8_t major, std::uint8_t minor) {
  device_->setValue(kVersion, {major, minor});
}

void Spectrometer::setBatteryRaw(std::uint32_t raw) {
  device_->setValue(
      kBattery,
      {static_cast<std::uint8_t>(raw & 0xFF), static_cast<std::uint8_t>((raw >> 8) & 0xFF),
       static_cast<std::uint8_t>((raw >> 16) & 0xFF), static_cast<std::uint8_t>(raw >> 24)});
}

void Spectrometer::setChargeFlags(std::uint8_t charging, std::uint8_t onPower) {
  device_->setValue(kCharging, {charging, onPower});
}

void Spectrometer::pressButton() { device_->notify(kButton, {0x01}); }

std::size_t Spectrometer::scanCommands() const {
  return device_->writes(kScan).size() + device_->writes(kEScan).size();
}

std::size_t Spectrometer::confirmWrites() const { return device_->writes(kConnectConfirm).size(); }

}  // namespace ble::sim
HCF_NAMESPACE_END
