// Product search on the synthetic catalogues of 100,000 and 1,000,000 products: colour
// searches for 200 query colours (median and 95th percentile), side by side with a
// brute-force reference that computes CIEDE2000 against every product and keeps those in the
// box; every result page is checked against the reference. Also a text search and a filter
// change (select, availability recomputed) at 100,000 products.
#include <benchmark/benchmark.h>
#include <hcf/hcf.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>

#include "catalog_support.h"

using namespace hcf;
using hcf_bench::await;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kQueries = 200;

struct Reference {
  std::vector<double> L, a, b;           // each product's reference colour, by rank
  std::vector<bool> inspiration;         // by rank
  std::map<std::string, std::uint32_t> rankOf;  // by uuid
};

// Read straight from the store file, as a reference independent of the kit's search.
Reference readReference(const std::filesystem::path& store) {
  Reference r;
  sqlite3* db = nullptr;
  sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT r.rank, p.uuid, p.isInspiration, c.d50L, c.d50A, c.d50B "
                     "FROM HCFProductRank r JOIN HRLMOfflineProduct p ON p.id = r.product "
                     "JOIN HRLMBatchedLab c ON c.product = p.id AND c.batch = 'adjusted' "
                     "ORDER BY r.rank",
                     -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    r.rankOf[reinterpret_cast<const char*>(sqlite3_column_text(s, 1))] =
        static_cast<std::uint32_t>(sqlite3_column_int64(s, 0));
    r.inspiration.push_back(sqlite3_column_int(s, 2) != 0);
    r.L.push_back(sqlite3_column_double(s, 3));
    r.a.push_back(sqlite3_column_double(s, 4));
    r.b.push_back(sqlite3_column_double(s, 5));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return r;
}

// The 50 nearest products inside the box around `q` (CIEDE2000 to every product; all of
// them when 9 or fewer are inside).
std::vector<std::uint32_t> bruteForce(const Reference& r, const HCFLabColor& q) {
  std::vector<std::pair<float, std::uint32_t>> hits, all;
  for (std::uint32_t i = 0; i < r.L.size(); ++i) {
    if (r.inspiration[i]) continue;
    const auto d = static_cast<float>(
        CieStdMath::deltaE2000WithL(q.L, q.A, q.B, r.L[i], r.a[i], r.b[i]));
    all.emplace_back(d, i);
    if (r.L[i] < q.L + 30 && r.L[i] > q.L - 35 && r.a[i] < q.A + 35 && r.a[i] > q.A - 35 &&
        r.b[i] < q.B + 35 && r.b[i] > q.B - 35) {
      hits.emplace_back(d, i);
    }
  }
  if (hits.size() <= 9) hits = std::move(all);
  const std::size_t k = std::min<std::size_t>(50, hits.size());
  std::partial_sort(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(k), hits.end());
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < k; ++i) out.push_back(hits[i].second);
  return out;
}

// Colours as an instrument reads paint: random sRGB colours, as the catalogue's are.
std::vector<HCFLabColor> queryColours() {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> channel(0, 1);
  std::vector<HCFLabColor> out;
  for (int i = 0; i < kQueries; ++i) {
    const auto rgb = HCFRGBColor::rgbColorWithR(channel(random), channel(random), channel(random),
                                                HCFRGBSpace::sRGB);
    out.push_back(rgb.labColor(HCFIlluminant::D50));
  }
  return out;
}

void percentiles(benchmark::State& state, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[ms.size() * 95 / 100];
}

std::map<std::string, double> gMedians;

void BM_color_search(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  hcf_bench::useStore(n, "search");
  const auto reference = readReference(hcf_bench::builtStore(n));
  const auto queries = queryColours();
  std::vector<double> ms;
  int mismatches = 0;
  for (auto _ : state) {
    for (const auto& q : queries) {
      auto search = HCFProductSearch::productSearch();
      auto term = std::make_shared<HCFGenericColorSearchTerm>();
      term->auxLab = q;
      search.colorTerm = term;
      const auto start = Clock::now();
      const auto results = await<std::vector<HCFProductSearchResult>>(
          [&](auto done) { search.execute([done](auto r, auto) { done(std::move(r)); }); });
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      std::vector<std::uint32_t> got;
      for (const auto& r : results) got.push_back(reference.rankOf.at(*r.product.uuid));
      const auto want = bruteForce(reference, q);
      if (got != want) {
        if (++mismatches == 1 && std::getenv("HCF_BENCH_VERBOSE")) {
          std::fprintf(stderr, "sizes %zu %zu\n", got.size(), want.size());
          for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
            if (got[i] == want[i]) continue;
            std::fprintf(stderr, "query %.2f %.2f %.2f: at %zu got rank %u (%.4f) want %u; %zu vs %zu\n", q.L, q.A, q.B, i, got[i],
                         static_cast<double>(*results[i].deltaE), want[i], got.size(), want.size());
            break;
          }
        }
      }
    }
  }
  percentiles(state, ms);
  gMedians["color_search/" + std::to_string(n)] = state.counters["median_ms"];
  state.counters["mismatches"] = mismatches;
}

void BM_brute_force_reference(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto reference = readReference(hcf_bench::builtStore(n));
  const auto queries = queryColours();
  std::vector<double> ms;
  for (auto _ : state) {
    for (const auto& q : queries) {
      const auto start = Clock::now();
      benchmark::DoNotOptimize(bruteForce(reference, q));
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  percentiles(state, ms);
  gMedians["brute_force/" + std::to_string(n)] = state.counters["median_ms"];
}

void BM_text_search(benchmark::State& state) {
  hcf_bench::useStore(static_cast<std::size_t>(state.range(0)), "search");
  const char* terms[] = {"misty", "rosé", "sy-00042", "harbour", "crème"};
  // The first text search reads the catalogue's text index; time the ones after it.
  {
    auto warm = HCFProductSearch::productSearch();
    warm.textTerm = "warm";
    await<std::vector<HCFProductSearchResult>>(
        [&](auto done) { warm.execute([done](auto r, auto) { done(std::move(r)); }); });
  }
  std::size_t i = 0;
  for (auto _ : state) {
    auto search = HCFProductSearch::productSearch();
    search.textTerm = terms[i++ % std::size(terms)];
    benchmark::DoNotOptimize(await<std::vector<HCFProductSearchResult>>(
        [&](auto done) { search.execute([done](auto r, auto) { done(std::move(r)); }); }));
  }
}

void BM_filter_change(benchmark::State& state) {
  hcf_bench::useStore(static_cast<std::size_t>(state.range(0)), "search");
  auto set = await<std::shared_ptr<HCFProductFilterSet>>([](auto done) {
    HCFProductFilterSet::offlineProductsFilterSet([done](auto s, auto) { done(s); });
  });
  const auto matte = HCFProductKV::kvWithKey("finish", "matte");
  for (auto _ : state) {
    // One change: select, or deselect again.
    await<std::shared_ptr<HCFProductFilterSet>>(
        [&](auto done) { set->toggleFilter(matte, [done](auto s, auto) { done(s); }); });
  }
}

void sizes(benchmark::internal::Benchmark* b) {
  for (const std::size_t n : {std::size_t{100000}, std::size_t{1000000}}) {
    if (n <= hcf_bench::maxProducts()) b->Arg(static_cast<std::int64_t>(n));
  }
}

}  // namespace

BENCHMARK(BM_color_search)->Apply(sizes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_brute_force_reference)->Apply(sizes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_search)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_filter_change)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\n%-28s %12s %14s %10s\n", "colour search (median)", "ms", "brute force ms",
              "target ms");
  for (const auto& [size, target] : {std::pair{"100000", 5.0}, std::pair{"1000000", 30.0}}) {
    const auto it = gMedians.find(std::string("color_search/") + size);
    if (it == gMedians.end()) continue;
    std::printf("%-28s %12.2f %14.2f %7s %.0f %s\n", size, it->second,
                gMedians[std::string("brute_force/") + size], "<", target,
                it->second < target ? "met" : "MISSED");
  }
  return 0;
}
