// Illuminant, observer and colour-difference options, read by the kit's strict name parser:
// an unknown name is a usage error that lists the valid ones.
#pragma once

#include <hcf/hcf.h>

#include <string>

#include "cli.h"

namespace hcf_tool {

/// The value of a name the kit read, or a UsageError with its refusal.
template <typename Value>
Value named(const hcf::Result<Value>& parsed) {
  if (!parsed) throw UsageError(parsed.error().localizedDescription);
  return *parsed;
}

inline hcf::HCFIlluminant illuminantOption(const Args& args, const std::string& name,
                                           hcf::HCFIlluminant fallback = hcf::HCFIlluminant::D50) {
  const auto text = args.option(name);
  return text ? named(hcf::illuminantNamed(*text)) : fallback;
}

inline hcf::HCFStdObserver observerOption(
    const Args& args, hcf::HCFStdObserver fallback = hcf::HCFStdObserver::TwoDegree) {
  const auto text = args.option("--observer");
  return text ? named(hcf::observerNamed(*text)) : fallback;
}

inline hcf::HCFDeltaEMethod methodOption(
    const Args& args, hcf::HCFDeltaEMethod fallback = hcf::HCFDeltaEMethod::CIEDE2000) {
  const auto text = args.option("--method");
  return text ? named(hcf::deltaEMethodNamed(*text)) : fallback;
}

}  // namespace hcf_tool
