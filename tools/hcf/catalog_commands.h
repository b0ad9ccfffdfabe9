// The cloud side of hcf catalog.
#pragma once

#include <string>
#include <vector>

namespace hcf_tool {

int catalogDownloadCommand(const std::vector<std::string>& args);
int catalogStatusCommand(const std::vector<std::string>& args);

}  // namespace hcf_tool
