#include "unzip.h"

#include <sys/stat.h>
#include <zip.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN
namespace zip {

namespace {

HCFError refuse(const std::string& why) {
  return HTUtility::errWithMsg("Archive refused: " + why, 0);
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

Result<std::vector<std::filesystem::path>> unzipFileAtPath(const std::filesystem::path& archive,
                                                           const std::filesystem::path& destination,
                                                           const UnzipLimits& limits) {
  const auto tooLarge = [&] {
    return refuse("it unpacks to more than " + sizeText(limits.maxUnpackedBytes));
  };
  int error = 0;
  std::unique_ptr<::zip_t, ArchiveCloser> z(zip_open(archive.c_str(), ZIP_RDONLY, &error));
  if (!z) return refuse(archive.filename().string() + " is not a zip archive");
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  if (count < 0 || count > limits.maxEntries) return refuse("too many entries");

  // First every entry is checked; nothing is written unless all pass.
  zip_uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_NAME)) {
      return refuse("an entry cannot be read");
    }
    const std::string name = st.name;
    if (!safeName(name)) return refuse("entry \"" + name + "\" would land outside the folder");
    if (isLink(z.get(), static_cast<zip_uint64_t>(i)))
      return refuse("entry \"" + name + "\" is a link");
    total += (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
    if (total > limits.maxUnpackedBytes) return tooLarge();
  }

  std::error_code ec;
  std::filesystem::create_directories(destination, ec);
  const auto root = std::filesystem::weakly_canonical(destination, ec);
  std::vector<std::filesystem::path> written;
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
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return refuse("cannot write " + target.string());
    std::vector<char> buffer(std::size_t{1} << 18);
    zip_int64_t n;
    zip_uint64_t got = 0;
    while ((n = zip_fread(in.get(), buffer.data(), buffer.size())) > 0) {
      got += static_cast<zip_uint64_t>(n);
      if (got > limits.maxUnpackedBytes) return tooLarge();
      out.write(buffer.data(), n);
    }
    if (n < 0) return refuse("entry \"" + name + "\" is damaged");
    if (!out) return refuse("cannot write " + target.string());
    written.push_back(target);
  }
  return written;
}

}  // namespace zip
HCF_NAMESPACE_END
