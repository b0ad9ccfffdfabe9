// Many searches, filter changes, store reads and writes and catalogue downloads at once, from
// several threads, while the main queue runs: nothing deadlocks, every completion comes exactly
// once, and the catalogue is whole at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "../support/catalog_cloud_support.h"
#include "hcf/cloud/hi_tintra.h"

using namespace hcf;
using namespace std::chrono_literals;

namespace {

namespace fx = hcf_cloud::fixtures;

// Completions owed, each counted when it comes.
class Ledger {
 public:
  explicit Ledger(std::size_t size) : calls_(size) {}
  std::size_t open() { return next_++; }
  void close(std::size_t id) {
    ++calls_[id];
    ++closed_;
    dispatch::mainQueue().async([] {});  // wakes the main queue
  }
  std::size_t opened() const { return next_; }
  std::size_t closed() const { return closed_; }
  // Ids called other than exactly once.
  std::vector<std::size_t> wrong() const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < next_; ++i) {
      if (calls_[i] != 1) out.push_back(i);
    }
    return out;
  }

 private:
  std::vector<std::atomic<int>> calls_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> closed_{0};
};

// A chain of catalogue downloads, each started when the one before it ended.
struct Downloads : HCFProductDownloaderDelegate, std::enable_shared_from_this<Downloads> {
  Downloads(Ledger& l, HCFProductManager& m, int n) : ledger(l), manager(m), left(n) {}
  void start() {
    --left;
    id = ledger.open();
    manager.downloadProductsWithDelegate(shared_from_this());
  }
  void productDownloaderDidUpdateProgress(float) override {}
  void productDownloaderDidComplete() override { next(); }
  void productDownloaderDidFailWithError(const HCFError&) override { next(); }
  void next() {
    ledger.close(id);
    if (left > 0) dispatch::mainQueue().async([self = shared_from_this()] { self->start(); });
  }
  Ledger& ledger;
  HCFProductManager& manager;
  int left;
  std::size_t id = 0;
};

class ConcurrencyStress : public hcf_test::CatalogCloudTest {
 protected:
  static constexpr int kThreads = 4;
  static constexpr int kRounds = 30;

  void SetUp() override {
    CatalogCloudTest::SetUp();
    HITintraSession::currentSession().setApiKey(fx::kDemoDeviceKey);
    signIn();
  }

  // One round of a worker: a search, a filter change, a count and a record written and read.
  void round(Ledger& ledger, std::mt19937& rng) {
    std::uniform_real_distribution<double> ab(-60, 60);
    std::uniform_real_distribution<double> l(20, 90);
    auto colour = HCFProductSearch::productSearch();
    auto term = std::make_shared<HCFGenericColorSearchTerm>();
    term->auxLab = HCFLabColor::labColorWithL(l(rng), ab(rng), ab(rng), HCFIlluminant::D50);
    colour.colorTerm = term;
    colour.limit = 10;
    const auto a = ledger.open();
    colour.execute([&ledger, a](auto, auto) { ledger.close(a); });

    auto text = HCFProductSearch::productSearch();
    text.textTerm = std::string(1, static_cast<char>('a' + rng() % 26));
    const auto b = ledger.open();
    text.execute([&ledger, b](auto, auto) { ledger.close(b); });

    const auto c = ledger.open();
    HCFProductFilterSet::offlineProductsFilterSet([&ledger, c](auto set, auto) {
      const auto available = set ? set->availableFilters() : HCFProductFilterSet::KVs{};
      if (available.empty()) return ledger.close(c);
      set->toggleFilter(available.front(), [&ledger, c](auto, auto) { ledger.close(c); });
    });

    const auto d = ledger.open();
    HCFRealmManager::offlineProductCountForPredicate(predicate::Predicate(),
                                                     [&ledger, d](auto) { ledger.close(d); });

    auto record = fx::makeRecord({.serial = "00" + std::to_string(100000 + rng() % 8) + "0000"});
    HCFRealmManager::addTintraDevice(record);
    EXPECT_TRUE(HCFRealmManager::fetchTintraDeviceWithSerial(record.serial()));
  }
};

TEST_F(ConcurrencyStress, EveryCompletionComesOnceAndNothingDeadlocks) {
  Ledger ledger(kThreads * kRounds * 4 + 16);
  HCFProductManager manager;
  // Three catalogue downloads, one after the other, replacing the store under the searches.
  const auto downloads = std::make_shared<Downloads>(ledger, manager, 3);
  downloads->start();
  std::atomic<int> running{kThreads};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      std::mt19937 rng(20261208 + t);
      for (int r = 0; r < kRounds; ++r) round(ledger, rng);
      --running;
    });
  }

  auto& queue = dispatch::mainQueue();
  const auto limit = std::chrono::steady_clock::now() + 120s;
  while ((running > 0 || downloads->left > 0 || ledger.closed() < ledger.opened()) &&
         std::chrono::steady_clock::now() < limit) {
    queue.runUntil(queue.now() + 1ms);
    std::this_thread::yield();
  }
  const bool finished = running == 0 && downloads->left == 0 && ledger.closed() >= ledger.opened();
  for (auto& w : workers) w.join();
  ASSERT_TRUE(finished) << ledger.closed() << " of " << ledger.opened()
                        << " completions within two minutes";
  // Let anything late arrive, then check each came exactly once.
  for (int i = 0; i < 20; ++i) queue.runUntil(queue.now() + 1ms);
  EXPECT_TRUE(ledger.wrong().empty()) << ledger.wrong().size() << " completions not called once";

  auto [count] = hcf_test::awaitOnMain<std::uint64_t>([](auto done) {
    HCFRealmManager::offlineProductCountForPredicate(predicate::Predicate(), done);
  });
  EXPECT_EQ(count, kCatalogSize);
}

}  // namespace
