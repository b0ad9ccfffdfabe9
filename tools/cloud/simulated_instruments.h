// The fixture instruments on the simulated radio: each answers as its own sensor model says
// for the sample put in front of it, and its serial, model and calibration (record or model
// package) are the ones the reference cloud holds for it.
#pragma once

#include <hcf/hcf.h>

#include <memory>
#include <random>
#include <string>

#include "fixtures.h"
#include "sample_spectra.h"
#include "spectrometer.h"

namespace hcf_cloud::fixtures {

/// The six bytes of a twelve-digit hexadecimal serial.
std::array<std::uint8_t, 6> serialBytes(const std::string& serial);

/// A colorimeter of the reference world.
class SimulatedColorimeter {
 public:
  /// The reference instrument of `tintraModel` ("4.0": the ColorOrla of `orlaBatch`).
  SimulatedColorimeter(hcf::ble::sim::World& world, const std::string& tintraModel,
                       int orlaBatch = 95);

  /// The next scans answer the counts of a sample (XYZ under D50, white Y = 100: its smooth
  /// spectrum).
  void measure(const hcf::XYZTriple& xyzD50);
  /// The next scans answer the counts of a sample of this reflectance (above 1 where it
  /// fluoresces).
  void measure(const Reflectance& reflectance);
  /// The next scans answer the instrument's white tile.
  void presentWhiteTile();
  /// Gaussian noise of this many counts on every later reading (0: none).
  void setNoise(double counts) { noise_ = counts; }
  /// Later samples give back `factor` times the light they reflect (a fluorescent sample; 1:
  /// none), so that bright ones drive the counts to full scale.
  void setFluorescence(double factor) { fluorescence_ = factor; }

  hcf::ble::sim::Colorimeter& radio() { return *radio_; }
  const std::string& serial() const { return serial_; }
  const std::string& model() const { return sensor_.tintraModel; }
  const SensorModel& sensor() const { return sensor_; }

 private:
  std::shared_ptr<hcf::ble::sim::Colorimeter> radio_;
  SensorModel sensor_;
  std::string serial_;
  double noise_ = 0;
  double fluorescence_ = 1;
  std::mt19937 rng_{20261208};
};

/// A spectrometer of the reference world (by default the one with the three-model package).
class SimulatedSpectrometer {
 public:
  explicit SimulatedSpectrometer(hcf::ble::sim::World& world,
                                 PackageKind kind = PackageKind::ThreeModels);

  /// The next scans answer this sample's response.
  void measure(const Reflectance& reflectance);
  /// Gaussian noise of this many counts (of 65535) on every later response (0: none).
  void setNoise(double counts) { noise_ = counts; }
  /// Later samples give back `factor` times the light they reflect (1: none).
  void setFluorescence(double factor) { fluorescence_ = factor; }

  hcf::ble::sim::Spectrometer& radio() { return *radio_; }
  const std::string& serial() const { return serial_; }
  const SpectrometerModel& optics() const { return optics_; }

 private:
  std::shared_ptr<hcf::ble::sim::Spectrometer> radio_;
  SpectrometerModel optics_;
  std::string serial_;
  double noise_ = 0;
  double fluorescence_ = 1;
  std::mt19937 rng_{20261208};
};

/// The instruments of the demo in range of a simulated radio: a ColorOrla at -48 dBm and a
/// Tintra 3.0 at -71 dBm, both advertising a single click, and an Irisel spectrometer at -59 dBm.
struct DemoInstruments {
  explicit DemoInstruments(hcf::ble::sim::World& world);
  SimulatedColorimeter orla;
  SimulatedColorimeter tintra;
  SimulatedSpectrometer irisel;
};

/// The kit's Bluetooth backend on `world`: its central managers, none once the world is gone.
hcf::ble::CentralFactory centralFactoryFor(const std::shared_ptr<hcf::ble::sim::World>& world);

}  // namespace hcf_cloud::fixtures
