// Unpacking zip archives, safely.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN
namespace zip {

/// What an archive may hold at most.
struct UnzipLimits {
  std::int64_t maxEntries = 10000;
  std::uint64_t maxUnpackedBytes = std::uint64_t{1} << 30;  ///< 1 GiB
};

/// Unpacks `archive` into `destination` (created when missing) and lists the files written.
/// Every entry is checked before anything is written: an absolute path, a ".." component, a
/// link, more than 10 000 entries or more than 1 GiB unpacked fails the whole unpack with an
/// error, and nothing is written outside `destination`. Bytes that are not a zip archive are
/// an error too.
HCF_API Result<std::vector<std::filesystem::path>> unzipFileAtPath(
    const std::filesystem::path& archive, const std::filesystem::path& destination);
/// The same within `limits` (a product catalogue unpacks to more than a gigabyte).
HCF_API Result<std::vector<std::filesystem::path>> unzipFileAtPath(
    const std::filesystem::path& archive, const std::filesystem::path& destination,
    const UnzipLimits& limits);

}  // namespace zip
HCF_NAMESPACE_END
