// The process's kit as Python drives it: its settings, the simulated instruments and the
// in-process reference cloud when asked for, and the blocking wait that runs the main queue.
//
// The kit is process-wide (one HCFCentral, one main queue), so there is one runtime per
// process. Python calls wait one at a time; while one waits it drives the main queue with the
// GIL released, and the kit's callbacks into Python take the GIL on that same thread, between
// the kit's tasks (never while the kit holds a lock of its own). A wait ends early when a
// signal came (Ctrl-C), and raises what its handler raised.
#pragma once

#include <hcf/hcf.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "module.h"

namespace hcf_cloud {
class ReferenceCloud;
namespace fixtures {
class SimulatedColorimeter;
struct DemoInstruments;
}  // namespace fixtures
}  // namespace hcf_cloud

namespace hcf_python {

/// How a Kit was asked to start; a second Kit in the process must ask for the same.
struct Settings {
  std::optional<std::string> sdkKey;
  std::optional<std::string> cloud;  ///< base URL; none: in-process (sim) or HCF_CLOUD_URL
  std::string ble;                   ///< "sim" or "bluez"
  std::optional<std::filesystem::path> dataDir;
  friend bool operator==(const Settings&, const Settings&) = default;
};

/// One simulated instrument of the "sim" radio.
struct SimulatedInstrument {
  std::string name;
  std::string serial;
  std::string kind;  ///< "colorimeter" or "spectrometer"
};

class Runtime {
 public:
  /// Starts the kit (logs in, makes the managers); hcf.Error when it does not start, and then
  /// nothing of it stays behind.
  static Runtime& start(const Settings& settings, double timeoutSeconds);
  /// The running kit, or none.
  static Runtime* current();
  /// Stops everything (at interpreter exit).
  static void shutdown();

  const Settings& settings() const { return settings_; }
  bool simulated() const { return radio_ != nullptr; }
  const std::string& cloudUrl() const { return url_; }
  const std::filesystem::path& dataDirectory() const { return dataDir_; }

  /// What ends a wait before `done`, besides its time.
  enum class Stop {
    OnInterrupt,  ///< a signal, or a callback raising KeyboardInterrupt or SystemExit
    OnAnyError,   ///< that, or a callback raising anything
  };
  /// Drives the main queue until `done` or until `seconds` pass on its clock (simulated
  /// seconds on the simulator); whether `done` held. Releases the GIL while driving, then
  /// raises the first exception a Python callback raised meanwhile. Looks for signals at least
  /// every 50 ms of real time, and ends at once with what their handlers raise
  /// (KeyboardInterrupt for Ctrl-C); `stop` says what else ends it early.
  /// A callback cannot wait (it runs inside a wait): RuntimeError.
  bool wait(const std::function<bool()>& done, double seconds, Stop stop = Stop::OnInterrupt);
  /// Calls Python from a kit callback: takes the GIL; an exception is kept for the waiting
  /// call to raise (the first one; later ones go to sys.unraisablehook).
  void callPython(const std::function<void()>& call);

  // The simulator ("sim" only).
  std::vector<SimulatedInstrument> simulatedInstruments() const;
  /// The sample in front of every simulated instrument (a D50 Lab colour).
  void placeSample(const hcf::HCFLabColor& labD50);
  /// The white tile in front of the simulated colorimeter `serial` (for its calibration).
  void presentWhiteTile(const std::string& serial);
  /// Puts the last placed sample back in front of the colorimeter `serial`.
  void restoreSample(const std::string& serial);
  void pressButton(const std::string& serial);
  /// Takes the instrument `serial` out of range (it stops advertising) or brings it back.
  void setInRange(const std::string& serial, bool inRange);

  ~Runtime();

 private:
  explicit Runtime(Settings settings);
  void startCloudAndRadio();
  void requireSimulated() const;
  hcf_cloud::fixtures::SimulatedColorimeter* colorimeter(const std::string& serial) const;

  Settings settings_;
  std::filesystem::path dataDir_;
  bool ownsDataDir_ = false;
  std::string url_;
  std::string sdkKey_;
  std::unique_ptr<hcf_cloud::ReferenceCloud> cloud_;
  std::shared_ptr<hcf::ble::sim::World> radio_;
  std::unique_ptr<hcf_cloud::fixtures::DemoInstruments> instruments_;
  std::optional<hcf::HCFLabColor> sample_;
  std::mutex driving_;                              // one waiting call at a time
  std::unique_ptr<py::error_already_set> pending_;  // touched only with the GIL held
  Stop stop_ = Stop::OnInterrupt;                   // of the wait under way
  std::atomic<bool> stopping_{false};               // the wait under way ends early
};

/// `f` when it is callable or None; TypeError otherwise.
py::object callableOrNone(py::object f);

/// A Python callable held by an object the kit may release on any thread: the callable is
/// released with the GIL held. Set and called with the GIL held.
class PyCallable {
 public:
  void set(py::object callable);
  py::object get() const;
  /// Calls it when set.
  template <typename... A>
  void call(A&&... args) const {
    if (fn_ && !fn_->is_none()) (*fn_)(std::forward<A>(args)...);
  }

 private:
  std::shared_ptr<py::object> fn_;
};

/// A kit callback's arguments, carried to the main queue and kept there: the kit answers some
/// operations on its transport's queue, and Python is only ever called from the waiting thread.
template <typename... Args>
class Answer {
 public:
  using Values = std::tuple<std::decay_t<Args>...>;
  /// The callback to hand to the kit (called at most once is kept; later calls are ignored).
  auto callback() const {
    return [slot = slot_](Args... values) {
      hcf::dispatch::mainQueue().async(
          [slot, answer = Values(std::forward<Args>(values)...)]() mutable {
            if (!*slot) *slot = std::move(answer);
          });
    };
  }
  bool ready() const { return slot_->has_value(); }
  const Values& values() const { return **slot_; }

 private:
  std::shared_ptr<std::optional<Values>> slot_ = std::make_shared<std::optional<Values>>();
};

/// The builtin TimeoutError for an operation that did not answer within `seconds`.
[[noreturn]] void timedOut(const std::string& what, double seconds);

}  // namespace hcf_python
