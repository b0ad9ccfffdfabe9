// Catalogue download and installation from the reference cloud on loopback (archives of the
// synthetic catalogues of 100,000 and 1,000,000 products), and the online search round trip.
// The anchor is the transfer alone: streaming the archive to disk with the same session,
// without unpacking, checking or installing.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "catalog_routes.h"
#include "catalog_support.h"
#include "cloud_server.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "package_builder.h"

extern char** environ;

namespace {

using namespace hcf;
namespace fs = std::filesystem;
namespace fx = hcf_cloud::fixtures;
using Clock = std::chrono::steady_clock;

// The archive of the store of `n` products, made once.
fs::path archiveOf(std::size_t n) {
  const fs::path archive = hcf_bench::kCatalogDir / ("prod-dbs-" + std::to_string(n) + ".zip");
  if (!fs::exists(archive)) {
    fx::zipFileTo(archive, "halvern-products-demo-package.realm", hcf_bench::builtStore(n));
  }
  return archive;
}

// The reference cloud serving the catalogue of `n` products for the demo package.
struct Cloud {
  hcf_cloud::CloudServer server;
  std::shared_ptr<hcf_cloud::CloudWorld> world = std::make_shared<hcf_cloud::CloudWorld>();

  explicit Cloud(std::size_t n) {
    world->addLogin(fx::kDemoSdkKey, {{"sdk_key", fx::kDemoSdkKey},
                                      {"session_token", "session-bench"},
                                      {"subscription_id", "sub-bench"},
                                      {"package_id", fx::kDemoPackageID}});
    world->putCatalog(fx::kDemoPackageID,
                      {hcf_bench::builtStore(n), archiveOf(n), "2026-11-30T09:00:00.000Z"});
    hcf_cloud::addCatalogRoutes(server, world);
    server.start();
    CloudEndpoints::setCurrent(CloudEndpoints::withBase(server.baseUrl()));
  }
  HCFNetCredentials credentials() const {
    return HCFNetCredentials::sdkAuthResponseFromDictionary(*world->login(fx::kDemoSdkKey));
  }
};

// Hears a download, noting when the archive was in and when the catalogue was installed.
struct Timing : HCFProductDownloaderDelegate {
  Clock::time_point transferred{}, installed{};
  std::optional<HCFError> failure;
  bool ended = false;
  void productDownloaderDidUpdateProgress(float p) override {
    if (p >= 1.0f && transferred == Clock::time_point{}) transferred = Clock::now();
  }
  void productDownloaderDidComplete() override {
    installed = Clock::now();
    ended = true;
  }
  void productDownloaderDidFailWithError(const HCFError& e) override {
    failure = e;
    dispatch::mainQueue().async([this] { ended = true; });
  }
};

// One download into a fresh data directory; false when it failed.
bool downloadOnce(const Cloud& cloud, std::size_t n, Timing& timing) {
  const fs::path docs = hcf_bench::kCatalogDir / ("docs-download-" + std::to_string(n));
  fs::remove_all(docs);
  HCFRealmManager::setDocDirectory(docs);
  auto timingRef = std::shared_ptr<Timing>(&timing, [](Timing*) {});
  auto d = HCFNetProductDownloader::downloaderWithCredentials(cloud.credentials(), timingRef);
  d->start();
  dispatch::mainQueue().runUntil([&] { return timing.ended; });
  return !timing.failure;
}

void BM_download_and_install(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  if (n > hcf_bench::maxProducts()) return state.SkipWithError("HCF_BENCH_MAX_PRODUCTS");
  Cloud cloud(n);
  const double bytes = static_cast<double>(fs::file_size(archiveOf(n)));
  double install = 0, total = 0;
  for (auto _ : state) {
    Timing timing;
    const auto start = Clock::now();
    if (!downloadOnce(cloud, n, timing)) return state.SkipWithError("download failed");
    total += std::chrono::duration<double>(timing.installed - start).count();
    install += std::chrono::duration<double>(timing.installed - timing.transferred).count();
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["archive_MB"] = bytes / 1e6;
  state.counters["MB_per_s"] = bytes / 1e6 / (total / runs);
  state.counters["total_s"] = total / runs;
  state.counters["install_s"] = install / runs;
}

// The anchor: the same transfer to disk, nothing installed.
void BM_transfer_only(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  if (n > hcf_bench::maxProducts()) return state.SkipWithError("HCF_BENCH_MAX_PRODUCTS");
  Cloud cloud(n);
  const fs::path out = hcf_bench::kCatalogDir / "transfer.zip";
  for (auto _ : state) {
    std::FILE* f = std::fopen(out.c_str(), "wb");
    bool done = false;
    http::StreamDelegate events;
    events.onData = [f](const std::uint8_t* data, std::size_t size) {
      return std::fwrite(data, 1, size, f) == size;
    };
    events.onComplete = [&done](std::optional<HCFError>) {
      dispatch::mainQueue().async([&done] { done = true; });
    };
    http::Request r;
    r.url = cloud.server.baseUrl() + "/halvern-product-db-zips/v1/prod-dbs-demo-package.zip";
    r.acceptGzip = false;
    http::Session::shared().streamTask(r, events);
    dispatch::mainQueue().runUntil([&] { return done; });
    std::fclose(f);
  }
  fs::remove(out);
  state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(fs::file_size(archiveOf(n))) /
                                                      1e6 * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void BM_online_search_round_trip(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  if (n > hcf_bench::maxProducts()) return state.SkipWithError("HCF_BENCH_MAX_PRODUCTS");
  Cloud cloud(n);
  auto search = HCFProductSearch::productSearch();
  auto term = std::make_shared<HCFGenericColorSearchTerm>();
  term->auxLab = HCFLabColor::labColorWithL(55, 12, 18, HCFIlluminant::D50);
  search.colorTerm = term;
  const JsonValue body{
      {"search", HCFTintVaultSerialization::productSearchToServerDictionary(search)}};
  for (auto _ : state) {
    bool done = false;
    HCFNetTintVault::performTintVaultProductSearchUsingCredentials(
        cloud.credentials(), body, [&](auto results, auto) {
          benchmark::DoNotOptimize(results);
          done = true;
        });
    dispatch::mainQueue().runUntil([&] { return done; });
  }
}

// Peak resident memory of a process that downloads and installs the catalogue of `n`
// products and nothing else: a child of this program (started afresh, so that nothing this
// process has mapped counts), which reports its own high-water mark.
long peakRssKiB(std::size_t n) {
  const std::string self = fs::read_symlink("/proc/self/exe");
  const std::string arg = std::to_string(n);
  const std::string report = (hcf_bench::kCatalogDir / "peak-rss.txt").string();
  fs::remove(report);
  char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>("--peak-rss"),
                  const_cast<char*>(arg.c_str()), const_cast<char*>(report.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  long kib = -1;
  std::ifstream(report) >> kib;
  return kib;
}

void BM_peak_rss(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  if (n > hcf_bench::maxProducts()) return state.SkipWithError("HCF_BENCH_MAX_PRODUCTS");
  archiveOf(n);  // made here, not in the measured child
  long kib = 0;
  for (auto _ : state) kib = peakRssKiB(n);
  if (kib < 0) return state.SkipWithError("the child failed");
  state.counters["archive_MB"] = static_cast<double>(fs::file_size(archiveOf(n))) / 1e6;
  state.counters["store_MB"] = static_cast<double>(fs::file_size(hcf_bench::builtStore(n))) / 1e6;
  state.counters["peak_RSS_MB"] = static_cast<double>(kib) / 1024.0;
}

const auto sizes = [](benchmark::internal::Benchmark* b) { b->Arg(100000)->Arg(1000000); };

}  // namespace

BENCHMARK(BM_download_and_install)
    ->Apply(sizes)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_transfer_only)
    ->Apply(sizes)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_online_search_round_trip)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_peak_rss)->Apply(sizes)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--peak-rss") {
    const auto n = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
    Cloud cloud(n);
    Timing timing;
    const bool ok = downloadOnce(cloud, n, timing);
    // The high-water mark of this process's resident memory, for the parent.
    std::ifstream status("/proc/self/status");
    std::ofstream report(argv[3]);
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmHWM:", 0) == 0) report << std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return ok ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
