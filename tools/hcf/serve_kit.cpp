#include "serve_kit.h"

#include <cmath>
#include <ctime>

#include "cgats.h"
#include "measurement_output.h"
#include "output_format.h"
#include "watch.h"

namespace hcf_tool {

using namespace hcf;

namespace {

// Half a step of 8-bit sRGB: a component this far outside 0 to 1 still shows as itself.
constexpr double kGamutTolerance = 0.5 / 255;
// The reading that is pending is answered by the kit's own measurement timeout; this is the
// most readings a page may keep.
constexpr std::size_t kMaxReadings = 1000;
// The most products a search gives.
constexpr std::uint64_t kMaxSearchLimit = 50;
// A download event at least every this fraction of progress.
constexpr float kProgressStep = 0.05F;

const char* const kCalibrationInstruction =
    "Place the instrument on its white tile, then calibrate.";

Reply kitError(const HCFError& error, int status = 502) {
  return errorReply(status, error.localizedDescription, error.code);
}

// JSON on one line, as an event's data line holds it.
// Text from an instrument or the cloud may not be valid UTF-8: replaced, never thrown over.
std::string oneLine(const JsonValue& value) {
  return value.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
}

std::string observerName(HCFStdObserver observer) {
  return observer == HCFStdObserver::TenDegree ? "10" : "2";
}

// The filters of a request: {"key": ["value", ...]}; nothing and `error` when malformed.
std::optional<std::vector<HCFProductKV>> filtersOf(const JsonValue& body, std::string& error) {
  std::vector<HCFProductKV> pairs;
  if (!body.contains("filters")) return pairs;
  const JsonValue& filters = body["filters"];
  if (!filters.is_object()) {
    error = "filters is an object of keys, each with a list of values";
    return std::nullopt;
  }
  for (const auto& [key, values] : filters.items()) {
    if (!values.is_array()) {
      error = "the filter '" + key + "' takes a list of values";
      return std::nullopt;
    }
    for (const auto& v : values) {
      if (!v.is_string()) {
        error = "the values of the filter '" + key + "' are texts";
        return std::nullopt;
      }
      pairs.push_back(HCFProductKV::kvWithKey(key, v.get<std::string>()));
    }
  }
  return pairs;
}

}  // namespace

Reply errorReply(int status, const std::string& message, std::int64_t code) {
  Reply r;
  r.status = status;
  r.body = {{"error", message}, {"code", code}};
  return r;
}

Reply onMain(std::function<void(std::function<void(Reply)>)> start,
             std::chrono::milliseconds limit) {
  auto promise = std::make_shared<std::promise<Reply>>();
  auto answered = std::make_shared<std::atomic<bool>>(false);
  auto future = promise->get_future();
  dispatch::mainQueue().async([start = std::move(start), promise, answered] {
    start([promise, answered](Reply reply) {
      if (!answered->exchange(true)) promise->set_value(std::move(reply));
    });
  });
  if (future.wait_for(limit) != std::future_status::ready) {
    return errorReply(504, "the kit did not answer in time");
  }
  return future.get();
}

bool outsideSrgb(const HCFLabColor& lab) {
  const HCFXYZColor xyz = lab.XYZColor();
  const Matrix3x3& m = CieStdMath::xyzrgbmatrixforIll(lab.illuminant);
  for (std::size_t row = 0; row < 3; ++row) {
    const double linear =
        (m[3 * row] * xyz.X + m[3 * row + 1] * xyz.Y + m[3 * row + 2] * xyz.Z) / 100.0;
    if (!(linear >= -kGamutTolerance && linear <= 1 + kGamutTolerance)) return true;
  }
  return false;
}

// Hears the connected instrument and the catalogue download; hands each event to the main
// queue, where the kit's state lives.
class ServeKit::Listener : public HCFColorInstrumentDelegate, public HCFProductDownloaderDelegate {
 public:
  explicit Listener(ServeKit& kit) : kit_(kit) {}
  void buttonPressed(HCFColorInstrument& instrument) override { kit_.buttonPressed(instrument); }
  void onDisconnect(HCFColorInstrument& instrument) override { kit_.disconnected(instrument); }
  void productDownloaderDidUpdateProgress(float progress) override {
    dispatch::mainQueue().async([this, progress] { kit_.downloadProgress(progress); });
  }
  void productDownloaderDidComplete() override {
    dispatch::mainQueue().async([this] { kit_.downloadEnded(std::nullopt); });
  }
  void productDownloaderDidFailWithError(const HCFError& error) override {
    dispatch::mainQueue().async([this, error] { kit_.downloadEnded(error); });
  }

 private:
  ServeKit& kit_;
};

ServeKit::ServeKit(SimSession& session, EventHub& events)
    : session_(session),
      events_(events),
      listener_(std::make_shared<Listener>(*this)),
      chart_(colorChecker()) {}

ServeKit::~ServeKit() = default;

void ServeKit::start() {
  session_.startKit([this](std::optional<HCFError> error) {
    dispatch::mainQueue().async([this, error] {
      kit_ = error ? "failed" : "started";
      if (error) postError("the kit did not start: " + error->localizedDescription, error->code);
      auto waiting = std::move(starting_);
      starting_.clear();
      for (const auto& done : waiting) whenStarted(done);
      if (!error) countProducts();
      postState();
    });
  });
}

void ServeKit::stop() {
  if (!device_) return;
  device_->disconnect();
  device_.reset();
  const auto manager = HCFCentral::connectionManager();
  session_.runUntil([&] { return !manager || !manager->isConnected(); }, std::chrono::seconds(5));
}

void ServeKit::countProducts() {
  const auto manager = HCFCentral::productManager();
  if (!manager) return;
  manager->countDownloadedProducts([this](std::uint64_t count, std::optional<HCFError>) {
    products_ = count;
    postState();
  });
}

// ---- JSON of the state -----------------------------------------------------------------------

JsonValue ServeKit::catalogueJson() const {
  return {{"installed", products_ > 0},
          {"products", products_},
          {"date", catalogueDate_ ? JsonValue(*catalogueDate_) : JsonValue(nullptr)},
          {"downloading", downloading_},
          {"progress", downloading_ ? progress_ : (products_ > 0 ? 1.0F : 0.0F)}};
}

bool ServeKit::needsWhiteCalibration() const {
  return dynamic_cast<const HCFColorimeter*>(device_.get()) != nullptr;
}

JsonValue ServeKit::instrumentJson() const {
  if (!device_) return nullptr;
  JsonValue battery = nullptr;
  if (battery_) {
    battery = {{"level", static_cast<int>(std::lround(battery_->level * 100))},
               {"charging", battery_->isOnPower && !battery_->isFullyCharged}};
  }
  const bool white = needsWhiteCalibration();
  return {{"serial", device_->serial()},
          {"name", deviceName_},
          {"model", device_->model()},
          {"kind", white ? "colorimeter" : "spectrometer"},
          {"battery", battery},
          {"needsWhiteCalibration", white},
          {"calibrationInstruction", white ? kCalibrationInstruction : ""}};
}

JsonValue ServeKit::stateJson() const {
  return {{"kit", kit_},
          {"connected", instrumentJson()},
          {"calibrated", calibrated_},
          {"catalogue", catalogueJson()},
          {"readings", readings_.size()}};
}

JsonValue ServeKit::readingJson(const Saved& r) const {
  JsonValue out = {{"number", r.number},
                   {"serial", r.scan->serial},
                   {"model", r.scan->model},
                   {"overRange", r.scan->overRange},
                   {"illuminant", HTColorUtils::toIlluminantStr(view_.illuminant).value_or("")},
                   {"observer", observerName(view_.observer)}};
  const auto lab = r.scan->lab(view_.observer, view_.illuminant);
  if (!lab) {
    out["hex"] = "";
    out["outOfGamut"] = false;
    out["lab"] = nullptr;
    out["lch"] = nullptr;
    return out;
  }
  // The gamut is that of the colour seen by the 2° observer, as its sRGB is.
  const auto seen = view_.observer == HCFStdObserver::TwoDegree
                        ? lab
                        : r.scan->lab(HCFStdObserver::TwoDegree, view_.illuminant);
  const HCFLchColor lch = lab->lchColor();
  out["hex"] = lab->hex();
  out["outOfGamut"] = seen && outsideSrgb(*seen);
  out["lab"] = {{"L", lab->L}, {"a", lab->A}, {"b", lab->B}};
  out["lch"] = {{"L", lch.L}, {"C", lch.c}, {"h", lch.h}};
  return out;
}

void ServeKit::postState() const { events_.post("state", oneLine(stateJson())); }

void ServeKit::postError(const std::string& message, std::int64_t code) const {
  // Not "error": that name is also the browser's own event for a lost connection.
  events_.post("failure", oneLine(JsonValue{{"error", message}, {"code", code}}));
}

void ServeKit::state(const Done& done) const {
  Reply r;
  r.body = stateJson();
  done(r);
}

void ServeKit::whenStarted(const Done& done) {
  if (kit_ == "starting") return starting_.push_back(done);
  done(kit_ == "started" ? Reply{} : errorReply(409, "the kit did not start"));
}

// ---- The instrument --------------------------------------------------------------------------

void ServeKit::found(const Result<std::vector<HPeripheralWRSSI>>& found, const Done& done) {
  if (!found) return done(kitError(found.error()));
  Reply r;
  r.body = {{"instruments", JsonValue::array()}};
  for (const auto& f : *found) {
    if (!f.peripheral) continue;
    r.body["instruments"].push_back({{"name", f.peripheral->name().value_or("")},
                                     {"serial", f.serial().value_or("")},
                                     {"rssi", f.rssi ? JsonValue(*f.rssi) : JsonValue(nullptr)},
                                     {"id", f.peripheral->identifier()}});
  }
  done(r);
}

void ServeKit::connect(const std::string& id, const Done& done) {
  const auto manager = HCFCentral::connectionManager();
  if (kit_ != "started" || !manager) return done(errorReply(409, "the kit has not started"));
  if (device_ && device_->peripheral() && device_->peripheral()->identifier() == id) {
    Reply r;
    r.body = instrumentJson();
    return done(r);
  }
  if (device_) {
    device_->disconnect();
    device_.reset();
    calibrated_ = false;
  }
  manager->connectToUUID(id, [this, done](std::optional<HCFError> error) {
    const auto m = HCFCentral::connectionManager();
    if (!error && (!m || !m->connectedDevice())) error = HTUtility::devBleInitFailed();
    if (error) return done(kitError(*error));
    device_ = m->connectedDevice();
    deviceName_ = device_->peripheral() ? device_->peripheral()->name().value_or("") : "";
    calibrated_ = false;
    battery_.reset();
    device_->setDelegate(listener_);
    Reply r;
    r.body = instrumentJson();
    done(r);
    postState();
    battery([](const Reply&) {});
  });
}

void ServeKit::disconnect(const Done& done) {
  if (device_) {
    device_->disconnect();
    device_.reset();
    calibrated_ = false;
    battery_.reset();
    postState();
  }
  done(Reply{});
}

void ServeKit::disconnected(HCFColorInstrument& instrument) {
  if (device_.get() != &instrument) return;
  device_.reset();
  calibrated_ = false;
  battery_.reset();
  postError("the instrument disconnected", 0);
  postState();
}

void ServeKit::calibrate(const Done& done) {
  if (!device_) return done(errorReply(409, "connect an instrument first"));
  // The instrument answers one scan at a time: a calibration during a reading (or a second
  // one) would take the other's answer and leave it waiting for good.
  if (measuring_ || calibrating_) {
    return done(errorReply(409, "the instrument is busy measuring; calibrate when it is done"));
  }
  // A simulated colorimeter is on its white tile at once; a person places a real one.
  if (needsWhiteCalibration()) session_.presentWhiteTile(device_->serial());
  auto device = device_;
  calibrating_ = true;
  device->requestCalibration([this, done, device](bool ok, std::optional<HCFError> error) {
    calibrating_ = false;
    if (!ok) return done(kitError(error.value_or(HTUtility::wpCalError())));
    if (device == device_) calibrated_ = true;
    Reply r;
    r.body = {{"calibrated", true}};
    done(r);
    postState();
  });
}

void ServeKit::battery(const Done& done) {
  if (!device_) return done(errorReply(409, "connect an instrument first"));
  auto device = device_;
  device->requestBatt(
      [this, done, device](std::optional<HCFBatteryStatus> status, std::optional<HCFError> error) {
        if (!status) return done(kitError(error.value_or(HTUtility::operationHaltedError())));
        if (device == device_) battery_ = status;
        Reply r;
        r.body = {{"level", static_cast<int>(std::lround(status->level * 100))},
                  {"charging", status->isOnPower && !status->isFullyCharged}};
        done(r);
        if (device == device_) postState();
      });
}

void ServeKit::measure(const Done& done) {
  if (!device_) return done(errorReply(409, "connect an instrument first"));
  if (needsWhiteCalibration() && !calibrated_) {
    return done(errorReply(409, std::string("calibrate first: ") + kCalibrationInstruction));
  }
  if (readings_.size() >= kMaxReadings) {
    return done(errorReply(409, "the session holds its most readings; start hcf serve again"));
  }
  if (calibrating_) return done(errorReply(409, "the instrument is calibrating; measure after it"));
  waiting_.push_back(done);
  if (measuring_) return;  // the reading under way answers this request too
  measuring_ = true;
  if (session_.simulated() && !chart_.empty()) {
    session_.place(device_->serial(), chart_[nextPatch_++ % chart_.size()].lab);
  }
  device_->requestColorScan([this](std::shared_ptr<HCFColorScan> tristimulus,
                                   std::shared_ptr<HCFColorScan> spectral,
                                   std::optional<HCFError> error) {
    finishReading(tristimulus ? tristimulus : spectral, std::move(error));
  });
}

void ServeKit::finishReading(std::shared_ptr<HCFColorScan> scan, std::optional<HCFError> error) {
  measuring_ = false;
  auto waiting = std::move(waiting_);
  waiting_.clear();
  if (scan && !scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)) scan.reset();
  if (!scan) {
    const HCFError e = error.value_or(HTUtility::scanError());
    for (const auto& done : waiting) done(kitError(e));
    return;
  }
  readings_.push_back({static_cast<int>(readings_.size()) + 1, std::move(scan)});
  Reply r;
  r.body = readingJson(readings_.back());
  events_.post("reading", oneLine(r.body));
  for (const auto& done : waiting) done(r);
}

void ServeKit::buttonPressed(HCFColorInstrument& instrument) {
  if (device_.get() != &instrument) return;
  events_.post("button", oneLine(JsonValue{{"serial", instrument.serial()}}));
  measure([this](const Reply& r) {
    if (r.status != 200)
      postError(r.body.value("error", ""), r.body.value("code", std::int64_t{0}));
  });
}

void ServeKit::pressButton(const Done& done) {
  if (!device_) return done(errorReply(409, "connect an instrument first"));
  if (!session_.pressButton(device_->serial())) {
    return done(errorReply(409, "only a simulated instrument's button can be pressed here"));
  }
  done(Reply{});
}

// ---- Colours of the session ------------------------------------------------------------------

void ServeKit::setView(const JsonValue& body, const Done& done) {
  ViewSettings v = view_;
  const auto text = [&](const char* key) -> std::optional<std::string> {
    if (!body.contains(key)) return std::nullopt;
    if (!body[key].is_string()) return std::string("\x01");  // never a name
    return body[key].get<std::string>();
  };
  if (const auto name = text("illuminant")) {
    const auto parsed = illuminantNamed(*name);
    if (!parsed) return done(kitError(parsed.error(), 400));
    v.illuminant = *parsed;
  }
  if (const auto name = text("observer")) {
    const auto parsed = observerNamed(*name);
    if (!parsed) return done(kitError(parsed.error(), 400));
    v.observer = *parsed;
  }
  if (const auto name = text("method")) {
    const auto parsed = deltaEMethodNamed(*name);
    if (!parsed) return done(kitError(parsed.error(), 400));
    v.method = *parsed;
  }
  view_ = v;
  done(Reply{});
}

void ServeKit::readings(const Done& done) const {
  Reply r;
  r.body = {{"readings", JsonValue::array()}};
  for (const auto& s : readings_) r.body["readings"].push_back(readingJson(s));
  done(r);
}

const ServeKit::Saved* ServeKit::reading(const JsonValue& number) const {
  if (!number.is_number_integer()) return nullptr;
  const auto n = number.get<std::int64_t>();
  if (n < 1 || n > static_cast<std::int64_t>(readings_.size())) return nullptr;
  return &readings_[static_cast<std::size_t>(n - 1)];
}

void ServeKit::difference(const std::string& a, const std::string& b, const Done& done) const {
  const auto number = [](const std::string& text) {
    return JsonValue::parse(text, nullptr, false);
  };
  const Saved* first = reading(number(a));
  const Saved* second = reading(number(b));
  if (!first || !second) {
    return done(errorReply(404, "a and b are the numbers of two readings of the session"));
  }
  const auto la = first->scan->lab(view_.observer, view_.illuminant);
  const auto lb = second->scan->lab(view_.observer, view_.illuminant);
  if (!la || !lb) return done(errorReply(409, "the readings have no colour under this view"));
  const Difference d = differenceOf(*lb, *la, view_.method);
  Reply r;
  r.body = {{"deltaE", d.deltaE},
            {"method", HTColorUtils::toDeltaEStr(view_.method)},
            {"dL", d.dL},
            {"dC", d.dC},
            {"dH", d.dH}};
  done(r);
}

void ServeKit::historyCgats(const Done& done) const {
  bool spectral = !readings_.empty();
  for (const auto& s : readings_) {
    spectral = spectral && dynamic_cast<const HCFSpectralScan*>(s.scan.get()) != nullptr;
  }
  CgatsTable table = measurementTable("hcf spot readings", spectral);
  for (const auto& s : readings_) appendScan(table, *s.scan, std::to_string(s.number));
  Reply r;
  r.file = cgatsText(table);
  r.contentType = "text/plain; charset=utf-8";
  r.fileName = "hcf-readings.cgats";
  done(r);
}

void ServeKit::historyCsv(const Done& done) const {
  // The columns of hcf scan lab --format csv: a row per reading, illuminant and observer.
  std::string text = "scan,kind,serial,model,hex,illuminant,observer,L,a,b\n";
  for (const auto& s : readings_) {
    const JsonValue colours = scanColoursJson(*s.scan);
    for (const auto& lab : colours["lab"]) {
      text += csvRow({std::to_string(s.number), colours.value("kind", ""), s.scan->serial,
                      s.scan->model, colours.value("hex", ""), lab.value("illuminant", ""),
                      lab.value("observer", ""), formatNumber(lab.value("L", 0.0)),
                      formatNumber(lab.value("a", 0.0)), formatNumber(lab.value("b", 0.0))}) +
              "\n";
    }
  }
  Reply r;
  r.file = std::move(text);
  r.contentType = "text/csv; charset=utf-8";
  r.fileName = "hcf-readings.csv";
  done(r);
}

// ---- The catalogue ---------------------------------------------------------------------------

void ServeKit::search(const JsonValue& body, const Done& done) const {
  const Saved* sample = reading(body.value("reading", JsonValue(nullptr)));
  if (!sample) return done(errorReply(404, "reading is the number of a reading of the session"));
  const JsonValue limit = body.value("limit", JsonValue(10));
  if (!limit.is_number_integer() || limit.get<std::int64_t>() < 1 ||
      limit.get<std::int64_t>() > static_cast<std::int64_t>(kMaxSearchLimit)) {
    return done(errorReply(400, "limit is a whole number from 1 to 50"));
  }
  std::string problem;
  const auto filters = filtersOf(body, problem);
  if (!filters) return done(errorReply(400, problem));
  auto search = HCFProductSearch::productSearch();
  search.colorTerm = sample->scan;
  search.colorSearchOptions.illuminant = view_.illuminant;
  search.colorSearchOptions.observer = view_.observer;
  search.colorSearchOptions.deltaEMethod = view_.method;
  search.limit = limit.get<std::uint64_t>();
  if (!filters->empty()) search.filters = *filters;
  search.execute([done](std::vector<HCFProductSearchResult> results, std::optional<HCFError> e) {
    if (e) return done(kitError(*e));
    Reply r;
    r.body = {{"products", JsonValue::array()}};
    for (const auto& found : results) {
      const auto& p = found.product;
      const std::string hex = p.internalColors && !p.internalColors->empty()
                                  ? p.internalColors->front().hex()
                                  : std::string();
      r.body["products"].push_back(
          {{"code", p.code()},
           {"name", p.name()},
           {"hex", hex},
           {"deltaE", found.deltaE ? JsonValue(*found.deltaE) : JsonValue(nullptr)}});
    }
    done(r);
  });
}

void ServeKit::filters(const JsonValue& body, const Done& done) const {
  std::string problem;
  const auto selected = filtersOf(body, problem);
  if (!selected) return done(errorReply(400, problem));
  HCFProductFilterSet::offlineProductsFilterSet(
      [done, selected = *selected](std::shared_ptr<HCFProductFilterSet> panel,
                                   std::optional<HCFError> error) {
        if (error || !panel)
          return done(kitError(error.value_or(HTUtility::operationHaltedError())));
        panel->setSelectedFilters(selected);
        panel->updateAvailableFilters([done](std::shared_ptr<HCFProductFilterSet> p,
                                             std::optional<HCFError> e) {
          if (e || !p) return done(kitError(e.value_or(HTUtility::operationHaltedError())));
          p->superImposeSelectedFilters();
          Reply r;
          r.body = {{"facets", JsonValue::array()}};
          for (const auto& [key, values] : p->availableFiltersByKey()) {
            JsonValue facet = {
                {"key", key},
                {"label", values.empty() ? key : values.front().keyTranslated.value_or(key)},
                {"values", JsonValue::array()}};
            for (const auto& kv : values) {
              const auto count = p->productCountForFilter(kv);
              facet["values"].push_back({{"value", kv.val.value_or("")},
                                         {"label", kv.valTranslated.value_or(kv.val.value_or(""))},
                                         {"count", count ? JsonValue(*count) : JsonValue(nullptr)},
                                         {"selected", p->filterIsSelected(kv)}});
            }
            r.body["facets"].push_back(std::move(facet));
          }
          done(r);
        });
      });
}

void ServeKit::download(const Done& done) {
  const auto manager = HCFCentral::productManager();
  if (kit_ != "started" || !manager) return done(errorReply(409, "the kit has not started"));
  if (!downloading_) {
    downloading_ = true;
    progress_ = progressSent_ = 0;
    manager->downloadProductsWithDelegate(listener_);
    events_.post("download", oneLine(catalogueJson()));
  }
  Reply r;
  r.body = catalogueJson();
  done(r);
}

void ServeKit::downloadProgress(float fraction) {
  if (!downloading_) return;
  progress_ = std::clamp(fraction, 0.0F, 1.0F);
  if (progress_ - progressSent_ < kProgressStep) return;
  progressSent_ = progress_;
  events_.post("download", oneLine(catalogueJson()));
}

void ServeKit::downloadEnded(std::optional<HCFError> error) {
  if (!downloading_) return;
  downloading_ = false;
  if (error) {
    postError("catalogue download: " + error->localizedDescription, error->code);
    events_.post("download", oneLine(catalogueJson()));
    return;
  }
  catalogueDate_ = utcNowIso8601();
  const auto manager = HCFCentral::productManager();
  if (!manager) return;
  manager->countDownloadedProducts([this](std::uint64_t count, std::optional<HCFError>) {
    products_ = count;
    events_.post("download", oneLine(catalogueJson()));
    postState();
  });
}

}  // namespace hcf_tool
