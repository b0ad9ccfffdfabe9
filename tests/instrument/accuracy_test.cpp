// Accuracy through the real path: connection, identification, calibration record or model
// chain from the reference cloud, white calibration, then the 24 colour-checker patches.
#include <gtest/gtest.h>

#include <cstdio>

#include "../support/instrument_fixture.h"
#include "sample_spectra.h"

using namespace hcf;
using namespace hcf_test;

namespace {

struct Figures {
  double worst = 0;
  double sum = 0;
  int n = 0;
  void add(double dE) {
    worst = std::max(worst, dE);
    sum += dE;
    ++n;
  }
};

class AccuracyTest : public InstrumentTest {
 protected:
  std::shared_ptr<HCFColorScan> measureOnce(HCFColorInstrument& instrument, bool spectral) {
    std::shared_ptr<HCFColorScan> out;
    instrument.requestColorScan([&](auto t, auto s, auto e) {
      EXPECT_FALSE(e) << e->localizedDescription;
      out = spectral ? s : t;
    });
    advance(200ms);
    return out;
  }
};

HCFLabColor chartLab(std::size_t patch) {
  const auto& p = fx::colorCheckerXYZD50()[patch];
  return HCFXYZColor::XYZColorWithX(p.X, p.Y, p.Z, HCFIlluminant::D50).toLab();
}

}  // namespace

TEST_F(AccuracyTest, EveryColorimeterReadsTheColourCheckerWithinOneDeltaE) {
  for (const std::string model : {"1.1", "2.0", "2.1", "3.0", "3.01.00", "3.01.02", "4.0"}) {
    fx::SimulatedColorimeter sim(*world_, model);
    Created c = create(sim.radio().devicePtr(), kColorimeterService);
    ASSERT_TRUE(c.instrument) << model;
    std::optional<HCFError> loadError = HCFError{};
    c.instrument->loadCalibration([&](auto e) { loadError = e; });
    settle();
    ASSERT_FALSE(loadError) << model << ": " << loadError->localizedDescription;
    bool calibrated = false;
    sim.presentWhiteTile();
    c.instrument->requestCalibration([&](bool ok, auto) { calibrated = ok; });
    advance(200ms);
    ASSERT_TRUE(calibrated) << model;
    Figures f;
    for (std::size_t patch = 0; patch < 24; ++patch) {
      sim.measure(fx::colorCheckerXYZD50()[patch]);
      auto scan = measureOnce(*c.instrument, false);
      ASSERT_TRUE(scan) << model << " patch " << patch;
      const double dE =
          scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)->deltaE00(chartLab(patch));
      EXPECT_LT(dE, 1.0) << model << " patch " << patch;
      f.add(dE);
    }
    std::printf("colorimeter %-8s worst ΔE00 %.4f  mean %.4f\n", model.c_str(), f.worst,
                f.sum / f.n);
  }
}

TEST_F(AccuracyTest, TheSpectrometerReadsTheColourCheckerWithinHalfADeltaE) {
  fx::SimulatedSpectrometer sim(*world_);
  Created c = create(sim.radio().devicePtr(), kSpectrometerService);
  ASSERT_TRUE(c.instrument);
  std::optional<HCFError> loadError = HCFError{};
  c.instrument->loadCalibration([&](auto e) { loadError = e; });
  settle();
  ASSERT_FALSE(loadError) << loadError->localizedDescription;
  Figures f;
  Figures spectra;
  for (std::size_t patch = 0; patch < 24; ++patch) {
    // The patch as a smooth reflectance of its own colour.
    const auto reflectance = fx::reflectanceForLab(chartLab(patch));
    const auto own = HCFCieSpectralMath::xyzFromSpectrum(reflectance, 400, HCFIlluminant::D50,
                                                         HCFStdObserver::TwoDegree);
    spectra.add(own->toLab().deltaE00(chartLab(patch)));
    sim.measure(reflectance);
    auto scan = measureOnce(*c.instrument, true);
    ASSERT_TRUE(scan) << "patch " << patch;
    const double dE =
        scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)->deltaE00(chartLab(patch));
    EXPECT_LT(dE, 0.5) << "patch " << patch;
    f.add(dE);
  }
  EXPECT_LT(spectra.worst, 0.05) << "the sample spectra match their patches";
  std::printf("spectrometer %s worst ΔE00 %.4f  mean %.4f\n", sim.serial().c_str(), f.worst,
              f.sum / f.n);
}

TEST_F(AccuracyTest, NoiseOnTheCountsStaysSmallOnTheColour) {
  fx::SimulatedColorimeter sim(*world_, "3.0");
  sim.setNoise(20);  // counts, on signals of thousands
  Created c = create(sim.radio().devicePtr(), kColorimeterService);
  ASSERT_TRUE(c.instrument);
  c.instrument->loadCalibration([](auto) {});
  settle();
  sim.presentWhiteTile();
  c.instrument->requestCalibration([](bool, auto) {});
  advance(200ms);
  ASSERT_TRUE(c.instrument->hasCalibration());
  std::vector<double> L;
  for (int i = 0; i < 5; ++i) {
    sim.measure(fx::colorCheckerXYZD50()[7]);
    auto scan = measureOnce(*c.instrument, false);
    ASSERT_TRUE(scan);
    const auto lab = *scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
    EXPECT_LT(lab.deltaE00(chartLab(7)), 1.0);
    L.push_back(lab.L);
  }
  EXPECT_NE(L[0], L[1]) << "noise makes readings differ";
}

// Colours the instruments were not calibrated on (a share of the Munsell chips and of the
// paint-gamut grid, with each version's read noise) stay within bounds loose enough for the
// simulation's spread and tight enough to catch a broken model, table, network or chain.
// `make bench` reports the full sets against the targets.
TEST_F(AccuracyTest, HeldOutSamplesStayWithinLooseBounds) {
  std::vector<const fx::Sample*> samples;
  for (std::size_t i = 0; i < fx::munsellSamples().size(); i += 20) {
    samples.push_back(&fx::munsellSamples()[i]);
  }
  for (std::size_t i = 0; i < fx::paintGamutGrid().size(); i += 8) {
    samples.push_back(&fx::paintGamutGrid()[i]);
  }
  struct Case {
    std::string model;  // empty: the spectrometer
    double mean, p95;
  };
  const std::vector<Case> cases = {{"1.1", 1.5, 5.0}, {"2.0", 1.5, 5.0},     {"2.1", 1.5, 5.0},
                                   {"3.0", 1.2, 4.0}, {"3.01.02", 1.2, 4.0}, {"4.0", 1.2, 4.0},
                                   {"", 0.1, 0.3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model.empty() ? "spectrometer" : c.model);
    std::unique_ptr<fx::SimulatedColorimeter> colorimeter;
    std::unique_ptr<fx::SimulatedSpectrometer> spectrometer;
    std::shared_ptr<ble::sim::Device> device;
    if (c.model.empty()) {
      spectrometer = std::make_unique<fx::SimulatedSpectrometer>(*world_);
      spectrometer->setNoise(3);
      device = spectrometer->radio().devicePtr();
    } else {
      colorimeter = std::make_unique<fx::SimulatedColorimeter>(*world_, c.model);
      colorimeter->setNoise(colorimeter->sensor().noise);
      device = colorimeter->radio().devicePtr();
    }
    Created made = create(device, c.model.empty() ? kSpectrometerService : kColorimeterService);
    ASSERT_TRUE(made.instrument);
    std::optional<HCFError> loadError = HCFError{};
    made.instrument->loadCalibration([&](auto e) { loadError = e; });
    settle();
    ASSERT_FALSE(loadError) << loadError->localizedDescription;
    if (colorimeter) {
      colorimeter->presentWhiteTile();
      made.instrument->requestCalibration([](bool, auto) {});
      advance(200ms);
      ASSERT_TRUE(made.instrument->hasCalibration());
    }
    std::vector<double> errors;
    for (const auto* s : samples) {
      if (colorimeter) colorimeter->measure(s->reflectance);
      if (spectrometer) spectrometer->measure(s->reflectance);
      auto scan = measureOnce(*made.instrument, spectrometer != nullptr);
      ASSERT_TRUE(scan) << s->name;
      errors.push_back(scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)
                           ->deltaE00(fx::colourOf(s->reflectance).toLab()));
    }
    std::sort(errors.begin(), errors.end());
    double mean = 0;
    for (const double e : errors) mean += e;
    mean /= static_cast<double>(errors.size());
    const double p95 = errors[errors.size() * 95 / 100];
    EXPECT_LT(mean, c.mean);
    EXPECT_LT(p95, c.p95);
    made.instrument->disconnect();
    settle();
  }
}
