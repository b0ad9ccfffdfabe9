// Readings per hardware version over the fixture records.
#include "hcf/calibration/hi_color_reading.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "../support/store_test_support.h"
#include "fixtures.h"
#include "hcf/store/cached_reading.h"
#include "hcf/store/hcf_realm_manager.h"

using namespace hcf;
namespace fx = hcf_cloud::fixtures;

namespace {

class ReadingTest : public hcf_test::StoreTest {
 protected:
  // The counts an instrument of `record` reports for a colour (D50 XYZ), after its dark level.
  static HITintraSensorReading measure(const TintraDevice& record, const XYZTriple& d50,
                                       bool mb24) {
    const auto s = fx::sensorFor(record.tintra_model(), mb24).signal(d50);
    return {s[0], s[1], s[2], 0};
  }

  static double dE(const HCFXYZColor& measured, const XYZTriple& referenceD50) {
    const HCFLabColor ref = HCFXYZColor::XYZColorWithX(referenceD50.X, referenceD50.Y,
                                                       referenceD50.Z, HCFIlluminant::D50)
                                .toXYZWithIlluminant(HCFIlluminant::D65)
                                .toLab();
    return measured.toLab().deltaE00(ref);
  }
};

const XYZTriple kOffChart =
    CieStdMath::lab2xyzWithL(55, 18, -12, HCFIlluminant::D50, HCFStdObserver::TwoDegree);

}  // namespace

TEST_F(ReadingTest, EveryReadableVersionMeasuresAKnownColour) {
  for (const std::string version : {"1.1", "2.0", "2.1", "3.0", "3.01.00", "3.01.02"}) {
    const bool mb24 = version == "3.01.02";
    const auto record =
        fx::makeRecord({.tintraModel = version, .mb24 = mb24, .adjustment = fx::Adjustment::Table});
    // A chart patch is corrected onto its reference by the factory table; a colour off the
    // chart stays within the model's own accuracy.
    const XYZTriple patch = fx::colorCheckerXYZD50()[6];
    auto onChart = HIColorReading::initWith(measure(record, patch, mb24), record);
    ASSERT_TRUE(onChart.ok()) << version << ": " << onChart.error().localizedDescription;
    EXPECT_LT(dE((*onChart)->adj2DegD65XYZ(), patch), 0.01) << version;
    EXPECT_EQ((*onChart)->adj2DegD65XYZ().illuminant, HCFIlluminant::D65);
    EXPECT_EQ((*onChart)->model(), version);
    auto off = HIColorReading::initWith(measure(record, kOffChart, mb24), record);
    ASSERT_TRUE(off.ok());
    EXPECT_LT(dE((*off)->adj2DegD65XYZ(), kOffChart), 0.5) << version;
  }
}

TEST_F(ReadingTest, NetworkCorrectionOfVersion21AddsItsOffsets) {
  const auto record =
      fx::makeRecord({.tintraModel = "2.1", .adjustment = fx::Adjustment::OffsetNetwork});
  auto r = HIColorReading::initWith(measure(record, kOffChart, false), record);
  ASSERT_TRUE(r.ok());
  const HCFLabColor before = (*r)->unadjD65XYZ().toLab();
  const HCFLabColor after = (*r)->adj2DegD65XYZ().toLab();
  // The fixture network adds (0.4, −0.3, 0.2) for the 2° observer (to the precision of the
  // single-precision cubes of Lab -> XYZ -> Lab).
  EXPECT_NEAR(after.L - before.L, 0.4, 1e-4);
  EXPECT_NEAR(after.A - before.A, -0.3, 1e-4);
  EXPECT_NEAR(after.B - before.B, 0.2, 1e-4);
  EXPECT_FALSE((*r)->adj10DegD65XYZ());
  EXPECT_FALSE((*r)->getUnifiedColors());
}

TEST_F(ReadingTest, VersionsWithoutAReadingClassAndRecordsWithoutCalibrationGiveNone) {
  for (const char* version : {"1.0", "1.3", "9.9"}) {
    const auto record = fx::makeRecord({.tintraModel = version});
    auto r = HIColorReading::initWith({1000, 1000, 1000, 0}, record);
    EXPECT_FALSE(r.ok()) << version;
  }
  auto uncalibrated = fx::makeRecord({.tintraModel = "2.0"});
  for (auto& c : *uncalibrated.mutable_calibrations()) c.set_priority(0);
  auto r = HIColorReading::initWith({1000, 1000, 1000, 0}, uncalibrated);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().code, 9008);
  EXPECT_FALSE(toColorReading({1, 2, 3, 0}, "not-cached").ok());
}

TEST_F(ReadingTest, BatchZeroMeansNoCorrection) {
  const auto record = fx::makeRecord(
      {.tintraModel = "2.0", .batchNumber = 0, .adjustment = fx::Adjustment::Network});
  auto r = HIColorReading::initWith(measure(record, kOffChart, false), record);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ((*r)->adj2DegD65XYZ().X, (*r)->unadjD65XYZ().X);
  EXPECT_EQ((*r)->adj2DegD65XYZ().Z, (*r)->unadjD65XYZ().Z);
}

TEST_F(ReadingTest, ColorOrlaUnifiesToTheOtherBatchesInTargetOrderWithBatch95AsReference) {
  const auto record = fx::makeRecord({.serial = fx::orlaSerial(12),
                                      .tintraModel = "4.0",
                                      .mb24 = true,
                                      .batchNumber = 12,
                                      .adjustment = fx::Adjustment::OffsetNetwork});
  const auto sense = measure(record, kOffChart, true);
  // Without alignment data: the network correction only.
  auto plain = HIColorReading::initWith(sense, record);
  ASSERT_TRUE(plain.ok());
  EXPECT_FALSE((*plain)->getUnifiedColors());
  EXPECT_FALSE((*plain)->adj10DegD65XYZ());
  EXPECT_NEAR((*plain)->adj2DegD65XYZ().toLab().L - (*plain)->unadjD65XYZ().toLab().L, 0.4, 1e-4);

  const std::string doc = fx::offsetAlignmentDocument(12);
  HCFRealmManager::addUpdateAlignmentHash(Bytes(doc.begin(), doc.end()), 12, 1);
  HCFRealmManager::addTintraDevice(record);
  auto r = toColorReading(sense, fx::orlaSerial(12));
  ASSERT_TRUE(r.ok()) << r.error().localizedDescription;
  const auto& unified = (*r)->getUnifiedColors();
  ASSERT_TRUE(unified);
  ASSERT_EQ(unified->size(), 2u);
  EXPECT_EQ((*unified)[0].getTargetBatchNumber(), 95);  // "priorities" first
  EXPECT_EQ((*unified)[1].getTargetBatchNumber(), 7);
  const HCFLabColor own = (*r)->unadjD65XYZ().toLab();
  // The fixture's unifying network from batch b to t adds 0.05·(t − b) to L.
  EXPECT_NEAR((*unified)[0].unadjustedLab().L - own.L, 0.05 * (95 - 12), 1e-9);
  EXPECT_NEAR((*unified)[1].unadjustedLab().L - own.L, 0.05 * (7 - 12), 1e-9);
  // The result is the colour unified to 95, then adjusted by 95's network (+0.1 L at 2°,
  // +0.2 L at 10°).
  ASSERT_TRUE((*r)->adj10DegD65XYZ());
  EXPECT_NEAR((*r)->adj2DegD65XYZ().toLab().L, (*unified)[0].unadjustedLab().L + 0.1, 1e-4);
  EXPECT_EQ((*r)->adj10DegD65XYZ()->stdObserver, HCFStdObserver::TenDegree);
  EXPECT_NEAR((*r)->adj10DegD65XYZ()->toLab().L, (*unified)[0].unadjustedLab().L + 0.2, 1e-4);
  EXPECT_EQ((*unified)[0].getUnifiedLab(HCFIlluminant::D50).illuminant, HCFIlluminant::D50);

  // Targets include 95 but no "aANN" for it: the first result stays, 95 stays in the list.
  JsonValue noA = JsonValue::parse(doc);
  noA.erase("aANN");
  const std::string text = noA.dump();
  HCFRealmManager::addUpdateAlignmentHash(Bytes(text.begin(), text.end()), 12, 2);
  auto r2 = HIColorReading::initWith(sense, record);
  ASSERT_TRUE(r2.ok());
  EXPECT_EQ((*r2)->getUnifiedColors()->at(0).getTargetBatchNumber(), 95);
  EXPECT_FALSE((*r2)->adj10DegD65XYZ());
  EXPECT_EQ((*r2)->adj2DegD65XYZ().X, (*plain)->adj2DegD65XYZ().X);
  EXPECT_TRUE(HIUnifiedColor::getUnifyingANN(12, "7"));
  EXPECT_FALSE(HIUnifiedColor::getUnifyingANN(12, "8"));
  EXPECT_FALSE(HIUnifiedColor::getAdjustmentANNfromSrc(12, 95));
}

// A malformed network of an alignment document is skipped the same way whatever is wrong with
// it: the reading keeps the instrument's own calibration and the other targets.
TEST_F(ReadingTest, ColorOrlaSkipsMalformedAlignmentNetworks) {
  const auto record = fx::makeRecord({.tintraModel = "4.0",
                                      .mb24 = true,
                                      .batchNumber = 12,
                                      .adjustment = fx::Adjustment::OffsetNetwork});
  const auto sense = measure(record, kOffChart, true);
  const auto plain = HIColorReading::initWith(sense, record);
  ASSERT_TRUE(plain.ok());
  const auto twoOutputs = [](JsonValue& net) {
    net["shape"] = {3, 4, 2};
    net["weights"][1].erase(2);
    net["biasWeights"][1].erase(2);
  };
  const auto ragged = [](JsonValue& net) { net["weights"][1][0].erase(0); };
  struct Case {
    const char* what;
    std::vector<std::string> path;
    std::function<void(JsonValue&)> spoil;
    std::vector<int> unified;
  };
  const std::vector<Case> cases = {
      {"unifying network with two outputs", {"uANN", "12", "95"}, twoOutputs, {7}},
      {"ragged unifying network", {"uANN", "12", "95"}, ragged, {7}},
      {"adjustment network with two outputs",
       {"aANN", "95", "degree_order_2"},
       twoOutputs,
       {95, 7}},
      {"ragged adjustment network", {"aANN", "95"}, ragged, {95, 7}},
  };
  std::int32_t time = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    JsonValue doc = JsonValue::parse(fx::offsetAlignmentDocument(12));
    JsonValue* net = &doc;
    for (const auto& key : c.path) net = &(*net)[key];
    c.spoil(*net);
    const std::string text = doc.dump();
    HCFRealmManager::addUpdateAlignmentHash(Bytes(text.begin(), text.end()), 12, time++);
    auto r = HIColorReading::initWith(sense, record);
    ASSERT_TRUE(r.ok()) << r.error().localizedDescription;
    std::vector<int> targets;
    for (const auto& u : *(*r)->getUnifiedColors()) targets.push_back(u.getTargetBatchNumber());
    EXPECT_EQ(targets, c.unified);
    EXPECT_FALSE((*r)->adj10DegD65XYZ());
    EXPECT_EQ((*r)->adj2DegD65XYZ().X, (*plain)->adj2DegD65XYZ().X);
  }
}

// The main method's type decides how a ColorOrla corrects, as for the other versions.
TEST_F(ReadingTest, ColorOrlaWithATableMeasures) {
  const auto record =
      fx::makeRecord({.tintraModel = "4.0", .mb24 = true, .adjustment = fx::Adjustment::Table});
  const XYZTriple patch = fx::colorCheckerXYZD50()[6];
  auto r = HIColorReading::initWith(measure(record, patch, true), record);
  ASSERT_TRUE(r.ok()) << r.error().localizedDescription;
  EXPECT_LT(dE((*r)->adj2DegD65XYZ(), patch), 0.01);
}

TEST_F(ReadingTest, AccessorsAndTexts) {
  const auto record = fx::makeRecord(
      {.serial = "00AB00CD00EF", .tintraModel = "3.0", .adjustment = fx::Adjustment::Table});
  auto r = HIColorReading::initWith({1200.5, 3400, 900, 7}, record);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ((*r)->getSerial(), "00AB00CD00EF");
  EXPECT_EQ((*r)->getBatchNumber(), 7);
  EXPECT_EQ((*r)->getRGBCArray(), (std::array<double, 4>{1200.5, 3400, 900, 7}));
  EXPECT_NE((*r)->getMainAdjMethod(), nullptr);
  EXPECT_EQ((*r)->description().rfind("d50: HCFLabColor: L: ", 0), 0u);
  EXPECT_NE((*r)->description().find(" (adjusted (2deg): HCFLabColor: L: "), std::string::npos);
  const PlatformColor c = (*r)->displayColor();
  EXPECT_EQ(c.alpha, 1.0);
  EXPECT_GE(c.red, 0.0);
  EXPECT_LE(c.red, 1.0);
}
