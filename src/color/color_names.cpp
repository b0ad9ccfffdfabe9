#include "hcf/color/color_names.h"

#include <array>
#include <string>
#include <utility>

#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

namespace {

// `name` in ASCII lower case; with `dropSeparators`, without '_', '-', ':' and blanks.
std::string folded(std::string_view name, bool dropSeparators) {
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    if (dropSeparators && (c == '_' || c == '-' || c == ':' || c == ' ' || c == '\t')) continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

template <typename Value, std::size_t N>
Result<Value> lookUp(const std::array<std::pair<const char*, Value>, N>& names,
                     const std::string& key, std::string_view name, const char* what,
                     const char* valid) {
  for (const auto& [n, value] : names) {
    if (key == n) return value;
  }
  return HTUtility::errWithMsg(
      "unknown " + std::string(what) + " '" + std::string(name) + "' (" + valid + ")",
      error_code::kUnknownColorName);
}

}  // namespace

Result<HCFIlluminant> illuminantNamed(std::string_view name) {
  using I = HCFIlluminant;
  static constexpr std::array<std::pair<const char*, I>, 8> kNames = {{{"d50", I::D50},
                                                                       {"d65", I::D65},
                                                                       {"a", I::A},
                                                                       {"b", I::B},
                                                                       {"c", I::C},
                                                                       {"f2", I::F2},
                                                                       {"f7", I::F7},
                                                                       {"f11", I::F11}}};
  return lookUp(kNames, folded(name, false), name, "illuminant", "D50, D65, A, B, C, F2, F7, F11");
}

Result<HCFStdObserver> observerNamed(std::string_view name) {
  using O = HCFStdObserver;
  static constexpr std::array<std::pair<const char*, O>, 10> kNames = {{
      {"2", O::TwoDegree},
      {"2\u00b0", O::TwoDegree},
      {"2deg", O::TwoDegree},
      {"1931", O::TwoDegree},
      {"two_degree", O::TwoDegree},
      {"10", O::TenDegree},
      {"10\u00b0", O::TenDegree},
      {"10deg", O::TenDegree},
      {"1964", O::TenDegree},
      {"ten_degree", O::TenDegree},
  }};
  return lookUp(kNames, folded(name, false), name, "observer",
                "2, 2\u00b0, 2deg or 1931; 10, 10\u00b0, 10deg or 1964");
}

namespace {

using M = HCFDeltaEMethod;

// Keys without separators: "de_cmc_21" is "decmc21", "cmc:2:1" is "cmc21".
constexpr std::array<std::pair<const char*, M>, 18> kMethodNames = {{
    {"de2000", M::CIEDE2000},
    {"ciede2000", M::CIEDE2000},
    {"2000", M::CIEDE2000},
    {"de00", M::CIEDE2000},
    {"decmc21", M::CMC21},
    {"cmc", M::CMC21},
    {"cmc21", M::CMC21},
    {"decmc11", M::CMC11},
    {"cmc11", M::CMC11},
    {"de94gfx", M::CIE94GraphicArts},
    {"cie94", M::CIE94GraphicArts},
    {"cie94graphicarts", M::CIE94GraphicArts},
    {"cie94gfx", M::CIE94GraphicArts},
    {"de94", M::CIE94GraphicArts},
    {"de94textiles", M::CIE94Textiles},
    {"cie94textiles", M::CIE94Textiles},
    {"de94text", M::CIE94Textiles},
    {"cie94text", M::CIE94Textiles},
}};

constexpr std::array<const char*, 5> kCIE76Names = {"de76", "cie76", "cie1976", "deltaeab",
                                                    "de1976"};

constexpr const char* kMethodList =
    "de_2000 or ciede2000, de_cmc_21 or cmc, de_cmc_11 or cmc11, de_94_gfx or cie94, "
    "de_94_textiles or cie94-textiles";

bool namesCIE76(const std::string& key) {
  for (const char* n : kCIE76Names) {
    if (key == n) return true;
  }
  return false;
}

}  // namespace

Result<HCFDeltaEMethod> deltaEMethodNamed(std::string_view name) {
  const std::string key = folded(name, true);
  if (namesCIE76(key)) {
    return HTUtility::errWithMsg("'" + std::string(name) +
                                     "' names CIE 1976 (ΔE*ab), which is no colour-difference "
                                     "method of searches and stored colours (" +
                                     kMethodList + ")",
                                 error_code::kUnknownColorName);
  }
  return lookUp(kMethodNames, key, name, "colour-difference method", kMethodList);
}

Result<HCFDeltaEFormula> deltaEFormulaNamed(std::string_view name) {
  const std::string key = folded(name, true);
  if (namesCIE76(key)) return HCFDeltaEFormula{};
  for (const auto& [n, method] : kMethodNames) {
    if (key == n) return HCFDeltaEFormula{method};
  }
  return HTUtility::errWithMsg("unknown colour-difference method '" + std::string(name) + "' (" +
                                   kMethodList + ", de_76 or cie76)",
                               error_code::kUnknownColorName);
}

std::string deltaEFormulaName(const HCFDeltaEFormula& formula) {
  return formula.method ? HTColorUtils::toDeltaEStr(*formula.method) : "de_76";
}

HCF_NAMESPACE_END
