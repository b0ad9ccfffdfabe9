// The offline search paths of HCFProductSearch, on the kit's products store or a store file
// of the caller's, on the calling thread.
#pragma once

#include <vector>

#include "../store/catalog_search.h"
#include "hcf/products/hcf_product_search.h"

HCF_NAMESPACE_BEGIN
namespace products {

/// Whether text and all-products results come in the store's default order.
bool inDefaultOrder(const HCFProductSearch& search);

/// The colour search's page; `ignoringBoxes` ranks every product that passes the filters
/// (the widening pass).
std::vector<HCFProductSearchResult> colorSearch(const HCFProductSearch& search, bool ignoringBoxes,
                                                const store::CatalogFile& file);
/// The text search's page in the default order (the catalogue's text index).
std::vector<HCFProductSearchResult> textSearchInDefaultOrder(const HCFProductSearch& search,
                                                             const store::CatalogFile& file);
/// The text search's page (`withText`) or the all-products page, in the search's order.
std::vector<HCFProductSearchResult> textOrAllProducts(const HCFProductSearch& search, bool withText,
                                                      const store::CatalogFile& file);
/// Colour, text or all-products search, by what `search` sets (its search type picks products
/// or inspirations).
std::vector<HCFProductSearchResult> runOffline(const HCFProductSearch& search,
                                               const store::CatalogFile& file);

}  // namespace products
HCF_NAMESPACE_END
