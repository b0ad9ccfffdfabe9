// XYZ from a reflectance curve: the sum of reflectance × illuminant power × colour-matching
// function over the sampled wavelengths.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "hcf/color/color_enums.h"
#include "hcf/color/xyz_color.h"
#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// The white that the XYZ of a reflectance curve is relative to.
enum class HCFWhiteReference : std::int64_t {
  /// The illuminant's tabulated white point (`CieStdMath::wpArrayForObserver`, integrated
  /// over the full tables), while X and Z are summed over the curve's own range. The kit's
  /// scans and the catalogue's colours are computed this way, so they compare like with like;
  /// the price is a small cast on neutral colours, as the range and the white do not match:
  /// a perfect reflector over 400–700 nm gives a* −0.19, b* +0.09 under D50, 2°.
  Table = 0,
  /// The white integrated from the same tables over the same wavelengths and step as the
  /// curve: X and Z are the curve's sums divided by a perfect reflector's, then scaled to the
  /// tabulated white, so a perfect reflector is L 100, a 0, b 0 (within 1e-12) under every
  /// illuminant and observer, and `toLab` and the other conversions need nothing else.
  Integrated = 1,
};

/// The CIE tables (340–830 nm, 10 nm and 5 nm) and spectral integration.
class HCF_API HCFCieSpectralMath {
 public:
  HCFCieSpectralMath() = delete;

  static constexpr unsigned cieWavelengthStart = 340;  ///< first wavelength of the tables, nm
  static constexpr unsigned cieWavelengthEnd = 830;    ///< last wavelength of the tables, nm
  /// The last wavelength of a spectrometer model's curves: 710 nm for every model.
  static unsigned waveLengthEndFor(std::string_view model);

  /// XYZ (white Y = 100) of reflectance samples at 10 nm from `start` nm under `illuminant`
  /// and `observer`, relative to the tabulated white (`HCFWhiteReference::Table`). Under F2,
  /// F7 and F11 the curve is doubled to 5 nm (midpoint means) and the 5-nm tables are used.
  /// Normalised over the sampled range, so a perfect reflector gives Y = 100 exactly. A curve
  /// that is empty, starts below 340 nm, starts off the 10 nm grid (405 nm) or ends after
  /// 830 nm is an error.
  /// @throws HCFException for an illuminant outside 0–7.
  static Result<HCFXYZColor> xyzFromSpectrum(std::span<const double> samples, unsigned start,
                                             HCFIlluminant illuminant, HCFStdObserver observer);
  /// The same relative to `white`; `HCFWhiteReference::Table` is the four-argument form. With
  /// `HCFWhiteReference::Integrated`, a curve whose range gives the white no X or no Z (z̄ is
  /// vanishes at the long end) is an error as well.
  static Result<HCFXYZColor> xyzFromSpectrum(std::span<const double> samples, unsigned start,
                                             HCFIlluminant illuminant, HCFStdObserver observer,
                                             HCFWhiteReference white);
  /// A colour-matching function: component 1 x̄, 2 ȳ, 3 z̄ (anything else x̄); observer 1 (10°)
  /// or any other value (2°); step 5 the 5-nm table, anything else the 10-nm one.
  static std::span<const double> stdObsSpectrum(int component, HCFStdObserver observer,
                                                std::int32_t step);
  /// An illuminant's relative power: step 5 the 5-nm table, anything else the 10-nm one.
  /// @throws HCFException named "Illegal Argument Exception" with the reason "Uknown Illuminant"
  ///         for a value outside 0–7.
  static std::span<const double> illuminantSpectrum(HCFIlluminant illuminant, std::int32_t step);
  /// Midpoint doubling: out[j] = in[j/2] for even j, the mean of its two neighbours for odd j,
  /// for j below `count` (count ≤ 2·in.size() − 1). @throws std::invalid_argument otherwise.
  static void interpolate(std::span<const double> samples, std::span<double> toSamples,
                          std::size_t count);
};

HCF_NAMESPACE_END
