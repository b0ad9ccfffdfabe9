// Runs the hcf program as a person does: arguments in, text and exit status out.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace hcf_test {

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs `command` (shell words) with `input` on standard input.
inline Outcome runCommand(const std::string& command, const std::string& input = "") {
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-cli-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "in") << input;
  const std::string cmd = command + " <'" + (dir / "in").string() + "' >'" +
                          (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
  const int raw = std::system(cmd.c_str());
  Outcome r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(dir / "out");
  r.err = slurp(dir / "err");
  std::filesystem::remove_all(dir);
  return r;
}

// Runs hcf with `args` (shell words) and `input` on standard input.
inline Outcome runHcf(const std::string& args, const std::string& input = "") {
  return runCommand(std::string("'") + HCF_TOOL_PATH + "' " + args, input);
}

}  // namespace hcf_test
