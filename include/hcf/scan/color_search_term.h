// Anything a colour search can start from.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hcf/color/lab_color.h"
#include "hcf/core/export.h"
#include "hcf/scan/batched_lab.h"

HCF_NAMESPACE_BEGIN

/// A colour to search for: scans, products and search terms implement it.
class HCF_API HCFColorSearchTerm {
 public:
  virtual ~HCFColorSearchTerm() = default;
  /// One reference colour, compared with each product's colour of batch "adjusted"; or none.
  virtual std::optional<HCFLabColor> auxSearchLab() const = 0;
  /// The term's colours per batch (never "adjusted"), under the named illuminant and observer
  /// when those are given.
  virtual std::vector<HCFGenericBatchedLab> batchedLabsWithIllum(
      const std::optional<std::string>& illuminant,
      const std::optional<std::string>& observer) const = 0;

 protected:
  HCFColorSearchTerm() = default;
  /// For the subclasses' copies; the base holds nothing.
  HCFColorSearchTerm(const HCFColorSearchTerm&) = default;
  /// For the subclasses' copies; the base holds nothing.
  HCFColorSearchTerm& operator=(const HCFColorSearchTerm&) = default;
};

HCF_NAMESPACE_END
