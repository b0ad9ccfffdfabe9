#include "store/exact_color_ranking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace hcf;
using namespace hcf::store;

constexpr std::uint32_t kProducts = 3000;
const LabTriple kSample{50.0, 3.0, -4.0};

// Products with one colour each, all inside the sample's box; every third one filtered out.
struct Catalogue {
  LabColumn column;
  std::vector<bool> allowed;
};

const Catalogue& catalogue() {
  static const Catalogue c = [] {
    Catalogue made;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> L(40.0f, 60.0f), ab(-25.0f, 25.0f);
    for (std::uint32_t r = 0; r < kProducts; ++r) {
      made.column.rank.push_back(r);
      made.column.L.push_back(L(random));
      made.column.a.push_back(ab(random));
      made.column.b.push_back(ab(random));
      made.allowed.push_back(r % 3 != 0);
    }
    return made;
  }();
  return c;
}

// Every allowed product's difference, nearest first (equal ones in rank order), paged.
std::vector<Ranked> bruteForce(HCFDeltaEMethod method, bool filtered, std::uint64_t skip,
                               std::uint64_t limit) {
  const auto& c = catalogue();
  const std::vector<double> L(c.column.L.begin(), c.column.L.end());
  const std::vector<double> a(c.column.a.begin(), c.column.a.end());
  const std::vector<double> b(c.column.b.begin(), c.column.b.end());
  std::vector<double> dE(kProducts);
  CieStdMath::deltaEBatch(method, kSample, LabColumns{L, a, b}, dE);
  std::vector<Ranked> all;
  for (std::uint32_t r = 0; r < kProducts; ++r) {
    if (!filtered || c.allowed[r]) all.push_back({r, static_cast<float>(dE[r])});
  }
  std::sort(all.begin(), all.end(), [](const Ranked& x, const Ranked& y) {
    return x.deltaE != y.deltaE ? x.deltaE < y.deltaE : x.rank < y.rank;
  });
  if (skip >= all.size()) return {};
  const auto end = std::min<std::size_t>(all.size(), skip + limit);
  return {all.begin() + static_cast<std::ptrdiff_t>(skip),
          all.begin() + static_cast<std::ptrdiff_t>(end)};
}

struct Row {
  HCFDeltaEMethod method;
  bool filtered;
  std::uint64_t skip, limit;
};

class ExactRankingTest : public ::testing::TestWithParam<Row> {};

// The default thresholds prune; the lowered ones run the two-thread differences and the
// split passes on a few thousand products; the raised ones compute every difference on one
// thread. All of them rank exactly as the brute force does.
TEST_P(ExactRankingTest, EveryPathRanksAsTheBruteForceDoes) {
  const auto row = GetParam();
  const auto& c = catalogue();
  const auto expected = bruteForce(row.method, row.filtered, row.skip, row.limit);
  for (const RankingThresholds thresholds :
       {RankingThresholds{}, RankingThresholds{1, 2, 4},
        RankingThresholds{kProducts * 2, kProducts * 2, kProducts * 2}}) {
    RankingRequest q;
    q.boxes.push_back({&c.column, kSample});
    q.pairs.push_back({&c.column, kSample});
    q.method = row.method;
    q.allowed = row.filtered ? &c.allowed : nullptr;
    q.productCount = kProducts;
    q.skip = row.skip;
    q.limit = row.limit;
    q.thresholds = thresholds;
    const auto outcome = rankExactly(q);
    ASSERT_EQ(outcome.page.size(), expected.size()) << thresholds.parallelFrom;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(outcome.page[i].rank, expected[i].rank) << "result " << i;
      EXPECT_EQ(outcome.page[i].deltaE, expected[i].deltaE) << "result " << i;
    }
    EXPECT_FALSE(outcome.widened);
  }
}

INSTANTIATE_TEST_SUITE_P(
    MethodsFiltersAndPages, ExactRankingTest,
    ::testing::Values(Row{HCFDeltaEMethod::CIEDE2000, false, 0, 50},
                      Row{HCFDeltaEMethod::CIEDE2000, true, 120, 30},
                      Row{HCFDeltaEMethod::CMC21, false, 0, 50},
                      Row{HCFDeltaEMethod::CMC11, true, 10, 40},
                      Row{HCFDeltaEMethod::CIE94GraphicArts, false, 0, 25},
                      Row{HCFDeltaEMethod::CIE94Textiles, true, 0, 60},
                      Row{HCFDeltaEMethod::CIEDE2000, true, 1990, 50},     // the last page
                      Row{HCFDeltaEMethod::CIEDE2000, false, 5000, 50}));  // past the end

}  // namespace
