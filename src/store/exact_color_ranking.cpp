#include "exact_color_ranking.h"

#include <algorithm>
#include <cmath>
#include <thread>

HCF_NAMESPACE_BEGIN
namespace store {

namespace {

// Below this many standards a second thread costs more than it saves.
constexpr std::size_t kParallelFrom = 20000;
// The passes over every colour entry (box, deciding source, bounds) split the catalogue's
// ranks in two from this many products.
constexpr std::uint32_t kSplitRanksFrom = 200000;
// With fewer products to rank than this, every difference is computed.
constexpr std::size_t kPruneFrom = 1024;
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

// The methods computed as CIEDE2000 (every value but 1–4).
bool isCiede2000(HCFDeltaEMethod m) {
  return m != HCFDeltaEMethod::CMC21 && m != HCFDeltaEMethod::CMC11 &&
         m != HCFDeltaEMethod::CIE94GraphicArts && m != HCFDeltaEMethod::CIE94Textiles;
}

// A lower bound of the difference from the source's sample to a colour of lightness `L`:
// the lightness term alone, since the other terms add a non-negative amount (for CIEDE2000
// the rotation term is bounded by the chroma and hue terms: |RT| ≤ 2).
double lowerBound(const Source& s, double L) {
  const double dL = std::fabs(L - s.sample.L);
  switch (s.method) {
    case HCFDeltaEMethod::CMC21:
    case HCFDeltaEMethod::CMC11: {
      const double l = s.method == HCFDeltaEMethod::CMC21 ? 2.0 : 1.0;
      const double L1 = s.sample.L;
      const double SL = L1 < 16.0 ? 0.511 : 0.040975 * L1 / (1.0 + 0.01765 * L1);
      return dL / (l * SL);
    }
    case HCFDeltaEMethod::CIE94GraphicArts:
      return dL;
    case HCFDeltaEMethod::CIE94Textiles:
      return dL / 2.0;
    default: {
      const double Lbar = (L + s.sample.L) / 2.0;
      const double m = (Lbar - 50.0) * (Lbar - 50.0);
      return dL / (1.0 + 0.015 * m / std::sqrt(20.0 + m));
    }
  }
}

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
                 std::vector<Ranked>& out) {
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
  if (n >= kParallelFrom) {
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

}  // namespace

RankingOutcome rankExactly(const RankingRequest& q) {
  RankingOutcome outcome;
  const auto allowed = [&](std::uint32_t r) {
    return r < q.productCount && (!q.allowed || (r < q.allowed->size() && (*q.allowed)[r]));
  };
  auto& state = tScratch.state;
  state.assign(q.productCount, kOut);
  // Columns are in rank order, so each half of the ranks is a run of every column: the two
  // threads write disjoint parts of `state`.
  const bool split = q.productCount >= kSplitRanksFrom;
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
          if (allowed(r) && state[r] == kOut) {
            state[r] = kCandidate;
            ++inBoxes[half];
          }
        }
      }
    }
  });
  outcome.inBoxes = inBoxes[0] + inBoxes[1];
  if (outcome.inBoxes <= 9) {
    outcome.widened = true;
    for (std::uint32_t r = 0; r < q.productCount; ++r) state[r] = allowed(r) ? kCandidate : kOut;
  }

  // Which source decides each product: the first whose column holds it.
  std::vector<Source> sources;
  for (const auto& pair : q.pairs) {
    if (pair.firsts) sources.push_back({pair.firsts, pair.sample, q.method});
  }
  if (q.aux && q.firstAdjusted) {
    sources.push_back({q.firstAdjusted, *q.aux, HCFDeltaEMethod::CIEDE2000});
  }
  if (sources.size() > kMaxSources) sources.resize(kMaxSources);
  // Per half of the ranks, each source in order takes the candidates left to it; the halves'
  // entries then join in index order.
  std::vector<std::vector<std::uint32_t>> halves[2];
  inHalves(split, q.productCount, [&](int half, std::size_t lo, std::size_t hi) {
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
  std::size_t total = 0;
  for (std::size_t s = 0; s < sources.size(); ++s) {
    decided[s] = std::move(halves[0][s]);
    if (split) decided[s].insert(decided[s].end(), halves[1][s].begin(), halves[1][s].end());
    total += decided[s].size();
  }

  const std::uint64_t wanted = q.skip + std::min<std::uint64_t>(q.limit, total);
  std::vector<Ranked> results;
  if (total < kPruneFrom || wanted * 4 >= total) {
    for (std::size_t s = 0; s < sources.size(); ++s) differences(sources[s], decided[s], results);
  } else {
    // Exact pruning: the differences of the products in a small Lab cube around each sample
    // give a threshold the wanted results cannot exceed; a product whose lightness term alone
    // is beyond it is passed over.
    // Each product's Chebyshev distance to its sample; the cube is the smallest holding
    // about four times the wanted number.
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
    for (std::size_t s = 0; s < sources.size(); ++s) differences(sources[s], nearest[s], results);
    double threshold = INFINITY;
    if (results.size() >= wanted && wanted > 0) {
      std::nth_element(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(wanted - 1),
                       results.end(), nearer);
      threshold = results[wanted - 1].deltaE;
    }
    const double limit = threshold + kBoundMargin * (1.0 + threshold);
    for (std::size_t s = 0; s < sources.size(); ++s) {
      std::vector<std::uint32_t> survivors;
      const auto& c = *sources[s].column;
      const double Ls = sources[s].sample.L;
      // The lightness weight is at least 1 for every method but CMC, and for CIEDE2000 at
      // most its value at the ends of the lightnesses present: most products are decided
      // without the exact bound.
      const bool ciede = isCiede2000(sources[s].method);
      double lo = Ls, hi = Ls;
      for (const auto i : rest[s]) {
        lo = std::min<double>(lo, c.L[i]);
        hi = std::max<double>(hi, c.L[i]);
      }
      const auto sl = [](double Lbar) {
        const double m = (Lbar - 50.0) * (Lbar - 50.0);
        return 1.0 + 0.015 * m / std::sqrt(20.0 + m);
      };
      const double maxWeight = std::max(sl((Ls + lo) / 2.0), sl((Ls + hi) / 2.0));
      const auto& candidates = rest[s];
      std::vector<std::uint32_t> kept[2];
      inHalves(candidates.size() >= kSplitRanksFrom, candidates.size(),
               [&](int half, std::size_t from, std::size_t to) {
                 for (std::size_t k = from; k < to; ++k) {
                   const auto i = candidates[k];
                   const double dL = std::fabs(c.L[i] - Ls);
                   if (ciede && dL > limit * maxWeight) continue;
                   if (lowerBound(sources[s], c.L[i]) <= limit) kept[half].push_back(i);
                 }
               });
      survivors = std::move(kept[0]);
      survivors.insert(survivors.end(), kept[1].begin(), kept[1].end());
      differences(sources[s], survivors, results);
    }
  }
  outcome.ranked = total;

  if (q.skip >= results.size()) return outcome;
  const std::size_t end =
      static_cast<std::size_t>(q.skip + std::min<std::uint64_t>(q.limit, results.size() - q.skip));
  std::partial_sort(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(end),
                    results.end(), nearer);
  outcome.page.assign(results.begin() + static_cast<std::ptrdiff_t>(q.skip),
                      results.begin() + static_cast<std::ptrdiff_t>(end));
  return outcome;
}

}  // namespace store
HCF_NAMESPACE_END
