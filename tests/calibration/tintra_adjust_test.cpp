// Colour adjustment by table and by network.
#include "hcf/calibration/tintra_adjust.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fixtures.h"

using namespace hcf;

namespace {

TintraDeviceAdjustmentMethod tableMethod(const std::string& data) {
  TintraDeviceAdjustmentMethod m;
  m.set_adjustment_method_type("LUT");
  m.set_adjustment_method_data(data);
  return m;
}

// An entry at CIEDE2000 distance `d` from (50, 0, 0), along L (where ΔE00 = ΔL/SL and SL = 1
// at L̄ = 50 ... close enough to place it; the test reads the distance back).
LUTEntry at(double L, double dL, double da, double db) { return {L, 0, 0, dL, da, db}; }

}  // namespace

TEST(TintraAdjust, NearestEntryWithinHalfAUnitIsSubtractedExactly) {
  const std::vector<LUTEntry> table = {at(60, 5, 5, 5), at(50.2, 1, -2, 3), at(49, 7, 7, 7)};
  const LabTriple r = TintraAdjust::applyLUT(table, 50, 0, 0);
  EXPECT_EQ(r.L, 50 - 1);
  EXPECT_EQ(r.a, 0 + 2);
  EXPECT_EQ(r.b, 0 - 3);
}

TEST(TintraAdjust, FarFromEveryEntryNothingChanges) {
  const std::vector<LUTEntry> table = {at(80, 5, 5, 5), at(20, 1, 1, 1)};
  const LabTriple r = TintraAdjust::applyLUT(table, 50, 0, 0);
  EXPECT_EQ(r.L, 50);
  EXPECT_EQ(r.a, 0);
  EXPECT_EQ(r.b, 0);
}

TEST(TintraAdjust, EquidistantFiveGiveThePlainMean) {
  // Five entries of the same colour, all at the same distance from the sample.
  std::vector<LUTEntry> table;
  for (int i = 0; i < 5; ++i) table.push_back({53, 0, 0, double(i), 2.0 * i, -1.0 * i});
  table.push_back({20, 0, 0, 99, 99, 99});  // far away, sixth
  const auto n = TintraAdjust::searchLUT_DeltaEs(50, 0, 0, table);
  ASSERT_EQ(n.filled, 5u);
  EXPECT_GT(n.dEs[0], 0.5);
  EXPECT_LT(n.dEs[0], 10);
  // Equal distances rank in table order.
  EXPECT_EQ(n.indices, (std::array<std::int64_t, 5>{0, 1, 2, 3, 4}));
  const LabTriple r = TintraAdjust::applyLUT(table, 50, 0, 0);
  EXPECT_NEAR(r.L, 50 - 2.0, 1e-12);  // mean of 0..4
  EXPECT_NEAR(r.a, 0 - 4.0, 1e-12);
  EXPECT_NEAR(r.b, 0 + 2.0, 1e-12);
}

TEST(TintraAdjust, ShortTablesWeightOnlyTheFilledSlots) {
  // Two entries at different distances: the inverse-distance mean of the two, without the
  // three unfilled slots adding the first entry's error at weight 0.01 each.
  const std::vector<LUTEntry> table = {{52, 0, 0, 4, 0, 0}, {55, 0, 0, 10, 0, 0}};
  const auto n = TintraAdjust::searchLUT_DeltaEs(50, 0, 0, table);
  ASSERT_EQ(n.filled, 2u);
  EXPECT_EQ(n.dEs[2], 100.0);
  const double w0 = 1 / n.dEs[0];
  const double w1 = 1 / n.dEs[1];
  const LabTriple r = TintraAdjust::applyLUT(table, 50, 0, 0);
  EXPECT_NEAR(r.L, 50 - (w0 * 4 + w1 * 10) / (w0 + w1), 1e-12);
}

TEST(TintraAdjust, TablesThatAreNotArraysChangeNothingAndBadEntriesAreErrors) {
  for (const char* none : {"", "{}", "not json", "[]", "42"}) {
    auto r = TintraAdjust::applyAdjustment(tableMethod(none), 50, 1, 2);
    ASSERT_TRUE(r.ok()) << none;
    EXPECT_EQ(r->L, 50);
    EXPECT_EQ(r->b, 2);
  }
  for (const char* bad : {R"([{"L":50,"a":0,"b":0,"dL":1,"da":1}])",
                          R"([{"L":"50","a":0,"b":0,"dL":1,"da":1,"db":1}])", R"([1,2,3])"}) {
    auto r = TintraAdjust::applyAdjustment(tableMethod(bad), 50, 1, 2);
    ASSERT_FALSE(r.ok()) << bad;
    EXPECT_EQ(r.error().localizedDescription.rfind("Invalid correction table", 0), 0u);
  }
}

TEST(TintraAdjust, NetworkPathByObserverAndMalformedNetworksAreErrors) {
  TintraDeviceAdjustmentMethod m;
  m.set_adjustment_method_type("ANN");
  m.set_adjustment_method_data(hcf_cloud::fixtures::offsetNetworkDocument({1, 2, 3}, {-1, -2, -3}));
  auto two = TintraAdjust::applyAdjustment(m, 50, 10, -20);
  ASSERT_TRUE(two.ok());
  EXPECT_NEAR(two->L, 51, 1e-12);
  EXPECT_NEAR(two->a, 12, 1e-12);
  EXPECT_NEAR(two->b, -17, 1e-12);
  auto ten = TintraAdjust::applyAdjustment(m, 50, 10, -20, HCFStdObserver::TenDegree);
  ASSERT_TRUE(ten.ok());
  EXPECT_NEAR(ten->L, 49, 1e-12);
  auto net = TintraNN::initFromString(m.adjustment_method_data());
  auto lab =
      TintraAdjust::applyANN(**net, HCFLabColor::labColorWithL(50, 10, -20, HCFIlluminant::D65),
                             HCFStdObserver::TenDegree);
  ASSERT_TRUE(lab.ok());
  EXPECT_EQ(lab->illuminant, HCFIlluminant::D65);
  EXPECT_EQ(lab->stdObserver, HCFStdObserver::TenDegree);
  m.set_adjustment_method_data(R"({"shape":[3,3]})");
  EXPECT_FALSE(TintraAdjust::applyAdjustment(m, 50, 0, 0).ok());
  // A network with two outputs cannot give L, a and b.
  m.set_adjustment_method_data(
      R"({"shape":[3,2],"layerTypes":["i","LinearLayer"],"weights":[[[1,0,0],[0,1,0]]],"biasWeights":[[0,0]]})");
  EXPECT_FALSE(TintraAdjust::applyAdjustment(m, 50, 0, 0).ok());
}

TEST(TintraAdjust, FactoryTableBringsTheTrainingColoursBack) {
  const auto record = hcf_cloud::fixtures::makeRecord(
      {.tintraModel = "2.0", .adjustment = hcf_cloud::fixtures::Adjustment::Table});
  const auto* method = TintraDeviceProtoHelper::getMainAdjMethod(record);
  ASSERT_NE(method, nullptr);
  auto table = TintraAdjust::parseLUT(method->adjustment_method_data());
  ASSERT_TRUE(table.ok());
  ASSERT_EQ((*table)->size(), 24u);
  for (const auto& e : **table) {
    auto r = TintraAdjust::applyAdjustment(*method, e.L, e.a, e.b);
    ASSERT_TRUE(r.ok());
    // Requirement: each measured patch corrects exactly onto its reference.
    EXPECT_NEAR(r->L, e.L - e.dL, 1e-12);
    EXPECT_NEAR(r->a, e.a - e.da, 1e-12);
  }
}
