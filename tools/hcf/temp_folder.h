// Private temporary folders: made by mkdtemp, so that nobody else can make or foresee them in
// a shared temporary directory, and removed when the command ends, however it ends.
#pragma once

#include <filesystem>
#include <string>

namespace hcf_tool {

/// A folder "<temp>/<prefix>-<pid>-XXXXXX" (XXXXXX chosen by mkdtemp, mode 0700), removed with
/// everything in it when the object goes or when a signal ends the program. Before making
/// one, folders of the same prefix that the user owns and whose process is gone (a program
/// that was killed) are removed.
class TempFolder {
 public:
  /// Raises Failure with the system's reason when the folder cannot be made.
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// The process id a folder name "<prefix>-<pid>-XXXXXX" (or "<prefix>-<pid>") carries, or 0.
long folderProcess(const std::string& name, const std::string& prefix);

}  // namespace hcf_tool
