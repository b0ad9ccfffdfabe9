// Filter panels whose availability the online search service computes.
#pragma once

#include "hcf/products/hcf_product_filter_set.h"

HCF_NAMESPACE_BEGIN

/// A panel over the service's products (not inspirations). Selecting or deselecting asks the
/// service ("filters3") for the values still available; the selected values and the values
/// of their keys that were offered before stay available. The service's error, if any, goes
/// to the completion of `updateAvailableFilters` (the available values are then emptied); a
/// selection change always completes with the set and no error. Completions run on the main
/// queue.
class HCF_API HCFOnlineProductFilterSet : public HCFProductFilterSet {
 public:
  void selectFilter(const HCFProductKV& pair, Completion completion) override;
  void deselectFilter(const HCFProductKV& pair, Completion completion) override;
  void updateAvailableFilters(Completion completion) override;
};

/// A panel over the service's inspirations ("filters3/inspirations"). After a change, a
/// selected value that is neither available nor category = Inspirations is deselected.
class HCF_API HCFOnlineInspirationsFilterSet : public HCFProductFilterSet {
 public:
  void selectFilter(const HCFProductKV& pair, Completion completion) override;
  void deselectFilter(const HCFProductKV& pair, Completion completion) override;
  void updateAvailableFilters(Completion completion) override;
};

HCF_NAMESPACE_END
