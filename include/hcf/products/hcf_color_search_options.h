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
  HCFDeltaEMethod deltaEMethod = HCFDeltaEMethod::CIEDE2000;
  HCFIlluminant illuminant = HCFIlluminant::D50;
  HCFStdObserver observer = HCFStdObserver::TwoDegree;

  static HCFColorSearchOptions defaultOptions() { return {}; }
  friend bool operator==(const HCFColorSearchOptions&, const HCFColorSearchOptions&) = default;
};

/// A colour term made of plain values: a reference colour and colours per batch.
class HCF_API HCFGenericColorSearchTerm : public HCFColorSearchTerm {
 public:
  std::optional<HCFLabColor> auxLab;
  std::vector<HCFGenericBatchedLab> batchedLabs;

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
  static HCFMockColorSearchTerm mockTerm();
};

HCF_NAMESPACE_END
