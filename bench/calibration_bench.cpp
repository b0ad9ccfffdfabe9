// One full colour adjustment from the calibration record's text, as the reading path does it
// for every measurement: the network path, and the table path with a 1000-entry table.
#include <benchmark/benchmark.h>
#include <hcf/hcf.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "fixtures.h"
#include "target_reporter.h"

namespace {

hcf::TintraDeviceAdjustmentMethod networkMethod() {
  hcf::TintraDeviceAdjustmentMethod m;
  m.set_adjustment_method_type("ANN");
  m.set_adjustment_method_data(
      hcf_cloud::fixtures::offsetNetworkDocument({0.4, -0.3, 0.2}, {0.6, -0.5, 0.1}));
  return m;
}

std::string tableText(std::size_t entries, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> L(5, 98), ab(-80, 80), d(-2, 2);
  hcf::JsonValue table = hcf::JsonValue::array();
  for (std::size_t i = 0; i < entries; ++i) {
    table.push_back({{"L", L(rng)},
                     {"a", ab(rng)},
                     {"b", ab(rng)},
                     {"dL", d(rng)},
                     {"da", d(rng)},
                     {"db", d(rng)}});
  }
  return table.dump();
}

hcf::TintraDeviceAdjustmentMethod tableMethod(unsigned seed) {
  hcf::TintraDeviceAdjustmentMethod m;
  m.set_adjustment_method_type("LUT");
  m.set_adjustment_method_data(tableText(1000, seed));
  return m;
}

void adjustment_network(benchmark::State& state) {
  const auto method = networkMethod();
  double L = 40;
  for (auto _ : state) {
    auto r = hcf::TintraAdjust::applyAdjustment(method, L, 12, -7, hcf::HCFStdObserver::TenDegree);
    benchmark::DoNotOptimize(r);
    L = L < 90 ? L + 0.5 : 40;
  }
}

void adjustment_table_1000(benchmark::State& state) {
  const auto method = tableMethod(1);
  double L = 40;
  for (auto _ : state) {
    auto r = hcf::TintraAdjust::applyAdjustment(method, L, 12, -7);
    benchmark::DoNotOptimize(r);
    L = L < 90 ? L + 0.5 : 40;
  }
}

// Every call a record the cache has not seen (more records than it keeps): the price of the
// first measurement with a new record.
void adjustment_table_1000_first_use(benchmark::State& state) {
  std::vector<hcf::TintraDeviceAdjustmentMethod> methods;
  for (unsigned i = 0; i < 20; ++i) methods.push_back(tableMethod(100 + i));
  std::size_t k = 0;
  for (auto _ : state) {
    auto r = hcf::TintraAdjust::applyAdjustment(methods[k++ % methods.size()], 50, 12, -7);
    benchmark::DoNotOptimize(r);
  }
}

void spectral_integration(benchmark::State& state, hcf::HCFIlluminant illuminant) {
  std::vector<double> curve(31);
  for (std::size_t i = 0; i < curve.size(); ++i)
    curve[i] = 0.2 + 0.6 * static_cast<double>(i) / 30.0;
  for (auto _ : state) {
    auto xyz = hcf::HCFCieSpectralMath::xyzFromSpectrum(curve, 400, illuminant,
                                                        hcf::HCFStdObserver::TwoDegree);
    benchmark::DoNotOptimize(xyz);
  }
}

// One full reading from counts, the record parsed from its bytes as the kit does per reading.
void reading(benchmark::State& state, const std::string& version) {
  static const bool storeReady = [] {
    const auto dir = std::filesystem::temp_directory_path() / "hcf-bench-store";
    std::filesystem::remove_all(dir);
    hcf::HCFRealmManager::setDocDirectory(dir);
    const std::string doc = hcf_cloud::fixtures::alignmentDocument(12);
    hcf::HCFRealmManager::addUpdateAlignmentHash(hcf::Bytes(doc.begin(), doc.end()), 12, 1);
    return true;
  }();
  (void)storeReady;
  const bool orla = version == "4.0";
  const auto record = hcf_cloud::fixtures::makeRecord(
      {.tintraModel = version,
       .mb24 = orla || version == "3.01.02",
       .batchNumber = orla ? 12 : 7,
       .adjustment = orla || version == "2.1" ? hcf_cloud::fixtures::Adjustment::Network
                                              : hcf_cloud::fixtures::Adjustment::Table});
  const hcf::Bytes bytes = hcf::TintraDeviceRecord::data(record);
  const hcf::HITintraSensorReading sense{12000, 15000, 9000, 0};
  for (auto _ : state) {
    auto device = hcf::TintraDeviceRecord::parseFromData(bytes);
    auto r = hcf::HIColorReading::initWith(sense, *device);
    benchmark::DoNotOptimize(r);
  }
}

BENCHMARK_CAPTURE(spectral_integration, D65, hcf::HCFIlluminant::D65)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(spectral_integration, F11, hcf::HCFIlluminant::F11)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(reading, v1_1, std::string("1.1"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(reading, v2_0, std::string("2.0"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(reading, v2_1, std::string("2.1"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(reading, v3_0, std::string("3.0"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(reading, v3_01_02_MB24, std::string("3.01.02"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(reading, v4_0_ColorOrla, std::string("4.0"))->Unit(benchmark::kMicrosecond);
BENCHMARK(adjustment_network)->Unit(benchmark::kMicrosecond);
BENCHMARK(adjustment_table_1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(adjustment_table_1000_first_use)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  hcf_bench::TargetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.printTargets("one adjustment from the record", {{"adjustment_network", 50},
                                                           {"adjustment_table_1000", 300},
                                                           {"reading/v4_0_ColorOrla", 100}});
  if (auto it = reporter.micros.find("adjustment_table_1000_first_use");
      it != reporter.micros.end()) {
    std::printf("%-36s %10.2f   (a record not seen before: parse included)\n", it->first.c_str(),
                it->second);
  }
  return 0;
}
