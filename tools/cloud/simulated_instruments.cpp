#include "simulated_instruments.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "sample_spectra.h"

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
    : sensor_(sensorFor(tintraModel, tintraModel == "3.01.02" || tintraModel == "4.0",
                        tintraModel == "4.0" ? orlaBatch : 7)),
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
  measure(reflectanceForLab(
      hcf::HCFXYZColor::XYZColorWithX(xyzD50.X, xyzD50.Y, xyzD50.Z, hcf::HCFIlluminant::D50)
          .toLab()));
}

void SimulatedColorimeter::measure(const Reflectance& reflectance) {
  // Noise joins the signal before the counts are rounded and limited to full scale.
  Reflectance seen = reflectance;
  for (auto& v : seen) v *= fluorescence_;
  auto signal = sensor_.signal(seen);
  std::array<double, 3> level{};
  for (int i = 0; i < 3; ++i) {
    level[i] = signal[i] + sensor_.black[i];
    if (noise_ > 0) level[i] += std::normal_distribution<double>(0.0, noise_)(rng_);
  }
  std::array<std::uint16_t, 3> counts{};
  for (int i = 0; i < 3; ++i) {
    const double c = std::round(level[i]);
    counts[i] =
        static_cast<std::uint16_t>(std::clamp(std::isfinite(c) ? c : 65535.0, 0.0, 65535.0));
  }
  radio_->setScanCounts(counts[0], counts[1], counts[2]);
}

void SimulatedColorimeter::presentWhiteTile() {
  // The white tile is the chart's white patch, as at the factory (and does not fluoresce).
  const double fluorescence = fluorescence_;
  fluorescence_ = 1;
  measure(whiteTile());
  fluorescence_ = fluorescence;
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
  Reflectance seen = reflectance;
  for (auto& v : seen) v *= fluorescence_;
  const auto response = optics_.response(seen);
  std::array<std::uint16_t, 32> counts{};
  std::normal_distribution<double> n(0.0, noise_ > 0 ? noise_ : 1.0);
  for (std::size_t b = 0; b < counts.size(); ++b) {
    double c = std::round(response[b] * 65535.0);
    if (noise_ > 0) c = std::round(c + n(rng_));
    counts[b] = static_cast<std::uint16_t>(std::clamp(c, 0.0, 65535.0));
  }
  radio_->setResponseCounts(counts);
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
