// The spectrometer: its model chain from the cloud, measurements through it, device errors
// and disconnection.
#include <gtest/gtest.h>

#include "../support/instrument_fixture.h"
#include "hcf/core/ht_utility.h"
#include "instrument/instrument_link_access.h"

using namespace hcf;
using namespace hcf_test;

namespace {

struct Measured {
  std::shared_ptr<HCFColorScan> tristimulus;
  std::shared_ptr<HCFColorScan> spectral;
  std::optional<HCFError> error;
  int calls = 0;
};

class SpectrometerTest : public InstrumentTest {
 protected:
  std::shared_ptr<HCFSpectrometer> connectSpectrometer(fx::SimulatedSpectrometer& sim) {
    Created c = create(sim.radio().devicePtr(), kSpectrometerService);
    EXPECT_TRUE(c.instrument);
    return std::dynamic_pointer_cast<HCFSpectrometer>(c.instrument);
  }
  std::optional<HCFError> load(HCFSpectrometer& s) {
    std::optional<HCFError> result = HTUtility::errWithMsg("not called", -1);
    s.loadCalibration([&](auto error) { result = error; });
    settle();
    return result;
  }
  std::shared_ptr<Measured> measure(HCFSpectrometer& s) {
    auto out = std::make_shared<Measured>();
    s.requestColorScan([out](auto t, auto sp, auto e) {
      ++out->calls;
      out->tristimulus = std::move(t);
      out->spectral = std::move(sp);
      out->error = std::move(e);
    });
    advance(200ms);
    return out;
  }
};

}  // namespace

TEST_F(SpectrometerTest, ResponseRunsThroughTheChainIntoASpectralScan) {
  fx::SimulatedSpectrometer sim(*world_);
  auto s = connectSpectrometer(sim);
  ASSERT_TRUE(s);
  // Before the chain is loaded a raw response would pose as a reflectance curve: refused.
  auto early = measure(*s);
  ASSERT_TRUE(early->error);
  EXPECT_EQ(early->error->code, error_code::kNoCalibration);
  EXPECT_EQ(sim.radio().scanCommands(), 0u);

  ASSERT_FALSE(load(*s));
  EXPECT_EQ(s->model(), fx::kSpectroModel);
  EXPECT_EQ(s->mms().size(), 3u);
  EXPECT_TRUE(s->hasCalibration());
  bool calibrated = false;
  s->requestCalibration([&](bool ok, auto) { calibrated = ok; });
  EXPECT_TRUE(calibrated);

  const auto& sample = fx::sampleReflectances()[7];  // yellow
  sim.measure(sample);
  auto m = measure(*s);
  ASSERT_FALSE(m->error) << m->error->localizedDescription;
  EXPECT_EQ(m->calls, 1);
  EXPECT_FALSE(m->tristimulus);
  auto* scan = dynamic_cast<HCFSpectralScan*>(m->spectral.get());
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->serial, sim.serial());
  EXPECT_EQ(scan->model, fx::kSpectroModel);
  EXPECT_EQ(scan->senseValues.size(), 32u);
  ASSERT_EQ(scan->curve.size(), 31u);
  for (std::size_t i = 0; i < 31; ++i) EXPECT_NEAR(scan->curve[i], sample[i], 0.002) << i;
  EXPECT_EQ(sim.radio().scanCommands(), 1u);
}

TEST_F(SpectrometerTest, DeviceErrorsLateResponsesAndDisconnection) {
  fx::SimulatedSpectrometer sim(*world_);
  auto s = connectSpectrometer(sim);
  ASSERT_TRUE(s);
  ASSERT_FALSE(load(*s));

  sim.radio().failScansWith(4);
  auto failed = measure(*s);
  ASSERT_TRUE(failed->error);
  EXPECT_EQ(failed->error->code, error_code::kScan);
  EXPECT_EQ(failed->calls, 1);
  // The late response of that measurement, and an unasked one, are dropped.
  hcf::InstrumentLinkAccess::link(*s).gotSpectralResponse(std::vector<float>(32, 0.5f));
  EXPECT_EQ(failed->calls, 1);
  sim.radio().reportError(9);  // nothing pending: ignored
  advance(100ms);

  // A response the chain cannot take (wrong length) fails the measurement with the chain's
  // error; the instrument's own answer, arriving later, finds nothing pending.
  auto wrong = std::make_shared<Measured>();
  s->requestColorScan([wrong](auto, auto, auto e) {
    ++wrong->calls;
    wrong->error = e;
  });
  hcf::InstrumentLinkAccess::link(*s).gotSpectralResponse(std::vector<float>(20, 0.5f));
  advance(200ms);
  EXPECT_EQ(wrong->calls, 1);
  ASSERT_TRUE(wrong->error);

  // Disconnected while measuring.
  auto pending = std::make_shared<Measured>();
  s->requestColorScan([pending](auto, auto, auto e) {
    ++pending->calls;
    pending->error = e;
  });
  hcf::InstrumentLinkAccess::deviceDisconnected(*s);
  advance(200ms);
  EXPECT_EQ(pending->calls, 1);
  ASSERT_TRUE(pending->error);
  EXPECT_EQ(pending->error->code, error_code::kScan);
}

TEST_F(SpectrometerTest, ChainThatCannotBeFetchedFailsTheLoad) {
  server_.stop();
  fx::SimulatedSpectrometer sim(*world_, fx::PackageKind::TwoModels);
  auto s = connectSpectrometer(sim);
  ASSERT_TRUE(s);
  auto error = load(*s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "NSURLErrorDomain");
  EXPECT_FALSE(s->chainLoaded());
  EXPECT_TRUE(s->model().empty());
}

// A band at full scale marks the scan; the scan is still delivered.
TEST_F(SpectrometerTest, ABandAtFullScaleMarksTheScanOverRange) {
  fx::SimulatedSpectrometer sim(*world_);
  auto s = connectSpectrometer(sim);
  ASSERT_TRUE(s);
  ASSERT_FALSE(load(*s));
  struct Row {
    const char* name;
    std::size_t band;
    std::uint16_t count;
    bool overRange;
  };
  const Row rows[] = {
      {"ordinary response", 0, 30000, false},
      {"first band at full scale", 0, 65535, true},
      {"last band at full scale", 31, 65535, true},
      {"a band one below full scale", 12, 65534, false},
  };
  for (const auto& row : rows) {
    std::array<std::uint16_t, 32> counts{};
    counts.fill(30000);
    counts[row.band] = row.count;
    sim.radio().setResponseCounts(counts);
    const auto m = measure(*s);
    ASSERT_FALSE(m->error) << row.name << ": " << m->error->localizedDescription;
    ASSERT_TRUE(m->spectral) << row.name;
    EXPECT_EQ(m->spectral->overRange, row.overRange) << row.name;
  }
}
