// Sense-to-XYZ models: 3×3 least-squares fits of a colorimeter's factory calibration that turn
// channel counts into XYZ relative to the instrument's own light.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "hcf/calibration/hi_tintra_sensor_reading.h"
#include "hcf/calibration/tintra_device.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/export.h"
#include "hcf/core/json.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// The interface of both models.
class HCF_API Sense2XYZ {
 public:
  virtual ~Sense2XYZ();
  /// XYZ of a reading (its doubles as they are), relative to the instrument's light, on the
  /// scale of the reference colours.
  virtual XYZTriple getXYZforSenseVals(const HITintraSensorReading& reading) const = 0;
  /// The fitted matrix, row-major (rows X, Y, Z; columns red, green, blue).
  const Matrix3x3& sense2xyz() const { return matrix_; }

  /// The readings of a calibration's "dataJson", one per element, in order: "redSense",
  /// "greenSense", "blueSense" each read as an unsigned 16-bit integer (a real is truncated
  /// toward zero, a value outside 0–65535 wraps as a 16-bit count does), clear 0. A text that
  /// is not a JSON array, or an element that is not an object with those three numbers, is an
  /// error.
  static Result<std::vector<HITintraSensorReading>> calSetOfSenseObjs(
      const TintraDeviceTintraCalibration& calibration);
  /// The "xyz_d50" reference colours of the calibration in force, carried into the light of
  /// the device's hardware version (the fitting targets), for the first `count` colours (all
  /// when count is 0).
  static Result<std::vector<XYZTriple>> updateTristimulus2TintraLight(const TintraDevice& device,
                                                                      std::size_t count = 0);

 protected:
  Matrix3x3 matrix_{};  ///< M, the fitted 3×3 matrix, row-major
};

/// The linear model: XYZ = M·[r, g, b].
class HCF_API Sense2XYZL final : public Sense2XYZ {
 public:
  /// Fits the calibration in force (all its reference colours). Errors: no calibration in
  /// force, malformed JSON, fewer readings than reference colours, an unknown hardware version,
  /// a singular fit.
  static Result<Sense2XYZL> initWithTintra(const TintraDevice& device);
  /// Fits `senseValues` (n rows of red, green, blue counts) to the device's first n targets.
  static Result<Sense2XYZL> initWithMBSenseVals(
      const std::vector<std::array<std::uint16_t, 3>>& senseValues, const TintraDevice& device,
      std::size_t calSize);
  /// A model with a known matrix.
  static Sense2XYZL withMatrix(const Matrix3x3& m);

  XYZTriple getXYZforSenseVals(const HITintraSensorReading& reading) const override;

  /// The archived form: {"sense2xyzData": [nine numbers]} (numbers read back exactly).
  JsonValue encodeWithCoder() const;
  /// The model of an archived form; an "Invalid calibration record: ..." error when it has not
  /// nine numbers.
  static Result<Sense2XYZL> initWithCoder(const JsonValue& archive);
};

/// The non-linear model of the 24-patch "MB24" colour set: readings are white-balanced to 100
/// against the calibration's patch 19 (index 18), then corrected (green unchanged):
/// r' = r − 0.0015·r² + 0.0007·r·g, b' = b − 0.0016·b² + 0.0012·r·g; XYZ = M·[r', g', b'].
class HCF_API Sense2XYZNL final : public Sense2XYZ {
 public:
  /// Fits the calibration in force on its first 24 readings. Errors as for the linear model,
  /// and a white reading with a channel of 0.
  static Result<Sense2XYZNL> initWithTintra(const TintraDevice& device);
  /// Fits 24 rows of red, green, blue counts.
  static Result<Sense2XYZNL> initWithMBSenseVals(
      const std::vector<std::array<std::uint16_t, 3>>& senseValues, const TintraDevice& device);

  /// The corrected channels of one reading against this model's white (double-precision
  /// coefficients).
  std::array<double, 3> senseToNLSense(double senseR, double senseG, double senseB) const;
  XYZTriple getXYZforSenseVals(const HITintraSensorReading& reading) const override;
  /// The white reading (patch index 18) the model balances against.
  const std::array<std::uint16_t, 3>& thisTintrasWhiteSense() const { return white_; }

  /// {"sense2xyzData": [nine numbers], "thisTintrasWhiteSense": [three counts]}.
  JsonValue encodeWithCoder() const;
  /// The model of an archived form; an "Invalid calibration record: ..." error when it has not
  /// nine numbers and three white counts of 1–65535.
  static Result<Sense2XYZNL> initWithCoder(const JsonValue& archive);

 private:
  std::array<std::uint16_t, 3> white_{};
};

/// The model a calibration asks for: the non-linear one for "MB24", else the linear one.
HCF_API Result<std::shared_ptr<const Sense2XYZ>> makeSense2XYZ(const TintraDevice& device);

HCF_NAMESPACE_END
