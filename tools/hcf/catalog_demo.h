// The demo's catalogue part: download from the reference cloud, then the nearest products.
#pragma once

#include <hcf/hcf.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim_session.h"

namespace hcf_tool {

struct MeasuredSample {
  std::string title;  ///< "dark skin on the ColorOrla"
  std::shared_ptr<hcf::HCFColorScan> scan;
};

/// Checks whether a download is needed, downloads the catalogue with a progress bar, counts
/// it, and prints the nearest products of each sample (offline) and the nearest inspirations
/// of the first (online); writes the page to `htmlFile` when given. The exit status.
int catalogDemo(SimSession& session, const std::vector<MeasuredSample>& samples, bool terminal,
                const std::optional<std::string>& htmlFile);

}  // namespace hcf_tool
