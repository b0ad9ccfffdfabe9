#include "simulated_instruments.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace hcf_cloud::fixtures {

std::array<std::uint8_t, 6> serialBytes(const std::string& serial) {
  if (serial.size() != 12) throw std::invalid_argument("a serial has twelve hexadecimal digits");
  std::array<std::uint8_t, 6> bytes{};
  for (std::size_t i = 0; i < 6; ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoul(serial.substr(2 * i, 2), nullptr, 16));
  }
  return bytes;
}

SimulatedColorimeter::SimulatedColorimeter(hcf::ble::sim::World& world,
                                           const std::string& tintraModel, int orlaBatch)
    : sensor_(sensorFor(tintraModel, tintraModel == "3.01.02" || tintraModel == "4.0")),
      serial_(tintraModel == "4.0" ? orlaSerial(orlaBatch) : serialFor(tintraModel)) {
  hcf::ble::sim::ColorimeterOptions options;
  options.name = tintraModel == "4.0" ? std::optional<std::string>("ColorOrla-" + serial_)
                                      : std::optional<std::string>("Tintra");
  radio_ = hcf::ble::sim::Colorimeter::create(world, options);
  radio_->setSerialBytes(serialBytes(serial_));
  radio_->setVersion(2, 10);
  presentWhiteTile();
}

void SimulatedColorimeter::measure(const hcf::XYZTriple& xyzD50) {
  auto counts = sensor_.rawCounts(xyzD50);
  if (noise_ > 0) {
    std::normal_distribution<double> n(0.0, noise_);
    for (auto& c : counts) c = static_cast<std::uint16_t>(std::clamp(c + n(rng_), 0.0, 65535.0));
  }
  radio_->setScanCounts(counts[0], counts[1], counts[2]);
}

void SimulatedColorimeter::presentWhiteTile() {
  // The white tile is the chart's white patch, as at the factory.
  measure(colorCheckerXYZD50()[18]);
}

SimulatedSpectrometer::SimulatedSpectrometer(hcf::ble::sim::World& world, PackageKind kind)
    : optics_(spectrometerFor(iriselSerial(kind))), serial_(iriselSerial(kind)) {
  hcf::ble::sim::SpectrometerOptions options;
  options.name = "Irisel-" + serial_;
  radio_ = hcf::ble::sim::Spectrometer::create(world, options);
  radio_->setSerialBytes(serialBytes(serial_));
  radio_->setVersion(1, 4);
}

void SimulatedSpectrometer::measure(const Reflectance& reflectance) {
  const auto response = optics_.response(reflectance);
  std::array<std::uint16_t, 32> counts{};
  std::normal_distribution<double> n(0.0, noise_ > 0 ? noise_ : 1.0);
  for (std::size_t b = 0; b < counts.size(); ++b) {
    double c = std::round(response[b] * 65535.0);
    if (noise_ > 0) c = std::round(c + n(rng_));
    counts[b] = static_cast<std::uint16_t>(std::clamp(c, 0.0, 65535.0));
  }
  radio_->setResponseCounts(counts);
}

Reflectance reflectanceForLab(const hcf::HCFLabColor& labD50) {
  const hcf::HCFXYZColor target = labD50.XYZColor();
  // XYZ is linear in the samples: the colour of each unit sample (computed once).
  static const auto unit = [] {
    std::array<std::array<double, 3>, kCurveSamples> u{};
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      std::array<double, kCurveSamples> e{};
      e[i] = 1.0;
      const auto xyz = hcf::HCFCieSpectralMath::xyzFromSpectrum(e, 400, hcf::HCFIlluminant::D50,
                                                                hcf::HCFStdObserver::TwoDegree);
      u[i] = {xyz->X, xyz->Y, xyz->Z};
    }
    return u;
  }();
  const auto colourOf = [&](const Reflectance& r) {
    std::array<double, 3> c{};
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      for (int k = 0; k < 3; ++k) c[k] += unit[i][k] * r[i];
    }
    return c;
  };
  // Three broad bands (blue, green, red) over a flat base: R = base + Σ w_k·band_k.
  std::array<Reflectance, 3> bands{};
  const double centres[3] = {450, 545, 640};
  for (int k = 0; k < 3; ++k) {
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      const double nm = 400.0 + 10.0 * static_cast<double>(i);
      bands[k][i] = std::exp(-0.5 * std::pow((nm - centres[k]) / 45.0, 2));
    }
  }
  Reflectance r{};
  r.fill(0.0);
  // Solve for the weights, clamp to the physical range, and solve again for what is left.
  for (int pass = 0; pass < 20; ++pass) {
    const auto now = colourOf(r);
    const double want[3] = {target.X - now[0], target.Y - now[1], target.Z - now[2]};
    double m[3][3];
    for (int k = 0; k < 3; ++k) {
      const auto c = colourOf(bands[k]);
      for (int row = 0; row < 3; ++row) m[row][k] = c[row];
    }
    // Cramer's rule on the 3×3 system.
    const auto det = [](const double a[3][3]) {
      return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
             a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
             a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    double w[3];
    for (int k = 0; k < 3; ++k) {
      double mk[3][3];
      for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) mk[row][col] = col == k ? want[row] : m[row][col];
      }
      w[k] = det(mk) / d;
    }
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      double v = r[i];
      for (int k = 0; k < 3; ++k) v += w[k] * bands[k][i];
      r[i] = std::clamp(v, 0.005, 0.995);
    }
  }
  return r;
}

DemoInstruments::DemoInstruments(hcf::ble::sim::World& world)
    : orla(world, "4.0"), tintra(world, "3.0"), irisel(world) {
  orla.radio().device().setRSSI(-48);
  orla.radio().advertiseClick(true);
  tintra.radio().device().setRSSI(-71);
  tintra.radio().advertiseClick(true);
  irisel.radio().device().setRSSI(-59);
}

hcf::ble::CentralFactory centralFactoryFor(const std::shared_ptr<hcf::ble::sim::World>& world) {
  std::weak_ptr<hcf::ble::sim::World> weak = world;
  return [weak](std::weak_ptr<hcf::ble::CentralManagerDelegate> delegate) {
    auto w = weak.lock();
    return w ? w->makeCentralManager(std::move(delegate)) : nullptr;
  };
}

}  // namespace hcf_cloud::fixtures
