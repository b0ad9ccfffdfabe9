#include "input_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"

namespace hcf_tool {

namespace {

std::string cannotRead(const std::string& file, int error) {
  return "cannot read " + inputName(file) + ": " + std::strerror(error);
}

}  // namespace

std::string inputName(const std::string& file) {
  return file == "-" ? std::string("standard input") : "'" + file + "'";
}

std::string readInput(const std::string& file) {
  std::unique_ptr<FILE, int (*)(FILE*)> opened(nullptr, std::fclose);
  FILE* in = stdin;
  if (file != "-") {
    errno = 0;
    opened.reset(std::fopen(file.c_str(), "rb"));
    if (!opened) throw Failure(cannotRead(file, errno));
    in = opened.get();
  }
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    errno = 0;
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
    text.append(buffer, n);
    if (n < sizeof buffer) break;
  }
  if (std::ferror(in)) throw Failure(cannotRead(file, errno));
  return text;
}

}  // namespace hcf_tool
