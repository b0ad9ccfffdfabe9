#include "hcf/color/lab_color.h"

#include <cmath>

#include "../core/number_text.h"
#include "cie_constants.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/color/ht_color_utils.h"

HCF_NAMESPACE_BEGIN

namespace {
// Tolerance of isEqualToLab per component.
constexpr double kLabEqualTolerance = 1e-11;

}  // namespace

HCFLabColor HCFLabColor::labColorWithL(double L, double a, double b, HCFIlluminant illuminant) {
  return {L, a, b, illuminant, HCFStdObserver::TwoDegree};
}

HCFLabColor HCFLabColor::labColorWithL(double L, double a, double b, HCFIlluminant illuminant,
                                       HCFStdObserver observer) {
  return {L, a, b, illuminant, observer};
}

HCFLabColor HCFLabColor::labColorWithColor(const HCFLabColor& color) { return color; }

HCFLabColor HCFLabColor::toLabWithIlluminant(HCFIlluminant target) const {
  if (illuminant == target) return *this;
  return XYZColor().toXYZWithIlluminant(target).toLab();
}

HCFXYZColor HCFLabColor::XYZColor() const {
  const XYZTriple t = CieStdMath::lab2xyzWithL(L, A, B, illuminant, stdObserver);
  return {t.X, t.Y, t.Z, illuminant, stdObserver};
}

HCFLchColor HCFLabColor::lchColor() const {
  // hypot keeps the chroma of tiny a and b from underflowing to 0 and of huge ones finite.
  const double C = std::hypot(A, B);
  double h = 0.0;  // a neutral has no hue; −0 in a or b must not turn it to 180° or 360°
  if (C > 0) {
    h = std::atan2(B, A) * (180.0 / M_PI);
    if (h < 0) h += 360.0;
    // A hue a hair below 0° rounds up to 360° when shifted, which is 0° again; −0 becomes 0.
    if (h >= 360.0 || h == 0.0) h = 0.0;
  }
  cie::requireFiniteResult("LCh", {L, A, B}, {L, C, h});
  return {L, C, h, illuminant, stdObserver};
}

HCFRGBColor HCFLabColor::rgbColor() const { return XYZColor().RGBColorInSpace(HCFRGBSpace::sRGB); }

PlatformColor HCFLabColor::uiColor() const { return rgbColor().color(); }

std::string HCFLabColor::hex() const { return rgbColor().hex(); }

double HCFLabColor::deltaE00(const HCFLabColor& other) const {
  return CieStdMath::deltaE2000WithL(L, A, B, other.L, other.A, other.B);
}

double HCFLabColor::deltaEcmc(const HCFLabColor& other, std::int32_t dEcmcType) const {
  return CieStdMath::deltaEcmc_l(dEcmcType == 0 ? 2.0f : 1.0f, 1.0f, L, A, B, other.L, other.A,
                                 other.B);
}

double HCFLabColor::deltaE94(const HCFLabColor& other, std::int32_t dE94Type) const {
  return CieStdMath::deltaE1994WithL(L, A, B, other.L, other.A, other.B, dE94Type != 0 ? 1 : 0);
}

double HCFLabColor::deltaEcmc(const HCFLabColor& standard, std::int32_t dEcmcType,
                              HCFDeltaEReference reference) const {
  return cie::weightsFromSample(reference) ? deltaEcmc(standard, dEcmcType)
                                           : standard.deltaEcmc(*this, dEcmcType);
}

double HCFLabColor::deltaE94(const HCFLabColor& standard, std::int32_t dE94Type,
                             HCFDeltaEReference reference) const {
  return cie::weightsFromSample(reference) ? deltaE94(standard, dE94Type)
                                           : standard.deltaE94(*this, dE94Type);
}

double HCFLabColor::deltaE76(const HCFLabColor& other) const {
  return CieStdMath::deltaE1976WithL(L, A, B, other.L, other.A, other.B);
}

LabDifference HCFLabColor::labDifference(const HCFLabColor& standard) const {
  return CieStdMath::labDifference({L, A, B}, {standard.L, standard.A, standard.B});
}

std::string HCFLabColor::description() const {
  return "HCFLabColor: L: " + text::fixed(L, 2) + ", a: " + text::fixed(A, 2) +
         ", b: " + text::fixed(B, 2);
}

std::string HCFLabColor::displayString() const {
  return HTColorUtils::toIlluminantStr(illuminant).value_or("") +
         HTColorUtils::toObserverStr(stdObserver) + "L: " + text::fixed(L, 2) +
         ", a: " + text::fixed(A, 2) + ", b: " + text::fixed(B, 2);
}

bool HCFLabColor::isEqualToLab(const HCFLabColor& other) const {
  return std::fabs(L - other.L) <= kLabEqualTolerance &&
         std::fabs(A - other.A) <= kLabEqualTolerance &&
         std::fabs(B - other.B) <= kLabEqualTolerance && stdObserver == other.stdObserver &&
         illuminant == other.illuminant;
}

HCF_NAMESPACE_END
