// The batch correction of a calibration record applied to a CIELAB colour: a look-up table of
// measured errors or a network.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "hcf/calibration/tintra_device.h"
#include "hcf/calibration/tintra_nn.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/color/lab_color.h"
#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// One entry of a correction table: a reference colour and the error measured there.
struct LUTEntry {
  /// The reference colour: L*, a*, b*.
  ///@{
  double L = 0, a = 0, b = 0;
  ///@}
  /// The error measured at it (reading minus reference): ΔL*, Δa*, Δb*.
  ///@{
  double dL = 0, da = 0, db = 0;
  ///@}
};

/// The five nearest table entries by CIEDE2000, nearest first; slots no entry filled keep
/// distance 100 and index 0.
struct LUTNeighbours {
  /// The CIEDE2000 distances from the colour, smallest first.
  std::array<double, 5> dEs{};
  /// The entries' indices in the table, in the same order.
  std::array<std::int64_t, 5> indices{};
  std::size_t filled = 0;  ///< how many slots an entry took
};

/// Applies a record's correction. Nothing is kept between calls except parsed documents,
/// shared by text, so that the same record is cheap to apply again.
class HCF_API TintraAdjust {
 public:
  TintraAdjust() = delete;

  /// The corrected colour. "ANN" methods run the network for `observer`; any other type reads
  /// the data as a table. A text that is not a JSON array, or an empty table, leaves the colour
  /// unchanged; a network document or table entries that are malformed are an error.
  static Result<LabTriple> applyAdjustment(const TintraDeviceAdjustmentMethod& method, double L,
                                           double a, double b,
                                           HCFStdObserver observer = HCFStdObserver::TwoDegree);
  /// The network path: outputs 0, 1, 2 of the network are the corrected L, a, b.
  static Result<LabTriple> applyANN(const TintraNN& network, double L, double a, double b,
                                    HCFStdObserver observer);
  /// The network path for a colour: the corrected colour keeps the input's illuminant and takes
  /// `observer`.
  static Result<HCFLabColor> applyANN(const TintraNN& network, const HCFLabColor& lab,
                                      HCFStdObserver observer);
  /// The table path on a parsed table. Nearest within 0.5: its error is subtracted; nearest
  /// beyond 10: unchanged; otherwise the errors of the filled slots, weighted by 1/distance.
  static LabTriple applyLUT(std::span<const LUTEntry> table, double L, double a, double b);
  /// The five nearest entries; among equal distances the earlier entry ranks first.
  static LUTNeighbours searchLUT_DeltaEs(double L, double a, double b,
                                         std::span<const LUTEntry> table);
  /// Parses a table ("L", "a", "b", "dL", "da", "db" per entry). Text that is not a JSON array
  /// gives an empty table; an entry without those six numbers is an error. Tables parsed from
  /// the same text are shared.
  static Result<std::shared_ptr<const std::vector<LUTEntry>>> parseLUT(std::string_view text);
};

HCF_NAMESPACE_END
