// Unpacking zip archives, safely.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN
namespace zip {

/// What an archive may hold at most. The byte limits count the bytes actually inflated, not
/// the sizes the archive declares.
struct UnzipLimits {
  std::int64_t maxEntries = 10000;
  std::uint64_t maxUnpackedBytes = std::uint64_t{1} << 30;  ///< 1 GiB, all entries together
  /// All entries together at most this many times the archive's own size (deflate reaches
  /// about 1 000:1 on repeated bytes; real packages stay far below 100:1) ...
  std::uint64_t maxRatio = 100;
  /// ... or this many bytes, whichever is more, so that small archives of text are not refused.
  std::uint64_t ratioFloorBytes = std::uint64_t{1} << 20;
};

/// Unpacks `archive` into `destination` (created when missing) and lists the files written.
/// Every entry is checked before anything is written: an absolute path, a ".." component, a
/// link or more than `maxEntries` entries fails the whole unpack with an error, and nothing is
/// written outside `destination`. While inflating, the bytes written are counted: an entry that
/// inflates to more than it declares, more than `maxUnpackedBytes` in all, more than the ratio
/// limit, or an entry whose checksum fails stops the unpack at once with an error, and the files
/// this call wrote are removed again. Bytes that are not a zip archive are an error too.
HCF_API Result<std::vector<std::filesystem::path>> unzipFileAtPath(
    const std::filesystem::path& archive, const std::filesystem::path& destination);
/// The same within `limits` (a product catalogue unpacks to more than a gigabyte).
HCF_API Result<std::vector<std::filesystem::path>> unzipFileAtPath(
    const std::filesystem::path& archive, const std::filesystem::path& destination,
    const UnzipLimits& limits);

}  // namespace zip
HCF_NAMESPACE_END
