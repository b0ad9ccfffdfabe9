// Data sets built into the program.
#pragma once

namespace hcf_tool {

/// The 24-patch colour-checker chart, current formulation (after November 2014), CIELAB D50 2°:
/// "name,L,a,b" with a header row. Values published by the chart maker.
extern const char* const kColorChecker2014Csv;

}  // namespace hcf_tool
