// One hit of a product search.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/products/hcf_product.h"

HCF_NAMESPACE_BEGIN

/// A product and, for colour searches, its colour difference from the term.
struct HCF_API HCFProductSearchResult {
  HCFHalvernCloudProduct product;  ///< the product found
  /// Single precision, as results are ranked; none when the search did not rank by colour.
  std::optional<float> deltaE;

  /// The difference is narrowed to float.
  static HCFProductSearchResult searchResult(HCFHalvernCloudProduct product,
                                             std::optional<double> deltaE);
  /// "%0.2f∆E - <product description>" with a difference, else the product's description.
  std::string description() const;
};

HCF_NAMESPACE_END
