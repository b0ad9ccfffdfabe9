#include "hcf/color/hcf_cie_spectral_math.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "cie_tables.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/color/matrix_math.h"
#include "hcf/core/exception.h"
#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

using namespace cie_tables;

namespace {

// The spectrometer models report curves up to this wavelength.
constexpr unsigned kModelWavelengthEnd = 710;
constexpr unsigned kStep10 = 10;
constexpr unsigned kStep5 = 5;

template <std::size_t N>
std::span<const double> span(const std::array<double, N>& a) {
  return {a.data(), a.size()};
}

}  // namespace

unsigned HCFCieSpectralMath::waveLengthEndFor(std::string_view /*model*/) {
  return kModelWavelengthEnd;
}

std::span<const double> HCFCieSpectralMath::stdObsSpectrum(int component, HCFStdObserver observer,
                                                           std::int32_t step) {
  const bool ten = observer != HCFStdObserver::TwoDegree;
  const bool five = step == 5;
  switch (component) {
    case 2:
      return ten ? (five ? span(obs10_y_5) : span(obs10_y_10))
                 : (five ? span(obs2_y_5) : span(obs2_y_10));
    case 3:
      return ten ? (five ? span(obs10_z_5) : span(obs10_z_10))
                 : (five ? span(obs2_z_5) : span(obs2_z_10));
    default:
      return ten ? (five ? span(obs10_x_5) : span(obs10_x_10))
                 : (five ? span(obs2_x_5) : span(obs2_x_10));
  }
}

std::span<const double> HCFCieSpectralMath::illuminantSpectrum(HCFIlluminant illuminant,
                                                               std::int32_t step) {
  const bool five = step == 5;
  switch (illuminant) {
    case HCFIlluminant::D50:
      return five ? span(ill_D50_5) : span(ill_D50_10);
    case HCFIlluminant::D65:
      return five ? span(ill_D65_5) : span(ill_D65_10);
    case HCFIlluminant::A:
      return five ? span(ill_A_5) : span(ill_A_10);
    case HCFIlluminant::B:
      return five ? span(ill_B_5) : span(ill_B_10);
    case HCFIlluminant::C:
      return five ? span(ill_C_5) : span(ill_C_10);
    case HCFIlluminant::F2:
      return five ? span(ill_F2_5) : span(ill_F2_10);
    case HCFIlluminant::F7:
      return five ? span(ill_F7_5) : span(ill_F7_10);
    case HCFIlluminant::F11:
      return five ? span(ill_F11_5) : span(ill_F11_10);
  }
  throw HCFException(kIllegalArgumentException, "Uknown Illuminant");
}

void HCFCieSpectralMath::interpolate(std::span<const double> in, std::span<double> out,
                                     std::size_t count) {
  if (count > out.size() || (count > 0 && (in.empty() || count > 2 * in.size() - 1))) {
    throw std::invalid_argument("interpolate: " + std::to_string(count) +
                                " samples cannot be made from " + std::to_string(in.size()));
  }
  for (std::size_t j = 0; j < count; ++j) {
    out[j] = j % 2 == 0 ? in[j / 2] : (in[(j - 1) / 2] + in[(j + 1) / 2]) / 2.0;
  }
}

Result<HCFXYZColor> HCFCieSpectralMath::xyzFromSpectrum(std::span<const double> samples,
                                                        unsigned start, HCFIlluminant illuminant,
                                                        HCFStdObserver observer) {
  return xyzFromSpectrum(samples, start, illuminant, observer, HCFWhiteReference::Table);
}

Result<HCFXYZColor> HCFCieSpectralMath::xyzFromSpectrum(std::span<const double> samples,
                                                        unsigned start, HCFIlluminant illuminant,
                                                        HCFStdObserver observer,
                                                        HCFWhiteReference white) {
  const std::size_t n = samples.size();
  if (n == 0) return HTUtility::errWithMsg("Spectrum has no samples", error_code::kInvalidSpectrum);
  if (start < cieWavelengthStart || start + kStep10 * (n - 1) > cieWavelengthEnd) {
    return HTUtility::errWithMsg("Spectrum from " + std::to_string(start) + " nm with " +
                                     std::to_string(n) + " samples leaves 340–830 nm",
                                 error_code::kInvalidSpectrum);
  }
  // The curve's samples are taken as lying on the tables' 10 nm grid under every illuminant;
  // a start between two grid points would be read as the one before it under some.
  if ((start - cieWavelengthStart) % kStep10 != 0) {
    return HTUtility::errWithMsg("Spectrum from " + std::to_string(start) +
                                     " nm is not on the 10 nm grid of the tables (340, 350, …)",
                                 error_code::kInvalidSpectrum);
  }
  const bool fluorescent = HTColorUtils::toIlluminantStr(illuminant).value_or("D50")[0] == 'F';
  const unsigned step = fluorescent ? kStep5 : kStep10;
  const std::size_t m = fluorescent ? 2 * n - 1 : n;
  const std::size_t first = (start - cieWavelengthStart) / step;

  std::vector<double> R(m);
  if (fluorescent) {
    interpolate(samples, R, m);
  } else {
    std::copy(samples.begin(), samples.end(), R.begin());
  }
  const auto S = illuminantSpectrum(illuminant, static_cast<std::int32_t>(step)).subspan(first, m);
  const auto xbar = stdObsSpectrum(1, observer, static_cast<std::int32_t>(step)).subspan(first, m);
  const auto ybar = stdObsSpectrum(2, observer, static_cast<std::int32_t>(step)).subspan(first, m);
  const auto zbar = stdObsSpectrum(3, observer, static_cast<std::int32_t>(step)).subspan(first, m);

  std::vector<double> yS(m), xR(m), yR(m), zR(m), xRS(m), yRS(m), zRS(m);
  MatrixMath::vectorMult(ybar, S, yS, m);
  MatrixMath::vectorMult(xbar, R, xR, m);
  MatrixMath::vectorMult(ybar, R, yR, m);
  MatrixMath::vectorMult(zbar, R, zR, m);
  MatrixMath::vectorMult(xR, S, xRS, m);
  MatrixMath::vectorMult(yR, S, yRS, m);
  MatrixMath::vectorMult(zR, S, zRS, m);
  const double N = MatrixMath::sumWithVector(yS, m);
  if (N == 0) {
    return HTUtility::errWithMsg("Spectrum lies where the observer sees nothing",
                                 error_code::kInvalidSpectrum);
  }
  // 100 · (Σ/N): a perfect reflector's Σ equals N, so Y is 100 exactly.
  const double Y = 100.0 * (MatrixMath::sumWithVector(yRS, m) / N);
  if (white == HCFWhiteReference::Integrated) {
    // X and Z relative to the same sums over a perfect reflector (x̄·S and z̄·S, multiplied in
    // the order the curve's products are, so a flat curve of 1 gives a ratio of exactly 1),
    // carried to the tabulated white that Lab divides by.
    std::vector<double> xS(m), zS(m);
    MatrixMath::vectorMult(xbar, S, xS, m);
    MatrixMath::vectorMult(zbar, S, zS, m);
    const double Nx = MatrixMath::sumWithVector(xS, m);
    const double Nz = MatrixMath::sumWithVector(zS, m);
    if (Nx == 0 || Nz == 0) {
      return HTUtility::errWithMsg("Spectrum from " + std::to_string(start) + " nm with " +
                                       std::to_string(n) +
                                       " samples has a white without X or Z to be relative to",
                                   error_code::kInvalidSpectrum);
    }
    const Vector3& w = CieStdMath::wpArrayForObserver(observer, illuminant);
    const double X = (MatrixMath::sumWithVector(xRS, m) / Nx) * (w[0] * 100.0);
    const double Z = (MatrixMath::sumWithVector(zRS, m) / Nz) * (w[2] * 100.0);
    return HCFXYZColor::XYZColorWithX(X, Y, Z, illuminant, observer);
  }
  const double X = 100.0 * (MatrixMath::sumWithVector(xRS, m) / N);
  const double Z = 100.0 * (MatrixMath::sumWithVector(zRS, m) / N);
  return HCFXYZColor::XYZColorWithX(X, Y, Z, illuminant, observer);
}

HCF_NAMESPACE_END
