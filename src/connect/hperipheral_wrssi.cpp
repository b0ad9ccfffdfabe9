#include "hcf/connect/hperipheral_wrssi.h"

HCF_NAMESPACE_BEGIN

HPeripheralWRSSI HPeripheralWRSSI::with(std::shared_ptr<ble::Peripheral> peripheral,
                                        std::optional<int> rssi, std::optional<std::string> uuid) {
  return {std::move(peripheral), rssi, std::move(uuid)};
}

std::vector<HPeripheralWRSSI> HPeripheralWRSSI::arrayFromPlainPeripherals(
    const std::vector<std::shared_ptr<ble::Peripheral>>& peripherals, const std::string& uuid) {
  std::vector<HPeripheralWRSSI> out;
  out.reserve(peripherals.size());
  for (const auto& p : peripherals) out.push_back(with(p, std::nullopt, uuid));
  return out;
}

std::optional<std::string> HPeripheralWRSSI::getServiceUUID(
    const ble::AdvertisementData& advertisement) {
  if (!advertisement.serviceUUIDs) return std::nullopt;
  for (const auto& uuid : *advertisement.serviceUUIDs) {
    const std::string text = uuid.UUIDString();
    if (text.size() >= 9) return text;  // short 16- and 32-bit UUIDs are skipped
  }
  return std::nullopt;
}

std::optional<std::string> HPeripheralWRSSI::serviceUUIDforPeripheral(
    const std::shared_ptr<ble::Peripheral>& peripheral,
    const std::vector<HPeripheralWRSSI>& records) {
  for (const auto& r : records) {
    if (r.containsPer(peripheral)) return r.serviceUUID;
  }
  return std::nullopt;
}

bool HPeripheralWRSSI::samePer(const HPeripheralWRSSI& other) const {
  return containsPer(other.peripheral);
}

bool HPeripheralWRSSI::containsPer(const std::shared_ptr<ble::Peripheral>& other) const {
  if (!peripheral || !other) return false;
  return peripheral->identifier() == other->identifier();
}

std::optional<std::string> HPeripheralWRSSI::serial() const {
  if (!peripheral) return std::nullopt;
  const auto name = peripheral->name();
  if (!name) return std::nullopt;
  for (const std::string prefix : {"Irisel-", "ColorOrla-"}) {
    if (name->rfind(prefix, 0) == 0) return name->substr(prefix.size());
  }
  return std::nullopt;
}

std::optional<HCFAdvertisingPacket> HCFAdvertisingPacket::fromData(const ble::Bytes& data) {
  if (data.size() < 6) return std::nullopt;
  HCFAdvertisingPacket p;
  p.companyId = static_cast<std::uint16_t>(data[0] + 256 * data[1]);
  p.advertisingType = data[2];
  p.customerId = data[3];
  p.customOptions = data[4];
  return p;
}

HCF_NAMESPACE_END
