#include "exact_color_ranking.h"

#include <algorithm>
#include <cmath>
#include <thread>

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// Below this many standards a second thread costs more than it saves.
constexpr std::size_t kParallelFrom = 20000;

// Candidate states by rank.
enum : std::uint8_t { kOut = 0, kCandidate = 1, kRanked = 2 };

// The differences of `sample` against the candidates of `column` that have none yet.
void rankColumn(const LabColumn& column, const LabTriple& sample, HCFDeltaEMethod method,
                std::vector<std::uint8_t>& state, std::vector<Ranked>& out) {
  std::vector<std::uint32_t> ranks;
  std::vector<double> L, a, b;
  for (std::size_t i = 0; i < column.size(); ++i) {
    const std::uint32_t r = column.rank[i];
    if (r >= state.size() || state[r] != kCandidate) continue;
    state[r] = kRanked;
    ranks.push_back(r);
    L.push_back(column.L[i]);
    a.push_back(column.a[i]);
    b.push_back(column.b[i]);
  }
  const std::size_t n = ranks.size();
  std::vector<double> dE(n);
  const auto run = [&](std::size_t from, std::size_t to) {
    const LabColumns standards{std::span<const double>(L).subspan(from, to - from),
                               std::span<const double>(a).subspan(from, to - from),
                               std::span<const double>(b).subspan(from, to - from)};
    CieStdMath::deltaEBatch(method, sample, standards,
                            std::span<double>(dE).subspan(from, to - from));
  };
  if (n >= kParallelFrom) {
    std::thread other(run, n / 2, n);
    run(0, n / 2);
    other.join();
  } else {
    run(0, n);
  }
  for (std::size_t i = 0; i < n; ++i) {
    const auto d = static_cast<float>(dE[i]);
    if (!std::isnan(d)) out.push_back({ranks[i], d});
  }
}

}  // namespace

RankingOutcome rankExactly(const RankingRequest& q) {
  RankingOutcome outcome;
  const auto allowed = [&](std::uint32_t r) {
    return r < q.productCount && (!q.allowed || (r < q.allowed->size() && (*q.allowed)[r]));
  };
  std::vector<std::uint8_t> state(q.productCount, kOut);
  for (const auto& box : q.boxes) {
    if (!box.entries) continue;
    const auto& c = *box.entries;
    const double lo = box.centre.L - 35, hi = box.centre.L + 30;
    const double aLo = box.centre.a - 35, aHi = box.centre.a + 35;
    const double bLo = box.centre.b - 35, bHi = box.centre.b + 35;
    for (std::size_t i = 0; i < c.size(); ++i) {
      const double L = c.L[i], a = c.a[i], b = c.b[i];
      if (L < hi && L > lo && a < aHi && a > aLo && b < bHi && b > bLo) {
        const std::uint32_t r = c.rank[i];
        if (allowed(r) && state[r] == kOut) {
          state[r] = kCandidate;
          ++outcome.inBoxes;
        }
      }
    }
  }
  if (outcome.inBoxes <= 9) {
    outcome.widened = true;
    for (std::uint32_t r = 0; r < q.productCount; ++r) state[r] = allowed(r) ? kCandidate : kOut;
  }

  std::vector<Ranked> results;
  for (const auto& pair : q.pairs) {
    if (pair.firsts) rankColumn(*pair.firsts, pair.sample, q.method, state, results);
  }
  if (q.aux && q.firstAdjusted) {
    rankColumn(*q.firstAdjusted, *q.aux, HCFDeltaEMethod::CIEDE2000, state, results);
  }
  outcome.ranked = results.size();

  if (q.skip >= results.size()) return outcome;
  const std::size_t end =
      static_cast<std::size_t>(q.skip + std::min<std::uint64_t>(q.limit, results.size() - q.skip));
  const auto nearer = [](const Ranked& x, const Ranked& y) {
    return x.deltaE != y.deltaE ? x.deltaE < y.deltaE : x.rank < y.rank;
  };
  std::partial_sort(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(end),
                    results.end(), nearer);
  outcome.page.assign(results.begin() + static_cast<std::ptrdiff_t>(q.skip),
                      results.begin() + static_cast<std::ptrdiff_t>(end));
  return outcome;
}

}  // namespace store
HCF_NAMESPACE_END
