// Reading what a command is given: a file, or standard input for "-".
#pragma once

#include <filesystem>
#include <string>

namespace hcf_tool {

/// The whole text of `file`, or of standard input when `file` is "-". A file that cannot be read
/// raises Failure with the system's reason ("cannot read 'x.json': No such file or directory").
std::string readInput(const std::string& file);

/// The name `file` goes by in messages: "standard input" for "-", else 'file'.
std::string inputName(const std::string& file);

}  // namespace hcf_tool
