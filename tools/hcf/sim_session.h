// The world the demo and the instrument commands run in: the reference cloud on loopback with
// the generated fixtures, a private temporary data directory (TempFolder "hcf-demo"), and the kit
// configured on a radio. Simulated radio: simulated instruments in range and simulated time (the
// main queue runs on a manual clock that jumps over idle time, so windows of seconds pass at once;
// network answers are still waited for). BlueZ: the instruments bluetoothd sees, in real time, and
// the cloud of HCF_CLOUD_URL with the key of HCF_SDK_KEY when set (the reference cloud otherwise).
#pragma once

#include <hcf/hcf.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "reference_cloud.h"
#include "simulated_instruments.h"
#include "temp_folder.h"

namespace hcf_tool {

/// The Bluetooth backend of a session.
enum class Radio { Simulated, Bluez };

/// How a session is set up beyond its radio.
struct SessionOptions {
  Radio radio = Radio::Simulated;
  /// The Bluetooth adapter of a BlueZ session ("hci1"; empty: the first).
  std::string adapter;
  /// Simulated instruments on the main queue's real clock, for a session that people use as it
  /// runs (a server); otherwise simulated time jumps over idle time.
  bool realTime = false;
  /// The kit's data directory (created when missing); empty: the session's temporary folder.
  std::filesystem::path dataDirectory;
};

class SimSession {
 public:
  /// `adapter` names the Bluetooth adapter of a BlueZ session ("hci1"; empty: the first).
  explicit SimSession(Radio radio = Radio::Simulated, const std::string& adapter = {});
  explicit SimSession(const SessionOptions& options);
  ~SimSession();
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  /// Publishes a product catalogue of `count` products on the reference cloud (built now).
  void publishCatalog(std::size_t count);
  /// The reference cloud sends the catalogue's archive over `duration`, in pieces, as a slow
  /// network would: a download's progress can be watched.
  void slowCatalogDownload(std::chrono::milliseconds duration);
  /// Starts the kit with the session's SDK key; the error text, or empty. Raises UsageError
  /// when HCF_CLOUD_URL names the cloud but HCF_SDK_KEY gives no key.
  std::string startKit();
  /// Starts the kit without waiting: `done` hears the outcome (the error, or none) wherever the
  /// kit answers. Raises UsageError as `startKit` does.
  void startKit(std::function<void(std::optional<hcf::HCFError>)> done);
  /// Drives the main queue until `done` or until `limit` of simulated time has passed.
  bool runUntil(const std::function<bool()>& done,
                hcf::dispatch::Duration limit = std::chrono::seconds(60));
  /// Lets `duration` of simulated time pass.
  void pass(hcf::dispatch::Duration duration);

  /// True on the simulated radio, whose instruments the session holds.
  bool simulated() const { return radio_ != nullptr; }
  /// True when the main queue runs on the real clock.
  bool realTime() const { return realTime_; }
  const std::string& cloudUrl() const { return url_; }
  const std::filesystem::path& dataDirectory() const { return dir_; }
  /// Simulated radio: puts a sample of `labD50` (CIELAB D50, 2°) in front of the instrument of
  /// `serial`, shows it its white tile, or presses its button. False for a serial that is none
  /// of the session's instruments (and on a real radio).
  bool place(const std::string& serial, const hcf::HCFLabColor& labD50);
  bool presentWhiteTile(const std::string& serial);
  bool pressButton(const std::string& serial);
  hcf_cloud::fixtures::SimulatedColorimeter& orla() { return instruments_->orla; }
  hcf_cloud::fixtures::SimulatedColorimeter& tintra() { return instruments_->tintra; }
  hcf_cloud::fixtures::SimulatedSpectrometer& irisel() { return instruments_->irisel; }

 private:
  hcf_cloud::fixtures::SimulatedColorimeter* colorimeter(const std::string& serial);

  TempFolder folder_;  // first: removed after everything that uses it
  std::filesystem::path dir_;
  bool realTime_ = false;
  std::unique_ptr<hcf_cloud::ReferenceCloud> cloud_;
  std::string url_;
  std::string sdkKey_;
  std::shared_ptr<hcf::ble::sim::World> radio_;
  std::unique_ptr<hcf_cloud::fixtures::DemoInstruments> instruments_;
};

}  // namespace hcf_tool
