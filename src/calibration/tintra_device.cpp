#include "hcf/calibration/tintra_device.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/unknown_field_set.h>

#include <functional>

#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

namespace {

// Messages nest three deep; anything deeper (unknown groups) is not a record of ours.
constexpr int kMaxNesting = 32;

HCFError invalid(const std::string& why) {
  return HTUtility::errWithMsg("Invalid calibration record: " + why,
                               error_code::kInvalidCalibrationRecord);
}

void unknownFields(const google::protobuf::Message& m, const std::string& indent,
                   std::string& out) {
  const auto& set = m.GetReflection()->GetUnknownFields(m);
  for (int i = 0; i < set.field_count(); ++i) {
    const auto& f = set.field(i);
    out += indent + std::to_string(f.number()) + ": ";
    switch (f.type()) {
      case google::protobuf::UnknownField::TYPE_VARINT:
        out += std::to_string(f.varint());
        break;
      case google::protobuf::UnknownField::TYPE_FIXED32:
        out += std::to_string(f.fixed32());
        break;
      case google::protobuf::UnknownField::TYPE_FIXED64:
        out += std::to_string(f.fixed64());
        break;
      case google::protobuf::UnknownField::TYPE_LENGTH_DELIMITED:
        out += "<" + std::to_string(f.length_delimited().size()) + " bytes>";
        break;
      case google::protobuf::UnknownField::TYPE_GROUP:
        out += "<group>";
        break;
    }
    out += "\n";
  }
}

template <typename V>
void field(std::string& out, const std::string& indent, const char* name, bool present,
           const V& v) {
  if (!present) return;
  if constexpr (std::is_arithmetic_v<V>) {
    out += indent + name + ": " + std::to_string(v) + "\n";
  } else {
    out += indent + name + ": " + v + "\n";
  }
}

void describe(const TintraDeviceAdjustmentMethod& m, const std::string& indent, std::string& out) {
  field(out, indent, "adjustmentMethodData", m.has_adjustment_method_data(),
        m.adjustment_method_data());
  field(out, indent, "adjustmentMethodType", m.has_adjustment_method_type(),
        m.adjustment_method_type());
  field(out, indent, "physicalTextureType", m.has_physical_texture_type(),
        m.physical_texture_type());
  field(out, indent, "priority", m.has_priority(), m.priority());
  field(out, indent, "desc", m.has_desc(), m.desc());
  unknownFields(m, indent, out);
}

void describe(const TintraDeviceTintraBatch& b, const std::string& indent, std::string& out) {
  field(out, indent, "batchNumber", b.has_batch_number(), b.batch_number());
  for (const auto& m : b.adjustment_methods()) {
    out += indent + "adjustmentMethods {\n";
    describe(m, indent + "  ", out);
    out += indent + "}\n";
  }
  unknownFields(b, indent, out);
}

void describe(const TintraDeviceTintraCalibration& c, const std::string& indent, std::string& out) {
  field(out, indent, "dataJson", c.has_data_json(), c.data_json());
  field(out, indent, "priority", c.has_priority(), c.priority());
  field(out, indent, "calColorSetName", c.has_cal_color_set_name(), c.cal_color_set_name());
  field(out, indent, "calColorSetReferenceDataJson", c.has_cal_color_set_reference_data_json(),
        c.cal_color_set_reference_data_json());
  if (c.has_batch()) {
    out += indent + "batch {\n";
    describe(c.batch(), indent + "  ", out);
    out += indent + "}\n";
  }
  unknownFields(c, indent, out);
}

}  // namespace

Result<TintraDevice> TintraDeviceRecord::parseFromData(std::span<const std::uint8_t> data) {
  if (data.size() > kMaxRecordBytes) {
    return invalid(std::to_string(data.size()) + " bytes is more than a record can be");
  }
  google::protobuf::io::ArrayInputStream raw(data.data(), static_cast<int>(data.size()));
  google::protobuf::io::CodedInputStream in(&raw);
  in.SetRecursionLimit(kMaxNesting);
  in.SetTotalBytesLimit(static_cast<int>(kMaxRecordBytes));
  TintraDevice record;
  if (!record.MergePartialFromCodedStream(&in) || !in.ConsumedEntireMessage()) {
    return invalid("the bytes are not a Protocol Buffers message of this schema");
  }
  return record;
}

Bytes TintraDeviceRecord::data(const TintraDevice& record) {
  std::string bytes;
  record.SerializePartialToString(&bytes);
  return Bytes(bytes.begin(), bytes.end());
}

bool TintraDeviceRecord::isEqual(const TintraDevice& a, const TintraDevice& b) {
  return a.SerializePartialAsString() == b.SerializePartialAsString();
}

std::size_t TintraDeviceRecord::hash(const TintraDevice& record) {
  return std::hash<std::string>{}(record.SerializePartialAsString());
}

std::string TintraDeviceRecord::writeDescriptionTo(const TintraDevice& record,
                                                   const std::string& indent) {
  std::string out;
  field(out, indent, "serial", record.has_serial(), record.serial());
  field(out, indent, "tintraModel", record.has_tintra_model(), record.tintra_model());
  field(out, indent, "updatedAt", record.has_updated_at(), record.updated_at());
  for (const auto& c : record.calibrations()) {
    out += indent + "calibrations {\n";
    describe(c, indent + "  ", out);
    out += indent + "}\n";
  }
  unknownFields(record, indent, out);
  return out;
}

const TintraDeviceTintraCalibration* TintraDeviceProtoHelper::topCalForDevice(
    const TintraDevice& device) {
  const TintraDeviceTintraCalibration* best = nullptr;
  std::int32_t bestPriority = 0;
  for (const auto& c : device.calibrations()) {
    if (c.priority() > bestPriority) {
      bestPriority = c.priority();
      best = &c;
    }
  }
  return best;
}

bool TintraDeviceProtoHelper::topCalHasAdjustmentMethodForDevice(const TintraDevice& device) {
  const auto* cal = topCalForDevice(device);
  return cal && cal->has_batch() && cal->batch().adjustment_methods_size() > 0;
}

bool TintraDeviceProtoHelper::isOrla(const TintraDevice& device) {
  return device.tintra_model() == "4.0";
}

const TintraDeviceAdjustmentMethod* TintraDeviceProtoHelper::getMainAdjMethod(
    const TintraDevice& device) {
  const auto* cal = topCalForDevice(device);
  if (!cal || !cal->has_batch()) return nullptr;
  const TintraDeviceAdjustmentMethod* best = nullptr;
  std::int32_t bestPriority = 0;
  for (const auto& m : cal->batch().adjustment_methods()) {
    if (!m.physical_texture_type().empty()) continue;
    if (m.priority() > bestPriority) {
      bestPriority = m.priority();
      best = &m;
    }
  }
  return best;
}

HCF_NAMESPACE_END
