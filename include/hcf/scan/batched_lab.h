// Lab colours labelled with the colour-alignment batch they belong to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hcf/color/lab_color.h"
#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// A Lab colour and the name of its batch; the batch "adjusted" marks a reference colour.
struct HCF_API HCFBatchedLabColor {
  HCFLabColor lab;    ///< the colour, with its illuminant and observer
  std::string batch;  ///< the batch's name ("95", "s1-1", or "adjusted")
};

/// The batched Lab the kit builds (scans, products, search terms).
struct HCF_API HCFGenericBatchedLab : HCFBatchedLabColor {
  /// `lab` labelled with `batch`.
  static HCFGenericBatchedLab batchedLabWith(const HCFLabColor& lab, std::string batch);
  /// The hex form of `lab`: six upper-case digits "RRGGBB", no '#' (`HCFLabColor::hex`).
  std::string hex() const;
};

/// The fixed entry of the mock colour-search term: batch "95", L 80.7115619089663,
/// a −5.63983896150011, b 5.07148213172008 under D50, 2°.
struct HCF_API HCFMockBatchedLab {
  HCFMockBatchedLab() = delete;
  /// The entry above.
  static HCFGenericBatchedLab mockBatchedLab();
};

/// The entries of `labs` not named "adjusted", then those under the illuminant named
/// `illuminant` and those of the observer named `observer` (when given; names as
/// `HTColorUtils::fromIlluminantStr` and `fromObserverStr` read them), in their order.
HCF_API std::vector<HCFGenericBatchedLab> filterBatchedLabs(
    const std::vector<HCFGenericBatchedLab>& labs, const std::optional<std::string>& illuminant,
    const std::optional<std::string>& observer);

HCF_NAMESPACE_END
