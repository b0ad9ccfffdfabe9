// The subcommands of the hcf program.
#pragma once

#include <string>
#include <vector>

namespace hcf_tool {

/// "hcf color delta-e|convert|adapt ...": colour maths.
int colorCommand(const std::vector<std::string>& args);
/// "hcf scan lab|show ...": saved scan dictionaries.
int scanCommand(const std::vector<std::string>& args);
/// "hcf demo": a tour of what the kit does.
int demoCommand(const std::vector<std::string>& args);

}  // namespace hcf_tool
