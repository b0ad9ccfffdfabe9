// What the fuzz targets share: JSON from the fuzzer's bytes without exceptions, and a scratch
// directory per process.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "hcf/core/json.h"

namespace hcf_fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

/// The bytes as a JSON document, or nothing when they are not one.
inline std::optional<hcf::JsonValue> json(const std::uint8_t* data, std::size_t size) {
  auto doc = hcf::JsonValue::parse(data, data + size, nullptr, false);
  if (doc.is_discarded()) return std::nullopt;
  return doc;
}

/// A directory of this process's own, made once and emptied by the caller as it needs.
inline const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("hcf-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(
          std::filesystem::temp_directory_path() / ("hcf-fuzz-" + std::to_string(::getpid())), ec);
    });
    return d;
  }();
  return dir;
}

/// Stops the run when an invariant of the code under test does not hold.
#define HCF_FUZZ_CHECK(condition)   \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (false)

}  // namespace hcf_fuzz
