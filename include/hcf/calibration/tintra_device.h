// The calibration record of a colorimeter and the helper that picks the calibration in force.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "hcf/calibration/tintra_device.pb.h"
#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// The record (a Protocol Buffers message, proto2: every field has presence, unknown fields are
/// kept). The mutable message is its own builder.
using TintraDevice = pb::TintraDevice;
/// One calibration of a record: its priority, the readings of the colour set, the reference
/// colours and the batch.
using TintraDeviceTintraCalibration = pb::TintraDevice_TintraCalibration;
/// The production batch of a calibration, with its adjustment methods.
using TintraDeviceTintraBatch = pb::TintraDevice_TintraBatch;
/// One batch correction: its type ("ANN" or a table), priority, texture type and data.
using TintraDeviceAdjustmentMethod = pb::TintraDevice_AdjustmentMethod;
/// The record, under the name of its builder (the mutable message builds itself).
using TintraDeviceBuilder = TintraDevice;

/// Reading, writing, comparing and describing records.
class HCF_API TintraDeviceRecord {
 public:
  TintraDeviceRecord() = delete;

  /// The largest record accepted (a real one is a few hundred kilobytes at most).
  static constexpr std::size_t kMaxRecordBytes = std::size_t{16} << 20;

  /// Parses a record. Bytes that are not a record, or more than kMaxRecordBytes, give an
  /// error (code 0, "Invalid calibration record: ...").
  static Result<TintraDevice> parseFromData(std::span<const std::uint8_t> data);
  /// The record's bytes: fields in number order, repeated elements in order, then the unknown
  /// fields as they came.
  static Bytes data(const TintraDevice& record);
  /// Same fields (presence included) and same unknown fields.
  static bool isEqual(const TintraDevice& a, const TintraDevice& b);
  /// A hash of the record's bytes: records that are `isEqual` hash alike.
  static std::size_t hash(const TintraDevice& record);
  /// The text dump: "<indent><name>: <value>\n" per present field, "<indent><name> {\n" ...
  /// "<indent>}\n" around a nested message, the indent growing by two spaces.
  static std::string writeDescriptionTo(const TintraDevice& record, const std::string& indent = "");
};

/// Picks the calibration and the adjustment method in force.
class HCF_API TintraDeviceProtoHelper {
 public:
  TintraDeviceProtoHelper() = delete;

  /// The first calibration with the highest priority, when that priority is above 0; else null.
  static const TintraDeviceTintraCalibration* topCalForDevice(const TintraDevice& device);
  /// True when the calibration in force has a batch with at least one adjustment method.
  static bool topCalHasAdjustmentMethodForDevice(const TintraDevice& device);
  /// True for the pocket colorimeter (hardware version "4.0").
  static bool isOrla(const TintraDevice& device);
  /// Among the adjustment methods of the calibration in force without a texture type, the
  /// first with the highest priority above 0; else null.
  static const TintraDeviceAdjustmentMethod* getMainAdjMethod(const TintraDevice& device);
};

HCF_NAMESPACE_END
