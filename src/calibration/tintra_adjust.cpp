#include "hcf/calibration/tintra_adjust.h"

#include "../core/json_text.h"
#include "hcf/core/ht_utility.h"
#include "text_cache.h"

HCF_NAMESPACE_BEGIN

namespace {

constexpr std::size_t kSlots = 5;
// Neighbour distances start here (no entry is that far in practice).
constexpr double kUnfilledDistance = 100.0;
// Within this CIEDE2000 distance the nearest entry's error applies alone ...
constexpr double kExactMatchDistance = 0.5;
// ... and beyond this one no correction applies.
constexpr double kFarDistance = 10.0;

TextCache<std::vector<LUTEntry>>& tableCache() {
  static TextCache<std::vector<LUTEntry>> cache;
  return cache;
}

}  // namespace

Result<std::shared_ptr<const std::vector<LUTEntry>>> TintraAdjust::parseLUT(std::string_view text) {
  return tableCache().get(
      text, [](std::string_view t) -> Result<std::shared_ptr<const std::vector<LUTEntry>>> {
        auto table = std::make_shared<std::vector<LUTEntry>>();
        JsonValue doc;
        try {
          doc = json_text::parse(t);
        } catch (const JsonValue::exception&) {
          return std::shared_ptr<const std::vector<LUTEntry>>(table);  // no table: no correction
        }
        if (!doc.is_array()) return std::shared_ptr<const std::vector<LUTEntry>>(table);
        table->reserve(doc.size());
        for (const auto& e : doc) {
          LUTEntry entry;
          bool ok = e.is_object();
          for (const auto& [key, slot] : {std::pair{"L", &entry.L}, std::pair{"a", &entry.a},
                                          std::pair{"b", &entry.b}, std::pair{"dL", &entry.dL},
                                          std::pair{"da", &entry.da}, std::pair{"db", &entry.db}}) {
            if (!ok) break;
            const auto it = e.find(key);
            ok = it != e.end() && it->is_number();
            if (ok) *slot = it->get<double>();
          }
          if (!ok) {
            return HTUtility::errWithMsg("Invalid correction table: entry " +
                                             std::to_string(table->size()) +
                                             " lacks one of L, a, b, dL, da, db",
                                         error_code::kInvalidCorrectionTable);
          }
          table->push_back(entry);
        }
        return std::shared_ptr<const std::vector<LUTEntry>>(table);
      });
}

LUTNeighbours TintraAdjust::searchLUT_DeltaEs(double L, double a, double b,
                                              std::span<const LUTEntry> table) {
  LUTNeighbours n;
  n.dEs.fill(kUnfilledDistance);
  n.indices.fill(0);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const double d = CieStdMath::deltaE2000WithL(L, a, b, table[i].L, table[i].a, table[i].b);
    for (std::size_t s = 0; s < kSlots; ++s) {
      if (d < n.dEs[s]) {
        for (std::size_t k = kSlots - 1; k > s; --k) {
          n.dEs[k] = n.dEs[k - 1];
          n.indices[k] = n.indices[k - 1];
        }
        n.dEs[s] = d;
        n.indices[s] = static_cast<std::int64_t>(i);
        n.filled = std::min(n.filled + 1, kSlots);
        break;
      }
    }
  }
  return n;
}

LabTriple TintraAdjust::applyLUT(std::span<const LUTEntry> table, double L, double a, double b) {
  if (table.empty()) return {L, a, b};
  const LUTNeighbours n = searchLUT_DeltaEs(L, a, b, table);
  if (n.filled == 0 || n.dEs[0] > kFarDistance) return {L, a, b};
  if (n.dEs[0] < kExactMatchDistance) {
    const LUTEntry& e = table[static_cast<std::size_t>(n.indices[0])];
    return {L - e.dL, a - e.da, b - e.db};
  }
  // Only the slots an entry filled take part: an unfilled slot has no error to weigh.
  double sumW = 0, sumL = 0, sumA = 0, sumB = 0;
  for (std::size_t s = 0; s < n.filled; ++s) {
    const LUTEntry& e = table[static_cast<std::size_t>(n.indices[s])];
    const double w = 1.0 / n.dEs[s];
    sumW += w;
    sumL += w * e.dL;
    sumA += w * e.da;
    sumB += w * e.db;
  }
  return {L - sumL / sumW, a - sumA / sumW, b - sumB / sumW};
}

Result<LabTriple> TintraAdjust::applyANN(const TintraNN& network, double L, double a, double b,
                                         HCFStdObserver observer) {
  const auto out = network.predictOutput(L, a, b, observer);
  if (out.size() < 3) {
    return HTUtility::errWithMsg(
        "Invalid network document: it does not map three inputs to three outputs",
        error_code::kInvalidNetworkDocument);
  }
  return LabTriple{out[0], out[1], out[2]};
}

Result<HCFLabColor> TintraAdjust::applyANN(const TintraNN& network, const HCFLabColor& lab,
                                           HCFStdObserver observer) {
  auto r = applyANN(network, lab.L, lab.A, lab.B, observer);
  if (!r) return r.error();
  return HCFLabColor::labColorWithL(r->L, r->a, r->b, lab.illuminant, observer);
}

Result<LabTriple> TintraAdjust::applyAdjustment(const TintraDeviceAdjustmentMethod& method,
                                                double L, double a, double b,
                                                HCFStdObserver observer) {
  if (method.adjustment_method_type() == "ANN") {
    auto network = TintraNN::initFromString(method.adjustment_method_data());
    if (!network) return network.error();
    return applyANN(**network, L, a, b, observer);
  }
  auto table = parseLUT(method.adjustment_method_data());
  if (!table) return table.error();
  return applyLUT(**table, L, a, b);
}

HCF_NAMESPACE_END
