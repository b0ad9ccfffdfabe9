// Text forms of the colour enumerations and the colour-difference dispatcher.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

struct HCFLabColor;

/// The strings stored data, JSON and search predicates use for illuminants, observers and
/// colour-difference methods, and their lenient parsing. Parsing never fails: an unknown text
/// maps to D50, 2° or CIEDE2000.
class HCF_API HTColorUtils {
 public:
  HTColorUtils() = delete;

  /// The eight illuminant names in the order "D50", "D65", "C", "B", "A", "F2", "F7", "F11"
  /// (not the enumeration order).
  static const std::vector<std::string>& allIlluminants();
  /// "D50", "D65", "A", "B", "C", "F2", "F7" or "F11"; empty for a value outside 0–7.
  static std::optional<std::string> toIlluminantStr(HCFIlluminant illuminant);
  /// The illuminant named by `name`, ignoring case; anything unknown (an empty text included)
  /// is D50.
  static HCFIlluminant fromIlluminantStr(std::string_view name);

  /// "10°" for the 10° observer, "2°" for any other value.
  static std::string toObserverStr(HCFStdObserver observer);
  /// "TEN_DEGREE" for the 10° observer, "TWO_DEGREE" for any other value.
  static std::string toObserverTextStr(HCFStdObserver observer);
  /// The 10° observer for a text that, lower-cased, begins with "10" or "ten" or equals "10°",
  /// "10deg" or "_deg10", or that is exactly "TEN_DEGREE"; otherwise the 2° observer.
  static HCFStdObserver fromObserverStr(std::string_view name);

  /// "de_2000", "de_cmc_21", "de_cmc_11", "de_94_gfx" or "de_94_textiles"; any value other
  /// than 1–4 gives "de_2000".
  static std::string toDeltaEStr(HCFDeltaEMethod method);
  /// The method whose key the lower-cased text contains, tried in the order "cmc_21", "cmc_11",
  /// "94_gfx", "94_text"; CIEDE2000 when none is found. Accepts full and short names.
  static HCFDeltaEMethod fromDeltaEStr(std::string_view name);

  /// The colour difference of `sample` against `standard` by `method`. In the asymmetric
  /// formulas (CMC, CIE94) the sample sets the weights: the kit's orientation, the reverse of
  /// ISO 105-J03 and CIE 116 (see `HCFDeltaEReference`). Methods outside 1–4 use CIEDE2000.
  static double deltaEForSample(const HCFLabColor& sample, const HCFLabColor& standard,
                                HCFDeltaEMethod method);
  /// The same with the weights of CMC and CIE94 set by the colour `reference` names:
  /// `HCFDeltaEReference::Standard` gives the differences of ISO 105-J03 and CIE 116, whose
  /// standard is the reference. CIEDE2000 is symmetric and the same either way.
  /// @throws HCFException (name "Illegal Argument Exception") for a `reference` outside the
  ///         enumeration.
  static double deltaEForSample(const HCFLabColor& sample, const HCFLabColor& standard,
                                HCFDeltaEMethod method, HCFDeltaEReference reference);
};

HCF_NAMESPACE_END
