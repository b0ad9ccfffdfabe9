#include "exact_color_ranking.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "../color/lightness_weights.h"

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// A product is passed over only when its lower bound exceeds the threshold by this much, so
// that narrowing differences to float can never reorder what was passed over.
constexpr double kBoundMargin = 1e-5;

// Candidate states by rank: out, candidate, or decided by source number (state − kFirstSource).
constexpr std::uint8_t kOut = 0, kCandidate = 1, kFirstSource = 2;
constexpr std::size_t kMaxSources = 250;

struct Source {
  const LabColumn* column;
  LabTriple sample;
  HCFDeltaEMethod method;
};

// Buffers kept per thread between searches: a million-product search would otherwise map
// and fault in fresh pages every time.
struct Scratch {
  std::vector<std::uint8_t> state;
  std::vector<std::uint32_t> ranks;
  std::vector<double> L, a, b, dE;
};
thread_local Scratch tScratch;

// Differences of `s`'s sample to the listed entries of its column, appended to `out`.
void differences(const Source& s, const std::vector<std::uint32_t>& entries,
                 std::size_t parallelFrom, std::vector<Ranked>& out) {
  auto& w = tScratch;
  const std::size_t n = entries.size();
  w.L.resize(n);
  w.a.resize(n);
  w.b.resize(n);
  w.dE.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const auto i = entries[k];
    w.L[k] = s.column->L[i];
    w.a[k] = s.column->a[i];
    w.b[k] = s.column->b[i];
  }
  const auto run = [&](std::size_t from, std::size_t to) {
    const LabColumns standards{std::span<const double>(w.L).subspan(from, to - from),
                               std::span<const double>(w.a).subspan(from, to - from),
                               std::span<const double>(w.b).subspan(from, to - from)};
    CieStdMath::deltaEBatch(s.method, s.sample, standards,
                            std::span<double>(w.dE).subspan(from, to - from));
  };
  if (n >= parallelFrom) {
    std::thread other(run, n / 2, n);
    run(0, n / 2);
    other.join();
  } else {
    run(0, n);
  }
  for (std::size_t k = 0; k < n; ++k) {
    const auto d = static_cast<float>(w.dE[k]);
    if (!std::isnan(d)) out.push_back({s.column->rank[entries[k]], d});
  }
}

// Runs `work(half, from, to)` over [0, n): in two halves on two threads when `split`, else
// whole as half 0.
template <typename Work>
void inHalves(bool split, std::size_t n, Work work) {
  if (!split) {
    work(0, std::size_t{0}, n);
    return;
  }
  std::thread other([&] { work(1, n / 2, n); });
  work(0, std::size_t{0}, n / 2);
  other.join();
}

// The entries of `c` (in rank order) whose ranks are in [lo, hi).
std::pair<std::size_t, std::size_t> entriesWithRanks(const LabColumn& c, std::size_t lo,
                                                     std::size_t hi) {
  const auto first = std::lower_bound(c.rank.begin(), c.rank.end(), lo);
  const auto last = std::lower_bound(first, c.rank.end(), hi);
  return {static_cast<std::size_t>(first - c.rank.begin()),
          static_cast<std::size_t>(last - c.rank.begin())};
}

bool nearer(const Ranked& x, const Ranked& y) {
  return x.deltaE != y.deltaE ? x.deltaE < y.deltaE : x.rank < y.rank;
}

bool allowedRank(const RankingRequest& q, std::uint32_t r) {
  return r < q.productCount && (!q.allowed || (r < q.allowed->size() && (*q.allowed)[r]));
}

// Marks the allowed products inside any box as candidates; their number. Columns are in rank
// order, so each half of the ranks is a run of every column: two threads write disjoint parts
// of `state`.
std::uint64_t markInBoxes(const RankingRequest& q, bool split, std::vector<std::uint8_t>& state) {
  std::size_t inBoxes[2] = {0, 0};
  inHalves(split, q.productCount, [&](int half, std::size_t lo, std::size_t hi) {
    for (const auto& box : q.boxes) {
      if (!box.entries) continue;
      const auto& c = *box.entries;
      const double Llo = box.centre.L - 35, Lhi = box.centre.L + 30;
      const double aLo = box.centre.a - 35, aHi = box.centre.a + 35;
      const double bLo = box.centre.b - 35, bHi = box.centre.b + 35;
      const auto [from, to] = entriesWithRanks(c, lo, hi);
      for (std::size_t i = from; i < to; ++i) {
        const double L = c.L[i], a = c.a[i], b = c.b[i];
        if (L < Lhi && L > Llo && a < aHi && a > aLo && b < bHi && b > bLo) {
          const std::uint32_t r = c.rank[i];
          if (allowedRank(q, r) && state[r] == kOut) {
            state[r] = kCandidate;
            ++inBoxes[half];
          }
        }
      }
    }
  });
  return inBoxes[0] + inBoxes[1];
}

// The sources in deciding order: the term's pairs, then the auxiliary colour.
std::vector<Source> sourcesOf(const RankingRequest& q) {
  std::vector<Source> sources;
  for (const auto& pair : q.pairs) {
    if (pair.firsts) sources.push_back({pair.firsts, pair.sample, q.method});
  }
  if (q.aux && q.firstAdjusted) {
    sources.push_back({q.firstAdjusted, *q.aux, q.method});
  }
  if (sources.size() > kMaxSources) sources.resize(kMaxSources);
  return sources;
}

// Which source decides each candidate: the first whose column holds it. Per source, the
// column entries it decides, in index order.
std::vector<std::vector<std::uint32_t>> decideSources(const std::vector<Source>& sources,
                                                      std::uint32_t productCount, bool split,
                                                      std::vector<std::uint8_t>& state) {
  // Per half of the ranks, each source in order takes the candidates left to it; the halves'
  // entries then join in index order.
  std::vector<std::vector<std::uint32_t>> halves[2];
  inHalves(split, productCount, [&](int half, std::size_t lo, std::size_t hi) {
    auto& mine = halves[half];
    mine.assign(sources.size(), {});
    for (std::size_t s = 0; s < sources.size(); ++s) {
      const auto& c = *sources[s].column;
      const auto [from, to] = entriesWithRanks(c, lo, hi);
      for (std::size_t i = from; i < to; ++i) {
        const std::uint32_t r = c.rank[i];
        if (r < state.size() && state[r] == kCandidate) {
          state[r] = static_cast<std::uint8_t>(kFirstSource + s);
          mine[s].push_back(static_cast<std::uint32_t>(i));
        }
      }
    }
  });
  std::vector<std::vector<std::uint32_t>> decided(sources.size());
  for (std::size_t s = 0; s < sources.size(); ++s) {
    decided[s] = std::move(halves[0][s]);
    if (split) decided[s].insert(decided[s].end(), halves[1][s].begin(), halves[1][s].end());
  }
  return decided;
}

// The entries of `candidates` whose lightness term alone does not put them beyond `limit`.
std::vector<std::uint32_t> lightnessSurvivors(const Source& source,
                                              const std::vector<std::uint32_t>& candidates,
                                              double limit, std::uint32_t splitFrom) {
  const auto& c = *source.column;
  const double Ls = source.sample.L;
  // The lightness weight is at least 1 for every method but CMC, and for CIEDE2000 at most its
  // value at the ends of the lightnesses present: most products are decided without the exact
  // bound.
  const bool ciede = delta_e::isCiede2000(source.method);
  double lo = Ls, hi = Ls;
  for (const auto i : candidates) {
    lo = std::min<double>(lo, c.L[i]);
    hi = std::max<double>(hi, c.L[i]);
  }
  const double maxWeight = std::max(delta_e::ciede2000LightnessWeight((Ls + lo) / 2.0),
                                    delta_e::ciede2000LightnessWeight((Ls + hi) / 2.0));
  std::vector<std::uint32_t> kept[2];
  inHalves(candidates.size() >= splitFrom, candidates.size(),
           [&](int half, std::size_t from, std::size_t to) {
             for (std::size_t k = from; k < to; ++k) {
               const auto i = candidates[k];
               const double dL = std::fabs(c.L[i] - Ls);
               if (ciede && dL > limit * maxWeight) continue;
               if (delta_e::lightnessLowerBound(source.method, Ls, c.L[i]) <= limit) {
                 kept[half].push_back(i);
               }
             }
           });
  kept[0].insert(kept[0].end(), kept[1].begin(), kept[1].end());
  return std::move(kept[0]);
}

// Exact pruning: the differences of the products in a small Lab cube around each sample give a
// threshold the wanted results cannot exceed; a product whose lightness term alone is beyond
// it is passed over.
void rankPruned(const std::vector<Source>& sources,
                const std::vector<std::vector<std::uint32_t>>& decided, std::size_t total,
                std::uint64_t wanted, const RankingThresholds& t, std::vector<Ranked>& results) {
  // Each product's Chebyshev distance to its sample; the cube is the smallest holding about
  // four times the wanted number.
  std::vector<std::vector<float>> reach(sources.size());
  std::vector<float> all;
  all.reserve(total);
  for (std::size_t s = 0; s < sources.size(); ++s) {
    const auto& c = *sources[s].column;
    const auto& p = sources[s].sample;
    reach[s].reserve(decided[s].size());
    for (const auto i : decided[s]) {
      const double d =
          std::max({std::fabs(c.L[i] - p.L), std::fabs(c.a[i] - p.a), std::fabs(c.b[i] - p.b)});
      reach[s].push_back(static_cast<float>(d));
      all.push_back(static_cast<float>(d));
    }
  }
  const std::size_t pick = std::min<std::size_t>(all.size() - 1, 4 * wanted);
  std::nth_element(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(pick), all.end());
  const float cube = all[pick];  // half the cube's edge
  std::vector<std::vector<std::uint32_t>> nearest(sources.size()), rest(sources.size());
  for (std::size_t s = 0; s < sources.size(); ++s) {
    for (std::size_t k = 0; k < decided[s].size(); ++k) {
      (reach[s][k] <= cube ? nearest[s] : rest[s]).push_back(decided[s][k]);
    }
  }
  for (std::size_t s = 0; s < sources.size(); ++s) {
    differences(sources[s], nearest[s], t.parallelFrom, results);
  }
  double threshold = INFINITY;
  if (results.size() >= wanted && wanted > 0) {
    std::nth_element(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(wanted - 1),
                     results.end(), nearer);
    threshold = results[wanted - 1].deltaE;
  }
  const double limit = threshold + kBoundMargin * (1.0 + threshold);
  for (std::size_t s = 0; s < sources.size(); ++s) {
    const auto survivors = lightnessSurvivors(sources[s], rest[s], limit, t.splitRanksFrom);
    differences(sources[s], survivors, t.parallelFrom, results);
  }
}

// Results skip .. skip + limit, nearest first.
std::vector<Ranked> pageOf(std::vector<Ranked>& results, std::uint64_t skip, std::uint64_t limit) {
  if (skip >= results.size()) return {};
  const std::size_t end =
      static_cast<std::size_t>(skip + std::min<std::uint64_t>(limit, results.size() - skip));
  std::partial_sort(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(end),
                    results.end(), nearer);
  return {results.begin() + static_cast<std::ptrdiff_t>(skip),
          results.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace

RankingOutcome rankExactly(const RankingRequest& q) {
  RankingOutcome outcome;
  auto& state = tScratch.state;
  state.assign(q.productCount, kOut);
  const bool split = q.productCount >= q.thresholds.splitRanksFrom;
  outcome.inBoxes = markInBoxes(q, split, state);
  if (outcome.inBoxes <= 9) {
    outcome.widened = true;
    for (std::uint32_t r = 0; r < q.productCount; ++r) {
      state[r] = allowedRank(q, r) ? kCandidate : kOut;
    }
  }

  const auto sources = sourcesOf(q);
  const auto decided = decideSources(sources, q.productCount, split, state);
  std::size_t total = 0;
  for (const auto& entries : decided) total += entries.size();

  const std::uint64_t wanted = q.skip + std::min<std::uint64_t>(q.limit, total);
  std::vector<Ranked> results;
  if (total < q.thresholds.pruneFrom || wanted * 4 >= total) {
    for (std::size_t s = 0; s < sources.size(); ++s) {
      differences(sources[s], decided[s], q.thresholds.parallelFrom, results);
    }
  } else {
    rankPruned(sources, decided, total, wanted, q.thresholds, results);
  }
  outcome.ranked = total;
  outcome.page = pageOf(results, q.skip, q.limit);
  return outcome;
}

}  // namespace store
HCF_NAMESPACE_END
