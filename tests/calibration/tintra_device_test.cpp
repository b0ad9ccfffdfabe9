// The calibration record: wire format, helpers, text dump.
#include "hcf/calibration/tintra_device.h"

#include <gtest/gtest.h>

#include "fixtures.h"

using namespace hcf;

namespace {

TintraDevice sample() {
  TintraDevice d;
  d.set_serial("00A1B2C3D4E5");
  d.set_tintra_model("4.0");
  d.set_updated_at(1700000000);
  auto* c = d.add_calibrations();
  c->set_data_json("[]");
  c->set_priority(2);
  c->set_cal_color_set_name("MB24");
  c->mutable_batch()->set_batch_number(95);
  auto* m = c->mutable_batch()->add_adjustment_methods();
  m->set_adjustment_method_type("ANN");
  m->set_priority(1);
  return d;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(TintraDeviceRecord, RoundTripsByteIdenticallyWithUnknownFields) {
  Bytes data = TintraDeviceRecord::data(sample());
  // Field 4 (unused by the schema) and field 9, as a newer service might send them.
  for (const int b : {0x20, 0x07, 0x4A, 0x02, 0x68, 0x69})
    data.push_back(static_cast<std::uint8_t>(b));
  auto parsed = TintraDeviceRecord::parseFromData(data);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->tintra_model(), "4.0");
  EXPECT_EQ(TintraDeviceRecord::data(*parsed), data);
  // Tags in field-number order: 10 (serial), 18 (model), 24 (updatedAt), 42 (calibrations).
  const Bytes plain = TintraDeviceRecord::data(sample());
  EXPECT_EQ(plain[0], 10);
  EXPECT_EQ(plain[2 + 12], 18);
  EXPECT_EQ(plain[2 + 12 + 2 + 3], 24);
  // A fixture record of every hardware version round-trips too.
  for (const auto& v : hcf_cloud::fixtures::hardwareVersions()) {
    const Bytes b = TintraDeviceRecord::data(
        hcf_cloud::fixtures::makeRecord({.tintraModel = v,
                                         .adjustment = hcf_cloud::fixtures::Adjustment::Table,
                                         .competingEntries = true}));
    auto p = TintraDeviceRecord::parseFromData(b);
    ASSERT_TRUE(p.ok()) << v;
    EXPECT_EQ(TintraDeviceRecord::data(*p), b) << v;
  }
}

TEST(TintraDeviceRecord, EqualityAndHashFollowPresenceAndValues) {
  const TintraDevice a = sample();
  TintraDevice b = sample();
  EXPECT_TRUE(TintraDeviceRecord::isEqual(a, b));
  EXPECT_EQ(TintraDeviceRecord::hash(a), TintraDeviceRecord::hash(b));
  b.mutable_calibrations(0)->set_priority(3);
  EXPECT_FALSE(TintraDeviceRecord::isEqual(a, b));
  TintraDevice c = sample();
  c.clear_updated_at();
  TintraDevice d = sample();
  d.set_updated_at(0);  // present with the default value is not absent
  EXPECT_FALSE(TintraDeviceRecord::isEqual(c, d));
}

TEST(TintraDeviceRecord, BadBytesAreAnErrorNeverACrash) {
  for (const std::string& bad : {std::string("\xff\xff\xff"),
                                 std::string("\x0a\x05"
                                             "ab",
                                             4),
                                 std::string("\x2a\x80", 2), std::string("\x0b", 1)}) {
    auto r = TintraDeviceRecord::parseFromData(bytesOf(bad));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, error_code::kInvalidCalibrationRecord);
    EXPECT_EQ(r.error().localizedDescription.rfind("Invalid calibration record: ", 0), 0u);
  }
  // Unknown groups nested far deeper than any record: refused, within bounded stack.
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += '\x4b';  // start group, field 9
  EXPECT_FALSE(TintraDeviceRecord::parseFromData(bytesOf(deep)).ok());
  // More than the size limit.
  Bytes huge(TintraDeviceRecord::kMaxRecordBytes + 1, 0);
  EXPECT_FALSE(TintraDeviceRecord::parseFromData(huge).ok());
  EXPECT_TRUE(TintraDeviceRecord::parseFromData(Bytes{}).ok());  // the empty record
}

TEST(TintraDeviceRecord, RepeatedBatchOccurrencesMerge) {
  // One calibration whose batch field appears twice: the occurrences merge.
  TintraDeviceTintraCalibration first;
  first.mutable_batch()->set_batch_number(4);
  TintraDeviceTintraCalibration second;
  second.mutable_batch()->add_adjustment_methods()->set_desc("x");
  const std::string calibration = first.SerializeAsString() + second.SerializeAsString();
  ASSERT_LT(calibration.size(), 128u);
  Bytes data = {0x2A, static_cast<std::uint8_t>(calibration.size())};
  data.insert(data.end(), calibration.begin(), calibration.end());
  auto merged = TintraDeviceRecord::parseFromData(data);
  ASSERT_TRUE(merged.ok());
  ASSERT_EQ(merged->calibrations_size(), 1);
  EXPECT_EQ(merged->calibrations(0).batch().batch_number(), 4);
  EXPECT_EQ(merged->calibrations(0).batch().adjustment_methods_size(), 1);
}

TEST(TintraDeviceRecord, TextDumpUsesTheFieldNamesAndGrowingIndent) {
  const std::string text = TintraDeviceRecord::writeDescriptionTo(sample());
  EXPECT_EQ(text,
            "serial: 00A1B2C3D4E5\n"
            "tintraModel: 4.0\n"
            "updatedAt: 1700000000\n"
            "calibrations {\n"
            "  dataJson: []\n"
            "  priority: 2\n"
            "  calColorSetName: MB24\n"
            "  batch {\n"
            "    batchNumber: 95\n"
            "    adjustmentMethods {\n"
            "      adjustmentMethodType: ANN\n"
            "      priority: 1\n"
            "    }\n"
            "  }\n"
            "}\n");
}

TEST(TintraDeviceProtoHelper, CalibrationInForceByStrictlyGreaterPriority) {
  TintraDevice d;
  EXPECT_EQ(TintraDeviceProtoHelper::topCalForDevice(d), nullptr);
  d.add_calibrations()->set_priority(0);
  EXPECT_EQ(TintraDeviceProtoHelper::topCalForDevice(d), nullptr);  // nothing above 0
  d.add_calibrations()->set_priority(2);
  d.mutable_calibrations(1)->set_cal_color_set_name("first");
  d.add_calibrations()->set_priority(2);
  d.mutable_calibrations(2)->set_cal_color_set_name("second");
  ASSERT_NE(TintraDeviceProtoHelper::topCalForDevice(d), nullptr);
  EXPECT_EQ(TintraDeviceProtoHelper::topCalForDevice(d)->cal_color_set_name(), "first");
  EXPECT_FALSE(TintraDeviceProtoHelper::topCalHasAdjustmentMethodForDevice(d));
  d.mutable_calibrations(1)->mutable_batch()->add_adjustment_methods();
  EXPECT_TRUE(TintraDeviceProtoHelper::topCalHasAdjustmentMethodForDevice(d));
  EXPECT_FALSE(TintraDeviceProtoHelper::isOrla(d));
  d.set_tintra_model("4.0");
  EXPECT_TRUE(TintraDeviceProtoHelper::isOrla(d));
}

TEST(TintraDeviceProtoHelper, MainAdjustmentMethodSkipsTexturesAndKeepsTheFirstOfTies) {
  const auto record = hcf_cloud::fixtures::makeRecord(
      {.adjustment = hcf_cloud::fixtures::Adjustment::Network, .competingEntries = true});
  const auto* main = TintraDeviceProtoHelper::getMainAdjMethod(record);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->adjustment_method_type(), "ANN");  // not the textured one of priority 9
  EXPECT_EQ(TintraDeviceProtoHelper::topCalForDevice(record)->priority(), 3);
  TintraDevice onlyTextured;
  auto* m = onlyTextured.add_calibrations();
  m->set_priority(1);
  auto* t = m->mutable_batch()->add_adjustment_methods();
  t->set_priority(5);
  t->set_physical_texture_type("gloss");
  EXPECT_EQ(TintraDeviceProtoHelper::getMainAdjMethod(onlyTextured), nullptr);
}
