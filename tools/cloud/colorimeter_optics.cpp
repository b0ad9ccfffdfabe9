// The optics and electronics of the simulated colorimeters.
#include <algorithm>
#include <cmath>

#include "fixtures.h"
#include "sample_spectra.h"

namespace hcf_cloud::fixtures {

namespace {

// The non-linear correction of the 24-patch model, as the instruments' firmware team fitted it
// to the photodiodes of those versions.
constexpr double kK1 = 0.0015, kK2 = 0.0007, kK3 = 0.0016, kK4 = 0.0012;

double gauss(double nm, double peak, double width) {
  return std::exp(-0.5 * (nm - peak) * (nm - peak) / (width * width));
}

// A deterministic value in −0.5 .. 0.5 per (text, index).
double wobble(const std::string& text, int k) {
  unsigned h = 2166136261u;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  h = (h ^ static_cast<unsigned>(k)) * 16777619u;
  return static_cast<double>(h % 1000) / 1000.0 - 0.5;
}

// One lobe of a filter's transmission.
struct Lobe {
  double peak, width, weight;
};

// The filter set and LED of a hardware version. The first versions carry broad dye filters;
// the 3.x line adds a short-wave lobe to its red filter (as x̄ has one); the ColorOrla's
// filters are made to look like x̄, ȳ, z̄ but are simple shapes that miss them in places.
struct Design {
  std::array<std::vector<Lobe>, 3> filters;  // red, green, blue channels
  double ledBlue;                            // the LED's blue peak against its phosphor
  double noise;                              // read noise, counts
};

Design designOf(const std::string& model) {
  if (model == "1.0" || model == "1.1") {
    return {{{{{615, 38, 1}}, {{535, 42, 1}}, {{455, 32, 1}}}}, 0.8, 6};
  }
  if (model == "1.3" || model == "2.0" || model == "2.1") {
    return {{{{{610, 32, 1}}, {{540, 36, 1}}, {{458, 26, 1}}}}, 0.7, 4};
  }
  if (model == "4.0") {
    return {{{{{598, 34, 1}, {446, 19, 0.34}}, {{556, 44, 1}}, {{450, 22, 1.75}}}}, 0.6, 2};
  }
  // 3.0, 3.01.00, 3.01.02 and the multi-channel version.
  return {{{{{600, 34, 1}, {445, 18, 0.12}}, {{548, 38, 1}}, {{452, 24, 1}}}}, 0.6, 3};
}

double nmOf(std::size_t i) { return 400.0 + 10.0 * static_cast<double>(i); }

// Silicon photodiode responsivity: rises through the visible.
double photodiode(double nm) { return 0.2 + 0.5 * (nm - 400.0) / 300.0; }

// A white LED: the blue die and the broad phosphor emission.
double led(double nm, double blue) { return blue * gauss(nm, 450, 12) + gauss(nm, 570, 60) + 0.08; }

}  // namespace

const Reflectance& whiteTile() {
  static const Reflectance tile = colorCheckerReflectances()[18];
  return tile;
}

const std::vector<Reflectance>& colorCheckerReflectances() {
  static const std::vector<Reflectance> spectra = [] {
    std::vector<Reflectance> out;
    for (const auto& p : colorCheckerPatches()) {
      out.push_back(reflectanceForLab(
          hcf::HCFLabColor::labColorWithL(p.L, p.a, p.b, hcf::HCFIlluminant::D50)));
    }
    return out;
  }();
  return spectra;
}

std::array<double, 3> SensorModel::relative(const Reflectance& reflectance) const {
  std::array<double, 3> out{};
  for (int k = 0; k < 3; ++k) {
    double seen = 0, white = 0;
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      seen += channel[k][i] * reflectance[i];
      white += channel[k][i] * whiteTile()[i];
    }
    out[k] = seen / white;
  }
  return out;
}

std::array<double, 3> SensorModel::signal(const Reflectance& reflectance) const {
  const auto rel = relative(reflectance);
  if (!mb24) {
    std::array<double, 3> out{};
    for (int k = 0; k < 3; ++k) {
      const double lin = rel[k] * whiteCounts[k];
      out[k] = lin * (1.0 + nonlinearity * (lin / 40000.0));
    }
    return out;
  }
  // The photodiodes' response is what the firmware's correction undoes: the white-balanced
  // counts whose corrected values are proportional to the light (the white tile corrects to
  // 92, 100, 96). Green is linear; red and blue come from their quadratics, and flatten out
  // where the quadratic has no root left.
  const double cr = 92.0 * rel[0], g = 100.0 * rel[1], cb = 96.0 * rel[2];
  const double p = 1.0 + kK2 * g;
  const double r = (p - std::sqrt(std::max(0.0, p * p - 4.0 * kK1 * cr))) / (2.0 * kK1);
  const double b =
      (1.0 - std::sqrt(std::max(0.0, 1.0 - 4.0 * kK3 * (cb - kK4 * r * g)))) / (2.0 * kK3);
  return {r * whiteCounts[0] / 100.0, g * whiteCounts[1] / 100.0, b * whiteCounts[2] / 100.0};
}

std::array<double, 3> SensorModel::signal(const hcf::XYZTriple& xyzD50) const {
  return signal(reflectanceForLab(
      hcf::HCFXYZColor::XYZColorWithX(xyzD50.X, xyzD50.Y, xyzD50.Z, hcf::HCFIlluminant::D50)
          .toLab()));
}

namespace {
std::array<std::uint16_t, 3> counted(const std::array<double, 3>& signal,
                                     const std::array<double, 3>& black) {
  std::array<std::uint16_t, 3> out{};
  for (int i = 0; i < 3; ++i) {
    const double c = std::round(signal[i] + black[i]);
    out[i] = static_cast<std::uint16_t>(std::clamp(std::isfinite(c) ? c : 65535.0, 0.0, 65535.0));
  }
  return out;
}
}  // namespace

std::array<std::uint16_t, 3> SensorModel::rawCounts(const Reflectance& reflectance) const {
  return counted(signal(reflectance), black);
}

std::array<std::uint16_t, 3> SensorModel::rawCounts(const hcf::XYZTriple& xyzD50) const {
  return counted(signal(xyzD50), black);
}

SensorModel sensorFor(const std::string& tintraModel, bool mb24, int batch) {
  SensorModel m;
  m.tintraModel = tintraModel;
  m.mb24 = mb24;
  const Design design = designOf(tintraModel);
  // Instruments differ a little from batch to batch: filter peaks by ±1.5 nm, widths by ±3 %.
  const std::string unit = tintraModel + "/" + std::to_string(batch);
  for (int k = 0; k < 3; ++k) {
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      const double nm = nmOf(i);
      double t = 0;
      int lobe = 0;
      for (const Lobe& l : design.filters[k]) {
        const int n = 10 * k + lobe++;
        t += l.weight * gauss(nm, l.peak + 3.0 * wobble(unit, n),
                              l.width * (1.0 + 0.06 * wobble(unit, 100 + n)));
      }
      m.channel[k][i] = t * photodiode(nm) * led(nm, design.ledBlue);
    }
  }
  m.noise = design.noise;
  m.nonlinearity = mb24 ? 0.0 : 0.01 * (1.0 + wobble(tintraModel, 9));
  // Gains put the white tile at 58 to 67 % of full scale.
  m.whiteCounts = {41000.0 * (1 + 0.1 * wobble(unit, 20)), 44000.0,
                   38000.0 * (1 + 0.1 * wobble(unit, 21))};
  m.black =
      tintraModel == "1.1" ? std::array<double, 3>{0, 0, 0} : std::array<double, 3>{120, 135, 110};
  return m;
}

}  // namespace hcf_cloud::fixtures
