// Putting a downloaded catalogue in place of the products store, safely.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// Unpacks `archive` into a fresh folder beside `target` (the same file system, so that the
/// last step is one rename), finds its products store (the first entry ending in ".realm"),
/// checks that it opens as a products store of this kit's schema, asks `stillWanted`, and
/// then renames it over `target`; every thread opens the new store on its next use. On any
/// failure `target` is left as it was and the error says why. The folder goes in any case.
HCF_API std::optional<HCFError> installCatalogArchive(const std::filesystem::path& archive,
                                                      const std::filesystem::path& target,
                                                      const std::function<bool()>& stillWanted);

/// Removes what downloads of processes that ended without finishing left in `folder`: partial
/// archives ("….<pid>-<n>.part", "….zip.partial-<pid>") and unpack folders
/// (".catalog-unpack-<pid>-<n>", ".package-staging-<pid>-<n>-<serial>"), when that process is
/// gone. Those of running processes stay.
HCF_API void removeDownloadLeftovers(const std::filesystem::path& folder);

}  // namespace store
HCF_NAMESPACE_END
