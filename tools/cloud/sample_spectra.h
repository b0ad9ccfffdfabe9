// Samples as spectra: a smooth reflectance for a colour given as CIELAB, the colour a
// reflectance really has, and the held-out sample sets the instruments' accuracy is measured
// on (the Munsell renotation and a CIELAB grid inside the gamut of real paints).
#pragma once

#include <hcf/hcf.h>

#include <string>
#include <vector>

#include "spectrometer.h"

namespace hcf_cloud::fixtures {

/// A smooth reflectance whose colour under D50 (2°) is the given Lab: a grey level plus three
/// broad bands, solved exactly where the result stays within 0 to 1.
Reflectance reflectanceForLab(const hcf::HCFLabColor& labD50);

/// The colour a reflectance has under `illuminant` for `observer` (white Y = 100).
hcf::HCFXYZColor colourOf(const Reflectance& reflectance,
                          hcf::HCFIlluminant illuminant = hcf::HCFIlluminant::D50,
                          hcf::HCFStdObserver observer = hcf::HCFStdObserver::TwoDegree);

/// A sample of a held-out set: its name, the colour it was made for (CIELAB D50, 2°) and its
/// spectrum, `reflectanceForLab` of that colour. Its true colour is `colourOf(reflectance)`,
/// which differs from the nominal one where no smooth spectrum reaches that far.
struct Sample {
  std::string name;
  double L = 0, a = 0, b = 0;
  Reflectance reflectance{};
};

/// The Munsell renotation "real" colours (2,734 chips of the data folder), each as the smooth
/// spectrum of its CIELAB under D50 (the chips' Illuminant C colour, Y relative to the perfect
/// diffuser, adapted to D50).
const std::vector<Sample>& munsellSamples();

/// A CIELAB grid (L* 20 to 90, a* and b* −60 to 60, steps of 10) kept where real paints go:
/// within 80 % of the largest Munsell chroma near that lightness and hue.
const std::vector<Sample>& paintGamutGrid();

}  // namespace hcf_cloud::fixtures
