// Colour searches on the open products store: the request in the search's own terms, run
// against the catalogue's column form, answered with the page of products.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hcf/color/cie_std_math.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product.h"
#include "hcf/products/hcf_product_search_sort_descriptor.h"
#include "hcf/store/store_records.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// The products store a search runs on: the kit's own (none) or a store file of the caller's.
/// On the kit's store a failure is logged and gives an empty answer; on a file it throws
/// sql::Failure, for the caller to report.
using CatalogFile = std::optional<std::filesystem::path>;

/// Thrown by a search of the kit's own catalogue when the catalogue turned out damaged: it
/// has been moved aside, and a download is needed.
struct DamagedCatalog : std::runtime_error {
  DamagedCatalog()
      : std::runtime_error(
            "The product catalogue was damaged and has been set aside; download it again.") {}
};

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
std::vector<ColorSearchHit> colorSearch(const ColorSearchRequest& request,
                                        const CatalogFile& file = {});

/// Products some of whose attributes' translated values contain `folded` (already folded
/// for CONTAINS[cd]), of the search type and selection, in the store's default order, from
/// `skip`, at most `limit`. An empty text matches nothing; an unusable store answers nothing.
std::vector<HCFHalvernCloudProduct> textSearch(const std::string& folded, bool inspirations,
                                               const std::optional<predicate::Predicate>& selection,
                                               std::uint64_t skip, std::uint64_t limit,
                                               const CatalogFile& file = {});

/// A filter value and how many products it would leave.
struct FilterFacet {
  HRLMProductKV kv;
  std::uint64_t products = 0;
};

/// The filter panel of the products (or inspirations; every product when none) for `selection` (per
/// key, the hashes of its selected values; values of a key combine by OR, keys by AND), faceted
/// disjunctively: each value counts the products that have it and pass the selections of the other
/// keys, so a key's other values stay reachable once one of them is chosen. Values no such product
/// has are left out. In the index's order.
std::vector<FilterFacet> filterFacets(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& selection,
    std::optional<bool> inspirations, const CatalogFile& file = {});

/// Products matching `where` in the order of `sorts` (already validated), from `skip`, at most
/// `limit`.
std::vector<HCFHalvernCloudProduct> productsMatching(
    const predicate::Predicate& where, const std::vector<HCFProductSearchSortDescriptor>& sorts,
    std::uint64_t skip, std::uint64_t limit, const CatalogFile& file = {});
/// How many products match `where` (all when none).
std::uint64_t countOfProducts(const std::optional<predicate::Predicate>& where,
                              const CatalogFile& file = {});
/// The filter pairs of the products matching `where` (all when none).
std::vector<HRLMProductKV> filterValuesOfProducts(const std::optional<predicate::Predicate>& where,
                                                  const CatalogFile& file = {});

}  // namespace store
HCF_NAMESPACE_END
