// The files of hcf serve's page, built into the program.
#pragma once

#include <string_view>

namespace hcf_tool {

extern const std::string_view kServeIndexHtml;
extern const std::string_view kServeAppJs;
extern const std::string_view kServeAppCss;

}  // namespace hcf_tool
