// The spectrometer's model chain: compiling a downloaded package, loading the compiled chain,
// and one measurement through the three models. The floor beside it is the same arithmetic
// written as plain loops over the same weights: what any runtime would at least have to do.
#include <benchmark/benchmark.h>
#include <hcf/hcf.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "spectrometer.h"
#include "target_reporter.h"

namespace fx = hcf_cloud::fixtures;
namespace fs = std::filesystem;

namespace {

const std::string kSerial = fx::iriselSerial(fx::PackageKind::ThreeModels);
const std::vector<std::string> kChain = fx::packageChain(fx::PackageKind::ThreeModels);

// The package unpacked once into a data directory of its own.
const fs::path& packageFolder() {
  static const fs::path folder = [] {
    const auto dir =
        fs::temp_directory_path() / ("hcf-spectro-bench-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    hcf::HCFRealmManager::setDocDirectory(dir);
    auto f = hcf::HCFSpectroANN::saveZipData(
        fx::modelPackage(kSerial, fx::PackageKind::ThreeModels), kSerial);
    if (!f) std::abort();
    for (const auto& name : kChain) {
      if (!hcf::HCFSpectroANN::compileAndSave(*f / (name + ".mlmodel"), *f)) std::abort();
    }
    return *f;
  }();
  return folder;
}

std::vector<std::shared_ptr<const hcf::HCFMLModel>> loadChain() {
  std::vector<std::shared_ptr<const hcf::HCFMLModel>> models;
  for (const auto& name : kChain) {
    auto m = hcf::HCFMLModel::initWithContentsOfURL(packageFolder() / (name + ".mlmodelc"));
    if (!m) std::abort();
    models.push_back(*m);
  }
  return models;
}

std::vector<double> rawResponse() {
  const auto r = fx::spectrometerFor(kSerial).response(fx::sampleReflectances()[4]);
  return {r.begin(), r.end()};
}

void BM_CompilePackage(benchmark::State& state) {
  const auto folder = packageFolder();
  for (auto _ : state) {
    for (const auto& name : kChain) {
      auto url = hcf::HCFSpectroANN::compileAndSave(folder / (name + ".mlmodel"), folder);
      benchmark::DoNotOptimize(url);
    }
  }
}
BENCHMARK(BM_CompilePackage)->Name("compile_three_model_package")->Unit(benchmark::kMicrosecond);

void BM_LoadChain(benchmark::State& state) {
  packageFolder();
  for (auto _ : state) {
    auto chain = loadChain();
    benchmark::DoNotOptimize(chain);
  }
}
BENCHMARK(BM_LoadChain)->Name("load_compiled_chain")->Unit(benchmark::kMicrosecond);

void BM_Predict(benchmark::State& state) {
  const auto chain = loadChain();
  const auto raw = rawResponse();
  for (auto _ : state) {
    auto values = hcf::mlmultiArray(raw);
    for (const auto& m : chain) {
      auto out = m->predictionFromDense_1_input__0(values);
      if (!out) std::abort();
      values = std::move(out->output_node0__0);
    }
    auto curve = hcf::arrayFromMulti(values);
    benchmark::DoNotOptimize(curve);
  }
}
BENCHMARK(BM_Predict)->Name("predict_three_model_chain")->Unit(benchmark::kMicrosecond);

// The same three steps by hand: diagonal scale and offset, 32×31 product and bias, clamp.
void BM_Floor(benchmark::State& state) {
  const auto raw = rawResponse();
  std::vector<double> scale(32, 1.1), offset(32, -0.02), w(32 * 31, 0.01), bias(31, 0.5);
  for (auto _ : state) {
    std::vector<double> n(32);
    for (std::size_t b = 0; b < 32; ++b) n[b] = raw[b] * scale[b] + offset[b];
    std::vector<double> r(bias);
    for (std::size_t b = 0; b < 32; ++b) {
      for (std::size_t i = 0; i < 31; ++i) r[i] += n[b] * w[b * 31 + i];
    }
    for (auto& v : r) v = v < 0 ? 0 : v;
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Floor)->Name("floor_plain_loops")->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  hcf_bench::TargetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.printTargets("spectrometer model chain", {{"predict_three_model_chain", 20}});
  hcf::HCFRealmManager::setDocDirectory(std::nullopt);
  std::error_code ec;
  fs::remove_all(fs::temp_directory_path() / ("hcf-spectro-bench-" + std::to_string(::getpid())),
                 ec);
  return 0;
}
