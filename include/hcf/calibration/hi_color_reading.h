// One colorimeter measurement turned into calibrated colour, per hardware version.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/calibration/hi_tintra_sensor_reading.h"
#include "hcf/calibration/tintra_device.h"
#include "hcf/calibration/tintra_nn.h"
#include "hcf/color/lab_color.h"
#include "hcf/color/platform_color.h"
#include "hcf/color/xyz_color.h"
#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// A colour as an instrument of another production batch would read it.
class HCF_API HIUnifiedColor {
 public:
  /// `lab` as the instrument of batch `batchNum` reads it.
  static HIUnifiedColor colorWithLab(const HCFLabColor& lab, std::int32_t batchNum);
  /// The batch whose reading this is.
  std::int32_t getTargetBatchNumber() const { return targetBatchNumber_; }
  /// The colour as given, under its own illuminant.
  const HCFLabColor& unadjustedLab() const { return unadjustedLab_; }
  /// The colour under `illuminant` (Bradford).
  HCFLabColor getUnifiedLab(HCFIlluminant illuminant) const;

  /// The network unifying colours of batch `source` to batch `target` (from the cached
  /// alignment document of `source`: "uANN", source, target); null when any level is missing.
  static std::shared_ptr<const TintraNN> getUnifyingANN(std::int32_t source,
                                                        const std::string& target);
  /// The final adjustment network of batch `target` ("aANN", target) in the document of `source`.
  static std::shared_ptr<const TintraNN> getAdjustmentANNfromSrc(std::int32_t source,
                                                                 std::int32_t target);

 private:
  HCFLabColor unadjustedLab_;
  std::int32_t targetBatchNumber_ = 0;
};

/// A reading: the raw counts, the record, and the colours computed from them at construction.
/// The subclass follows the record's hardware version.
class HCF_API HIColorReading {
 public:
  virtual ~HIColorReading();

  /// The reading of `sense` for the instrument of `device`: the class of its hardware version
  /// ("1.1", "2.0", "2.1", "3.0", "3.01.00", "3.01.02", "4.0"). Errors: any other version, no
  /// calibration in force, a model that cannot be fitted, a malformed adjustment.
  static Result<std::shared_ptr<const HIColorReading>> initWith(const HITintraSensorReading& sense,
                                                                const TintraDevice& device);

  /// The raw counts the reading was made from.
  const HITintraSensorReading& sense() const { return sense_; }
  /// The calibration record the reading was made with.
  const TintraDevice& tintraDevice() const { return device_; }
  /// Calibrated, not batch-corrected (D65, 2°).
  const HCFXYZColor& unadjD65XYZ() const { return unadjD65XYZ_; }
  /// Batch-corrected (D65, 2°): the reading's result.
  const HCFXYZColor& adj2DegD65XYZ() const { return adj2DegD65XYZ_; }
  /// Batch-corrected for the 10° observer (ColorOrla with a batch-95 adjustment only).
  const std::optional<HCFXYZColor>& adj10DegD65XYZ() const { return adj10DegD65XYZ_; }
  /// ColorOrla only: the colour as each target batch reads it, in target order.
  const std::optional<std::vector<HIUnifiedColor>>& getUnifiedColors() const { return unified_; }

  /// The record's hardware version ("2.1", "4.0", ...).
  std::string model() const { return device_.tintra_model(); }
  /// The record's serial number.
  std::string getSerial() const { return device_.serial(); }
  /// Batch of the calibration in force (0 without one).
  std::int32_t getBatchNumber() const;
  /// The raw counts: red, green, blue, clear.
  std::array<double, 4> getRGBCArray() const;
  /// sRGB of `adj2DegD65XYZ` (D65, its observer) with alpha 1.
  PlatformColor displayColor() const;
  /// The batch correction in force (see `TintraDeviceProtoHelper::getMainAdjMethod`); null
  /// when there is none. Points into the reading's own record.
  const TintraDeviceAdjustmentMethod* getMainAdjMethod() const;
  /// "d50: <Lab of unadjD65XYZ> (adjusted (2deg): <Lab of adj2DegD65XYZ>)".
  std::string description() const;

 protected:
  /// A reading of `sense` with `device`, its colours not computed yet (`initWith` does that).
  HIColorReading(const HITintraSensorReading& sense, TintraDevice device);
  /// The batch correction of this hardware version; the base changes nothing.
  virtual std::optional<HCFError> applyAdjustment();
  /// True when the calibration in force has a batch with a number other than 0 and a main
  /// adjustment method.
  bool correctionApplies() const;
  /// Computes the colours: fits the record's model, carries its XYZ into D65, then applies
  /// the batch correction. An error for no calibration in force, a model that cannot be
  /// fitted, an unknown hardware version, or a failed correction.
  std::optional<HCFError> runCIEMath();

  HITintraSensorReading sense_;  ///< see `sense()`
  TintraDevice device_;          ///< see `tintraDevice()`
  HCFXYZColor unadjD65XYZ_;      ///< see `unadjD65XYZ()`
  HCFXYZColor adj2DegD65XYZ_;    ///< see `adj2DegD65XYZ()`; the uncorrected colour until then
  std::optional<HCFXYZColor> adj10DegD65XYZ_;           ///< see `adj10DegD65XYZ()`
  std::optional<std::vector<HIUnifiedColor>> unified_;  ///< see `getUnifiedColors()`
};

/// Versions 2.0, 2.1 and 3.x: the correction in CIELAB D65.
class HCF_API HITintra20Reading : public HIColorReading {
 protected:
  /// The constructor of `HIColorReading`.
  using HIColorReading::HIColorReading;
  std::optional<HCFError> applyAdjustment() override;
  friend class HIColorReading;
};
/// Version 2.1: as 2.0.
class HCF_API HITintra21Reading final : public HITintra20Reading {
  using HITintra20Reading::HITintra20Reading;
  friend class HIColorReading;
};
/// Versions 3.0, 3.01.00 and 3.01.02: as 2.0.
class HCF_API HITintra30Reading final : public HITintra20Reading {
  using HITintra20Reading::HITintra20Reading;
  friend class HIColorReading;
};

/// Version 1.1: the correction in CIELAB D50.
class HCF_API HITintra11Reading final : public HIColorReading {
  using HIColorReading::HIColorReading;
  std::optional<HCFError> applyAdjustment() override;
  friend class HIColorReading;
};

/// The ColorOrla (4.0): the network correction, then the colours of the other batches, and the
/// batch-95 reference.
class HCF_API HITintra40Reading final : public HIColorReading {
 public:
  /// Fills the unified colours from the cached alignment document of this batch.
  std::optional<HCFError> shiftToOtherBatches();

 private:
  using HIColorReading::HIColorReading;
  std::optional<HCFError> applyAdjustment() override;
  friend class HIColorReading;
};

HCF_NAMESPACE_END
