// The product catalogue at 100,000 and 1,000,000 products: building the prepared store from
// product lines, and the store's queries an application makes on it (a page of 50 in the
// default order, a count, the filter values in use), each through the kit's asynchronous
// API, from the call to the answer on the main queue.
//
// The synthetic catalogues are written once into the temporary directory and reused.
// HCF_BENCH_MAX_PRODUCTS limits the sizes (for a quick run).
#include <benchmark/benchmark.h>
#include <hcf/hcf.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "catalog_fixture.h"
#include "catalog_support.h"
#include "target_reporter.h"

namespace fx = hcf_cloud::fixtures;
namespace fs = std::filesystem;
using namespace hcf;
using hcf_bench::await;
using hcf_bench::catalogLines;
using hcf_bench::maxProducts;
using hcf_bench::storeOf;

namespace {

std::map<std::size_t, double> gStoreMB;

void BM_build_store(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const fs::path lines = catalogLines(n);
  for (auto _ : state) {
    std::ifstream in(lines, std::ios::binary);
    const auto result = HCFProductStoreBuilder::build(in, storeOf(n));
    if (!result.ok()) state.SkipWithError(result.error->localizedDescription.c_str());
  }
  gStoreMB[n] = static_cast<double>(fs::file_size(storeOf(n))) / 1e6;
  state.counters["products/s"] =
      benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["store_MB"] = gStoreMB[n];
}

const predicate::Predicate kProducts = predicate::Predicate::equal("isInspiration", false);

void useStore(std::size_t n) {
  static std::size_t current = 0;
  if (current == n) return;
  hcf_bench::useStore(n, "catalog");
  current = n;
}

void BM_sorted_page_of_50(benchmark::State& state) {
  useStore(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const auto page = await<std::vector<HCFHalvernCloudProduct>>([](auto done) {
      HCFRealmManager::offlineProductsMatchingPredicate(kProducts, {}, 0, 50, done);
    });
    if (page.size() != 50) state.SkipWithError("the page is not full");
  }
}

void BM_count(benchmark::State& state) {
  useStore(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const auto n = await<std::uint64_t>(
        [](auto done) { HCFRealmManager::offlineProductCountForPredicate(kProducts, done); });
    benchmark::DoNotOptimize(n);
  }
}

void BM_filter_values_in_use(benchmark::State& state) {
  useStore(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const auto kvs = await<std::vector<HCFProductKV>>([](auto done) {
      HCFRealmManager::offlineProductFiltersForProductsMatchingPredicate(kProducts, done);
    });
    if (kvs.empty()) state.SkipWithError("no filter values");
  }
}

void sizes(benchmark::internal::Benchmark* b) {
  for (const std::size_t n : {std::size_t{100000}, std::size_t{1000000}}) {
    if (n <= maxProducts()) b->Arg(static_cast<std::int64_t>(n));
  }
}

}  // namespace

BENCHMARK(BM_build_store)->Apply(sizes)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_sorted_page_of_50)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_count)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_filter_values_in_use)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  hcf_bench::TargetReporter reporter;
  dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\n%-36s %12s %12s\n", "products store", "products/s", "target");
  for (const auto& [name, micros] : reporter.micros) {
    if (name.rfind("BM_build_store/", 0) != 0) continue;
    const double n = std::stod(name.substr(15, name.find('/', 15) - 15));
    const double rate = n / (micros / 1e6);
    std::printf("%-36s %12.0f %9s %s (store %.0f MB)\n", name.c_str(), rate, "> 20000",
                rate > 20000 ? "met" : "MISSED", gStoreMB[static_cast<std::size_t>(n)]);
  }
  reporter.printTargets("products store queries",
                        {{"BM_sorted_page_of_50/100000/real_time", 5000},
                         {"BM_sorted_page_of_50/1000000/real_time", 5000},
                         {"BM_filter_values_in_use/1000000/real_time", 200000}});
  return 0;
}
