// Bluetooth UUIDs: built from text in any case, compared by value.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace ble {

/// A Bluetooth UUID. 16- and 32-bit UUIDs are the Bluetooth base UUID with those bits, so
/// "180A" equals "0000180A-0000-1000-8000-00805F9B34FB".
class HCF_API UUID {
 public:
  /// The UUID of `text`: 4 or 8 hexadecimal digits (a short UUID) or the 36-character form
  /// with hyphens, in any case. Empty for anything else.
  static std::optional<UUID> parse(std::string_view text);
  /// As `parse`, but raises std::invalid_argument naming the text when it is not a UUID.
  static UUID UUIDWithString(std::string_view text);

  /// The platform's text form: upper-case hexadecimal, 4 or 8 digits for a UUID on the
  /// Bluetooth base, the 36-character form with hyphens otherwise.
  std::string UUIDString() const;
  /// The 36-character form in lower case (how the kit's tables write its UUIDs).
  std::string lowercaseString() const;
  /// The 128 bits, most significant byte first (the order of the text form).
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  /// True for the same 128 bits, however the texts were written.
  friend bool operator==(const UUID&, const UUID&) = default;

 private:
  std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace ble
HCF_NAMESPACE_END

/// Hashes a UUID by its 128 bits, so that UUIDs can key unordered containers.
template <>
struct std::hash<hcf::ble::UUID> {
  /// The hash of `u`'s bytes.
  std::size_t operator()(const hcf::ble::UUID& u) const noexcept;
};
