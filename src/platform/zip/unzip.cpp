#include "unzip.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN
namespace zip {

namespace {

// `zipError`: libzip's code for the failure, kept as the native error when there is one.
HCFError refuse(const std::string& why, int zipError = ZIP_ER_OK) {
  HCFError e = HTUtility::errWithMsg("Archive refused: " + why, error_code::kArchiveRefused);
  if (zipError != ZIP_ER_OK) {
    zip_error_t error;
    zip_error_init_with_code(&error, zipError);
    e.native = NativeError{"libzip", zipError, zip_error_strerror(&error)};
    zip_error_fini(&error);
  }
  return e;
}

// A file that could not be written: the system's reason (a full disk is not the archive's fault).
HCFError writeFailure(const std::filesystem::path& file, int error) {
  if (error == 0) error = EIO;
  return HTUtility::fileWriteError(
      std::string(std::strerror(error)) + ": " + file.filename().string() + " could not be written",
      error);
}

struct ArchiveCloser {
  void operator()(::zip_t* z) const { zip_discard(z); }
};
struct FileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// A relative path of plain components.
bool safeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.size() > 1 && name[1] == ':') return false;  // a drive letter
  if (name.find('\\') != std::string::npos) return false;
  for (const auto& part : std::filesystem::path(name)) {
    if (part == "..") return false;
  }
  return true;
}

bool isLink(::zip_t* z, zip_uint64_t index) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(z, index, 0, &system, &attributes) != 0) return false;
  if (system != ZIP_OPSYS_UNIX) return false;
  const mode_t mode = static_cast<mode_t>(attributes >> 16);
  return S_ISLNK(mode);
}

// "1 GiB", "16 GiB", or a byte count.
std::string sizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  if (bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
  return std::to_string(bytes) + " bytes";
}

bool inside(const std::filesystem::path& path, const std::filesystem::path& root) {
  const auto rel = path.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}

}  // namespace

Result<std::vector<std::filesystem::path>> unzipFileAtPath(
    const std::filesystem::path& archive, const std::filesystem::path& destination) {
  return unzipFileAtPath(archive, destination, UnzipLimits{});
}

namespace {

// The files one unpack wrote; removed again unless the unpack completes.
class Written {
 public:
  ~Written() {
    if (kept_) return;
    std::error_code ec;
    for (const auto& f : files_) std::filesystem::remove(f, ec);
  }
  void add(std::filesystem::path f) { files_.push_back(std::move(f)); }
  std::vector<std::filesystem::path> keep() {
    kept_ = true;
    return std::move(files_);
  }

 private:
  std::vector<std::filesystem::path> files_;
  bool kept_ = false;
};

}  // namespace

Result<std::vector<std::filesystem::path>> unzipFileAtPath(const std::filesystem::path& archive,
                                                           const std::filesystem::path& destination,
                                                           const UnzipLimits& limits) {
  int error = 0;
  std::unique_ptr<::zip_t, ArchiveCloser> z(zip_open(archive.c_str(), ZIP_RDONLY, &error));
  if (!z) return refuse(archive.filename().string() + " is not a zip archive", error);
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  if (count < 0 || count > limits.maxEntries) return refuse("too many entries");
  std::error_code ec;
  const std::uint64_t archiveBytes = std::filesystem::file_size(archive, ec);
  const std::uint64_t ratioCap =
      std::max(limits.ratioFloorBytes,
               ec || archiveBytes > UINT64_MAX / std::max<std::uint64_t>(limits.maxRatio, 1)
                   ? UINT64_MAX
                   : archiveBytes * limits.maxRatio);
  const std::uint64_t totalCap = std::min(limits.maxUnpackedBytes, ratioCap);
  const auto tooLarge = [&] {
    if (totalCap < limits.maxUnpackedBytes) {
      return refuse("it unpacks to more than " + std::to_string(limits.maxRatio) +
                    " times its own size");
    }
    return refuse("it unpacks to more than " + sizeText(limits.maxUnpackedBytes));
  };

  // First every entry is checked; nothing is written unless all pass. The declared sizes only
  // reject early: what counts is what inflates.
  std::vector<zip_uint64_t> declared(static_cast<std::size_t>(count), 0);
  zip_uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE)) {
      return refuse("an entry cannot be read");
    }
    const std::string name = st.name;
    if (!safeName(name)) return refuse("entry \"" + name + "\" would land outside the folder");
    if (isLink(z.get(), static_cast<zip_uint64_t>(i)))
      return refuse("entry \"" + name + "\" is a link");
    declared[static_cast<std::size_t>(i)] = st.size;
    if (st.size > totalCap || total + st.size > totalCap) return tooLarge();
    total += st.size;
  }

  std::filesystem::create_directories(destination, ec);
  const auto root = std::filesystem::weakly_canonical(destination, ec);
  Written written;
  std::uint64_t inflated = 0;
  std::vector<char> buffer(std::size_t{1} << 18);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st);
    const std::string name = st.name;
    const auto target = root / name;
    if (name.back() == '/') {
      std::filesystem::create_directories(target, ec);
      continue;
    }
    std::filesystem::create_directories(target.parent_path(), ec);
    // A folder that is a link placed there by someone else must not lead us outside.
    const auto parent = std::filesystem::weakly_canonical(target.parent_path(), ec);
    if (ec || !(parent == root || inside(parent, root))) {
      return refuse("entry \"" + name + "\" would land outside the folder");
    }
    std::unique_ptr<zip_file_t, FileCloser> in(
        zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0));
    if (!in) return refuse("entry \"" + name + "\" cannot be read");
    std::filesystem::remove(target, ec);  // never write through an existing link
    errno = 0;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return writeFailure(target, errno);
    written.add(target);
    const zip_uint64_t entryCap = declared[static_cast<std::size_t>(i)];
    zip_uint64_t got = 0;
    zip_int64_t n;
    // One byte more than declared is asked for, so that an entry inflating past its size is
    // seen before a single surplus byte is written.
    while ((n = zip_fread(in.get(), buffer.data(),
                          std::min<zip_uint64_t>(buffer.size(), entryCap - got + 1))) > 0) {
      got += static_cast<zip_uint64_t>(n);
      inflated += static_cast<zip_uint64_t>(n);
      if (got > entryCap) {
        return refuse("entry \"" + name + "\" unpacks to more than the " +
                      std::to_string(entryCap) + " bytes it declares");
      }
      if (inflated > totalCap) return tooLarge();
      errno = 0;
      out.write(buffer.data(), n);
      if (!out) return writeFailure(target, errno);
    }
    if (n < 0)
      return refuse("entry \"" + name + "\" is damaged (" + zip_file_strerror(in.get()) + ")",
                    zip_error_code_zip(zip_file_get_error(in.get())));
    if (got != entryCap) {
      return refuse("entry \"" + name + "\" holds " + std::to_string(got) + " bytes, not the " +
                    std::to_string(entryCap) + " it declares");
    }
    errno = 0;
    out.close();
    if (!out) return writeFailure(target, errno);
  }
  return written.keep();
}

}  // namespace zip
HCF_NAMESPACE_END
