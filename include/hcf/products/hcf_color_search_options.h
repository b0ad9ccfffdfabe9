// How a colour search measures colour difference, and the colour terms it can search for.
#pragma once

#include <optional>
#include <vector>

#include "hcf/color/color_enums.h"
#include "hcf/color/lab_color.h"
#include "hcf/core/export.h"
#include "hcf/scan/batched_lab.h"
#include "hcf/scan/color_search_term.h"

HCF_NAMESPACE_BEGIN

/// The colour-difference method and the illuminant and observer a colour search compares
/// under. The defaults are CIEDE2000, D50 and 2°.
struct HCF_API HCFColorSearchOptions {
  /// The colour difference results are ranked by.
  HCFDeltaEMethod deltaEMethod = HCFDeltaEMethod::CIEDE2000;
  /// The illuminant whose colours are compared (the term's and the products').
  HCFIlluminant illuminant = HCFIlluminant::D50;
  /// The observer whose colours are compared.
  HCFStdObserver observer = HCFStdObserver::TwoDegree;

  /// CIEDE2000, D50, 2°.
  static HCFColorSearchOptions defaultOptions() { return {}; }
  /// True when method, illuminant and observer are equal.
  friend bool operator==(const HCFColorSearchOptions&, const HCFColorSearchOptions&) = default;
};

/// A colour term made of plain values: a reference colour and colours per batch.
class HCF_API HCFGenericColorSearchTerm : public HCFColorSearchTerm {
 public:
  /// The reference colour, compared with each product's "adjusted" colour; none for no such
  /// comparison.
  std::optional<HCFLabColor> auxLab;
  /// The colours per batch, compared with the products' colours of the same batch.
  std::vector<HCFGenericBatchedLab> batchedLabs;

  /// `auxLab`.
  std::optional<HCFLabColor> auxSearchLab() const override { return auxLab; }
  /// `batchedLabs` without batch "adjusted", under the named illuminant and observer when
  /// they are given.
  std::vector<HCFGenericBatchedLab> batchedLabsWithIllum(
      const std::optional<std::string>& illuminant,
      const std::optional<std::string>& observer) const override;
};

/// A term with fixed values for trying a search without an instrument: reference L
/// 82.14101160444581, a −5.174074763025171, b 5.915896134176446 (D50) and the mock batched
/// colour of batch "95".
class HCF_API HCFMockColorSearchTerm : public HCFGenericColorSearchTerm {
 public:
  /// The term above.
  static HCFMockColorSearchTerm mockTerm();
};

HCF_NAMESPACE_END
