// Held-out accuracy: every readable colorimeter version and the spectrometer measure samples
// they were not calibrated on, through the whole path an application takes (discovery,
// connection, calibration record or model package from the cloud, white calibration with read
// noise, reading, adjustment, scan), and the scans' CIELAB (D50, 2°) is compared with the true
// colour of each sample's spectrum. The samples are the Munsell renotation chips and a CIELAB
// grid inside the gamut of real paints. The figures are printed beside the targets; how long a
// reading takes is measured too.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fixtures.h"
#include "hcf/hcf.h"
#include "hcf/testing/test_kit.h"
#include "sample_spectra.h"

namespace {

using namespace hcf;
namespace fx = hcf_cloud::fixtures;
using namespace std::chrono_literals;

// Drives the main queue until the answer of `start` arrives (or a minute of simulated time).
template <typename... Args, typename Start>
std::optional<std::tuple<Args...>> await(Start start) {
  auto result = std::make_shared<std::optional<std::tuple<Args...>>>();
  start([result](Args... values) {
    dispatch::mainQueue().async([result, answer = std::tuple<Args...>(std::move(values)...)] {
      if (!*result) *result = answer;
    });
  });
  auto& queue = dispatch::mainQueue();
  queue.runUntil([&] { return result->has_value(); }, queue.now() + 60s);
  return *result;
}

struct Figures {
  std::size_t n = 0;
  double mean = 0, p95 = 0, max = 0;
};

Figures figuresOf(std::vector<double> d) {
  Figures f;
  f.n = d.size();
  if (d.empty()) return f;
  std::sort(d.begin(), d.end());
  for (const double v : d) f.mean += v;
  f.mean /= static_cast<double>(d.size());
  f.p95 = d[static_cast<std::size_t>(0.95 * static_cast<double>(d.size() - 1) + 0.5)];
  f.max = d.back();
  return f;
}

struct Row {
  std::string instrument;
  bool spectrometer = false;
  std::map<std::string, std::vector<double>> errors;  // per sample set
};

// The world, the kit and one instrument at a time in range.
class Bench {
 public:
  Bench() {
    dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
    for (const auto& model : kModels) kit_.addColorimeter(model);
    kit_.addSpectrometer();
    HCFCentral::configure(kit_.configuration());
    auto started = await<std::optional<HCFError>>(
        [this](auto done) { HCFCentral::initWith(kit_.sdkKey(), done); });
    if (!started || std::get<0>(*started)) throw std::runtime_error("the kit did not start");
    pass(100ms);
  }

  // Measures every sample of every set on `instrument`; the ΔE00 per set.
  Row measureAll(testing::SimulatedInstrument& instrument, double noise) {
    Row row{instrument.isSpectrometer() ? "spectrometer" : instrument.model(),
            instrument.isSpectrometer(),
            {}};
    for (auto* other : kit_.instruments()) other->setInRange(other == &instrument);
    instrument.setNoise(noise);
    auto manager = HCFCentral::connectionManager();
    auto found = await<std::optional<std::vector<HPeripheralWRSSI>>, std::optional<HCFError>>(
        [&](auto done) { manager->bleDiscoverWithRestricted(false, done); });
    if (!found || !std::get<0>(*found) || std::get<0>(*found)->empty()) {
      throw std::runtime_error(row.instrument + ": not found");
    }
    auto connected = await<std::optional<HCFError>>(
        [&](auto done) { manager->connectTo(std::get<0>(*found)->front().peripheral, done); });
    if (!connected || std::get<0>(*connected))
      throw std::runtime_error(row.instrument + ": no connection");
    auto device = manager->connectedDevice();
    instrument.presentWhiteTile();
    auto calibrated =
        await<bool, std::optional<HCFError>>([&](auto done) { device->requestCalibration(done); });
    if (!calibrated || !std::get<0>(*calibrated)) {
      throw std::runtime_error(row.instrument + ": white calibration failed");
    }
    const std::vector<std::pair<std::string, const std::vector<fx::Sample>*>> sets = {
        {"Munsell", &fx::munsellSamples()}, {"paint grid", &fx::paintGamutGrid()}};
    for (const auto& [name, samples] : sets) {
      auto& errors = row.errors[name];
      for (const auto& s : *samples) {
        instrument.placeSample(HCFLabColor::labColorWithL(s.L, s.a, s.b, HCFIlluminant::D50));
        auto scan =
            await<std::shared_ptr<HCFColorScan>, std::shared_ptr<HCFColorScan>,
                  std::optional<HCFError>>([&](auto done) { device->requestColorScan(done); });
        if (!scan) throw std::runtime_error(row.instrument + ": no answer");
        auto& [tristimulus, spectral, error] = *scan;
        const auto& got = tristimulus ? tristimulus : spectral;
        if (!got) throw std::runtime_error(row.instrument + ": " + error->localizedDescription);
        const auto lab = got->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
        errors.push_back(lab->deltaE00(fx::colourOf(s.reflectance).toLab()));
      }
    }
    device->disconnect();
    queueUntil([&] { return !manager->isConnected(); });
    return row;
  }

  testing::TestKit& kit() { return kit_; }

  static inline const std::vector<std::string> kModels = {"1.1",     "2.0",     "2.1", "3.0",
                                                          "3.01.00", "3.01.02", "4.0"};

 private:
  static void pass(dispatch::Duration d) {
    dispatch::mainQueue().runUntil(nullptr, dispatch::mainQueue().now() + d);
  }
  static void queueUntil(const std::function<bool()>& done) {
    dispatch::mainQueue().runUntil(done, dispatch::mainQueue().now() + 10s);
  }
  testing::TestKit kit_;
};

Bench& bench() {
  static Bench b;
  return b;
}

std::vector<Row>& rows() {
  static std::vector<Row> r;
  return r;
}

// One pass over every instrument; its time is the time of the whole table.
void BM_HeldOutAccuracy(benchmark::State& state) {
  for (auto _ : state) {
    rows().clear();
    for (auto* instrument : bench().kit().instruments()) {
      const double noise =
          instrument->isSpectrometer() ? 3.0 : fx::sensorFor(instrument->model(), false).noise;
      rows().push_back(bench().measureAll(*instrument, noise));
    }
  }
  std::size_t readings = 0;
  for (const auto& r : rows()) {
    for (const auto& [set, e] : r.errors) readings += e.size();
  }
  state.counters["readings"] = static_cast<double>(readings);
  state.counters["per_reading_us"] = benchmark::Counter(
      static_cast<double>(readings),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HeldOutAccuracy)
    ->Name("held_out_accuracy_table")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

std::string verdict(double value, double target) {
  char buf[48];
  if (value <= target) {
    std::snprintf(buf, sizeof buf, "met");
  } else {
    std::snprintf(buf, sizeof buf, "MISSED by %.2f", value - target);
  }
  return buf;
}

void printTable() {
  std::printf(
      "\nheld-out accuracy, ΔE00 against each sample's true colour (CIELAB D50, 2°), through\n"
      "discovery, connection, white calibration with read noise, reading and scan\n"
      "targets: colorimeters mean ≤ 1.0 and 95th percentile ≤ 2.0; spectrometer mean ≤ 0.3\n\n");
  std::printf("%-13s %-11s %5s %6s %6s %6s   %-17s %s\n", "instrument", "samples", "n", "mean",
              "p95", "max", "mean", "p95");
  for (const auto& r : rows()) {
    std::vector<double> all;
    for (const auto& [set, e] : r.errors) all.insert(all.end(), e.begin(), e.end());
    auto lines = r.errors;
    lines["all"] = all;
    for (const std::string set : {"Munsell", "paint grid", "all"}) {
      const Figures f = figuresOf(lines[set]);
      const std::string mean = verdict(f.mean, r.spectrometer ? 0.3 : 1.0);
      const std::string p95 = r.spectrometer ? "-" : verdict(f.p95, 2.0);
      std::printf("%-13s %-11s %5zu %6.2f %6.2f %6.2f   %-17s %s\n", r.instrument.c_str(),
                  set.c_str(), f.n, f.mean, f.p95, f.max, mean.c_str(), p95.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!rows().empty()) printTable();
  return 0;
}
