// The catalogue of paint products the kit searches: made by the kit entry on start-up.
#pragma once

#include "hcf/export.h"

HCF_NAMESPACE_BEGIN

/// The application's entry to the product catalogue (search, filters, downloads).
class HCF_API HCFProductManager {
 public:
  HCFProductManager();
  ~HCFProductManager();
  HCFProductManager(const HCFProductManager&) = delete;
  HCFProductManager& operator=(const HCFProductManager&) = delete;
};

HCF_NAMESPACE_END
