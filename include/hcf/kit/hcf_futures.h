// Waiting forms of the kit's common operations, for code that runs on a worker thread: each
// hands its operation to the main queue and returns a future that the operation's completion
// fulfils.
//
// Wait on these futures from any thread except the one that drives the main queue (the one in
// `mainQueue().run()`, the application's event loop calling `runDue()`, ...): that thread would
// wait for work only it can do, and the future would never become ready. A typical program
// drives the main queue on its main thread (or in its GLib or Qt loop) and runs its measuring
// sequence on a worker:
//
//     std::thread worker([] {
//       auto started = hcf::HCFFutures::start(key).get();
//       auto found = hcf::HCFFutures::discover().get();
//       auto instrument = hcf::HCFFutures::connect(found->front().peripheral).get();
//       ...
//     });
//     hcf::dispatch::mainQueue().run();
//
// Every future becomes ready exactly once, also when the operation fails or its instrument goes
// away. The completion forms stay the primary interface; these only wait for them.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/connect/hperipheral_wrssi.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/core/result.h"
#include "hcf/instrument/hcf_color_instrument.h"
#include "hcf/products/hcf_product_search.h"
#include "hcf/products/hcf_product_search_result.h"

HCF_NAMESPACE_BEGIN

/// The kit's common operations as futures (see the file's notes on threads).
class HCF_API HCFFutures {
 public:
  HCFFutures() = delete;

  /// `HCFCentral::initWith`: none when the kit started (also offline), else its error.
  static std::future<std::optional<HCFError>> start(const std::string& sdkKey);
  /// One discovery pass of the kit's connection manager: the instruments in range, strongest
  /// first (empty when none answered). Waits up to 3 s for a radio that has not reported its
  /// state yet (just after start-up). 9010 when the kit has not started.
  static std::future<Result<std::vector<HPeripheralWRSSI>>> discover(bool restricted = false);
  /// Connects a discovered peripheral: the connected, identified instrument, or the error.
  static std::future<Result<std::shared_ptr<HCFColorInstrument>>> connect(
      std::shared_ptr<ble::Peripheral> peripheral);
  /// Connects the instrument whose advertised name ends with `serial`.
  static std::future<Result<std::shared_ptr<HCFColorInstrument>>> connectToSerial(
      const std::string& serial);
  /// A white calibration of `instrument`: none on success, else its error.
  static std::future<std::optional<HCFError>> calibrate(
      std::shared_ptr<HCFColorInstrument> instrument);
  /// One measurement: the colorimeter's tristimulus scan or the spectrometer's spectral scan.
  static std::future<Result<std::shared_ptr<HCFColorScan>>> measure(
      std::shared_ptr<HCFColorInstrument> instrument);
  /// Downloads and installs the product catalogue of the kit's login (replacing a download
  /// under way): none once it is installed, else the error (the catalogue installed before
  /// stays). `progress`, when set, hears the fraction done (0 to 1) on the main queue.
  static std::future<std::optional<HCFError>> downloadCatalog(
      std::function<void(float fraction)> progress = {});
  /// `HCFProductSearch::execute` on the downloaded catalogue: the products found, best first.
  static std::future<Result<std::vector<HCFProductSearchResult>>> search(HCFProductSearch search);
};

HCF_NAMESPACE_END
