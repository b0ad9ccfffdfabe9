// The kit behind hcf serve's page: the connected instrument, the session's readings, the view
// settings and the catalogue. Every member runs on the main queue; the HTTP threads reach them
// through `onMain` and never touch the kit themselves.
#pragma once

#include <hcf/hcf.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chart.h"
#include "serve_events.h"
#include "sim_session.h"

namespace hcf_tool {

/// An answer of the JSON API: a status and a JSON body, or a file to download.
struct Reply {
  int status = 200;
  hcf::JsonValue body = hcf::JsonValue::object();
  std::string file;         ///< a download's content; when set, sent instead of `body`
  std::string contentType;  ///< of `file`
  std::string fileName;     ///< the name the browser saves `file` under
};

/// {"error": message, "code": code} with `status`.
Reply errorReply(int status, const std::string& message, std::int64_t code = 0);

/// Runs `start` on the main queue and waits, at most `limit`, for the reply it hands to its
/// completion (called once, on the main queue); a 504 reply when none came in time. Not on
/// the thread that drives the main queue.
Reply onMain(std::function<void(std::function<void(Reply)>)> start,
             std::chrono::milliseconds limit);

/// The view settings: how colours are shown and compared.
struct ViewSettings {
  hcf::HCFIlluminant illuminant = hcf::HCFIlluminant::D50;
  hcf::HCFStdObserver observer = hcf::HCFStdObserver::TwoDegree;
  hcf::HCFDeltaEMethod method = hcf::HCFDeltaEMethod::CIEDE2000;
};

/// True when the colour leaves the sRGB gamut: a linear sRGB component of its XYZ (the sRGB
/// primaries adapted to its illuminant's white, as the kit converts) is outside 0 to 1.
bool outsideSrgb(const hcf::HCFLabColor& lab);

class ServeKit {
 public:
  using Done = std::function<void(Reply)>;

  ServeKit(SimSession& session, EventHub& events);
  ~ServeKit();
  ServeKit(const ServeKit&) = delete;
  ServeKit& operator=(const ServeKit&) = delete;

  /// Starts the kit; "starting" until it answers.
  void start();
  /// Disconnects the instrument and lets the disconnection finish (drives the main queue).
  void stop();

  void state(const Done& done) const;
  /// Answers once the kit has started (200) or failed to (the error).
  void whenStarted(const Done& done);
  /// The instruments a discovery pass found (after `HCFFutures::discover`).
  void found(const hcf::Result<std::vector<hcf::HPeripheralWRSSI>>& found, const Done& done);
  void connect(const std::string& id, const Done& done);
  void disconnect(const Done& done);
  void calibrate(const Done& done);
  void battery(const Done& done);
  /// A reading of the connected instrument, also sent as a `reading` event.
  void measure(const Done& done);
  void setView(const hcf::JsonValue& body, const Done& done);
  void readings(const Done& done) const;
  void difference(const std::string& a, const std::string& b, const Done& done) const;
  void historyCgats(const Done& done) const;
  void historyCsv(const Done& done) const;
  void search(const hcf::JsonValue& body, const Done& done) const;
  void filters(const hcf::JsonValue& body, const Done& done) const;
  void download(const Done& done);
  /// Simulated radio: presses the connected instrument's button.
  void pressButton(const Done& done);

 private:
  class Listener;
  struct Saved {
    int number = 0;
    std::shared_ptr<hcf::HCFColorScan> scan;
  };

  hcf::JsonValue stateJson() const;
  hcf::JsonValue instrumentJson() const;
  hcf::JsonValue catalogueJson() const;
  hcf::JsonValue readingJson(const Saved& reading) const;
  const Saved* reading(const hcf::JsonValue& number) const;
  bool needsWhiteCalibration() const;
  void postState() const;
  void postError(const std::string& message, std::int64_t code) const;
  void finishReading(std::shared_ptr<hcf::HCFColorScan> scan, std::optional<hcf::HCFError> error);
  void countProducts();

  // Heard from the instrument and the catalogue download (on the main queue).
  void buttonPressed(hcf::HCFColorInstrument& instrument);
  void disconnected(hcf::HCFColorInstrument& instrument);
  void downloadProgress(float fraction);
  void downloadEnded(std::optional<hcf::HCFError> error);

  SimSession& session_;
  EventHub& events_;
  std::shared_ptr<Listener> listener_;
  std::string kit_ = "starting";
  std::shared_ptr<hcf::HCFColorInstrument> device_;
  std::string deviceName_;
  bool calibrated_ = false;
  std::optional<hcf::HCFBatteryStatus> battery_;
  ViewSettings view_;
  std::vector<Saved> readings_;
  std::vector<Done> waiting_;   // answers of the reading under way
  std::vector<Done> starting_;  // answers waiting for the kit to start
  bool measuring_ = false;
  bool calibrating_ = false;  // one scan at a time: the instrument answers one request
  std::vector<Patch> chart_;  // simulated radio: each reading places the next patch
  std::size_t nextPatch_ = 0;
  std::uint64_t products_ = 0;
  std::optional<std::string> catalogueDate_;
  bool downloading_ = false;
  float progress_ = 0;
  float progressSent_ = 0;
};

}  // namespace hcf_tool
