// Illuminants, observers and colour-difference methods named as people type them. Unlike the
// lenient readers of stored forms (`HTColorUtils`), these never fall back on a default: a name
// that is none of them is an error listing the names there are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// The illuminant named `name`, case ignored: "D50", "D65", "A", "B", "C", "F2", "F7" or
/// "F11". Anything else, the empty text included, is error 9930
/// "unknown illuminant 'NAME' (D50, D65, A, B, C, F2, F7, F11)".
HCF_API Result<HCFIlluminant> illuminantNamed(std::string_view name);

/// The observer named `name`, case ignored: the 2° observer as "2", "2°", "2deg", "1931" or
/// "TWO_DEGREE", the 10° observer as "10", "10°", "10deg", "1964" or "TEN_DEGREE". Anything
/// else is error 9930 "unknown observer 'NAME' (2, 2°, 2deg or 1931; 10, 10°, 10deg or 1964)".
HCF_API Result<HCFStdObserver> observerNamed(std::string_view name);

/// The colour-difference method named `name`. Case is ignored, and so are the separators '_',
/// '-', ':' and blanks, so "de_cmc_21", "CMC21" and "cmc:2:1" name the same method:
///   CIEDE2000:         de_2000, ciede2000, 2000, de00, de2000
///   CMC 2:1:           de_cmc_21, cmc, cmc21, cmc:2:1, cmc2:1
///   CMC 1:1:           de_cmc_11, cmc11, cmc:1:1, cmc1:1
///   CIE94 graphic arts: de_94_gfx, cie94, cie94-graphic-arts, cie94-gfx
///   CIE94 textiles:    de_94_textiles, cie94-textiles
/// Anything else is error 9930 "unknown colour-difference method 'NAME' (…)" listing the
/// first name of each. A name of CIE 1976 ΔE*ab (see `deltaEFormulaNamed`) is error 9930 too,
/// saying that it is no `HCFDeltaEMethod`.
HCF_API Result<HCFDeltaEMethod> deltaEMethodNamed(std::string_view name);

/// A colour-difference formula as named: one of the `HCFDeltaEMethod`s, or CIE 1976 ΔE*ab
/// (`HCFLabColor::deltaE76`), which has no `HCFDeltaEMethod` value because stored forms and
/// searches do not carry it.
struct HCFDeltaEFormula {
  /// The method; empty for CIE 1976 ΔE*ab.
  std::optional<HCFDeltaEMethod> method;

  /// True for CIE 1976 ΔE*ab (no method).
  bool isCIE76() const { return !method.has_value(); }
  /// True when both name the same formula.
  friend bool operator==(const HCFDeltaEFormula&, const HCFDeltaEFormula&) = default;
};

/// The formula named `name`: the names of `deltaEMethodNamed`, and for CIE 1976 ΔE*ab "de_76",
/// "de76", "cie76", "cie1976" or "deltaeab" (case and separators ignored alike). Anything else
/// is error 9930 "unknown colour-difference method 'NAME' (…)" listing the first name of each.
HCF_API Result<HCFDeltaEFormula> deltaEFormulaNamed(std::string_view name);

/// The formula's first name: "de_2000", "de_cmc_21", "de_cmc_11", "de_94_gfx",
/// "de_94_textiles" or "de_76".
HCF_API std::string deltaEFormulaName(const HCFDeltaEFormula& formula);

HCF_NAMESPACE_END
