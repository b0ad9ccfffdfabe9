// hcf: the kit from a shell.
#include <hcf/hcf.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "interrupt.h"
#include "output_format.h"
#include "terminal_text.h"

namespace {

constexpr const char* kUsage =
    "usage: hcf <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  catalog   build, check and inspect products stores; download the catalogue\n"
    "  color     colour conversion, chromatic adaptation and colour difference\n"
    "  demo      the measuring path on simulated instruments\n"
    "  discover  find instruments (--sim or --ble bluez)\n"
    "  doctor    check what measuring with real instruments needs, and say what to do\n"
    "  measure   connect, calibrate and measure (--sim or --ble bluez)\n"
    "  scan      the colours of saved scans\n"
    "  search    the nearest products by colour, or by text\n"
    "  serve     a page in the browser to measure with, on loopback\n"
    "  filters   the filter panel of a products store\n"
    "  tour      the colour science on the colour-checker chart\n"
    "  version   the kit's version\n"
    "\n"
    "'hcf <command> --help' tells more. Commands that print results take\n"
    "--format text|json|csv; '-' reads standard input where a file is read; '--' ends the\n"
    "options. Exit status: 0 done, 1 failed, 2 wrong command line; errors go to standard\n"
    "error. Environment: HCF_CLOUD_URL, HCF_SDK_KEY, HCF_LOG (kit log on standard error unless\n"
    "empty or 0), NO_COLOR and TERM=dumb (no colour swatches).\n";

int run(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    std::cerr << kUsage;
    return hcf_tool::kExitUsage;
  }
  const std::string& command = words[0];
  if (command == "help" || command == "--help" || command == "-h") {
    std::cout << kUsage;
    return hcf_tool::kExitOk;
  }
  if (command == "version" || command == "--version") {
    std::cout << "hcf " << hcf::version() << '\n';
    return hcf_tool::kExitOk;
  }
  static const std::pair<const char*, int (*)(const std::vector<std::string>&)> kCommands[] = {
      {"catalog", hcf_tool::catalogCommand}, {"color", hcf_tool::colorCommand},
      {"demo", hcf_tool::demoCommand},       {"scan", hcf_tool::scanCommand},
      {"search", hcf_tool::searchCommand},   {"filters", hcf_tool::filtersCommand},
      {"tour", hcf_tool::tourCommand},       {"discover", hcf_tool::discoverCommand},
      {"measure", hcf_tool::measureCommand}, {"doctor", hcf_tool::doctorCommand},
      {"serve", hcf_tool::serveCommand},
  };
  for (const auto& [name, body] : kCommands) {
    if (command == name) {
      return hcf_tool::reported(std::string("hcf ") + name,
                                [&, body = body] { return body(hcf_tool::after(words)); });
    }
  }
  std::cerr << "hcf: unknown command '" << hcf_tool::printable(command) << "'\n" << kUsage;
  return hcf_tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  hcf_tool::handleInterrupts();
  const int status = hcf_tool::finishOutput(run(argc, argv));
  // The kit's threads (the D-Bus thread of a BlueZ session, HTTP workers) may still be
  // running: the program ends here, its output written, without tearing the kit's
  // process-wide objects down under them (a late D-Bus event met a destroyed main queue).
  std::_Exit(status);
}
