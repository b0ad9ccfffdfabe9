// The fixture builder: a consistent simulated world. Synthetic colorimeters (a sensor model per
// hardware version) are "calibrated at the factory" on the colour-checker chart, which gives
// their calibration records; a simulated instrument measuring a known sample then returns that
// sample's colour through the kit's real calibration path.
#pragma once

#include <hcf/hcf.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "spectrometer.h"

namespace hcf_cloud::fixtures {

/// Every hardware version the kit acts on.
const std::vector<std::string>& hardwareVersions();
/// The model text of the multi-channel instruments.
inline constexpr const char* kMultiChannelModel = "Version that uses > 3 sense";

/// The 24 colour-checker patches as XYZ under D50 (white Y = 100), chart order.
const std::vector<hcf::XYZTriple>& colorCheckerXYZD50();
/// A colour-checker patch: its name and CIELAB (D50, 2°).
struct ChartPatch {
  std::string name;
  double L = 0, a = 0, b = 0;
};
/// The 24 colour-checker patches, chart order.
const std::vector<ChartPatch>& colorCheckerPatches();
/// 27 further colours (a CIELAB grid), XYZ under D50, for the 51-colour set of model "1.1".
const std::vector<hcf::XYZTriple>& gridXYZD50();

/// A simulated colorimeter's optics and electronics. Each channel sees the sample's
/// reflectance through its own filter and photodiode under the instrument's LED (filters that,
/// like real ones, are not a linear combination of the colour-matching functions); the signal
/// is scaled by the channel's gain to counts, the dark level is added and the result is
/// rounded to 16 bits, saturating at full scale (65535). Instruments calibrated on the 24-patch
/// set have the non-linear photodiode response their firmware's correction was made for.
struct SensorModel {
  std::string tintraModel;
  bool mb24 = false;                     ///< the 24-patch set's non-linear response
  std::array<Reflectance, 3> channel{};  ///< filter × photodiode × LED per 10 nm, 400–700 nm
  std::array<double, 3> whiteCounts{};   ///< signal counts of the white tile (the gains)
  std::array<double, 3> black{};         ///< dark counts added to a raw reading
  double nonlinearity = 0;               ///< linear instruments: small quadratic response
  double noise = 0;                      ///< typical read noise of the version, counts (σ)

  /// The channel signals relative to the white tile's (the white tile reads 1, 1, 1).
  std::array<double, 3> relative(const Reflectance& reflectance) const;
  /// The dark-free counts of a sample (not rounded, not limited to full scale).
  std::array<double, 3> signal(const Reflectance& reflectance) const;
  /// The same for a sample given as XYZ under D50 (white Y = 100): its smooth spectrum.
  std::array<double, 3> signal(const hcf::XYZTriple& xyzD50) const;
  /// What the instrument reports: signal plus dark level, rounded to 16-bit counts.
  std::array<std::uint16_t, 3> rawCounts(const Reflectance& reflectance) const;
  std::array<std::uint16_t, 3> rawCounts(const hcf::XYZTriple& xyzD50) const;
};

/// The sensor of an instrument of `tintraModel` from production batch `batch` (instruments of
/// one version differ a little from batch to batch); `mb24` for one calibrated on the 24-patch
/// set.
SensorModel sensorFor(const std::string& tintraModel, bool mb24, int batch = 7);

/// The white tile every instrument is calibrated on: the chart's white patch.
const Reflectance& whiteTile();
/// The chart's patches as the smooth spectra of their colours, chart order.
const std::vector<Reflectance>& colorCheckerReflectances();

/// The batch correction a record carries: none, the factory's table of residuals at the
/// reference colours, the factory's fitted network, or a network of fixed offsets ((0.4, −0.3,
/// 0.2) in L, a, b at 2°, (0.6, −0.5, 0.1) at 10°) whose effect a test can predict exactly.
enum class Adjustment { None, Table, Network, OffsetNetwork };

struct RecordOptions {
  std::string serial = "00A1B2C3D4E5";
  std::string tintraModel = "2.1";
  bool mb24 = false;
  std::int32_t batchNumber = 7;
  Adjustment adjustment = Adjustment::None;
  /// Adds older and competing calibrations (lower and equal priorities, priority 0) and a
  /// textured adjustment method of higher priority that must not be chosen.
  bool competingEntries = false;
};

/// A calibration record as the factory writes it for an instrument with `sensorFor(model)`.
hcf::TintraDevice makeRecord(const RecordOptions& options);

/// A network document that corrects by fixed offsets per observer (hidden layer included).
std::string offsetNetworkDocument(const std::array<double, 3>& offset2,
                                  const std::array<double, 3>& offset10);

// ---- the reference world of the cloud -------------------------------------------------------

inline constexpr const char* kDemoSdkKey = "demo-sdk-key";
inline constexpr const char* kDemoDeviceKey = "b2-demo-device-key";
inline constexpr const char* kDemoPackageID = "demo-package";

/// The serial of the reference instrument of a hardware version (twelve hexadecimal digits).
std::string serialFor(const std::string& tintraModel);
/// The serial of the reference ColorOrla of a production batch.
std::string orlaSerial(int batch);
/// ColorOrla batches with alignment documents; 95 is the reference batch.
const std::vector<int>& orlaBatches();
/// A serial whose record has no calibration in force; one whose calibration has no adjustment
/// method; a ColorOrla of a batch without an alignment document.
inline constexpr const char* kUncalibratedSerial = "00DEAD000001";
inline constexpr const char* kUnbatchedSerial = "00DEAD000002";
inline constexpr const char* kOrphanOrlaSerial = "00C0FFEE4099";

/// The alignment document of a source batch: "uANN" to every other batch, "aANN" for 95,
/// "priorities" with 95 first. The networks are fitted to the batches' chart readings.
std::string alignmentDocument(int sourceBatch);
/// The same document with networks of fixed offsets, whose effect a test can predict: the
/// unifying network from batch b to t adds 0.05·(t − b) to L (−half to a, a third to b);
/// batch 95's adjustment adds (0.1, 0.1, −0.1) at 2° and (0.2, 0.1, −0.1) at 10°.
std::string offsetAlignmentDocument(int sourceBatch);

}  // namespace hcf_cloud::fixtures

namespace hcf_cloud {
class CloudWorld;
namespace fixtures {
/// Fills `world` with the reference world.
void populate(CloudWorld& world);
}  // namespace fixtures
}  // namespace hcf_cloud
