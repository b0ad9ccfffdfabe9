// Colour differences and conversions, side by side with Little CMS.
//
// Every benchmark works through the same random colours so neither side can fold constants;
// each iteration handles kPairs colours and the table at the end prints nanoseconds per colour
// and the ratio hcf / Little CMS (below 1: hcf is faster). Little CMS's CIE94 is the symmetric
// variant, not the graphic-arts formula: only its speed compares.
#include <benchmark/benchmark.h>
#include <hcf/hcf.h>
#include <lcms2.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPairs = 4096;

struct Data {
  std::vector<cmsCIELab> lab1, lab2;
  std::vector<double> L2, a2, b2;  // the standards as columns
  std::vector<cmsCIEXYZ> xyz01;    // XYZ on Little CMS's scale (white Y = 1)
  std::vector<double> X, Y, Z;     // the same on the kit's scale (white Y = 100)
  Data() {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> L(0, 100), ab(-100, 100), xyz(0.01, 0.95);
    for (std::size_t i = 0; i < kPairs; ++i) {
      lab1.push_back({L(rng), ab(rng), ab(rng)});
      lab2.push_back({L(rng), ab(rng), ab(rng)});
      L2.push_back(lab2.back().L);
      a2.push_back(lab2.back().a);
      b2.push_back(lab2.back().b);
      xyz01.push_back({xyz(rng), xyz(rng), xyz(rng)});
      X.push_back(xyz01.back().X * 100);
      Y.push_back(xyz01.back().Y * 100);
      Z.push_back(xyz01.back().Z * 100);
    }
  }
};

const Data& data() {
  static const Data d;
  return d;
}

const cmsCIEXYZ kD50White = {0.96422, 1.0, 0.82521};

void perColour(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPairs));
}

// ---- colour differences, one pair per call -------------------------------------------------

void hcf_CIEDE2000(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(hcf::CieStdMath::deltaE2000WithL(
          d.lab1[i].L, d.lab1[i].a, d.lab1[i].b, d.lab2[i].L, d.lab2[i].a, d.lab2[i].b));
    }
  }
  perColour(state);
}
void lcms_CIEDE2000(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(cmsCIE2000DeltaE(&d.lab1[i], &d.lab2[i], 1, 1, 1));
    }
  }
  perColour(state);
}
void hcf_CMC21(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(hcf::CieStdMath::deltaEcmc_l(2.0f, 1.0f, d.lab1[i].L, d.lab1[i].a,
                                                            d.lab1[i].b, d.lab2[i].L, d.lab2[i].a,
                                                            d.lab2[i].b));
    }
  }
  perColour(state);
}
void lcms_CMC21(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(cmsCMCdeltaE(&d.lab2[i], &d.lab1[i], 2, 1));
    }
  }
  perColour(state);
}
void hcf_CIE94(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(hcf::CieStdMath::deltaE1994WithL(
          d.lab1[i].L, d.lab1[i].a, d.lab1[i].b, d.lab2[i].L, d.lab2[i].a, d.lab2[i].b, 0));
    }
  }
  perColour(state);
}
void lcms_CIE94(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(cmsCIE94DeltaE(&d.lab1[i], &d.lab2[i]));
    }
  }
  perColour(state);
}

// ---- one sample against many standards (catalogue ranking) ---------------------------------

void hcf_CIEDE2000_batch(benchmark::State& state) {
  const Data& d = data();
  std::vector<double> out(kPairs);
  std::size_t s = 0;
  for (auto _ : state) {
    const cmsCIELab& sample = d.lab1[s++ % kPairs];
    hcf::CieStdMath::deltaEBatch(hcf::HCFDeltaEMethod::CIEDE2000, {sample.L, sample.a, sample.b},
                                 {d.L2, d.a2, d.b2}, out);
    benchmark::DoNotOptimize(out.data());
  }
  perColour(state);
}
void lcms_CIEDE2000_batch(benchmark::State& state) {
  const Data& d = data();
  std::vector<double> out(kPairs);
  std::size_t s = 0;
  for (auto _ : state) {
    const cmsCIELab& sample = d.lab1[s++ % kPairs];
    for (std::size_t i = 0; i < kPairs; ++i)
      out[i] = cmsCIE2000DeltaE(&sample, &d.lab2[i], 1, 1, 1);
    benchmark::DoNotOptimize(out.data());
  }
  perColour(state);
}

// ---- conversions ---------------------------------------------------------------------------

void hcf_XYZ2Lab(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(hcf::CieStdMath::xyz2LabWith(
          d.X[i], d.Y[i], d.Z[i], hcf::HCFIlluminant::D50, hcf::HCFStdObserver::TwoDegree));
    }
  }
  perColour(state);
}
void lcms_XYZ2Lab(benchmark::State& state) {
  const Data& d = data();
  cmsCIELab lab;
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      cmsXYZ2Lab(&kD50White, &lab, &d.xyz01[i]);
      benchmark::DoNotOptimize(lab);
    }
  }
  perColour(state);
}
void hcf_Lab2XYZ(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      benchmark::DoNotOptimize(hcf::CieStdMath::lab2xyzWithL(d.lab1[i].L, d.lab1[i].a, d.lab1[i].b,
                                                             hcf::HCFIlluminant::D50,
                                                             hcf::HCFStdObserver::TwoDegree));
    }
  }
  perColour(state);
}
void lcms_Lab2XYZ(benchmark::State& state) {
  const Data& d = data();
  cmsCIEXYZ xyz;
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPairs; ++i) {
      cmsLab2XYZ(&kD50White, &xyz, &d.lab1[i]);
      benchmark::DoNotOptimize(xyz);
    }
  }
  perColour(state);
}

BENCHMARK(hcf_CIEDE2000);
BENCHMARK(lcms_CIEDE2000);
BENCHMARK(hcf_CIEDE2000_batch);
BENCHMARK(lcms_CIEDE2000_batch);
BENCHMARK(hcf_CMC21);
BENCHMARK(lcms_CMC21);
BENCHMARK(hcf_CIE94);
BENCHMARK(lcms_CIE94);
BENCHMARK(hcf_XYZ2Lab);
BENCHMARK(lcms_XYZ2Lab);
BENCHMARK(hcf_Lab2XYZ);
BENCHMARK(lcms_Lab2XYZ);

// Collects nanoseconds per colour for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> nsPerColour;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      const double ns = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations) /
                        static_cast<double>(kPairs);
      nsPerColour[run.benchmark_name()] = ns;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  struct Row {
    const char* what;
    const char* name;
    double target;  // the ratio to stay at or below; 0 = none
  };
  const Row rows[] = {{"CIEDE2000, one pair", "CIEDE2000", 1.0},
                      {"CIEDE2000, one sample x many", "CIEDE2000_batch", 0.5},
                      {"CMC 2:1", "CMC21", 0},
                      {"CIE94 (speed only)", "CIE94", 0},
                      {"XYZ -> Lab", "XYZ2Lab", 0},
                      {"Lab -> XYZ", "Lab2XYZ", 0}};
  std::printf("\n%-30s %10s %10s %8s  %s\n", "ns per colour", "hcf", "lcms2", "ratio", "target");
  bool met = true;
  for (const Row& r : rows) {
    const auto h = reporter.nsPerColour.find(std::string("hcf_") + r.name);
    const auto l = reporter.nsPerColour.find(std::string("lcms_") + r.name);
    if (h == reporter.nsPerColour.end() || l == reporter.nsPerColour.end()) continue;
    const double ratio = h->second / l->second;
    char target[32] = "";
    if (r.target > 0) {
      std::snprintf(target, sizeof target, "<= %.1f %s", r.target,
                    ratio <= r.target ? "met" : "MISSED");
      met = met && ratio <= r.target;
    }
    std::printf("%-30s %10.1f %10.1f %8.3f  %s\n", r.what, h->second, l->second, ratio, target);
  }
  if (!met)
    std::printf("\nA target was missed on this run (timings vary with the machine's load).\n");
  return 0;
}
