// Colour searches on the open products store: the request in the search's own terms, run
// against the catalogue's column form, answered with the page of products.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hcf/color/cie_std_math.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product.h"
#include "hcf/store/store_records.h"

HCF_NAMESPACE_BEGIN
namespace store {

struct ColorSearchRequest {
  /// A Lab box on the stored colours of `batch` stored under these illuminant and observer
  /// names (none: the box matches nothing).
  struct Box {
    LabTriple centre;
    std::string batch;
    std::optional<std::string> illuminant, observer;
  };
  /// A term colour that pairs with products' colours of `batch` read under the search's
  /// illuminant and observer.
  struct Pair {
    LabTriple sample;
    std::string batch;
  };
  std::vector<Box> boxes;
  std::vector<Pair> pairs;
  std::optional<LabTriple> aux;
  HCFDeltaEMethod method = HCFDeltaEMethod::CIEDE2000;
  HCFIlluminant illuminant = HCFIlluminant::D50;
  HCFStdObserver observer = HCFStdObserver::TwoDegree;
  bool inspirations = false;  ///< search inspirations only, else products only
  /// The selected filters' predicate, when filters are selected.
  std::optional<predicate::Predicate> selection;
  std::uint64_t skip = 0, limit = 50;
};

struct ColorSearchHit {
  HCFHalvernCloudProduct product;
  float deltaE = 0;
};

/// The page of nearest products. An unusable store answers nothing.
std::vector<ColorSearchHit> colorSearch(const ColorSearchRequest& request);

/// Products some of whose attributes' translated values contain `folded` (already folded
/// for CONTAINS[cd]), of the search type and selection, in the store's default order, from
/// `skip`, at most `limit`. An empty text matches nothing; an unusable store answers nothing.
std::vector<HCFHalvernCloudProduct> textSearch(const std::string& folded, bool inspirations,
                                               const std::optional<predicate::Predicate>& selection,
                                               std::uint64_t skip, std::uint64_t limit);

/// The filter pairs of the products that have, for every group of `selection`, at least one
/// pair of the group (given by their hashes); every pair in use for an empty selection. What
/// `filtersInUse` answers for the selection's predicate, from the catalogue's filter index.
std::vector<HRLMProductKV> filterValuesForSelection(
    const std::vector<std::vector<std::string>>& selection);

}  // namespace store
HCF_NAMESPACE_END
