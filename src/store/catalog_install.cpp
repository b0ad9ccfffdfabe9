#include "catalog_install.h"

#include <unistd.h>

#include <atomic>

#include "../platform/zip/unzip.h"
#include "catalog_columns.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/http/session.h"
#include "sqlite.h"
#include "store_layout.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// A catalogue of millions of products unpacks to gigabytes; its archive holds a few entries.
constexpr zip::UnzipLimits kCatalogLimits{100, std::uint64_t{64} << 30};

std::filesystem::path unpackFolderBeside(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  return target.parent_path() /
         (".catalog-unpack-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<HCFError> install(const std::filesystem::path& archive,
                                const std::filesystem::path& target,
                                const std::filesystem::path& folder,
                                const std::function<bool()>& stillWanted) {
  auto unpacked = zip::unzipFileAtPath(archive, folder, kCatalogLimits);
  if (!unpacked.ok()) return unpacked.error();
  std::optional<std::filesystem::path> store;
  for (const auto& f : *unpacked) {
    if (endsWith(f.string(), ".realm")) {
      store = f;
      break;
    }
  }
  if (!store) return HTUtility::invalidDataError("the catalogue archive holds no products store");
  try {
    sql::Database db(*store, sql::OpenMode::ReadOnly);
    requireReadableProductsStore(db, store->filename().string());
  } catch (const sql::Failure& e) {
    return HTUtility::invalidDataError(std::string("the downloaded catalogue cannot be used: ") +
                                       e.what());
  }
  if (stillWanted && !stillWanted()) {
    return HTUtility::cancelledError();
  }
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  removeCompanions(target);
  std::filesystem::rename(*store, target, ec);
  if (ec) {
    return HTUtility::errWithMsg("the downloaded catalogue cannot be put in place: " + ec.message(),
                                 error_code::kInvalidData);
  }
  // Connections notice the new file by its inode; the cached columns go now.
  forgetConnections();
  CatalogColumns::invalidate();
  return std::nullopt;
}

}  // namespace

std::optional<HCFError> installCatalogArchive(const std::filesystem::path& archive,
                                              const std::filesystem::path& target,
                                              const std::function<bool()>& stillWanted) {
  const auto folder = unpackFolderBeside(target);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  auto error = install(archive, target, folder, stillWanted);
  std::filesystem::remove_all(folder, ec);
  if (ec) logLine("cannot remove " + folder.string() + ": " + ec.message());
  return error;
}

}  // namespace store
HCF_NAMESPACE_END
