// The colorimeter: its record, the white calibration, the count corrections and the scan path.
#include <gtest/gtest.h>

#include "../support/instrument_fixture.h"
#include "hcf/core/ht_utility.h"
#include "instrument/instrument_link_access.h"

using namespace hcf;
using namespace hcf_test;

namespace {

struct ScanOutcome {
  std::shared_ptr<HCFColorScan> tristimulus;
  std::shared_ptr<HCFColorScan> spectral;
  std::optional<HCFError> error;
  int calls = 0;
};

class ColorimeterTest : public InstrumentTest {
 protected:
  std::shared_ptr<HCFColorimeter> connectColorimeter(fx::SimulatedColorimeter& sim) {
    Created c = create(sim.radio().devicePtr(), kColorimeterService);
    EXPECT_TRUE(c.instrument);
    return std::dynamic_pointer_cast<HCFColorimeter>(c.instrument);
  }
  std::optional<HCFError> load(HCFColorimeter& c) {
    std::optional<HCFError> result = HTUtility::errWithMsg("not called", -1);
    c.loadCalibration([&](auto error) { result = error; });
    settle();
    return result;
  }
  std::pair<bool, std::optional<HCFError>> calibrate(HCFColorimeter& c) {
    std::pair<bool, std::optional<HCFError>> result{false, HTUtility::errWithMsg("not called", -1)};
    c.requestCalibration([&](bool ok, auto error) { result = {ok, error}; });
    advance(200ms);
    return result;
  }
  std::shared_ptr<ScanOutcome> scan(HCFColorimeter& c) {
    auto out = std::make_shared<ScanOutcome>();
    c.requestColorScan([out](auto t, auto s, auto e) {
      ++out->calls;
      out->tristimulus = std::move(t);
      out->spectral = std::move(s);
      out->error = std::move(e);
    });
    advance(200ms);
    return out;
  }
};

// A record of `model` whose calibration data is `data`.
TintraDevice recordWithData(const std::string& model, const std::string& data) {
  TintraDevice record = fx::makeRecord({.serial = "00AA00BB00CC", .tintraModel = "2.0"});
  record.set_tintra_model(model);
  for (auto& cal : *record.mutable_calibrations()) cal.set_data_json(data);
  return record;
}

}  // namespace

TEST(ColorimeterMaths, WhiteRatioBoundsAndCountCorrections) {
  bool ok = true;
  auto r = HCFColorimeter::setWhitePoint({1000, 2000, 3000}, {1000, 1000, 1000}, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(r, (std::vector<float>{1.0f, 2.0f, 3.0f}));
  r = HCFColorimeter::setWhitePoint({1000, 1000, 1000}, {2000, 2000, 2000}, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r[0], 0.5f);
  HCFColorimeter::setWhitePoint({200, 100, 100}, {100, 1000, 100}, ok);  // exactly 2.0 and 0.1
  EXPECT_TRUE(ok);
  HCFColorimeter::setWhitePoint({100, 100, 100}, {0, 100, 100}, ok);  // infinite
  EXPECT_FALSE(ok);
  HCFColorimeter::setWhitePoint({0, 100, 100}, {0, 100, 100}, ok);  // 0/0 is no ratio either
  EXPECT_FALSE(ok);

  HCFColorimeter c;
  c.updateTintraDevice(recordWithData(
      "2.0",
      R"([{"redSense":9,"greenSense":9,"blueSense":9},{"redSense":40000,"greenSense":40000,"blueSense":40000},{"redSense":100,"greenSense":100,"blueSense":100}])"));
  EXPECT_EQ(c.model(), "2.0");
  EXPECT_EQ(*c.getBlackPt(), (std::vector<std::int64_t>{100, 100, 100}));
  EXPECT_EQ(*c.getWhitePointFromCal(), (std::vector<double>{40000, 40000, 40000}));
  std::array<std::uint16_t, 3> counts{50, 100, 150};
  ASSERT_TRUE(c.blackpointOffset(counts).ok());
  EXPECT_EQ(counts, (std::array<std::uint16_t, 3>{0, 0, 50}));
}

TEST_F(ColorimeterTest, RecordsThatCannotBeReadAreRefusedWithAClearError) {
  HCFColorimeter c;
  for (
      const auto& [model, data] : std::vector<std::pair<std::string, std::string>>{
          {"2.0", R"({"redSense": 1})"},
          {"2.0", R"([{"redSense":1,"greenSense":2,"blueSense":3}])"},
          {"2.0", R"([{"redSense":1,"greenSense":2},{"redSense":1,"greenSense":2,"blueSense":3}])"},
          {"2.0", "not json"},
          {"1.1", R"([{"redSense":1,"greenSense":2,"blueSense":3}])"},
          {fx::kMultiChannelModel,
           R"([{"redSense":1,"greenSense":2,"blueSense":3},{"redSense":1,"greenSense":2,"blueSense":3}])"}}) {
    c.updateTintraDevice(recordWithData(model, data));
    auto white = c.getWhitePointFromCal();
    ASSERT_FALSE(white.ok()) << model << " " << data;
    EXPECT_EQ(white.error().code, error_code::kInvalidData) << data;
  }
  // Version 1.1: no black level, the white at position 51.
  JsonValue many = JsonValue::array();
  for (int i = 0; i < 53; ++i)
    many.push_back({{"redSense", i}, {"greenSense", i}, {"blueSense", i}});
  c.updateTintraDevice(recordWithData("1.1", many.dump()));
  EXPECT_EQ(*c.getBlackPt(), (std::vector<std::int64_t>{0, 0, 0}));
  EXPECT_EQ((*c.getWhitePointFromCal())[0], 51);
}

TEST_F(ColorimeterTest, CalibrateThenMeasureThroughTheRecordFromTheCloud) {
  fx::SimulatedColorimeter sim(*world_, "2.1");
  auto c = connectColorimeter(sim);
  ASSERT_TRUE(c);
  auto early = scan(*c);
  ASSERT_TRUE(early->error);
  EXPECT_EQ(early->error->code, error_code::kNoCalibration);  // no white ratio yet

  ASSERT_FALSE(load(*c));
  EXPECT_EQ(c->model(), "2.1");
  EXPECT_FALSE(c->hasCalibration());
  auto [ok, error] = calibrate(*c);
  ASSERT_TRUE(ok) << error->localizedDescription;
  EXPECT_TRUE(c->hasCalibration());
  EXPECT_NEAR((*c->whitePointRatio())[1], 1.0f, 1e-6);

  const XYZTriple patch = fx::colorCheckerXYZD50()[5];
  sim.measure(patch);
  auto result = scan(*c);
  ASSERT_FALSE(result->error) << result->error->localizedDescription;
  EXPECT_EQ(result->calls, 1);
  EXPECT_FALSE(result->spectral);
  auto* t = dynamic_cast<HCFTristimScan*>(result->tristimulus.get());
  ASSERT_TRUE(t);
  EXPECT_EQ(t->serial, sim.serial());
  const auto want =
      HCFXYZColor::XYZColorWithX(patch.X, patch.Y, patch.Z, HCFIlluminant::D50).toLab();
  EXPECT_LT(t->adjusted2DegreeLab.deltaE00(want), 1.0);

  // Something far darker than white as the "white": out of bounds, uncalibrated again.
  sim.measure(fx::colorCheckerXYZD50()[23]);
  auto [bad, badError] = calibrate(*c);
  EXPECT_FALSE(bad);
  ASSERT_TRUE(badError);
  EXPECT_EQ(badError->code, error_code::kWhitePointCalibrationFailed);
  EXPECT_FALSE(c->hasCalibration());
}

TEST_F(ColorimeterTest, PendingRequestsAndDisconnection) {
  fx::SimulatedColorimeter sim(*world_, "2.0");
  auto c = connectColorimeter(sim);
  ASSERT_TRUE(c);
  ASSERT_FALSE(load(*c));
  ASSERT_TRUE(calibrate(*c).first);

  // A scan requested while a calibration waits turns the next value into a colour scan; the
  // calibration stays pending until the disconnection.
  bool calDone = false;
  std::optional<HCFError> calError;
  sim.radio().device().injectFault(
      hcf::ble::sim::Fault::delayed(hcf::ble::sim::Operation::Read, std::nullopt, 500ms));
  c->requestCalibration([&](bool, auto e) {
    calDone = true;
    calError = e;
  });
  auto s = scan(*c);
  advance(1s);
  EXPECT_EQ(s->calls, 1);
  EXPECT_FALSE(s->error);
  EXPECT_FALSE(calDone);
  EXPECT_EQ(c->scanType(), 0);

  auto pending = std::make_shared<ScanOutcome>();
  sim.radio().device().injectFault(
      hcf::ble::sim::Fault::dropAnswer(hcf::ble::sim::Operation::Read));
  c->requestColorScan([pending](auto, auto, auto e) {
    ++pending->calls;
    pending->error = e;
  });
  advance(200ms);
  hcf::InstrumentLinkAccess::deviceDisconnected(*c);
  EXPECT_TRUE(calDone);
  ASSERT_TRUE(calError);
  EXPECT_EQ(calError->code, error_code::kScan);
  EXPECT_EQ(pending->calls, 1);
  EXPECT_EQ(pending->error->code, error_code::kScan);

  // Load failures come from the service.
  std::optional<HCFError> err;
  auto strangerPtr = std::make_shared<HCFColorimeter>();
  strangerPtr->loadCalibration([&](auto e) { err = e; });
  settle();
  ASSERT_TRUE(err);
}

// A read answered with an error leaves the characteristic holding the previous sample: the
// scan and the calibration fail at once, keeping the platform's error, and never decode it.
TEST_F(ColorimeterTest, AFailedReadIsAFailureNotThePreviousSample) {
  namespace sim = hcf::ble::sim;
  fx::SimulatedColorimeter instrument(*world_, "2.1");
  auto c = connectColorimeter(instrument);
  ASSERT_TRUE(c);
  ASSERT_FALSE(load(*c));
  ASSERT_TRUE(calibrate(*c).first);
  instrument.measure(fx::colorCheckerXYZD50()[5]);
  ASSERT_FALSE(scan(*c)->error);  // the sense characteristic now holds this sample

  instrument.radio().device().injectFault(sim::Fault::gattError(sim::Operation::Read, {}, 14));
  const auto failed = scan(*c);
  EXPECT_EQ(failed->calls, 1);
  EXPECT_FALSE(failed->tristimulus);
  ASSERT_TRUE(failed->error);
  EXPECT_EQ(failed->error->code, error_code::kScan);
  ASSERT_TRUE(failed->error->native);
  EXPECT_EQ(failed->error->native->code, 14);
  EXPECT_EQ(failed->error->native->library, "CBATTErrorDomain");

  instrument.radio().device().injectFault(sim::Fault::gattError(sim::Operation::Read, {}, 2));
  const auto [ok, error] = calibrate(*c);
  EXPECT_FALSE(ok);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, error_code::kWhitePointCalibrationFailed);
  EXPECT_EQ(error->native->code, 2);
  EXPECT_TRUE(c->hasCalibration());  // the earlier white calibration stands

  EXPECT_FALSE(scan(*c)->error);  // the next read answers again
}

TEST_F(ColorimeterTest, WhiteCorrectionSaturatesInsteadOfWrapping) {
  HCFColorimeter c;
  c.updateTintraDevice(recordWithData(
      "2.0",
      R"([{"redSense":60000,"greenSense":1000,"blueSense":1000},{"redSense":0,"greenSense":0,"blueSense":0}])"));
  // Install the ratios (2.0, 1.0, 0.5) through a calibration value.
  c.requestCalibration(nullptr);
  hcf::InstrumentLinkAccess::link(c).gotXyzScanX(30000, 1000, 2000);
  ASSERT_TRUE(c.hasCalibration());
  std::array<std::uint16_t, 3> counts{40000, 301, 301};
  c.whitepointOffset(counts);
  EXPECT_EQ(counts[0], 65535);  // 80000 would wrap to 14464
  EXPECT_EQ(counts[1], 301);
  EXPECT_EQ(counts[2], 150);  // ratio 0.5: 150.5 truncated
}

TEST(ColorimeterMaths, ANegativeDarkLevelSaturatesInsteadOfWrapping) {
  HCFColorimeter c;
  c.updateTintraDevice(recordWithData(
      "2.0",
      R"([{"redSense":1000,"greenSense":1000,"blueSense":1000},{"redSense":-100,"greenSense":-100,"blueSense":0}])"));
  std::array<std::uint16_t, 3> counts{65500, 100, 0};
  ASSERT_TRUE(c.blackpointOffset(counts).ok());
  EXPECT_EQ(counts, (std::array<std::uint16_t, 3>{65535, 200, 0}));  // 65600 would wrap to 64
}

// Any count at full scale, raw or after the white ratio, marks the scan; the scan is delivered.
TEST_F(ColorimeterTest, ACountAtFullScaleMarksTheScanOverRange) {
  fx::SimulatedColorimeter sim(*world_, "2.1");
  auto c = connectColorimeter(sim);
  ASSERT_TRUE(c);
  ASSERT_FALSE(load(*c));
  // White ratios of 1.5 (red), 1 (green) and 0.8 (blue).
  const auto white = *c->getWhitePointFromCal();
  sim.radio().setScanCounts(static_cast<std::uint16_t>(white[0] / 1.5),
                            static_cast<std::uint16_t>(white[1]),
                            static_cast<std::uint16_t>(white[2] / 0.8));
  ASSERT_TRUE(calibrate(*c).first);

  struct Row {
    const char* name;
    std::array<std::uint16_t, 3> raw;
    bool overRange;
  };
  const Row rows[] = {
      {"ordinary reading", {20000, 20000, 20000}, false},
      {"raw green at full scale", {20000, 65535, 20000}, true},
      {"raw blue at full scale, scaled down by its ratio", {20000, 20000, 65535}, true},
      {"raw green one below full scale", {20000, 65534, 20000}, false},
      {"red scaled by its ratio past full scale", {44000, 20000, 20000}, true},
      {"red scaled by its ratio to just under full scale", {43000, 20000, 20000}, false},
  };
  for (const auto& row : rows) {
    sim.radio().setScanCounts(row.raw[0], row.raw[1], row.raw[2]);
    const auto result = scan(*c);
    ASSERT_FALSE(result->error) << row.name << ": " << result->error->localizedDescription;
    ASSERT_TRUE(result->tristimulus) << row.name;
    EXPECT_EQ(result->tristimulus->overRange, row.overRange) << row.name;
  }
}
