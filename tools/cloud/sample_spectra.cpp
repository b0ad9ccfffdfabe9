#include "sample_spectra.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

#include "embedded_munsell.h"

namespace hcf_cloud::fixtures {

namespace {

using hcf::HCFIlluminant;
using hcf::HCFStdObserver;

// XYZ is linear in the samples: the colour of each unit sample under D50, 2° (once).
const std::array<std::array<double, 3>, kCurveSamples>& unitColours() {
  static const auto unit = [] {
    std::array<std::array<double, 3>, kCurveSamples> u{};
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      std::array<double, kCurveSamples> e{};
      e[i] = 1.0;
      const auto xyz = hcf::HCFCieSpectralMath::xyzFromSpectrum(e, 400, HCFIlluminant::D50,
                                                                HCFStdObserver::TwoDegree);
      u[i] = {xyz->X, xyz->Y, xyz->Z};
    }
    return u;
  }();
  return unit;
}

std::array<double, 3> d50Colour(const Reflectance& r) {
  std::array<double, 3> c{};
  for (std::size_t i = 0; i < kCurveSamples; ++i) {
    for (int k = 0; k < 3; ++k) c[k] += unitColours()[i][k] * r[i];
  }
  return c;
}

double det3(const double a[3][3]) {
  return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
         a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
         a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

Sample sampleOf(std::string name, double L, double a, double b) {
  return {std::move(name), L, a, b,
          reflectanceForLab(hcf::HCFLabColor::labColorWithL(L, a, b, HCFIlluminant::D50))};
}

// The Munsell chips as CIELAB D50 (2°): xyY under Illuminant C with Y relative to magnesium
// oxide (× 0.975 for the perfect diffuser), adapted from C to D50.
struct Chip {
  std::string name;
  double L, a, b;
};

const std::vector<Chip>& munsellChips() {
  static const std::vector<Chip> chips = [] {
    std::vector<Chip> out;
    std::istringstream in(kMunsellCsv);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string hue, value, chroma, x, y, Y;
      if (!std::getline(fields, hue, ',') || !std::getline(fields, value, ',') ||
          !std::getline(fields, chroma, ',') || !std::getline(fields, x, ',') ||
          !std::getline(fields, y, ',') || !std::getline(fields, Y, ',')) {
        continue;
      }
      const double cx = std::stod(x), cy = std::stod(y), cY = std::stod(Y) * 0.975;
      const double X = cx * cY / cy, Z = (1.0 - cx - cy) * cY / cy;
      const auto d50 = hcf::CieStdMath::adapt(X, cY, Z, HCFIlluminant::C, HCFStdObserver::TwoDegree,
                                              HCFIlluminant::D50, HCFStdObserver::TwoDegree);
      const auto lab = hcf::CieStdMath::xyz2LabWith(d50.X, d50.Y, d50.Z, HCFIlluminant::D50,
                                                    HCFStdObserver::TwoDegree);
      out.push_back({hue + " " + value + "/" + chroma, lab.L, lab.a, lab.b});
    }
    return out;
  }();
  return chips;
}

}  // namespace

hcf::HCFXYZColor colourOf(const Reflectance& reflectance, HCFIlluminant illuminant,
                          HCFStdObserver observer) {
  return *hcf::HCFCieSpectralMath::xyzFromSpectrum(reflectance, 400, illuminant, observer);
}

Reflectance reflectanceForLab(const hcf::HCFLabColor& labD50) {
  const hcf::HCFXYZColor target = labD50.XYZColor();
  // Three broad bands (blue, green, red) over a flat base: R = base + Σ w_k·band_k.
  static const auto bands = [] {
    std::array<Reflectance, 3> out{};
    const double centres[3] = {450, 545, 640};
    for (int k = 0; k < 3; ++k) {
      for (std::size_t i = 0; i < kCurveSamples; ++i) {
        const double nm = 400.0 + 10.0 * static_cast<double>(i);
        out[k][i] = std::exp(-0.5 * std::pow((nm - centres[k]) / 45.0, 2));
      }
    }
    return out;
  }();
  double m[3][3];
  for (int k = 0; k < 3; ++k) {
    const auto c = d50Colour(bands[k]);
    for (int row = 0; row < 3; ++row) m[row][k] = c[row];
  }
  const double d = det3(m);
  Reflectance r{};
  r.fill(0.0);
  // Solve for the weights, clamp to the physical range, and solve again for what is left.
  for (int pass = 0; pass < 20; ++pass) {
    const auto now = d50Colour(r);
    const double want[3] = {target.X - now[0], target.Y - now[1], target.Z - now[2]};
    double w[3];
    for (int k = 0; k < 3; ++k) {  // Cramer's rule on the 3×3 system
      double mk[3][3];
      for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) mk[row][col] = col == k ? want[row] : m[row][col];
      }
      w[k] = det3(mk) / d;
    }
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      double v = r[i];
      for (int k = 0; k < 3; ++k) v += w[k] * bands[k][i];
      r[i] = std::clamp(v, 0.005, 0.995);
    }
  }
  return r;
}

const std::vector<Sample>& munsellSamples() {
  static const std::vector<Sample> samples = [] {
    std::vector<Sample> out;
    for (const auto& c : munsellChips()) out.push_back(sampleOf(c.name, c.L, c.a, c.b));
    return out;
  }();
  return samples;
}

const std::vector<Sample>& paintGamutGrid() {
  static const std::vector<Sample> samples = [] {
    const auto hueOf = [](double a, double b) {
      const double h = std::atan2(b, a) * 180.0 / std::numbers::pi;
      return h < 0 ? h + 360.0 : h;
    };
    const auto hueDistance = [](double h1, double h2) {
      const double d = std::abs(h1 - h2);
      return std::min(d, 360.0 - d);
    };
    std::vector<Sample> out;
    for (int L = 20; L <= 90; L += 10) {
      for (int a = -60; a <= 60; a += 10) {
        for (int b = -60; b <= 60; b += 10) {
          const double chroma = std::hypot(a, b);
          const double hue = hueOf(a, b);
          // The largest chroma of the chips within 7.5 of lightness and 15° of hue.
          double reach = 0;
          for (const auto& c : munsellChips()) {
            if (std::abs(c.L - L) > 7.5) continue;
            const double cc = std::hypot(c.a, c.b);
            if (cc > 1e-9 && hueDistance(hueOf(c.a, c.b), hue) > 15.0) continue;
            reach = std::max(reach, cc);
          }
          if (chroma > 0.8 * reach) continue;
          out.push_back(sampleOf(
              "L" + std::to_string(L) + " a" + std::to_string(a) + " b" + std::to_string(b), L, a,
              b));
        }
      }
    }
    return out;
  }();
  return samples;
}

}  // namespace hcf_cloud::fixtures
