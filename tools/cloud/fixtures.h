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

/// A synthetic colorimeter: channel counts of a sample, before the instrument's dark level.
struct SensorModel {
  std::string tintraModel;
  bool mb24 = false;                    ///< counts follow the 24-patch non-linear correction
  hcf::Matrix3x3 mixing{};              ///< channel response to XYZ in the instrument's light
  double nonlinearity = 0;              ///< linear instruments: small quadratic response
  std::array<double, 3> whiteCounts{};  ///< MB24: the counts of the white patch
  std::array<double, 3> black{};        ///< dark counts added to a raw reading

  /// The black-free counts of a sample given as XYZ under D50 (white Y = 100).
  std::array<double, 3> signal(const hcf::XYZTriple& xyzD50) const;
  /// What the instrument reports: signal plus dark level, rounded to 16-bit counts.
  std::array<std::uint16_t, 3> rawCounts(const hcf::XYZTriple& xyzD50) const;
};

/// The sensor of an instrument of `tintraModel`; `mb24` for one calibrated on the 24-patch set.
SensorModel sensorFor(const std::string& tintraModel, bool mb24);

enum class Adjustment { None, Table, Network };

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
/// "priorities" with 95 first.
std::string alignmentDocument(int sourceBatch);

}  // namespace hcf_cloud::fixtures

namespace hcf_cloud {
class CloudWorld;
namespace fixtures {
/// Fills `world` with the reference world.
void populate(CloudWorld& world);
}  // namespace fixtures
}  // namespace hcf_cloud
