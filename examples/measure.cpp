// Measures a colour and finds the nearest paints: discover → connect → white calibration →
// measurement → nearest products in the downloaded catalogue.
//
//   measure              the strongest instrument in range, the cloud of HCF_CLOUD_URL with the
//                        key of HCF_SDK_KEY; asks the person to place the instrument
//   measure --simulated  a simulated ColorOrla and the reference cloud (the test kit)
//
// The kit's main queue runs inside a GLib main loop on the main thread, so every callback
// arrives there; the measuring sequence runs on a worker thread and waits on the kit's futures.
#include <glib.h>
#include <hcf/hcf.h>
#include <hcf/platform/dispatch/glib_main_queue.h>
#include <hcf/testing/test_kit.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// A failed step: what was being done and the kit's message.
struct StepFailed : std::runtime_error {
  StepFailed(const std::string& step, const hcf::HCFError& error)
      : std::runtime_error(step + ": " + error.localizedDescription + " (" + error.domain + " " +
                           std::to_string(error.code) + ")") {}
};

template <typename T>
T valueOf(const std::string& step, hcf::Result<T> result) {
  if (!result) throw StepFailed(step, result.error());
  return std::move(*result);
}

void check(const std::string& step, const std::optional<hcf::HCFError>& error) {
  if (error) throw StepFailed(step, *error);
}

// Runs `work` on the thread that drives the main queue and waits for it: the simulated world,
// like the kit, is used there.
void onMainThread(const std::function<void()>& work) {
  std::promise<void> done;
  hcf::dispatch::mainQueue().async([&] {
    work();
    done.set_value();
  });
  done.get_future().get();
}

// Where the instrument is put before a white calibration and a measurement: the person at a
// real one is asked; a simulated one gets its tile or the sample.
struct Bench {
  std::function<void()> whiteTile;
  std::function<void()> sample;
};

Bench personAtTheInstrument() {
  const auto ask = [](const char* what) {
    std::printf("%s, then press Enter\n", what);
    std::string line;
    std::getline(std::cin, line);
  };
  return {[ask] { ask("Place the instrument on its white tile"); },
          [ask] { ask("Place the instrument on the sample"); }};
}

// The sequence, on a worker thread.
int measureAndMatch(const std::string& sdkKey, const Bench& bench) {
  check("start", hcf::HCFFutures::start(sdkKey).get());
  const auto found = valueOf("discovery", hcf::HCFFutures::discover().get());
  if (found.empty()) {
    std::printf("No instrument in range.\n");
    return 1;
  }
  const auto& strongest = found.front();  // strongest first
  std::printf("Found %zu instrument(s); connecting %s (%d dBm)\n", found.size(),
              strongest.peripheral->name().value_or("?").c_str(), strongest.rssi.value_or(0));
  const auto instrument =
      valueOf("connection", hcf::HCFFutures::connect(strongest.peripheral).get());
  std::printf("Connected: serial %s, firmware %s\n", instrument->serial().c_str(),
              instrument->firmwareVersion().c_str());

  bench.whiteTile();
  check("white calibration", hcf::HCFFutures::calibrate(instrument).get());
  bench.sample();
  const auto scan = valueOf("measurement", hcf::HCFFutures::measure(instrument).get());
  const auto lab = scan->lab(hcf::HCFStdObserver::TwoDegree, hcf::HCFIlluminant::D50);
  if (!lab) throw std::runtime_error("the scan has no colour under D50");
  std::printf("Measured: L* %.2f a* %.2f b* %.2f (D50, 2°), sRGB #%s\n", lab->L, lab->A, lab->B,
              scan->hex().value_or("------").c_str());

  check("catalogue download", hcf::HCFFutures::downloadCatalog([](float done) {
                                if (done >= 1.0f) std::printf("Catalogue downloaded\n");
                              }).get());
  auto search = hcf::HCFProductSearch::productSearch();
  search.colorTerm = scan;  // CIEDE2000 under D50, 2°, by default
  search.limit = 5;
  const auto nearest = valueOf("search", hcf::HCFFutures::search(search).get());
  std::printf("Nearest products:\n");
  for (const auto& r : nearest) {
    std::printf("  %-10s %-32s dE00 %.2f\n", r.product.code().c_str(), r.product.name().c_str(),
                static_cast<double>(r.deltaE.value_or(0)));
  }
  onMainThread([&] { instrument->disconnect(); });
  return nearest.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool simulated = argc == 2 && std::strcmp(argv[1], "--simulated") == 0;
  if (argc > 2 || (argc == 2 && !simulated)) {
    std::fprintf(stderr, "usage: measure [--simulated]\n");
    return 2;
  }
  // The simulated world, when asked for: a ColorOrla in range, a sample in front of it and a
  // catalogue in the reference cloud.
  std::unique_ptr<hcf::testing::TestKit> world;
  hcf::testing::SimulatedInstrument* orla = nullptr;
  std::string sdkKey;
  Bench bench;
  if (simulated) {
    world = std::make_unique<hcf::testing::TestKit>(
        hcf::testing::TestKit::Options{.dataDirectory = {}, .catalogProducts = 400});
    orla = &world->addColorimeter("4.0", -48);
    hcf::HCFCentral::configure(world->configuration());
    sdkKey = world->sdkKey();
    const auto sample = hcf::HCFLabColor::labColorWithL(52.0, 18.0, -31.0, hcf::HCFIlluminant::D50);
    bench = {[orla] { onMainThread([orla] { orla->presentWhiteTile(); }); },
             [orla, sample] { onMainThread([orla, sample] { orla->placeSample(sample); }); }};
  } else {
    const char* key = std::getenv("HCF_SDK_KEY");
    if (!key || !*key) {
      std::fprintf(stderr, "set HCF_SDK_KEY (and HCF_CLOUD_URL), or use --simulated\n");
      return 2;
    }
    sdkKey = key;
    hcf::HCFConfiguration config;
    config.bluetooth = hcf::ble::bluez::centralFactory();
    hcf::HCFCentral::configure(config);
    bench = personAtTheInstrument();
  }

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  int status = 1;
  std::thread worker;
  {
    hcf::dispatch::GLibMainQueue attached;  // the loop drives the kit from here on
    worker = std::thread([&] {
      try {
        status = measureAndMatch(sdkKey, bench);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "measure: %s\n", e.what());
      }
      // Ends the loop from inside it (safe even if it had not started yet).
      g_idle_add(
          [](gpointer l) {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
          },
          loop);
    });
    g_main_loop_run(loop);
    worker.join();
  }
  g_main_loop_unref(loop);
  return status;
}
