// The byte layouts of the colorimeter's characteristics (shared with the spectrometer for
// battery, serial, version, button and charge). Each decoder takes a value and returns the
// decoded field, or nothing when the value's length is not exactly the protocol's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/platform/ble/gatt.h"

HCF_NAMESPACE_BEGIN
namespace codec {

struct ScanCounts {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t z = 0;
};

struct ChargeFlags {
  bool charging = false;
  bool onPower = false;
};

/// 6 bytes: three big-endian unsigned 16-bit counts X, Y, Z.
std::optional<ScanCounts> scanCounts(const ble::Bytes& value);
/// 4 bytes: the little-endian 32-bit converter count, as volts.
std::optional<float> batteryVolts(const ble::Bytes& value);
/// The volts of a raw converter count: raw × 3300 / 4096 millivolts, doubled (the divider),
/// then taken to volts in single precision.
float batteryVoltsFromRaw(std::uint32_t raw);
/// 6 bytes: the serial as twelve upper-case hexadecimal digits, first byte first.
std::optional<std::string> serial(const ble::Bytes& value);
/// 2 bytes: major, minor.
std::optional<std::array<std::uint8_t, 2>> version(const ble::Bytes& value);
/// 1 byte, content ignored.
bool buttonPress(const ble::Bytes& value);
/// 2 bytes: charging (non-zero), on external power (non-zero).
std::optional<ChargeFlags> chargeFlags(const ble::Bytes& value);
/// 1 byte: signed degrees.
std::optional<float> temperature(const ble::Bytes& value);
/// 64 bytes: 32 big-endian unsigned 16-bit values, each divided by 65535 in double precision,
/// then taken to single precision.
std::optional<std::vector<float>> spectralResponse(const ble::Bytes& value);
/// At least one byte: the device's error code (byte 0).
std::optional<std::uint8_t> deviceError(const ble::Bytes& value);

}  // namespace codec
HCF_NAMESPACE_END
