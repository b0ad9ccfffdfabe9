// The four enumerations that qualify every colour value. Their integer values are part of
// every stored and transmitted form (products, scans, search predicates), so they never change.
#pragma once

#include <cstdint>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// A CIE illuminant. Stored and transmitted as a signed 64-bit integer; the default (0) is D50.
/// A value outside 0–7 can be held (nothing validates stored values) but has no white point:
/// every conversion that needs one raises `HCFException` for it.
enum class HCFIlluminant : std::int64_t {
  D50 = 0,
  D65 = 1,
  A = 2,
  B = 3,
  C = 4,
  F2 = 5,
  F7 = 6,
  F11 = 7,
};

/// A CIE standard observer. Stored as a signed 64-bit integer. Everything that is not 1 is
/// read as the 2° observer where a white point is looked up.
enum class HCFStdObserver : std::int64_t {
  TwoDegree = 0,  ///< CIE 1931 2°
  TenDegree = 1,  ///< CIE 1964 10°
};

/// An RGB colour space. Only sRGB exists; `HCFXYZColor::RGBColorInSpace` rejects any other value.
enum class HCFRGBSpace : std::int64_t {
  sRGB = 0,
};

/// A colour-difference formula. Any value other than 1–4 is computed as CIEDE2000.
enum class HCFDeltaEMethod : std::int64_t {
  CIEDE2000 = 0,
  CMC21 = 1,             ///< CMC l:c = 2:1
  CMC11 = 2,             ///< CMC l:c = 1:1
  CIE94GraphicArts = 3,  ///< CIE94 with graphic-arts weights
  CIE94Textiles = 4,     ///< CIE94 with textile weights
};

/// Which colour of a pair sets the weights of the asymmetric differences, CMC l:c and CIE94:
/// their lightness, chroma and hue weights follow that colour's L*, C*ab and hue.
enum class HCFDeltaEReference : std::int64_t {
  /// The sample sets the weights: the kit's own orientation, the one of every call that takes
  /// no `HCFDeltaEReference`, and the one catalogue ranking relies on. It is the reverse of
  /// ISO 105-J03 (CMC) and CIE 116 (CIE94).
  Sample = 0,
  /// The standard, the reference colour, sets the weights, as ISO 105-J03 and CIE 116 define.
  Standard = 1,
};

/// True for the eight defined illuminants (0–7).
constexpr bool isKnownIlluminant(HCFIlluminant illuminant) noexcept {
  const auto v = static_cast<std::int64_t>(illuminant);
  return v >= 0 && v <= 7;
}

HCF_NAMESPACE_END
