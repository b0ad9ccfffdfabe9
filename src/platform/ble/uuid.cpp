#include "hcf/platform/ble/uuid.h"

#include <stdexcept>

HCF_NAMESPACE_BEGIN
namespace ble {

namespace {

// The Bluetooth base UUID 00000000-0000-1000-8000-00805F9B34FB.
constexpr std::array<std::uint8_t, 16> kBase = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 2·n hexadecimal digits of `text` from `pos` into out[at..at+n).
bool readHex(std::string_view text, std::size_t pos, std::size_t n, std::uint8_t* out) {
  for (std::size_t i = 0; i < n; ++i) {
    const int hi = hexValue(text[pos + 2 * i]);
    const int lo = hexValue(text[pos + 2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return true;
}

std::string hex(const std::uint8_t* bytes, std::size_t n, bool upper) {
  static constexpr char kUpper[] = "0123456789ABCDEF";
  static constexpr char kLower[] = "0123456789abcdef";
  const char* digits = upper ? kUpper : kLower;
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xF];
  }
  return out;
}

std::string longForm(const std::array<std::uint8_t, 16>& b, bool upper) {
  return hex(&b[0], 4, upper) + "-" + hex(&b[4], 2, upper) + "-" + hex(&b[6], 2, upper) + "-" +
         hex(&b[8], 2, upper) + "-" + hex(&b[10], 6, upper);
}

}  // namespace

std::optional<UUID> UUID::parse(std::string_view text) {
  UUID u;
  if (text.size() == 4 || text.size() == 8) {
    u.bytes_ = kBase;
    const std::size_t n = text.size() / 2;
    if (!readHex(text, 0, n, &u.bytes_[4 - n])) return std::nullopt;
    return u;
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
      text[23] != '-') {
    return std::nullopt;
  }
  if (!readHex(text, 0, 4, &u.bytes_[0]) || !readHex(text, 9, 2, &u.bytes_[4]) ||
      !readHex(text, 14, 2, &u.bytes_[6]) || !readHex(text, 19, 2, &u.bytes_[8]) ||
      !readHex(text, 24, 6, &u.bytes_[10])) {
    return std::nullopt;
  }
  return u;
}

UUID UUID::UUIDWithString(std::string_view text) {
  auto u = parse(text);
  if (!u) throw std::invalid_argument("not a Bluetooth UUID: '" + std::string(text) + "'");
  return *u;
}

std::string UUID::UUIDString() const {
  if (std::equal(bytes_.begin() + 4, bytes_.end(), kBase.begin() + 4)) {
    // On the Bluetooth base: the short form, 16-bit when the top half is zero.
    if (bytes_[0] == 0 && bytes_[1] == 0) return hex(&bytes_[2], 2, true);
    return hex(&bytes_[0], 4, true);
  }
  return longForm(bytes_, true);
}

std::string UUID::lowercaseString() const { return longForm(bytes_, false); }

}  // namespace ble
HCF_NAMESPACE_END

std::size_t std::hash<hcf::ble::UUID>::operator()(const hcf::ble::UUID& u) const noexcept {
  std::size_t h = 1469598103934665603ull;
  for (const auto b : u.bytes()) h = (h ^ b) * 1099511628211ull;
  return h;
}
