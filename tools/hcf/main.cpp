// hcf: the kit from a shell.
#include <hcf/hcf.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "interrupt.h"
#include "terminal_text.h"

namespace {

constexpr const char* kUsage =
    "usage: hcf <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  catalog   prepare and inspect products stores\n"
    "  color     colour conversion, chromatic adaptation and colour difference\n"
    "  demo      the measuring path on simulated instruments\n"
    "  discover  find instruments (--sim or --ble bluez)\n"
    "  measure   connect, calibrate and measure (--sim or --ble bluez)\n"
    "  scan      the Lab of a saved scan\n"
    "  search    the nearest products by colour, or by text\n"
    "  filters   the filter panel of a products store\n"
    "  tour      the colour science on the colour-checker chart\n"
    "  version   the kit's version\n"
    "\n"
    "'hcf <command> --help' tells more.\n";

int run(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    std::cerr << kUsage;
    return hcf_tool::kExitUsage;
  }
  const std::string& command = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  try {
    if (command == "catalog") return hcf_tool::catalogCommand(rest);
    if (command == "color") return hcf_tool::colorCommand(rest);
    if (command == "demo") return hcf_tool::demoCommand(rest);
    if (command == "scan") return hcf_tool::scanCommand(rest);
    if (command == "search") return hcf_tool::searchCommand(rest);
    if (command == "filters") return hcf_tool::filtersCommand(rest);
    if (command == "tour") return hcf_tool::tourCommand(rest);
    if (command == "discover") return hcf_tool::discoverCommand(rest);
    if (command == "measure") return hcf_tool::measureCommand(rest);
    if (command == "version" || command == "--version") {
      std::cout << "hcf " << hcf::version() << '\n';
      return hcf_tool::kExitOk;
    }
    if (command == "help" || command == "--help" || command == "-h") {
      std::cout << kUsage;
      return hcf_tool::kExitOk;
    }
  } catch (const std::exception& e) {
    std::cerr << "hcf: " << hcf_tool::printable(e.what()) << '\n';
    return hcf_tool::kExitUsage;
  }
  std::cerr << "hcf: unknown command '" << command << "'\n" << kUsage;
  return hcf_tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  hcf_tool::handleInterrupts();
  const int status = run(argc, argv);
  // The kit's threads (the D-Bus thread of a BlueZ session, HTTP workers) may still be
  // running: the program ends here, its output written, without tearing the kit's
  // process-wide objects down under them (a late D-Bus event met a destroyed main queue).
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}
