// Scans built from sensor values against the reference cloud: the colorimeter path through the
// device-data service and the reading classes, the spectrometer path through the model chain.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "../support/cloud_test_support.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hi_tintra.h"
#include "hcf/color/hcf_cie_spectral_math.h"
#include "hcf/core/ht_utility.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"
#include "spectrometer.h"

using namespace hcf;
using namespace std::chrono_literals;
namespace fx = hcf_cloud::fixtures;

namespace {

struct Outcome {
  std::shared_ptr<HCFColorScan> scan;
  std::optional<HCFError> error;
  int calls = 0;
};

class ScanFromTest : public hcf_test::CloudTest {
 protected:
  void SetUp() override {
    CloudTest::SetUp();
    HITintraSession::currentSession().setApiKey(fx::kDemoDeviceKey);
    dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
  }
  void TearDown() override { CloudTest::TearDown(); }

  // Builds a scan and returns once nothing is in flight, counting the completion's calls.
  template <typename Build>
  Outcome scan(Build build, const std::string& serial, const std::vector<double>& senses) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    std::promise<Outcome> first;
    build(serial, senses, [&, calls](std::shared_ptr<HCFColorScan> s, std::optional<HCFError> e) {
      if (calls->fetch_add(1) == 0) first.set_value({std::move(s), std::move(e), 0});
    });
    auto f = first.get_future();
    EXPECT_EQ(f.wait_for(20s), std::future_status::ready);
    dispatch::mainQueue().runUntil([] { return false; });
    Outcome o = f.get();
    o.calls = calls->load();
    return o;
  }
  Outcome anyScan(const std::string& serial, const std::vector<double>& senses) {
    return scan(HCFColorScan::scanFrom, serial, senses);
  }

  std::size_t requestsTo(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& r : server_.requests()) n += r.path.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
};

// The colorimeter path alone (scanFrom of a reading has the same name).
const auto kTristim = [](const std::string& serial, const std::vector<double>& senses,
                         ScanCompletion complete) {
  HCFTristimScan::scanFrom(serial, senses, std::move(complete));
};

HCFLabColor labD50(const XYZTriple& xyz) {
  return HCFXYZColor::XYZColorWithX(xyz.X, xyz.Y, xyz.Z, HCFIlluminant::D50).toLab();
}

}  // namespace

TEST_F(ScanFromTest, ColorimeterCountsBecomeATristimulusScanOfTheKnownColour) {
  const std::string serial = fx::serialFor("2.0");
  const XYZTriple patch = fx::colorCheckerXYZD50()[13];
  const auto s = fx::sensorFor("2.0", false).signal(patch);
  Outcome o = anyScan(serial, {s[0], s[1], s[2], 0});  // four values: still a colorimeter
  ASSERT_FALSE(o.error) << o.error->localizedDescription;
  EXPECT_EQ(o.calls, 1);
  auto* t = dynamic_cast<HCFTristimScan*>(o.scan.get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->serial, serial);
  EXPECT_EQ(t->model, "2.0");
  EXPECT_EQ(t->batch, "7");
  EXPECT_EQ(t->colorSense[0], static_cast<double>(static_cast<float>(s[0])));
  EXPECT_LT(t->adjusted2DegreeLab.deltaE00(labD50(patch)), 0.05);
  EXPECT_EQ(t->adjusted2DegreeLab.illuminant, HCFIlluminant::D50);
  ASSERT_EQ(t->batchedLabs.size(), 1u);  // the unadjusted colour under the reading's batch
  EXPECT_EQ(t->batchedLabs[0].batch, "7");
  EXPECT_EQ(requestsTo("/b2/ext_api/v1/tintra_device.protobuf"), 1u);
  EXPECT_EQ(requestsTo("/irisel/"), 0u);
}

TEST_F(ScanFromTest, ColorOrlaScanCarriesTheColoursOfTheOtherBatches) {
  const std::string serial = fx::orlaSerial(12);
  const auto s = fx::sensorFor("4.0", true).signal(fx::colorCheckerXYZD50()[2]);
  Outcome o = scan(kTristim, serial, {s[0], s[1], s[2]});
  ASSERT_FALSE(o.error) << o.error->localizedDescription;
  auto* t = dynamic_cast<HCFTristimScan*>(o.scan.get());
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(t->adjusted10DegreeLab);
  EXPECT_EQ(t->adjusted10DegreeLab->stdObserver, HCFStdObserver::TenDegree);
  EXPECT_EQ(t->adjusted10DegreeLab->illuminant, HCFIlluminant::D50);
  std::vector<std::string> batches;
  for (const auto& b : t->batchedLabs) batches.push_back(b.batch);
  EXPECT_EQ(batches, (std::vector<std::string>{"95", "7", "12"}));
  for (const auto& b : t->batchedLabs) EXPECT_EQ(b.lab.illuminant, HCFIlluminant::D50);
}

TEST_F(ScanFromTest, SpectrometerResponseBecomesASpectralScanOfTheSample) {
  const auto serial = fx::iriselSerial(fx::PackageKind::ThreeModels);
  const auto& sample = fx::sampleReflectances()[6];  // blue
  const auto raw = fx::spectrometerFor(serial).response(sample);
  Outcome o = anyScan(serial, std::vector<double>(raw.begin(), raw.end()));
  ASSERT_FALSE(o.error) << o.error->localizedDescription;
  EXPECT_EQ(o.calls, 1);
  auto* s = dynamic_cast<HCFSpectralScan*>(o.scan.get());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->model, fx::kSpectroModel);
  EXPECT_EQ(s->senseValues.size(), 32u);
  ASSERT_EQ(s->curve.size(), 31u);
  for (const auto illuminant : {HCFIlluminant::D50, HCFIlluminant::A, HCFIlluminant::F11}) {
    for (const auto observer : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      const auto truth = HCFCieSpectralMath::xyzFromSpectrum(sample, 400, illuminant, observer);
      EXPECT_LT(s->lab(observer, illuminant)->deltaE00(truth->toLab()), 0.1);
    }
  }
  EXPECT_EQ(requestsTo("/irisel/model_packages/zips/ios/"), 1u);
  EXPECT_EQ(requestsTo("/b2/"), 0u);
}

TEST_F(ScanFromTest, EveryFailureReachesTheCompletionOnce) {
  // Five values on the colorimeter path: the legacy-device error, and nothing else happens.
  Outcome o = scan(kTristim, "00A1B2C3D4E5", {1, 2, 3, 4, 5});
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, error_code::kUnsupportedLegacyDevice);
  EXPECT_EQ(o.calls, 1);
  EXPECT_TRUE(server_.requests().empty());

  // Too few values for a colorimeter reading.
  o = anyScan(fx::serialFor("2.0"), {1, 2});
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.calls, 1);

  // An instrument the device-data service does not know.
  o = anyScan("00BADBAD0000", {100, 200, 300});
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, error_code::kCalibrationDownload);
  EXPECT_EQ(o.calls, 1);
  EXPECT_FALSE(o.scan);

  // A spectrometer without a package, and a response the chain cannot take.
  o = anyScan("00E15E0000FF", std::vector<double>(32, 0.5));
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, error_code::kAlignmentFetch);
  EXPECT_EQ(o.calls, 1);
  o = anyScan(fx::iriselSerial(fx::PackageKind::TwoModels), std::vector<double>(20, 0.5));
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.calls, 1);
  EXPECT_FALSE(o.scan);
}
