// The store key: 64 bytes from the system random source, kept in a file only the user reads.
#pragma once

#include <filesystem>

#include "hcf/core/bytes.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace keystore {

/// The key kept under `directory` (made on first use). Empty if it can be neither read nor made.
Bytes storeKey(const std::filesystem::path& directory);

}  // namespace keystore
HCF_NAMESPACE_END
