// Runs the hcf program as a person does: arguments in, text and exit status out.
#pragma once

#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace hcf_test {

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

/// A private folder of the test (mkdtemp), removed with its contents when it goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix = "hcf-test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs `command` (shell words) with `input` on standard input.
inline Outcome runCommand(const std::string& command, const std::string& input = "") {
  const ScratchFolder dir("hcf-cli");
  std::ofstream(dir.path() / "in", std::ios::binary) << input;
  const std::string cmd =
      command + " <'" + dir / "in" + "' >'" + dir / "out" + "' 2>'" + dir / "err" + "'";
  const int raw = std::system(cmd.c_str());
  Outcome r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(dir.path() / "out");
  r.err = slurp(dir.path() / "err");
  return r;
}

// Runs hcf with `args` (shell words) and `input` on standard input.
inline Outcome runHcf(const std::string& args, const std::string& input = "") {
  return runCommand(std::string("'") + HCF_TOOL_PATH + "' " + args, input);
}

// Runs hcf with `args` on a terminal (a pseudo-terminal) with `environment` ("NAME=value"
// entries) added: what it writes to the terminal, and its exit status.
inline Outcome runHcfOnTerminal(const std::vector<std::string>& args,
                                const std::vector<std::string>& environment = {}) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv = {const_cast<char*>(HCF_TOOL_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(HCF_TOOL_PATH, argv.data());
    ::_exit(127);
  }
  Outcome r;
  if (pid < 0) return r;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
      r.out.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the program has ended and closed the terminal
    }
  }
  ::close(master);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

// One command: its arguments, standard input, the exit status and fragments of standard output
// and standard error it must give, and its environment (words for env: "NAME=value",
// "-u NAME").
struct CommandRow {
  std::string args;
  std::string input;
  int status;
  std::string out;
  std::string err;
  std::string env = "";
};

inline void check(const CommandRow& row) {
  SCOPED_TRACE(row.env + " hcf " + row.args);
  const Outcome r =
      row.env.empty()
          ? runHcf(row.args, row.input)
          : runCommand("env " + row.env + " '" HCF_TOOL_PATH "' " + row.args, row.input);
  EXPECT_EQ(r.status, row.status) << r.err;
  EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
  // Errors go to standard error alone, and every failure says why.
  if (row.status == 2) {
    EXPECT_EQ(r.out, "");
  }
  if (row.status != 0) {
    EXPECT_NE(r.err, "");
  }
}

}  // namespace hcf_test
