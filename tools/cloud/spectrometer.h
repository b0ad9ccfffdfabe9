// Simulated Irisel spectrometers and the model packages made for each of them at the factory.
//
// An instrument sees a sample's reflectance (31 samples, 400 to 700 nm every 10 nm) through 32
// overlapping bands under its own light; each band has its own gain and dark level, and the
// result is reported as 16-bit fractions of full scale. The factory fits a chain that undoes
// this: "vectorNormalization" takes out the dark level and divides by the white tile's signal,
// "spectralInverse" is the Wiener estimate of the reflectance from the normalised bands (a
// smoothness prior over the 31 samples), and "reflectanceClamp" cuts negative values.
#pragma once

#include <hcf/core/bytes.h>

#include <array>
#include <string>
#include <vector>

namespace hcf_cloud::fixtures {

inline constexpr std::size_t kSpectroBands = 32;
inline constexpr std::size_t kCurveSamples = 31;
using Reflectance = std::array<double, kCurveSamples>;
using BandResponse = std::array<double, kSpectroBands>;

/// One simulated spectrometer (its optics vary a little with the serial).
struct SpectrometerModel {
  std::array<std::array<double, kCurveSamples>, kSpectroBands> bands{};  ///< signal per sample
  BandResponse dark{};                                                   ///< dark level

  /// The reported response to a sample, each value a multiple of 1/65535 in [0, 1], as the
  /// instrument's link decodes it (single precision).
  BandResponse response(const Reflectance& reflectance) const;
  /// The 64-byte notification carrying `response(reflectance)` (big-endian 16-bit values).
  hcf::Bytes payload(const Reflectance& reflectance) const;
};

SpectrometerModel spectrometerFor(const std::string& serial);

/// What a fixture package holds.
enum class PackageKind {
  ThreeModels,   ///< normalisation, inverse, clamp
  TwoModels,     ///< normalisation, inverse with the clamp inside
  OneModel,      ///< the whole chain in one model
  NoOrder,       ///< an older package: no "ann_order", one file "vectorNormalization"
  MissingModel,  ///< "ann_order" names a model the archive lacks
  Unsupported,   ///< the inverse uses an operator the kit does not run (Conv)
  ZipSlip,       ///< an entry "../<serial>-escaped.txt" besides a good chain
  NotAZip,       ///< bytes that are no archive
};

/// The model-package archive of `serial`.
hcf::Bytes modelPackage(const std::string& serial, PackageKind kind);
/// The names of the chain of a package of `kind`, in order.
std::vector<std::string> packageChain(PackageKind kind);
/// The "model" and "batch" of every fixture package's "info.json".
inline constexpr const char* kSpectroModel = "Irisel S1";
inline constexpr const char* kSpectroBatch = "3";

/// Reference spectrometers served by the reference cloud, one per kind.
std::string iriselSerial(PackageKind kind);
const std::vector<PackageKind>& packageKinds();

/// Smooth sample reflectances for checks: a grey ramp, reds, greens, blues and yellows.
const std::vector<Reflectance>& sampleReflectances();

}  // namespace hcf_cloud::fixtures
