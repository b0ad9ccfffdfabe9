// A world to test an application's measuring code in, without an instrument or an account: the
// reference cloud on loopback (logins, calibration records, alignment documents, spectrometer
// model packages, product catalogues and the online search) and simulated instruments on a
// simulated radio, each answering as its sensor does for the sample placed in front of it.
//
// Link `hcf::testing` (package libhcf-testing-dev), then:
//
//     hcf::testing::TestKit world;
//     auto& orla = world.addColorimeter("4.0");
//     orla.placeSample(hcf::HCFLabColor::labColorWithL(52, 10, -30, hcf::HCFIlluminant::D50));
//     hcf::HCFCentral::configure(world.configuration());
//     hcf::HCFCentral::initWith(world.sdkKey(), ...);
//
// From then on the kit discovers, connects, calibrates and measures the simulated instruments
// and downloads and searches the world's catalogue exactly as it would real ones.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hcf/color/lab_color.h"
#include "hcf/kit/hcf_central.h"
#include "hcf/platform/ble/sim.h"

/// Marks the test kit's exported names (libhcf-testing).
#define HCF_TESTING_API __attribute__((visibility("default")))

HCF_NAMESPACE_BEGIN

/// \namespace hcf::testing
/// The test kit: the reference cloud and simulated instruments for an application's tests.
namespace testing {

/// One simulated instrument in range of the test kit's radio. Owned by its `TestKit`; valid
/// while the kit lives. Not thread-safe: use it on the thread that drives the main queue.
class HCF_TESTING_API SimulatedInstrument {
 public:
  virtual ~SimulatedInstrument();

  /// The name it advertises ("ColorOrla-…", "Tintra" or "Irisel-…").
  virtual std::string name() const = 0;
  /// Twelve upper-case hexadecimal digits, as the kit reports it once connected.
  virtual const std::string& serial() const = 0;
  /// The hardware version of a colorimeter (see `TestKit::colorimeterModels()`); "Irisel S1"
  /// for the spectrometer.
  virtual const std::string& model() const = 0;
  /// True for the spectrometer.
  virtual bool isSpectrometer() const = 0;

  /// Puts a sample of this colour (CIELAB under D50, 2°) in front of the instrument: its next
  /// readings answer it as its sensor would.
  virtual void placeSample(const HCFLabColor& labD50) = 0;
  /// Puts the instrument's white tile in front of it, for a white calibration (a colorimeter
  /// starts on its tile; the spectrometer calibrates on whatever it sees).
  virtual void presentWhiteTile() = 0;
  /// Gaussian noise of this many counts on every later reading (0, the default: none).
  virtual void setNoise(double counts) = 0;
  /// Presses the instrument's button: a connected kit reports `buttonPressed`.
  virtual void pressButton() = 0;

  /// Whether it advertises (in range and switched on); out of range it cannot be found or
  /// connected again, and a connection ends when `device().disconnect()` is called.
  void setInRange(bool inRange);
  /// The signal strength it is seen with, dBm.
  void setSignalStrength(int rssi);
  /// The radio device, for faults (`ble::sim::Fault`), latencies and disconnections.
  virtual ble::sim::Device& device() = 0;

 protected:
  SimulatedInstrument() = default;
};

/// The world: the reference cloud on a free loopback port, a simulated radio with no
/// instruments until they are added, and a private data directory for the kit.
///
/// One at a time per process (the kit is process-wide), and one started kit per process: the
/// kit starts once, and a later start keeps the managers made for the first world. Run each
/// test that starts the kit in a process of its own (`gtest_discover_tests` in CMake does, as
/// does `--gtest_filter` per test). `configuration()` points the kit at
/// the world; nothing else of the kit's settings changes. The main queue keeps its clock: tests
/// may reset it to a `dispatch::ManualClock` and let simulated time pass, or drive it in real
/// time (the simulated radio answers within tens of milliseconds).
class HCF_TESTING_API TestKit {
 public:
  /// How to set the world up.
  struct Options {
    /// The kit's data directory; empty: a fresh temporary folder, removed with the world.
    std::filesystem::path dataDirectory;
    /// Products of the catalogue published at start (0: none; see `publishCatalog`).
    std::size_t catalogProducts = 0;
  };

  /// Starts the reference cloud and makes the radio. Throws std::runtime_error when no
  /// loopback port can be bound or the temporary folder cannot be made.
  TestKit();
  /// The same, set up as `options` says; throws as above, and when the given data directory
  /// cannot be made (std::filesystem::filesystem_error).
  explicit TestKit(const Options& options);
  /// Stops the cloud, takes the radio's instruments out of range and detaches the kit's
  /// Bluetooth backend from the world; removes the temporary data directory.
  ~TestKit();
  TestKit(const TestKit&) = delete;
  TestKit& operator=(const TestKit&) = delete;

  /// The settings that point the kit at this world: its data directory, the cloud's
  /// endpoints and the simulated radio. Pass to `HCFCentral::configure` before start-up.
  HCFConfiguration configuration() const;
  /// The SDK key the world's cloud accepts.
  std::string sdkKey() const;
  /// "http://127.0.0.1:<port>".
  std::string cloudUrl() const;
  /// The kit's data directory.
  const std::filesystem::path& dataDirectory() const;

  /// The hardware versions a colorimeter may have: "1.0", "1.1", "1.3", "2.0", "2.1", "3.0",
  /// "3.01.00", "3.01.02" and "4.0" (the ColorOrla).
  static std::vector<std::string> colorimeterModels();
  /// Adds a colorimeter of `model` (see `colorimeterModels()`; "4.0" is the ColorOrla), in
  /// range at `rssi` dBm, its calibration record in the cloud. One per model.
  /// Throws std::invalid_argument for an unknown or already added model.
  SimulatedInstrument& addColorimeter(const std::string& model = "4.0", int rssi = -50);
  /// Adds the spectrometer, in range at `rssi` dBm, its model package in the cloud. One per
  /// world (std::invalid_argument for a second).
  SimulatedInstrument& addSpectrometer(int rssi = -60);
  /// The instruments added, in order.
  std::vector<SimulatedInstrument*> instruments();

  /// Publishes a product catalogue of `products` generated products (at least 1) for the
  /// world's package: the kit can then download it, and the online search answers from it.
  void publishCatalog(std::size_t products);

  /// The cloud answers requests for `path` (for example "/cas/sdk/auth") with the HTTP
  /// `status` the next `times` times (−1: until cleared).
  void failCloudRequests(const std::string& path, int status, int times = -1);
  /// The cloud answers normally again.
  void clearCloudFaults();

  /// The simulated radio itself: its state (`setRadioState`) and every device.
  ble::sim::World& radio();

 private:
  void removeFolders();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing

HCF_NAMESPACE_END
