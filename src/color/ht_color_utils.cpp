#include "hcf/color/ht_color_utils.h"

#include <array>
#include <cctype>

#include "cie_constants.h"
#include "hcf/color/lab_color.h"
#include "lightness_weights.h"

HCF_NAMESPACE_BEGIN

namespace {

constexpr std::array<const char*, 8> kIlluminantNames = {"D50", "D65", "A",  "B",
                                                         "C",   "F2",  "F7", "F11"};

// Lower case for matching against the ASCII keys below (bytes of other characters are kept).
std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

const std::vector<std::string>& HTColorUtils::allIlluminants() {
  static const std::vector<std::string> names = {"D50", "D65", "C", "B", "A", "F2", "F7", "F11"};
  return names;
}

std::optional<std::string> HTColorUtils::toIlluminantStr(HCFIlluminant illuminant) {
  if (!isKnownIlluminant(illuminant)) return std::nullopt;
  return kIlluminantNames[static_cast<std::size_t>(illuminant)];
}

HCFIlluminant HTColorUtils::fromIlluminantStr(std::string_view name) {
  const std::string s = lower(name);
  if (s == "f2") return HCFIlluminant::F2;
  if (s == "f7") return HCFIlluminant::F7;
  if (s == "f11") return HCFIlluminant::F11;
  if (s == "c") return HCFIlluminant::C;
  if (s == "b") return HCFIlluminant::B;
  if (s == "a") return HCFIlluminant::A;
  if (s == "d65") return HCFIlluminant::D65;
  return HCFIlluminant::D50;
}

std::string HTColorUtils::toObserverStr(HCFStdObserver observer) {
  return observer == HCFStdObserver::TenDegree ? "10°" : "2°";
}

std::string HTColorUtils::toObserverTextStr(HCFStdObserver observer) {
  return observer == HCFStdObserver::TenDegree ? "TEN_DEGREE" : "TWO_DEGREE";
}

HCFStdObserver HTColorUtils::fromObserverStr(std::string_view name) {
  const std::string s = lower(name);
  const bool ten = s.starts_with("10") || s.starts_with("ten") || s == "10°" || s == "10deg" ||
                   s == "_deg10" || name == "TEN_DEGREE";
  return ten ? HCFStdObserver::TenDegree : HCFStdObserver::TwoDegree;
}

std::string HTColorUtils::toDeltaEStr(HCFDeltaEMethod method) {
  switch (method) {
    case HCFDeltaEMethod::CMC21:
      return "de_cmc_21";
    case HCFDeltaEMethod::CMC11:
      return "de_cmc_11";
    case HCFDeltaEMethod::CIE94GraphicArts:
      return "de_94_gfx";
    case HCFDeltaEMethod::CIE94Textiles:
      return "de_94_textiles";
    default:
      return "de_2000";
  }
}

HCFDeltaEMethod HTColorUtils::fromDeltaEStr(std::string_view name) {
  const std::string s = lower(name);
  if (s.find("cmc_21") != std::string::npos) return HCFDeltaEMethod::CMC21;
  if (s.find("cmc_11") != std::string::npos) return HCFDeltaEMethod::CMC11;
  if (s.find("94_gfx") != std::string::npos) return HCFDeltaEMethod::CIE94GraphicArts;
  if (s.find("94_text") != std::string::npos) return HCFDeltaEMethod::CIE94Textiles;
  return HCFDeltaEMethod::CIEDE2000;
}

double HTColorUtils::deltaEForSample(const HCFLabColor& sample, const HCFLabColor& standard,
                                     HCFDeltaEMethod method) {
  switch (method) {
    case HCFDeltaEMethod::CMC21:
      return sample.deltaEcmc(standard, 0);
    case HCFDeltaEMethod::CMC11:
      return sample.deltaEcmc(standard, 1);
    case HCFDeltaEMethod::CIE94GraphicArts:
      return sample.deltaE94(standard, 0);
    case HCFDeltaEMethod::CIE94Textiles:
      return sample.deltaE94(standard, 1);
    default:
      return sample.deltaE00(standard);
  }
}

double HTColorUtils::deltaEForSample(const HCFLabColor& sample, const HCFLabColor& standard,
                                     HCFDeltaEMethod method, HCFDeltaEReference reference) {
  // CIEDE2000 is symmetric; only the asymmetric formulas trade places.
  if (cie::weightsFromSample(reference) || delta_e::isCiede2000(method)) {
    return deltaEForSample(sample, standard, method);
  }
  return deltaEForSample(standard, sample, method);
}

HCF_NAMESPACE_END
