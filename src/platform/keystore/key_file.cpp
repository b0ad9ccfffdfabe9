#include "key_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

HCF_NAMESPACE_BEGIN
namespace keystore {

namespace {

constexpr std::size_t kKeyBytes = 64;
// The key's tag: the name of its file (20 bytes, as the key item's application tag).
constexpr const char* kKeyTag = "com.halverninc.key01";

std::optional<Bytes> readKey(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  Bytes key(kKeyBytes);
  std::size_t got = 0;
  while (got < kKeyBytes) {
    const ssize_t n = ::read(fd, key.data() + got, kKeyBytes - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (got != kKeyBytes) return std::nullopt;
  return key;
}

bool randomBytes(Bytes& out) {
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::getrandom(out.data() + got, out.size() - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

Bytes storeKey(const std::filesystem::path& directory) {
  const auto dir = directory / ".keys";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, ec);
  const auto file = dir / kKeyTag;
  if (auto key = readKey(file)) return *key;
  Bytes key(kKeyBytes);
  if (!randomBytes(key)) return {};
  // Created only if absent, readable and writable by the user alone.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    // Another thread or process made it first (or it is damaged): use what is there.
    if (auto existing = readKey(file)) return *existing;
    std::filesystem::remove(file, ec);
    return key;  // unkept, but a key
  }
  std::size_t written = 0;
  while (written < key.size()) {
    const ssize_t n = ::write(fd, key.data() + written, key.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::fsync(fd);
  ::close(fd);
  return key;
}

}  // namespace keystore
HCF_NAMESPACE_END
