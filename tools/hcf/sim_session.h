// The simulated world the demo and the --sim commands run in: the reference cloud on loopback
// with the generated fixtures, a temporary data directory, simulated instruments in range, and
// the kit configured on them. Simulated time: the main queue runs on a manual clock that jumps
// over idle time, so windows of seconds pass at once (network answers are still waited for).
#pragma once

#include <hcf/hcf.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "cloud_world.h"
#include "simulated_instruments.h"

namespace hcf_tool {

class SimSession {
 public:
  SimSession();
  ~SimSession();
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  /// Publishes a product catalogue of `count` products on the reference cloud (built now).
  void publishCatalog(std::size_t count);
  /// Starts the kit with the demo SDK key; the error text, or empty.
  std::string startKit();
  /// Drives the main queue until `done` or until `limit` of simulated time has passed.
  bool runUntil(const std::function<bool()>& done,
                hcf::dispatch::Duration limit = std::chrono::seconds(60));
  /// Lets `duration` of simulated time pass.
  void pass(hcf::dispatch::Duration duration);

  const std::string& cloudUrl() const { return url_; }
  const std::filesystem::path& dataDirectory() const { return dir_; }
  hcf_cloud::fixtures::SimulatedColorimeter& orla() { return *orla_; }
  hcf_cloud::fixtures::SimulatedColorimeter& tintra() { return *tintra_; }
  hcf_cloud::fixtures::SimulatedSpectrometer& irisel() { return *irisel_; }

 private:
  std::filesystem::path dir_;
  std::shared_ptr<hcf_cloud::CloudWorld> world_;
  std::unique_ptr<hcf_cloud::CloudServer> server_;
  std::string url_;
  std::shared_ptr<hcf::ble::sim::World> radio_;
  std::unique_ptr<hcf_cloud::fixtures::SimulatedColorimeter> orla_;
  std::unique_ptr<hcf_cloud::fixtures::SimulatedColorimeter> tintra_;
  std::unique_ptr<hcf_cloud::fixtures::SimulatedSpectrometer> irisel_;
};

}  // namespace hcf_tool
