// Exact colour ranking over the column form of the catalogue: which products are inside the
// Lab boxes of a term, and their colour differences, nearest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "catalog_columns.h"
#include "hcf/color/cie_std_math.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// Where the ranking changes its way of working; the defaults are the measured break-even
/// points, and tests lower them to drive the two-thread and split paths with a few products.
struct RankingThresholds {
  /// Below this many standards of one source a second thread costs more than it saves.
  std::size_t parallelFrom = 20000;
  /// From this many products, the passes over every colour entry (box, deciding source,
  /// bounds) split the catalogue's ranks in two, one half a thread.
  std::uint32_t splitRanksFrom = 200000;
  /// With fewer products to rank than this, every difference is computed (no pruning).
  std::size_t pruneFrom = 1024;
};

struct RankingRequest {
  /// A Lab box: the stored group it is tested against (none matches nothing) and its centre.
  struct Box {
    const LabColumn* entries = nullptr;
    LabTriple centre;
  };
  /// A term colour that can pair with products: the products' first entries of its batch
  /// under the search's illuminant and observer (none pairs with nothing), and the colour.
  struct Pair {
    const LabColumn* firsts = nullptr;
    LabTriple sample;
  };
  std::vector<Box> boxes;
  std::vector<Pair> pairs;  ///< in the term's order: the first that pairs decides
  std::optional<LabTriple> aux;
  /// Each product's reference colour as the search reads it (CatalogColumns::adjustedFor).
  const LabColumn* firstAdjusted = nullptr;
  HCFDeltaEMethod method = HCFDeltaEMethod::CIEDE2000;
  /// By rank: products that pass the filters.
  const std::vector<bool>* allowed = nullptr;
  std::uint32_t productCount = 0;
  std::uint64_t skip = 0, limit = 50;
  RankingThresholds thresholds;
};

struct Ranked {
  std::uint32_t rank;
  float deltaE;
};

struct RankingOutcome {
  std::vector<Ranked> page;   ///< results skip .. skip + limit, nearest first
  std::uint64_t inBoxes = 0;  ///< products inside the boxes (that pass the filters)
  bool widened = false;       ///< 9 or fewer were: every allowed product was ranked
  std::uint64_t ranked = 0;   ///< products with a colour difference
};

/// Boxes with L in (L − 35, L + 30) and a, b within ±35, strict; fewer than 10 products in
/// them widens to every allowed product. Differences are narrowed to float; equal ones keep
/// rank order.
HCF_API RankingOutcome rankExactly(const RankingRequest& request);

}  // namespace store
HCF_NAMESPACE_END
