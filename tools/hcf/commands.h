// The subcommands of the hcf program.
#pragma once

#include <string>
#include <vector>

namespace hcf_tool {

/// "hcf color delta-e|convert|adapt ...": colour maths.
int colorCommand(const std::vector<std::string>& args);
/// "hcf scan lab|show ...": saved scan dictionaries.
int scanCommand(const std::vector<std::string>& args);
/// "hcf catalog build|info|fixture ...": prepared products stores.
int catalogCommand(const std::vector<std::string>& args);
/// "hcf search ...": the nearest products by colour, or by text, on a products store.
int searchCommand(const std::vector<std::string>& args);
/// "hcf filters ...": the filter panel of a products store.
int filtersCommand(const std::vector<std::string>& args);
/// "hcf demo": the measuring path on simulated instruments, end to end.
int demoCommand(const std::vector<std::string>& args);
/// "hcf tour": the colour science on the colour-checker chart.
int tourCommand(const std::vector<std::string>& args);
/// "hcf discover --sim": one discovery pass.
int discoverCommand(const std::vector<std::string>& args);
/// "hcf measure --sim": connect, calibrate, measure.
int measureCommand(const std::vector<std::string>& args);
/// "hcf serve": the measuring path as a page in the browser, on loopback.
int serveCommand(const std::vector<std::string>& args);
/// "hcf doctor": what measuring with real instruments needs, checked.
int doctorCommand(const std::vector<std::string>& args);

}  // namespace hcf_tool
