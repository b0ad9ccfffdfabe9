#include "colorimeter_codec.h"

#include <cstdio>

HCF_NAMESPACE_BEGIN
namespace codec {

namespace {
// The converter: 12 bits over 3.3 V (3300 mV × 2^-12), behind a divider of two.
constexpr double kMillivoltsPerCount = 3300.0 * 0.000244140625;
constexpr float kMillivoltsPerVolt = 1000.0f;
}  // namespace

std::optional<ScanCounts> scanCounts(const ble::Bytes& v) {
  if (v.size() != 6) return std::nullopt;
  const auto be16 = [&](std::size_t i) {
    return static_cast<std::uint16_t>(v[i] * 256 + v[i + 1]);
  };
  return ScanCounts{be16(0), be16(2), be16(4)};
}

float batteryVoltsFromRaw(std::uint32_t raw) {
  const double m = static_cast<double>(raw) * kMillivoltsPerCount;
  return static_cast<float>(m + m) / kMillivoltsPerVolt;
}

std::optional<float> batteryVolts(const ble::Bytes& v) {
  if (v.size() != 4) return std::nullopt;
  const std::uint32_t raw =
      static_cast<std::uint32_t>(v[0]) | static_cast<std::uint32_t>(v[1]) << 8 |
      static_cast<std::uint32_t>(v[2]) << 16 | static_cast<std::uint32_t>(v[3]) << 24;
  return batteryVoltsFromRaw(raw);
}

std::optional<std::string> serial(const ble::Bytes& v) {
  if (v.size() != 6) return std::nullopt;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X%02X%02X", v[0], v[1], v[2], v[3], v[4], v[5]);
  return std::string(buf);
}

std::optional<std::array<std::uint8_t, 2>> version(const ble::Bytes& v) {
  if (v.size() != 2) return std::nullopt;
  return std::array<std::uint8_t, 2>{v[0], v[1]};
}

bool buttonPress(const ble::Bytes& v) { return v.size() == 1; }

std::optional<ChargeFlags> chargeFlags(const ble::Bytes& v) {
  if (v.size() != 2) return std::nullopt;
  return ChargeFlags{v[0] != 0, v[1] != 0};
}

std::optional<float> temperature(const ble::Bytes& v) {
  if (v.size() != 1) return std::nullopt;
  return static_cast<float>(static_cast<std::int8_t>(v[0]));
}

std::optional<std::vector<float>> spectralResponse(const ble::Bytes& v) {
  if (v.size() != 64) return std::nullopt;
  std::vector<float> out;
  out.reserve(32);
  for (std::size_t i = 0; i < 64; i += 2) {
    const double counts = static_cast<double>(v[i] * 256 + v[i + 1]);
    out.push_back(static_cast<float>(counts / 65535.0));
  }
  return out;
}

std::optional<std::uint8_t> deviceError(const ble::Bytes& v) {
  if (v.empty()) return std::nullopt;
  return v[0];
}

}  // namespace codec
HCF_NAMESPACE_END
