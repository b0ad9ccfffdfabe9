#include "temp_folder.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli.h"
#include "interrupt.h"

namespace hcf_tool {

namespace {

// Removes the folders of `prefix` that this user owns and whose process is gone.
void removeAbandoned(const std::filesystem::path& temp, const std::string& prefix) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
    const long pid = folderProcess(entry.path().filename().string(), prefix);
    if (pid <= 0 || pid == ::getpid()) continue;
    struct stat info {};
    if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid()) {
      continue;
    }
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;  // still running
    std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

long folderProcess(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() + 1 || name.compare(0, prefix.size(), prefix) != 0 ||
      name[prefix.size()] != '-') {
    return 0;
  }
  const char* digits = name.c_str() + prefix.size() + 1;
  char* end = nullptr;
  const long pid = std::strtol(digits, &end, 10);
  if (end == digits || (*end != '\0' && *end != '-') || pid <= 0) return 0;
  return pid;
}

TempFolder::TempFolder(const std::string& prefix) {
  const auto temp = std::filesystem::temp_directory_path();
  removeAbandoned(temp, prefix);
  std::string pattern = (temp / (prefix + "-" + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw Failure("cannot make a temporary folder in " + temp.string() + ": " +
                  std::strerror(errno));
  }
  path_ = pattern;
  removeOnInterrupt(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  keepOnInterrupt(path_);
}

}  // namespace hcf_tool
