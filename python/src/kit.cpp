// The blocking session: hcf.Kit (start-up, discovery, connection, the catalogue), hcf.Instrument
// (calibration, measurement, battery, button) and the kit's filter panels.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <set>

#include "runtime.h"

namespace hcf_python {

using namespace pybind11::literals;

namespace {

const char* stateName(hcf::HCFConnectivityState state) {
  switch (state) {
    case hcf::HCFConnectivityState::NotStarted:
      return "not_started";
    case hcf::HCFConnectivityState::Idle:
      return "idle";
    case hcf::HCFConnectivityState::Scanning:
      return "scanning";
    case hcf::HCFConnectivityState::Connecting:
      return "connecting";
    case hcf::HCFConnectivityState::AwaitingConfirmation:
      return "awaiting_confirmation";
    case hcf::HCFConnectivityState::Initializing:
      return "initializing";
    case hcf::HCFConnectivityState::Connected:
      return "connected";
  }
  return "unknown";
}

Runtime& running() {
  auto* runtime = Runtime::current();
  if (!runtime) throw py::value_error("the kit is not started: open an hcf.Kit first");
  return *runtime;
}

std::shared_ptr<hcf::HCFConnectionManager> manager() {
  auto m = hcf::HCFCentral::connectionManager();
  if (!m) throw py::value_error("the kit is not started: open an hcf.Kit first");
  return m;
}

// What an instrument's delegate reports, handed to the Python callables of its handle.
struct InstrumentHandle;
struct InstrumentEvents final : hcf::HCFColorInstrumentDelegate {
  std::weak_ptr<InstrumentHandle> handle;
  void buttonPressed(hcf::HCFColorInstrument&) override;
  void onDisconnect(hcf::HCFColorInstrument&) override;
};

// Python's side of one connected instrument.
struct InstrumentHandle {
  std::shared_ptr<hcf::HCFColorInstrument> device;
  std::shared_ptr<InstrumentEvents> events = std::make_shared<InstrumentEvents>();
  py::object onButton = py::none();
  py::object onDisconnect = py::none();
  bool disconnected = false;

  std::string kind() const {
    if (dynamic_cast<const hcf::HCFSpectrometer*>(device.get())) return "spectrometer";
    return "colorimeter";
  }
  bool isConnected() const {
    const auto m = hcf::HCFCentral::connectionManager();
    return !disconnected && m && m->connectedDevice() == device;
  }
  void requireConnected() const {
    if (!isConnected()) {
      throw std::runtime_error("the instrument " + device->serial() + " is no longer connected");
    }
  }
};

void callHandle(const std::weak_ptr<InstrumentHandle>& weak, py::object InstrumentHandle::*slot,
                bool disconnecting) {
  auto* runtime = Runtime::current();
  if (!runtime) return;
  runtime->callPython([&] {
    // The GIL is held here, so the handle (and its Python objects) are released with it.
    const auto handle = weak.lock();
    if (!handle) return;
    if (disconnecting) handle->disconnected = true;
    const py::object callback = (*handle).*slot;
    if (!callback.is_none()) callback(py::cast(handle));
  });
}

void InstrumentEvents::buttonPressed(hcf::HCFColorInstrument&) {
  callHandle(handle, &InstrumentHandle::onButton, false);
}
void InstrumentEvents::onDisconnect(hcf::HCFColorInstrument&) {
  callHandle(handle, &InstrumentHandle::onDisconnect, true);
}

// The kit's connection listener: state changes to Python's `on_state`.
struct StateListener final : hcf::HCFConnectionManagerDelegate {
  PyCallable callback;
  void onStateChanged(hcf::HCFConnectivityState state, std::size_t discovered) override {
    if (auto* runtime = Runtime::current()) {
      runtime->callPython([&] { callback.call(stateName(state), discovered); });
    }
  }
};

// How long, on the kit's clock, a cancelled download is given to end.
constexpr double kCancelSeconds = 10;

// Download events, kept on the main queue; progress to Python's callable.
struct DownloadEvents final : hcf::HCFProductDownloaderDelegate,
                              std::enable_shared_from_this<DownloadEvents> {
  PyCallable progress;
  bool finished = false;
  std::optional<hcf::HCFError> error;
  void productDownloaderDidUpdateProgress(float share) override {
    if (auto* runtime = Runtime::current()) {
      runtime->callPython([&] { progress.call(static_cast<double>(share)); });
    }
  }
  void productDownloaderDidComplete() override { finished = true; }
  void productDownloaderDidFailWithError(const hcf::HCFError& e) override {
    // May come on a transport queue: carried to the main queue, where the wait looks.
    hcf::dispatch::mainQueue().async([weak = weak_from_this(), e] {
      if (auto self = weak.lock(); self && !self->finished) self->error = e, self->finished = true;
    });
  }
};

struct KitHandle {
  bool open = true;
  std::shared_ptr<StateListener> listener = std::make_shared<StateListener>();
  double timeout = 60;

  Runtime& runtime() const {
    if (!open) throw py::value_error("this hcf.Kit is closed");
    return running();
  }
};

std::shared_ptr<InstrumentHandle> handleFor(
    const std::shared_ptr<hcf::HCFColorInstrument>& device) {
  // One handle per instrument object, so callbacks set on it stay set.
  static std::weak_ptr<InstrumentHandle> last;
  if (auto h = last.lock(); h && h->device == device) return h;
  auto handle = std::make_shared<InstrumentHandle>();
  handle->device = device;
  handle->events->handle = handle;
  device->setDelegate(handle->events);
  last = handle;
  return handle;
}

void disconnect(InstrumentHandle& h, double timeout);

py::object discovered(const hcf::HPeripheralWRSSI& p) {
  return moduleAttr("Discovered")(p.peripheral->name().value_or(""), p.serial(),
                                  p.peripheral->identifier(), p.rssi, p.serviceUUID);
}

py::list discover(KitHandle& kit, bool restricted, double timeout, py::object onFound) {
  Runtime& r = kit.runtime();
  callableOrNone(onFound);
  const auto m = manager();
  Answer<std::optional<std::vector<hcf::HPeripheralWRSSI>>, std::optional<hcf::HCFError>> found;
  m->bleDiscoverWithRestricted(restricted, found.callback());
  // `on_found` hears each instrument once, as the pass adds it; a pass the radio refused
  // leaves the last pass's records, which are not news.
  std::set<std::string> reported;
  const auto records = [&m]() -> const std::vector<hcf::HPeripheralWRSSI>& {
    static const std::vector<hcf::HPeripheralWRSSI> none;
    return m->directMgr() ? m->directMgr()->discoveredPeripherals() : none;
  };
  for (const auto& p : records()) reported.insert(p.peripheral->identifier());
  const auto done = [&] {
    if (!onFound.is_none()) {
      std::vector<hcf::HPeripheralWRSSI> news;  // copied: the callback may run the kit's code
      for (const auto& p : records()) {
        if (reported.insert(p.peripheral->identifier()).second) news.push_back(p);
      }
      for (const auto& p : news) r.callPython([&] { onFound(discovered(p)); });
    }
    return found.ready();
  };
  if (!r.wait(done, timeout)) timedOut("discovery", timeout);
  const auto& [peripherals, error] = found.values();
  // Nothing in range is an empty pass, not a failure.
  if (error && error->code != hcf::error_code::kNoPeripherals) throw KitError{*error};
  py::list out;
  for (const auto& p : peripherals.value_or(std::vector<hcf::HPeripheralWRSSI>{})) {
    // Instruments already connected to the system join the list as the pass ends.
    if (!onFound.is_none() && reported.insert(p.peripheral->identifier()).second) {
      onFound(discovered(p));
    }
    out.append(discovered(p));
  }
  return out;
}

std::shared_ptr<InstrumentHandle> connect(KitHandle& kit, const std::optional<std::string>& serial,
                                          const std::optional<std::string>& identifier,
                                          double timeout) {
  Runtime& r = kit.runtime();
  if (serial && identifier) throw py::value_error("give serial or identifier, not both");
  if (serial && serial->empty()) throw py::value_error("the serial is empty");
  const auto m = manager();
  if (const auto& device = m->connectedDevice()) {
    const bool same = (serial && device->serial() == *serial) ||
                      (identifier && device->peripheral()->identifier() == *identifier) ||
                      (!serial && !identifier);
    if (same) return handleFor(device);
    // One instrument at a time: the kit keeps one connected device, and a link left up
    // would keep the other instrument from being connected again.
    disconnect(*handleFor(device), timeout);
  }
  Answer<std::optional<hcf::HCFError>> connected;
  if (serial) {
    m->connectToSerial(*serial, connected.callback());
  } else if (identifier) {
    m->connectToUUID(*identifier, connected.callback());
  } else {
    // The strongest instrument of one discovery pass.
    Answer<std::optional<std::vector<hcf::HPeripheralWRSSI>>, std::optional<hcf::HCFError>> found;
    m->bleDiscoverWithRestricted(false, found.callback());
    if (!r.wait([&] { return found.ready(); }, timeout)) timedOut("discovery", timeout);
    const auto& [peripherals, error] = found.values();
    if (error) throw KitError{*error};
    if (!peripherals || peripherals->empty()) {
      throw KitError{hcf::HTUtility::deviceNotFoundError()};
    }
    m->connectTo(peripherals->front().peripheral, connected.callback());
  }
  bool held = false;
  try {
    held = r.wait([&] { return connected.ready(); }, timeout);
  } catch (...) {
    m->haltConnect();  // interrupted: the attempt is abandoned
    throw;
  }
  if (!held) {
    m->haltConnect();
    timedOut("connecting", timeout);
  }
  if (const auto& error = std::get<0>(connected.values())) throw KitError{*error};
  const auto& device = m->connectedDevice();
  if (!device) throw KitError{hcf::HTUtility::operationHaltedError()};
  return handleFor(device);
}

void calibrate(InstrumentHandle& h, double timeout) {
  Runtime& r = running();
  h.requireConnected();
  const bool colorimeter = h.kind() == "colorimeter";
  if (r.simulated() && colorimeter) r.presentWhiteTile(h.device->serial());
  Answer<bool, std::optional<hcf::HCFError>> answer;
  h.device->requestCalibration(answer.callback());
  bool held = false;
  try {
    held = r.wait([&] { return answer.ready(); }, timeout);
  } catch (...) {
    if (r.simulated() && colorimeter) r.restoreSample(h.device->serial());
    throw;
  }
  if (r.simulated() && colorimeter) r.restoreSample(h.device->serial());
  if (!held) timedOut("the white calibration", timeout);
  const auto& [ok, error] = answer.values();
  if (!ok) throw KitError{error.value_or(hcf::HTUtility::wpCalError())};
}

std::shared_ptr<hcf::HCFColorScan> measure(InstrumentHandle& h, double timeout) {
  Runtime& r = running();
  h.requireConnected();
  Answer<std::shared_ptr<hcf::HCFColorScan>, std::shared_ptr<hcf::HCFColorScan>,
         std::optional<hcf::HCFError>>
      answer;
  h.device->requestColorScan(answer.callback());
  if (!r.wait([&] { return answer.ready(); }, timeout)) timedOut("the measurement", timeout);
  const auto& [tristimulus, spectral, error] = answer.values();
  if (error) throw KitError{*error};
  auto scan = tristimulus ? tristimulus : spectral;
  if (!scan) throw KitError{hcf::HTUtility::scanError()};
  return scan;
}

py::dict battery(InstrumentHandle& h, double timeout) {
  Runtime& r = running();
  h.requireConnected();
  Answer<std::optional<hcf::HCFBatteryStatus>, std::optional<hcf::HCFError>> answer;
  h.device->requestBatt(answer.callback());
  if (!r.wait([&] { return answer.ready(); }, timeout)) timedOut("the battery reading", timeout);
  const auto& [status, error] = answer.values();
  if (error || !status) {
    throw KitError{error.value_or(hcf::HTUtility::errWithMsg("The battery status could not be read",
                                                             hcf::error_code::kBatteryUnreadable))};
  }
  return py::dict("level"_a = status->level, "volts"_a = status->volts,
                  "fully_charged"_a = status->isFullyCharged, "on_power"_a = status->isOnPower);
}

void disconnect(InstrumentHandle& h, double timeout) {
  Runtime& r = running();
  if (h.disconnected) return;
  const auto m = manager();
  h.device->disconnect();
  r.wait([&] { return m->connectedDevice() != h.device || h.disconnected; }, timeout);
  h.disconnected = true;
}

std::vector<hcf::HCFProductSearchResult> kitSearch(KitHandle& kit, const SearchArgs& args,
                                                   double timeout) {
  Runtime& r = kit.runtime();
  const auto search = searchOf(args);
  Answer<std::vector<hcf::HCFProductSearchResult>, std::optional<hcf::HCFError>> answer;
  search.execute(answer.callback());
  if (!r.wait([&] { return answer.ready(); }, timeout)) timedOut("the search", timeout);
  const auto& [results, error] = answer.values();
  if (error) throw KitError{*error};
  return results;
}

std::uint64_t downloadCatalog(KitHandle& kit, py::object progress, double timeout) {
  Runtime& r = kit.runtime();
  auto products = hcf::HCFCentral::productManager();
  auto events = std::make_shared<DownloadEvents>();
  events->progress.set(std::move(progress));
  products->downloadProductsWithDelegate(events);
  // An interrupted download is cancelled and waited for: the previous catalogue stays, and
  // nothing of this one is installed after the call returns.
  const auto cancel = [&] {
    events->progress.set(py::none());
    products->cancelDownload();
    try {
      r.wait([&] { return events->finished; }, kCancelSeconds);
    } catch (const py::error_already_set&) {
      // A second interrupt while the download ends: the first one is raised.
    }
  };
  bool held = false;
  try {
    held = r.wait([&] { return events->finished; }, timeout, Runtime::Stop::OnAnyError);
  } catch (...) {
    cancel();
    throw;
  }
  if (!held) {
    cancel();
    timedOut("the catalogue download", timeout);
  }
  if (events->error) throw KitError{*events->error};
  Answer<std::uint64_t, std::optional<hcf::HCFError>> count;
  products->countDownloadedProducts(count.callback());
  r.wait([&] { return count.ready(); }, timeout);
  return count.ready() ? std::get<0>(count.values()) : 0;
}

// A filter panel of the kit's catalogue; each change waits for the kit to recompute it.
struct FilterPanel {
  std::shared_ptr<hcf::HCFProductFilterSet> set;
  double timeout = 60;

  using Change = void (hcf::HCFProductFilterSet::*)(const hcf::HCFProductKV&,
                                                    hcf::HCFProductFilterSet::Completion);
  void change(Change how, py::handle pair) {
    const auto kv = kvsOf(py::make_tuple(pair)).front();
    Answer<std::shared_ptr<hcf::HCFProductFilterSet>, std::optional<hcf::HCFError>> answer;
    ((*set).*how)(kv, answer.callback());
    if (!running().wait([&] { return answer.ready(); }, timeout)) {
      timedOut("the filter panel", timeout);
    }
    if (const auto& error = std::get<1>(answer.values())) throw KitError{*error};
  }
};

FilterPanel filterPanel(KitHandle& kit, bool inspirations, bool online, double timeout) {
  Runtime& r = kit.runtime();
  Answer<std::shared_ptr<hcf::HCFProductFilterSet>, std::optional<hcf::HCFError>> answer;
  if (online) {
    if (inspirations) {
      hcf::HCFProductFilterSet::onlineInspirationsFilterSet(answer.callback());
    } else {
      hcf::HCFProductFilterSet::onlineProductsFilterSet(answer.callback());
    }
  } else if (inspirations) {
    hcf::HCFProductFilterSet::offlineInspirationsFilterSet(answer.callback());
  } else {
    hcf::HCFProductFilterSet::offlineProductsFilterSet(answer.callback());
  }
  if (!r.wait([&] { return answer.ready(); }, timeout)) timedOut("the filter panel", timeout);
  const auto& [set, error] = answer.values();
  if (error) throw KitError{*error};
  if (!set) throw KitError{hcf::HTUtility::invalidDataError("no filter panel")};
  return FilterPanel{set, timeout};
}

py::dict byKey(const hcf::HCFProductFilterSet::KVsByKey& groups) {
  py::dict out;
  for (const auto& [key, pairs] : groups) out[py::str(key)] = py::cast(pairs);
  return out;
}

void bindFilterPanel(py::module_& m) {
  py::class_<FilterPanel>(
      m, "FilterPanel",
      "A faceted filter panel over the kit's catalogue (hcf::HCFProductFilterSet).")
      .def_property_readonly("all", [](const FilterPanel& p) { return p.set->allFilters(); })
      .def_property_readonly("selected",
                             [](const FilterPanel& p) { return p.set->selectedFilters(); })
      .def_property_readonly(
          "available", [](const FilterPanel& p) { return p.set->availableFilters(); },
          "The pairs that can be chosen without emptying the result.")
      .def_property_readonly(
          "available_by_key",
          [](const FilterPanel& p) { return byKey(p.set->availableFiltersByKey()); })
      .def(
          "select",
          [](FilterPanel& p, py::handle f) {
            p.change(&hcf::HCFProductFilterSet::selectFilter, f);
          },
          "filter"_a, "HCFProductFilterSet::selectFilter")
      .def(
          "deselect",
          [](FilterPanel& p, py::handle f) {
            p.change(&hcf::HCFProductFilterSet::deselectFilter, f);
          },
          "filter"_a, "HCFProductFilterSet::deselectFilter")
      .def(
          "to_dict",
          [](const FilterPanel& p) {
            return toPython(hcf::HCFTintVaultSerialization::filterSetToDictionary(*p.set));
          },
          "HCFTintVaultSerialization::filterSetToDictionary");
}

void bindInstrument(py::module_& m) {
  py::class_<InstrumentHandle, std::shared_ptr<InstrumentHandle>>(
      m, "Instrument",
      "A connected instrument (hcf::HCFColorInstrument). Every call waits for the kit.")
      .def_property_readonly("serial", [](const InstrumentHandle& h) { return h.device->serial(); })
      .def_property_readonly("model", [](const InstrumentHandle& h) { return h.device->model(); })
      .def_property_readonly("firmware_version",
                             [](const InstrumentHandle& h) { return h.device->firmwareVersion(); })
      .def_property_readonly("kind", &InstrumentHandle::kind,
                             "\"colorimeter\" or \"spectrometer\".")
      .def_property_readonly(
          "identifier",
          [](const InstrumentHandle& h) { return h.device->peripheral()->identifier(); },
          "The platform's identifier of the peripheral.")
      .def_property_readonly("connected", &InstrumentHandle::isConnected,
                             "Whether this is the kit's connected instrument.")
      .def("calibrate", &calibrate, "timeout"_a = 60.0,
           "White calibration (HCFColorInstrumentProto::requestCalibration); on the simulator the "
           "colorimeter is put on its white tile first.")
      .def("measure", &measure, "timeout"_a = 60.0,
           "One measurement (HCFColorInstrumentProto::requestColorScan).")
      .def("battery", &battery, "timeout"_a = 15.0,
           "{level, volts, fully_charged, on_power} (HCFColorInstrument::requestBatt).")
      .def("disconnect", &disconnect, "timeout"_a = 10.0, "HCFColorInstrument::disconnect")
      .def_property(
          "on_button", [](const InstrumentHandle& h) { return h.onButton; },
          [](InstrumentHandle& h, py::object f) { h.onButton = callableOrNone(std::move(f)); },
          "Called with the instrument when its button is pressed, while a call waits "
          "or Kit.run lets time pass (HCFColorInstrumentDelegate::buttonPressed).")
      .def_property(
          "on_disconnect", [](const InstrumentHandle& h) { return h.onDisconnect; },
          [](InstrumentHandle& h, py::object f) { h.onDisconnect = callableOrNone(std::move(f)); },
          "Called with the instrument when it disconnects "
          "(HCFColorInstrumentDelegate::onDisconnect).")
      .def("__repr__", [](const InstrumentHandle& h) {
        return "<hcf.Instrument " + h.kind() + " " + h.device->serial() + ">";
      });
}

}  // namespace

void bindKit(py::module_& m) {
  bindInstrument(m);
  bindFilterPanel(m);
  py::class_<KitHandle>(
      m, "Kit",
      "The kit's session (hcf::HCFCentral): starts the kit (login, device-data service, the "
      "managers) and runs its main queue while a call waits. `ble` is \"sim\" (simulated "
      "instruments; without `cloud`, the reference cloud runs in this process) or \"bluez\". "
      "Time-outs count on the kit's clock: simulated seconds on the simulator. The kit runs "
      "once per process; another Kit must ask for the same settings. Use a Kit and its "
      "instruments from one thread at a time.")
      .def(py::init([](std::optional<std::string> sdkKey, std::optional<std::string> cloud,
                       std::string ble, std::optional<std::filesystem::path> dataDir,
                       double timeout) {
             Runtime::start(
                 {std::move(sdkKey), std::move(cloud), std::move(ble), std::move(dataDir)},
                 timeout);
             auto kit = std::make_unique<KitHandle>();
             kit->timeout = timeout;
             manager()->setConnectionListener(kit->listener);
             return kit;
           }),
           py::kw_only(), "sdk_key"_a = py::none(), "cloud"_a = py::none(), "ble"_a = "sim",
           "data_dir"_a = py::none(), "timeout"_a = 60.0,
           "HCFCentral::configure and HCFCentral::initWith")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](KitHandle& k, py::args) {
             if (k.open) {
               if (auto d = manager()->connectedDevice()) disconnect(*handleFor(d), 10);
               k.open = false;
             }
             return false;
           })
      .def(
          "close",
          [](KitHandle& k) {
            if (!k.open) return;
            if (auto d = manager()->connectedDevice()) disconnect(*handleFor(d), 10);
            k.open = false;
          },
          "Disconnects the instrument. The kit itself stays started for the process.")
      .def_property_readonly("cloud", [](const KitHandle& k) { return k.runtime().cloudUrl(); })
      .def_property_readonly("data_dir",
                             [](const KitHandle& k) { return k.runtime().dataDirectory(); })
      .def("discover", &discover, "restricted"_a = false, "timeout"_a = 30.0, py::kw_only(),
           "on_found"_a = py::none(),
           "One 3-second discovery pass: hcf.Discovered records, strongest first, an empty list "
           "when nothing is in range; `on_found` is called with each record once, as the pass "
           "finds it (HCFConnectionManager::bleDiscoverWithRestricted).")
      .def("connect", &connect, py::kw_only(), "serial"_a = py::none(), "identifier"_a = py::none(),
           "timeout"_a = 60.0,
           "Connects the instrument of `serial` (HCFConnectionManager::connectToSerial), of "
           "`identifier` (connectToUUID), or the strongest one found; returns the hcf.Instrument.")
      .def_property_readonly(
          "instrument",
          [](const KitHandle& k) -> std::shared_ptr<InstrumentHandle> {
            k.runtime();
            const auto& d = manager()->connectedDevice();
            return d ? handleFor(d) : nullptr;
          },
          "The connected instrument, or None (HCFConnectionManager::connectedDevice).")
      .def_property(
          "on_state", [](const KitHandle& k) { return k.listener->callback.get(); },
          [](KitHandle& k, py::object f) { k.listener->callback.set(std::move(f)); },
          "Called with (state, discovered) as connection states change "
          "(HCFConnectionManagerDelegate::onStateChanged).")
      .def(
          "run",
          [](KitHandle& k, double seconds) { k.runtime().wait([] { return false; }, seconds); },
          "seconds"_a, "Lets the kit run for `seconds` (buttons, keep-alive, disconnections).")
      .def("download_catalog", &downloadCatalog, "progress"_a = py::none(), "timeout"_a = 600.0,
           "Downloads and installs the product catalogue; `progress` gets the share received "
           "(0 to 1). Returns the number of products "
           "(HCFProductManager::downloadProductsWithDelegate). "
           "An exception raised in `progress`, Ctrl-C or the time-out cancels the download "
           "(HCFProductManager::cancelDownload), keeping the catalogue installed before, and is "
           "raised.")
      .def(
          "product_count",
          [](KitHandle& k) {
            Runtime& r = k.runtime();
            Answer<std::uint64_t, std::optional<hcf::HCFError>> count;
            hcf::HCFCentral::productManager()->countDownloadedProducts(count.callback());
            if (!r.wait([&] { return count.ready(); }, k.timeout)) timedOut("counting", k.timeout);
            return std::get<0>(count.values());
          },
          "HCFProductManager::countDownloadedProducts")
      .def(
          "catalog_download_required",
          [](KitHandle& k) {
            Runtime& r = k.runtime();
            Answer<bool, std::optional<hcf::HCFError>> answer;
            hcf::HCFCentral::productManager()->checkIfProductDownloadRequired(answer.callback());
            if (!r.wait([&] { return answer.ready(); }, k.timeout))
              timedOut("the check", k.timeout);
            const auto& [required, error] = answer.values();
            if (error && !required) throw KitError{*error};
            return required;
          },
          "Whether the server has a newer catalogue than the stored one "
          "(HCFProductManager::checkIfProductDownloadRequired).")
      .def(
          "search",
          [](KitHandle& k, py::object color, std::optional<std::string> text, py::object filters,
             bool inspirations, hcf::HCFDeltaEMethod method, hcf::HCFIlluminant illuminant,
             hcf::HCFStdObserver observer, std::uint64_t limit, std::uint64_t skip,
             py::object sort) {
            return kitSearch(k,
                             {std::move(color), std::move(text), std::move(filters), inspirations,
                              method, illuminant, observer, limit, skip, std::move(sort)},
                             k.timeout);
          },
          HCF_PYTHON_SEARCH_ARGS,
          "Searches the kit's catalogue as Catalog.search does; inspirations go to the online "
          "search service (HCFProductSearch::execute).")
      .def(
          "filter_panel",
          [](KitHandle& k, bool inspirations, bool online) {
            return filterPanel(k, inspirations, online, k.timeout);
          },
          "inspirations"_a = false, "online"_a = false,
          "A fresh filter panel of the stored catalogue, or of the online search service "
          "(HCFProductFilterSet::offlineProductsFilterSet, onlineProductsFilterSet, ...).")
      .def_property_readonly(
          "simulated_instruments",
          [](const KitHandle& k) {
            py::list out;
            for (const auto& s : k.runtime().simulatedInstruments()) {
              out.append(py::dict("name"_a = s.name, "serial"_a = s.serial, "kind"_a = s.kind));
            }
            return out;
          },
          "The simulated instruments in range (empty on BlueZ).")
      .def(
          "place_sample",
          [](KitHandle& k, py::handle color) {
            k.runtime().placeSample(
                labOf(color, "the sample").toLabWithIlluminant(hcf::HCFIlluminant::D50));
          },
          "color"_a, "Simulator: puts a sample of this Lab colour in front of every instrument.")
      .def(
          "press_button",
          [](KitHandle& k, const std::string& serial) { k.runtime().pressButton(serial); },
          "serial"_a, "Simulator: presses the button of the colorimeter `serial`.")
      .def(
          "set_in_range",
          [](KitHandle& k, const std::string& serial, bool inRange) {
            k.runtime().setInRange(serial, inRange);
          },
          "serial"_a, "in_range"_a,
          "Simulator: takes the instrument `serial` out of range (it no longer advertises) or "
          "brings it back.");

  // Loose ends at interpreter exit: the instrument disconnected, the cloud stopped, the
  // temporary data directory removed, while Python can still take the last callbacks.
  py::module_::import("atexit").attr("register")(py::cpp_function([] { Runtime::shutdown(); }));
}

}  // namespace hcf_python
