// Hue, saturation and brightness colour value.
#pragma once

#include "hcf/color/platform_color.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// Hue in degrees (0 to 360), saturation and brightness in percent (0 to 100).
struct HCF_API HCFHSBColor {
  double hue = 0;         ///< degrees, 0 to 360
  double saturation = 0;  ///< percent, 0 to 100
  double brightness = 0;  ///< percent, 0 to 100

  /// Reads a platform colour's hue, saturation and brightness (alpha ignored) and scales them
  /// to degrees and percent.
  /// @throws HCFException (name "Illegal Argument Exception") when a percentage of finite
  ///         components would not fit in a double (components beyond about 1.8e306).
  static HCFHSBColor colorWithUIColor(const PlatformColor& color);

  double getH() const noexcept { return hue; }         ///< `hue`, in degrees
  double getS() const noexcept { return saturation; }  ///< `saturation`, in percent
  double getB() const noexcept { return brightness; }  ///< `brightness`, in percent
};

HCF_NAMESPACE_END
