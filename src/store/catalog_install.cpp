#include "catalog_install.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "../platform/zip/unzip.h"
#include "catalog_columns.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/http/session.h"
#include "hcf/store/hcf_realm_manager.h"
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

// Flushes a file, or a folder's entries, to the disk.
std::optional<HCFError> syncPath(const std::filesystem::path& path, bool folder) {
  const int fd = ::open(path.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    return HTUtility::fileWriteError("the catalogue could not be written to disk (" +
                                         path.string() + "): " + std::strerror(error),
                                     error);
  }
  ::close(fd);
  return std::nullopt;
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
    {
      sql::Database db(*store, sql::OpenMode::ReadOnly);
      requireReadableProductsStore(db, store->filename().string());
      // A page damaged in transit or on the server: every page is checked before it counts.
      if (const auto problems = damage(db); !problems.empty()) {
        throw sql::Failure(11, store->filename().string() + " is damaged: " +  // SQLITE_CORRUPT
                                   problems.front());
      }
    }
    // Brought to this kit's schema here, in the unpack folder: the installed file is never
    // written by the kit afterwards.
    sql::Database db(*store, sql::OpenMode::Bulk);
    sql::Transaction t(db);
    createSchema(db);  // what this kit's layout adds: indexes, the column cache and its triggers
    db.setUserVersion(HCFRealmManager::kSchemaVersion);
    // Derived here, before the rename, so that the first search reads it whole.
    CatalogColumns::writeCache(db);
    t.commit();
  } catch (const sql::Failure& e) {
    HCFError error = HTUtility::invalidDataError(
        std::string("the downloaded catalogue cannot be used: ") + e.what());
    error.native = e.error().native;  // the SQLite result
    return error;
  }
  if (stillWanted && !stillWanted()) {
    return HTUtility::cancelledError();
  }
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  // On disk before it takes the old file's place, and the rename on disk after: a power cut
  // leaves the old catalogue or the new one, never an empty or torn file.
  if (auto e = syncPath(*store, false)) return e;
  // Readers of the old file re-open by inode; cached columns are dropped before and after.
  CatalogColumns::invalidate();
  removeCompanions(target);
  std::filesystem::rename(*store, target, ec);
  if (ec) {
    return HTUtility::fileWriteError(
        "the downloaded catalogue cannot be put in place: " + ec.message(), ec.value());
  }
  forgetConnections();
  CatalogColumns::invalidate();
  if (auto e = syncPath(target.parent_path(), true)) logLine(e->localizedDescription);
  return std::nullopt;
}

// The process id written in a leftover's name after `marker`, up to the next '-' or '.'.
std::optional<pid_t> pidAfter(const std::string& name, const std::string& marker) {
  const auto at = name.rfind(marker);
  if (at == std::string::npos) return std::nullopt;
  const auto digits = name.substr(at + marker.size());
  std::size_t used = 0;
  long pid = 0;
  try {
    pid = std::stol(digits, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (pid <= 0 || (used < digits.size() && digits[used] != '-' && digits[used] != '.')) {
    return std::nullopt;
  }
  return static_cast<pid_t>(pid);
}

bool running(pid_t pid) { return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

void removeDownloadLeftovers(const std::filesystem::path& folder) {
  std::error_code ec;
  std::vector<std::filesystem::path> gone;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const auto name = entry.path().filename().string();
    std::optional<pid_t> pid;
    if (name.starts_with(".catalog-unpack-")) {
      pid = pidAfter(name, ".catalog-unpack-");
    } else if (name.starts_with(".package-staging-")) {
      pid = pidAfter(name, ".package-staging-");
    } else if (endsWith(name, ".part")) {
      const auto stem = name.substr(0, name.size() - 5);
      pid = pidAfter(stem, ".");
    } else if (name.find(".zip.partial-") != std::string::npos) {
      pid = pidAfter(name, ".zip.partial-");
    }
    if (pid && !running(*pid)) gone.push_back(entry.path());
  }
  for (const auto& p : gone) {
    std::filesystem::remove_all(p, ec);
    logLine("removed " + p.filename().string() + ", left by a download that did not finish");
  }
}

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
