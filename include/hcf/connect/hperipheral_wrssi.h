// What discovery finds: a peripheral with its signal strength and advertised service, and the
// instrument's manufacturer advertising data.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/platform/ble/central_manager.h"

HCF_NAMESPACE_BEGIN

/// A discovered peripheral. Two records are the same instrument when their peripherals'
/// identifiers are equal as text.
struct HCF_API HPeripheralWRSSI {
  /// The peripheral found.
  std::shared_ptr<ble::Peripheral> peripheral;
  std::optional<int> rssi;                 ///< dBm at discovery; none for already-known ones
  std::optional<std::string> serviceUUID;  ///< the instrument service it was found under

  /// The record of `peripheral` with `rssi` and service `uuid`.
  static HPeripheralWRSSI with(std::shared_ptr<ble::Peripheral> peripheral, std::optional<int> rssi,
                               std::optional<std::string> uuid);
  /// One record per peripheral, without signal strength.
  static std::vector<HPeripheralWRSSI> arrayFromPlainPeripherals(
      const std::vector<std::shared_ptr<ble::Peripheral>>& peripherals, const std::string& uuid);
  /// The first full (128-bit) service UUID the advertisement lists, in upper-case text.
  static std::optional<std::string> getServiceUUID(const ble::AdvertisementData& advertisement);
  /// The service of the first record of `peripheral` in `records`.
  static std::optional<std::string> serviceUUIDforPeripheral(
      const std::shared_ptr<ble::Peripheral>& peripheral,
      const std::vector<HPeripheralWRSSI>& records);

  /// True when both records have peripherals with the same identifier.
  bool samePer(const HPeripheralWRSSI& other) const;
  /// True when this record's peripheral has the identifier of `other` (false for a null one).
  bool containsPer(const std::shared_ptr<ble::Peripheral>& other) const;
  /// The serial in the advertised name after "Irisel-" or "ColorOrla-" (case-sensitive);
  /// none for other names.
  std::optional<std::string> serial() const;
};

/// The instrument's manufacturer data: company, advertising type (1: a single click; anything
/// else: a double click), customer, options.
struct HCF_API HCFAdvertisingPacket {
  std::uint16_t companyId = 0;       ///< the Bluetooth company identifier
  std::uint8_t advertisingType = 0;  ///< 1: a single click; anything else: a double click
  std::uint8_t customerId = 0;       ///< the customer the instrument was made for
  std::uint8_t customOptions = 0;    ///< the customer's option bits

  /// Nothing for fewer than six bytes.
  static std::optional<HCFAdvertisingPacket> fromData(const ble::Bytes& data);
  /// `fromData`.
  static std::optional<HCFAdvertisingPacket> initWith(const ble::Bytes& data) {
    return fromData(data);
  }
};

HCF_NAMESPACE_END
