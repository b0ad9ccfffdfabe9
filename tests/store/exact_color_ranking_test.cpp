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
  void add(float L, float a, float b) {
    column.rank.push_back(static_cast<std::uint32_t>(column.rank.size()));
    column.L.push_back(L);
    column.a.push_back(a);
    column.b.push_back(b);
    allowed.push_back(column.rank.size() % 3 != 1);
  }
};

// Around a mid-grey sample, spread evenly.
Catalogue uniform() {
  Catalogue made;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> L(40.0f, 60.0f), ab(-25.0f, 25.0f);
  for (std::uint32_t r = 0; r < kProducts; ++r) made.add(L(random), ab(random), ab(random));
  return made;
}

// Built so that the lightness weight decides what may be passed over: a ring of products of
// the sample's lightness 3 away in a and b fills the cube the threshold comes from, while a
// ladder of the sample's a and b every 1.0 in lightness holds the true nearest products beyond
// that cube (a lightness difference weighted down by S_L, l or kL), with the rest spread over
// the box.
Catalogue lightnessLadder(const LabTriple& s) {
  Catalogue made;
  for (double L = std::max(0.0, s.L - 34.0); L <= std::min(100.0, s.L + 29.0); L += 1.0) {
    if (L != s.L) made.add(static_cast<float>(L), static_cast<float>(s.a), static_cast<float>(s.b));
  }
  constexpr int kRing = 120;
  for (int k = 0; k < kRing; ++k) {
    const double angle = 2.0 * M_PI * k / kRing;
    made.add(static_cast<float>(s.L), static_cast<float>(s.a + 3.0 * std::cos(angle)),
             static_cast<float>(s.b + 3.0 * std::sin(angle)));
  }
  std::mt19937 random(11);
  std::uniform_real_distribution<double> L(std::max(0.0, s.L - 34.0), std::min(100.0, s.L + 29.0));
  std::uniform_real_distribution<double> ab(-34.0, 34.0);
  while (made.column.size() < 1200) {
    made.add(static_cast<float>(L(random)), static_cast<float>(s.a + ab(random)),
             static_cast<float>(s.b + ab(random)));
  }
  return made;
}

const LabTriple kDark{3.0, 1.0, -2.0}, kLight{97.0, -1.0, 3.0};

struct Row {
  HCFDeltaEMethod method;
  bool filtered;
  std::uint64_t skip, limit;
  std::optional<LabTriple> ladder;  ///< the sample of a lightness ladder; none: the uniform one
  LabTriple sample() const { return ladder.value_or(kSample); }
};

void PrintTo(const Row& row, std::ostream* out) {
  const auto s = row.sample();
  *out << "method " << static_cast<int>(row.method) << (row.filtered ? " filtered" : "") << " skip "
       << row.skip << " limit " << row.limit << (row.ladder ? " ladder at " : " at ") << s.L << ' '
       << s.a << ' ' << s.b;
}

Catalogue catalogueFor(const Row& row) {
  return row.ladder ? lightnessLadder(*row.ladder) : uniform();
}

// Every allowed product's difference, nearest first (equal ones in rank order), paged.
std::vector<Ranked> bruteForce(const Catalogue& c, const Row& row) {
  const auto n = static_cast<std::uint32_t>(c.column.size());
  const std::vector<double> L(c.column.L.begin(), c.column.L.end());
  const std::vector<double> a(c.column.a.begin(), c.column.a.end());
  const std::vector<double> b(c.column.b.begin(), c.column.b.end());
  std::vector<double> dE(n);
  CieStdMath::deltaEBatch(row.method, row.sample(), LabColumns{L, a, b}, dE);
  std::vector<Ranked> all;
  for (std::uint32_t r = 0; r < n; ++r) {
    if (!row.filtered || c.allowed[r]) all.push_back({r, static_cast<float>(dE[r])});
  }
  std::sort(all.begin(), all.end(), [](const Ranked& x, const Ranked& y) {
    return x.deltaE != y.deltaE ? x.deltaE < y.deltaE : x.rank < y.rank;
  });
  if (row.skip >= all.size()) return {};
  const auto end = std::min<std::size_t>(all.size(), row.skip + row.limit);
  return {all.begin() + static_cast<std::ptrdiff_t>(row.skip),
          all.begin() + static_cast<std::ptrdiff_t>(end)};
}

class ExactRankingTest : public ::testing::TestWithParam<Row> {};

// The default thresholds prune; the lowered ones run the two-thread differences and the
// split passes on a few thousand products; the raised ones compute every difference on one
// thread. All of them rank exactly as the brute force does.
TEST_P(ExactRankingTest, EveryPathRanksAsTheBruteForceDoes) {
  const auto row = GetParam();
  const auto c = catalogueFor(row);
  const auto n = static_cast<std::uint32_t>(c.column.size());
  const auto expected = bruteForce(c, row);
  for (const RankingThresholds thresholds :
       {RankingThresholds{}, RankingThresholds{1, 2, 4}, RankingThresholds{n * 2, n * 2, n * 2}}) {
    RankingRequest q;
    q.boxes.push_back({&c.column, row.sample()});
    q.pairs.push_back({&c.column, row.sample()});
    q.method = row.method;
    q.allowed = row.filtered ? &c.allowed : nullptr;
    q.productCount = n;
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
    ::testing::Values(
        Row{HCFDeltaEMethod::CIEDE2000, false, 0, 50},
        Row{HCFDeltaEMethod::CIEDE2000, true, 120, 30}, Row{HCFDeltaEMethod::CMC21, false, 0, 50},
        Row{HCFDeltaEMethod::CMC11, true, 10, 40},
        Row{HCFDeltaEMethod::CIE94GraphicArts, false, 0, 25},
        Row{HCFDeltaEMethod::CIE94Textiles, true, 0, 60},
        Row{HCFDeltaEMethod::CIEDE2000, true, 1990, 50},   // the last page
        Row{HCFDeltaEMethod::CIEDE2000, false, 5000, 50},  // past the end
        // Dark and light samples on a ladder: the lightness weight decides the passing over.
        Row{HCFDeltaEMethod::CIEDE2000, false, 0, 20, kDark},
        Row{HCFDeltaEMethod::CIEDE2000, true, 0, 20, kLight},
        Row{HCFDeltaEMethod::CMC21, false, 0, 20, kLight},
        Row{HCFDeltaEMethod::CMC11, false, 0, 20, kLight},
        Row{HCFDeltaEMethod::CMC21, true, 0, 20, kDark},
        Row{HCFDeltaEMethod::CIE94Textiles, false, 0, 20, kDark},
        Row{HCFDeltaEMethod::CIE94Textiles, true, 0, 20, kLight},
        Row{HCFDeltaEMethod::CIE94GraphicArts, false, 0, 20, kLight}));

}  // namespace
