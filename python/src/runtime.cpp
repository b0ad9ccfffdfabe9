#include "runtime.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "catalog_fixture.h"
#include "fixtures.h"
#include "reference_cloud.h"
#include "simulated_instruments.h"

namespace hcf_python {

namespace fx = hcf_cloud::fixtures;
using namespace std::chrono_literals;

namespace {

// Products of the in-process reference cloud's catalogue (as in the demo).
constexpr std::size_t kSimCatalogSize = 2000;

// The process's runtime: made by the first Kit, kept until the interpreter exits.
std::unique_ptr<Runtime>& runtimeSlot() {
  static auto* slot = new std::unique_ptr<Runtime>();  // never destroyed after Python is gone
  return *slot;
}

hcf::dispatch::Duration durationOf(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) {
    throw py::value_error("a time-out is a positive number of seconds");
  }
  // A day is longer than anything the kit waits for, and keeps the clock arithmetic in range.
  seconds = std::min(seconds, 86400.0);
  return std::chrono::duration_cast<hcf::dispatch::Duration>(
      std::chrono::duration<double>(seconds));
}

// True on the thread while it drives the main queue for a waiting call.
thread_local bool tWaiting = false;

// How often a waiting call looks for signals, in real time: Ctrl-C is answered within this.
constexpr auto kSignalInterval = std::chrono::milliseconds(50);

}  // namespace

py::object callableOrNone(py::object f) {
  if (!f.is_none() && !PyCallable_Check(f.ptr())) {
    throw py::type_error("a callback is a callable or None");
  }
  return f;
}

void PyCallable::set(py::object callable) {
  fn_ = std::shared_ptr<py::object>(new py::object(callableOrNone(std::move(callable))),
                                    [](py::object* f) {
                                      const py::gil_scoped_acquire locked;
                                      delete f;
                                    });
}

py::object PyCallable::get() const { return fn_ ? *fn_ : py::none(); }

void timedOut(const std::string& what, double seconds) {
  std::string text = py::repr(py::float_(seconds)).cast<std::string>();
  PyErr_SetString(PyExc_TimeoutError, (what + " did not finish within " + text + " s").c_str());
  throw py::error_already_set();
}

Runtime* Runtime::current() { return runtimeSlot().get(); }

void Runtime::shutdown() {
  if (auto* runtime = current()) {
    // The kit's last tasks (disconnection reports) run while Python can still take them.
    if (auto manager = hcf::HCFCentral::connectionManager()) {
      if (auto device = manager->connectedDevice()) device->disconnect();
      manager->multiConnectStop();
    }
    try {
      runtime->wait([] { return false; }, 0.2);
    } catch (const py::error_already_set&) {
      // A callback's exception at exit has nowhere to go.
    }
    runtimeSlot().reset();
  }
}

Runtime::Runtime(Settings settings) : settings_(std::move(settings)) {}

Runtime::~Runtime() {
  cloud_.reset();
  hcf::ble::setCentralFactory({});
  if (ownsDataDir_) {
    std::error_code ec;
    std::filesystem::remove_all(dataDir_, ec);
  }
}

Runtime& Runtime::start(const Settings& settings, double timeoutSeconds) {
  if (settings.ble != "sim" && settings.ble != "bluez") {
    throw py::value_error("ble is \"sim\" (simulated instruments) or \"bluez\" (real ones), not '" +
                          settings.ble + "'");
  }
  durationOf(timeoutSeconds);
  if (auto* running = current()) {
    if (running->settings_ == settings) return *running;
    throw py::value_error(
        "the kit runs once per process and is already started with other settings; open "
        "hcf.Kit with the same sdk_key, cloud, ble and data_dir");
  }
  auto runtime = std::unique_ptr<Runtime>(new Runtime(settings));
  runtime->startCloudAndRadio();
  Runtime& r = *runtime;
  runtimeSlot() = std::move(runtime);
  try {
    if (r.sdkKey_.empty()) {
      throw py::value_error("give sdk_key (or set HCF_SDK_KEY) for the cloud at " +
                            (r.url_.empty() ? std::string("HCF_CLOUD_URL") : r.url_));
    }
    Answer<std::optional<hcf::HCFError>> started;
    hcf::HCFCentral::initWith(r.sdkKey_, started.callback());
    if (!r.wait([&] { return started.ready(); }, timeoutSeconds)) {
      timedOut("starting the kit", timeoutSeconds);
    }
    if (const auto& error = std::get<0>(started.values())) throw KitError{*error};
    // The radio reports its state shortly after the central is made.
    const double settle = r.simulated() ? 0.05 : 0.3;
    r.wait([] { return false; }, settle);
  } catch (...) {
    runtimeSlot().reset();
    throw;
  }
  return r;
}

void Runtime::startCloudAndRadio() {
  const bool sim = settings_.ble == "sim";
  if (sim) {
    hcf::dispatch::mainQueue().reset(std::make_shared<hcf::dispatch::ManualClock>());
  } else {
    hcf::dispatch::mainQueue().reset(std::make_shared<hcf::dispatch::SteadyClock>());
  }
  hcf::HCFConfiguration config;
  if (settings_.dataDir) {
    dataDir_ = *settings_.dataDir;
  } else if (sim) {
    dataDir_ =
        std::filesystem::temp_directory_path() / ("hcf-python-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dataDir_);
    ownsDataDir_ = true;
  }
  if (!dataDir_.empty()) {
    std::filesystem::create_directories(dataDir_);
    config.dataDirectory = dataDir_;
  } else {
    dataDir_ = hcf::HCFRealmManager::docDirectory();
  }

  const char* envKey = std::getenv("HCF_SDK_KEY");
  sdkKey_ = settings_.sdkKey.value_or(envKey ? envKey : "");
  if (settings_.cloud) {
    url_ = *settings_.cloud;
    config.endpoints = hcf::CloudEndpoints::withBase(url_);
  } else if (sim) {
    // The reference cloud in this process, with the demo's catalogue.
    cloud_ = std::make_unique<hcf_cloud::ReferenceCloud>();
    fx::publishCatalog(cloud_->world(), dataDir_ / "cloud", kSimCatalogSize);
    url_ = cloud_->baseUrl();
    config.endpoints = hcf::CloudEndpoints::withBase(url_);
    if (!settings_.sdkKey) sdkKey_ = fx::kDemoSdkKey;
  } else if (const char* envCloud = std::getenv("HCF_CLOUD_URL")) {
    url_ = envCloud;
  }

  if (!sim) {
    config.bluetooth = hcf::ble::bluez::centralFactory();
    hcf::HCFCentral::configure(config);
    return;
  }
  radio_ = hcf::ble::sim::World::create();
  instruments_ = std::make_unique<fx::DemoInstruments>(*radio_);
  config.bluetooth = fx::centralFactoryFor(radio_);
  hcf::HCFCentral::configure(config);
}

bool Runtime::wait(const std::function<bool()>& done, double seconds, Stop stop) {
  const auto limit = durationOf(seconds);
  if (tWaiting) {
    throw std::runtime_error(
        "a kit callback cannot wait for the kit (it runs inside a call that waits); note what "
        "happened and act once that call returns");
  }
  bool held = false;
  {
    py::gil_scoped_release unlocked;
    const std::lock_guard lock(driving_);
    tWaiting = true;
    stop_ = stop;
    stopping_ = false;
    try {
      auto& queue = hcf::dispatch::mainQueue();
      const auto end = queue.now() + limit;
      const bool manual = queue.clock().isManual();
      // Slices of at most kSignalInterval of real time: the manual clock may jump over
      // simulated hours in one, or stand still while the network answers.
      for (;;) {
        const auto sliceEnd = std::chrono::steady_clock::now() + kSignalInterval;
        const auto over = [&] {
          if (done()) return held = true;
          return stopping_.load() || std::chrono::steady_clock::now() >= sliceEnd;
        };
        queue.runUntil(over, manual ? end : std::min(end, queue.now() + kSignalInterval));
        if (held || stopping_ || queue.now() >= end) break;
        const py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
          // The handler's exception (KeyboardInterrupt for Ctrl-C) is what the user asked
          // for: it is raised, and one a callback raised before goes to sys.unraisablehook.
          auto interrupt = std::make_unique<py::error_already_set>();
          if (pending_) pending_->discard_as_unraisable("an hcf callback");
          pending_ = std::move(interrupt);
          break;
        }
      }
    } catch (...) {
      tWaiting = false;
      throw;
    }
    tWaiting = false;
  }
  stopping_ = false;
  if (pending_) {
    auto error = std::move(pending_);
    error->restore();
    throw py::error_already_set();
  }
  return held;
}

void Runtime::callPython(const std::function<void()>& call) {
  py::gil_scoped_acquire locked;
  try {
    call();
  } catch (py::error_already_set& e) {
    // KeyboardInterrupt and SystemExit are no Exception: they end the wait whatever it is.
    if (stop_ == Stop::OnAnyError || !e.matches(PyExc_Exception)) stopping_ = true;
    if (!pending_) {
      pending_ = std::make_unique<py::error_already_set>(std::move(e));
    } else {
      e.discard_as_unraisable("an hcf callback");
    }
  }
}

std::vector<SimulatedInstrument> Runtime::simulatedInstruments() const {
  if (!simulated()) return {};
  return {{"ColorOrla", instruments_->orla.serial(), "colorimeter"},
          {"Tintra 3.0", instruments_->tintra.serial(), "colorimeter"},
          {"Irisel", instruments_->irisel.serial(), "spectrometer"}};
}

void Runtime::requireSimulated() const {
  if (!simulated())
    throw py::value_error(
        "only the simulated radio (ble=\"sim\") has samples and buttons to press");
}

fx::SimulatedColorimeter* Runtime::colorimeter(const std::string& serial) const {
  if (!instruments_) return nullptr;
  if (instruments_->orla.serial() == serial) return &instruments_->orla;
  if (instruments_->tintra.serial() == serial) return &instruments_->tintra;
  return nullptr;
}

void Runtime::placeSample(const hcf::HCFLabColor& labD50) {
  requireSimulated();
  const hcf::HCFXYZColor xyz = labD50.XYZColor();
  const hcf::XYZTriple triple{xyz.X, xyz.Y, xyz.Z};
  instruments_->orla.measure(triple);
  instruments_->tintra.measure(triple);
  instruments_->irisel.measure(fx::reflectanceForLab(labD50));
  sample_ = labD50;
}

void Runtime::presentWhiteTile(const std::string& serial) {
  if (auto* c = colorimeter(serial)) c->presentWhiteTile();
}

void Runtime::restoreSample(const std::string& serial) {
  auto* c = colorimeter(serial);
  if (!c || !sample_) return;
  const hcf::HCFXYZColor xyz = sample_->XYZColor();
  c->measure(hcf::XYZTriple{xyz.X, xyz.Y, xyz.Z});
}

void Runtime::setInRange(const std::string& serial, bool inRange) {
  requireSimulated();
  hcf::ble::sim::Device* device = nullptr;
  if (auto* c = colorimeter(serial)) device = &c->radio().device();
  if (instruments_->irisel.serial() == serial) device = &instruments_->irisel.radio().device();
  if (!device) throw py::value_error("no simulated instrument has the serial '" + serial + "'");
  device->setAdvertising(inRange);
}

void Runtime::pressButton(const std::string& serial) {
  requireSimulated();
  if (auto* c = colorimeter(serial)) {
    c->radio().pressButton();
    return;
  }
  if (instruments_->irisel.serial() == serial) {
    throw py::value_error("the simulated spectrometer has no button");
  }
  throw py::value_error("no simulated instrument has the serial '" + serial + "'");
}

}  // namespace hcf_python
