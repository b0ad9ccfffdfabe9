// The test kit as an application's own tests would use it: instruments placed in the world,
// the kit pointed at it, and the whole path walked through the kit's futures on simulated time.
#include "hcf/testing/test_kit.h"

#include <gtest/gtest.h>

#include "../support/main_queue_fixture.h"
#include "hcf/hcf.h"

namespace {

using namespace std::chrono_literals;
using hcf::testing::TestKit;

class TestKitTest : public hcf_test::MainQueueTest {
 protected:
  // Drives the main queue (simulated time jumps over idle time) until the future is ready.
  template <typename T>
  T await(std::future<T> future) {
    const bool ready = queue().runUntil(
        [&] { return future.wait_for(0s) == std::future_status::ready; }, queue().now() + 120s);
    if (!ready) throw std::runtime_error("the future was never answered");
    return future.get();
  }
  void start(TestKit& world) {
    hcf::HCFCentral::configure(world.configuration());
    const auto error = await(hcf::HCFFutures::start(world.sdkKey()));
    ASSERT_FALSE(error) << error->localizedDescription;
  }
};

TEST_F(TestKitTest, EachKindOfInstrumentMeasuresItsSampleThroughTheFutures) {
  TestKit world;
  const std::vector<std::string> colorimeters = {"4.0", "3.01.02", "2.1", "1.1"};
  for (const auto& model : colorimeters) world.addColorimeter(model);
  world.addSpectrometer();
  start(world);
  const auto found = await(hcf::HCFFutures::discover());
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found->size(), colorimeters.size() + 1);

  const auto sample = hcf::HCFLabColor::labColorWithL(55, 20, -25, hcf::HCFIlluminant::D50);
  for (auto* simulated : world.instruments()) {
    SCOPED_TRACE(simulated->model());
    // Tintras all advertise "Tintra": the peripheral is told by its identifier.
    std::shared_ptr<hcf::ble::Peripheral> peripheral;
    for (const auto& f : *found) {
      if (f.peripheral->identifier() == simulated->device().identifier()) peripheral = f.peripheral;
    }
    ASSERT_TRUE(peripheral);
    auto instrument = await(hcf::HCFFutures::connect(peripheral));
    ASSERT_TRUE(instrument.ok()) << instrument.error().localizedDescription;
    EXPECT_EQ((*instrument)->serial(), simulated->serial());
    simulated->presentWhiteTile();
    const auto calibrated = await(hcf::HCFFutures::calibrate(*instrument));
    ASSERT_FALSE(calibrated) << calibrated->localizedDescription;
    simulated->placeSample(sample);
    const auto scan = await(hcf::HCFFutures::measure(*instrument));
    ASSERT_TRUE(scan.ok()) << scan.error().localizedDescription;
    const auto lab = (*scan)->lab(hcf::HCFStdObserver::TwoDegree, hcf::HCFIlluminant::D50);
    ASSERT_TRUE(lab);
    EXPECT_LT(
        hcf::CieStdMath::deltaE2000WithL(lab->L, lab->A, lab->B, sample.L, sample.A, sample.B),
        3.0);
    (*instrument)->disconnect();
    queue().runUntil([] { return !hcf::HCFCentral::connectionManager()->isConnected(); },
                     queue().now() + 10s);
  }
}

TEST_F(TestKitTest, FuturesAnswerWhenNothingIsInRangeOrTheirRequestIsReplaced) {
  TestKit world;
  auto& orla = world.addColorimeter("4.0");
  start(world);
  orla.setInRange(false);
  const auto none = await(hcf::HCFFutures::discover());
  ASSERT_TRUE(none.ok()) << none.error().localizedDescription;
  EXPECT_TRUE(none->empty()) << "nothing in range is an empty answer, not an error";

  orla.setInRange(true);
  auto instrument = await(hcf::HCFFutures::connectToSerial(orla.serial()));
  ASSERT_TRUE(instrument.ok());
  await(hcf::HCFFutures::calibrate(*instrument));
  // A second measurement replaces the first request without answering it: its future still
  // becomes ready, with the cancellation error.
  auto first = hcf::HCFFutures::measure(*instrument);
  auto second = hcf::HCFFutures::measure(*instrument);
  const auto replaced = await(std::move(first));
  ASSERT_FALSE(replaced.ok());
  EXPECT_EQ(replaced.error().code, -999);
  EXPECT_TRUE(await(std::move(second)).ok());
}

TEST_F(TestKitTest, TheCatalogueIsDownloadedAndSearchedThroughTheFutures) {
  TestKit world({.catalogProducts = 120});
  start(world);
  float last = 0;
  const auto downloaded = await(hcf::HCFFutures::downloadCatalog([&](float f) { last = f; }));
  ASSERT_FALSE(downloaded) << downloaded->localizedDescription;
  EXPECT_EQ(last, 1.0f);
  auto term = std::make_shared<hcf::HCFGenericColorSearchTerm>();
  term->auxLab = hcf::HCFLabColor::labColorWithL(60, 10, 20, hcf::HCFIlluminant::D50);
  auto search = hcf::HCFProductSearch::productSearch();
  search.colorTerm = term;
  search.limit = 3;
  const auto nearest = await(hcf::HCFFutures::search(search));
  ASSERT_TRUE(nearest.ok());
  ASSERT_EQ(nearest->size(), 3u);
  EXPECT_LE(*(*nearest)[0].deltaE, *(*nearest)[2].deltaE);

  world.failCloudRequests("/cas/sdk/auth", 503);  // faults reach the kit as they would
  world.clearCloudFaults();
}

}  // namespace
