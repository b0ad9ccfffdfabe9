#include "hcf/scan/batched_lab.h"

#include "hcf/color/ht_color_utils.h"

HCF_NAMESPACE_BEGIN

HCFGenericBatchedLab HCFGenericBatchedLab::batchedLabWith(const HCFLabColor& lab,
                                                          std::string batch) {
  HCFGenericBatchedLab out;
  out.lab = lab;
  out.batch = std::move(batch);
  return out;
}

std::string HCFGenericBatchedLab::hex() const { return lab.hex(); }

HCFGenericBatchedLab HCFMockBatchedLab::mockBatchedLab() {
  return HCFGenericBatchedLab::batchedLabWith(
      HCFLabColor::labColorWithL(80.7115619089663, -5.63983896150011, 5.07148213172008,
                                 HCFIlluminant::D50, HCFStdObserver::TwoDegree),
      "95");
}

std::vector<HCFGenericBatchedLab> filterBatchedLabs(const std::vector<HCFGenericBatchedLab>& labs,
                                                    const std::optional<std::string>& illuminant,
                                                    const std::optional<std::string>& observer) {
  const auto wantedIlluminant =
      illuminant ? std::optional(HTColorUtils::fromIlluminantStr(*illuminant)) : std::nullopt;
  const auto wantedObserver =
      observer ? std::optional(HTColorUtils::fromObserverStr(*observer)) : std::nullopt;
  std::vector<HCFGenericBatchedLab> out;
  for (const auto& entry : labs) {
    if (entry.batch == "adjusted") continue;
    if (wantedIlluminant && entry.lab.illuminant != *wantedIlluminant) continue;
    if (wantedObserver && entry.lab.stdObserver != *wantedObserver) continue;
    out.push_back(entry);
  }
  return out;
}

HCF_NAMESPACE_END
