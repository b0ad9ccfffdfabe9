// Colour-difference formulas.
//
// Reference data: G. Sharma, W. Wu, E. N. Dalal, "The CIEDE2000 color-difference formula:
// implementation notes, supplementary test data, and mathematical observations", Color
// Research and Application 30(1), 2005, Table 1 (data/reference/sharma2005_ciede2000.csv).
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "hcf/color/cie_std_math.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/color/lab_color.h"
#include "hcf/core/exception.h"

using namespace hcf;

namespace {

struct SharmaPair {
  int pair;
  double L1, a1, b1, L2, a2, b2, dE00;
};

std::vector<SharmaPair> loadSharma() {
  std::ifstream in(std::string(HCF_DATA_DIR) + "/reference/sharma2005_ciede2000.csv");
  std::vector<SharmaPair> pairs;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream fields(line);
    SharmaPair p{};
    fields >> p.pair >> p.L1 >> p.a1 >> p.b1 >> p.L2 >> p.a2 >> p.b2 >> p.dE00;
    pairs.push_back(p);
  }
  return pairs;
}

HCFLabColor lab(double L, double a, double b) {
  return HCFLabColor::labColorWithL(L, a, b, HCFIlluminant::D50);
}

}  // namespace

TEST(CIEDE2000, ReproducesAllPublishedPairsToFourDecimals) {
  const auto pairs = loadSharma();
  ASSERT_EQ(pairs.size(), 34u);
  for (const auto& p : pairs) {
    const double forward = CieStdMath::deltaE2000WithL(p.L1, p.a1, p.b1, p.L2, p.a2, p.b2);
    const double backward = CieStdMath::deltaE2000WithL(p.L2, p.a2, p.b2, p.L1, p.a1, p.b1);
    // The paper gives four decimals: agreement means rounding to the same four decimals.
    EXPECT_NEAR(forward, p.dE00, 0.5e-4) << "pair " << p.pair;
    EXPECT_NEAR(backward, p.dE00, 0.5e-4) << "pair " << p.pair << " swapped";
  }
}

TEST(CIEDE2000, HuesExactlyOppositeAgreeWithLittleCms) {
  // Pairs 10 and 14 of the published set: hues exactly 180° apart. With the ten-decimal π
  // alone the difference comes out a hair over 180° and the result jumps to 7.2195 / 4.7461.
  EXPECT_NEAR(CieStdMath::deltaE2000WithL(50, 2.49, -0.001, 50, -2.49, 0.001), 7.1792, 0.5e-4);
  EXPECT_NEAR(CieStdMath::deltaE2000WithL(50, -0.001, 2.49, 50, 0.001, -2.49), 4.8045, 0.5e-4);
  // One colour's a and b are the other's times −k, so the hues are exactly half a turn apart
  // and the mean hue is not wrapped; a wrapped one is off by up to 60. Little CMS wraps a hue
  // difference that rounds a hair above +180° but not one at −180°, so it gets the colour with
  // b < 0 first. Its true π and the kit's ten-decimal one differ by up to 1e-9 of the value.
  const double ks[] = {1.0, 2.0, 0.5, 3.0};
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> L(0, 100);
  std::uniform_real_distribution<double> ab(-128, 128);
  std::vector<double> out(1);
  for (const double k : ks) {
    for (int i = 0; i < 1000; ++i) {
      cmsCIELab p{L(rng), ab(rng), ab(rng)};
      cmsCIELab q{L(rng), -k * p.a, -k * p.b};
      if (p.b > 0) std::swap(p, q);
      const double expected = cmsCIE2000DeltaE(&p, &q, 1, 1, 1);
      const double tolerance = 2e-9 * expected;
      ASSERT_NEAR(CieStdMath::deltaE2000WithL(p.L, p.a, p.b, q.L, q.a, q.b), expected, tolerance)
          << "k " << k << " pair " << i;
      ASSERT_NEAR(CieStdMath::deltaE2000WithL(q.L, q.a, q.b, p.L, p.a, p.b), expected, tolerance)
          << "k " << k << " pair " << i << " swapped";
      const std::vector<double> Ls{q.L}, as{q.a}, bs{q.b};
      CieStdMath::deltaEBatch(HCFDeltaEMethod::CIEDE2000, {p.L, p.a, p.b}, {Ls, as, bs}, out);
      ASSERT_NEAR(out[0], expected, tolerance) << "k " << k << " pair " << i << " batch";
    }
  }
}

TEST(DeltaE, IdenticalColoursGiveExactlyZeroInEveryMethod) {
  for (const auto& c : {lab(50, 0, 0), lab(50, 20, -30), lab(0, 0, 0), lab(100, -80, 90)}) {
    EXPECT_EQ(c.deltaE00(c), 0.0);
    EXPECT_EQ(c.deltaEcmc(c, 0), 0.0);
    EXPECT_EQ(c.deltaEcmc(c, 1), 0.0);
    EXPECT_EQ(c.deltaE94(c, 0), 0.0);
    EXPECT_EQ(c.deltaE94(c, 1), 0.0);
  }
}

TEST(DeltaE, NeutralColoursNeverGiveNotANumber) {
  // The hue term's radicand (Δa² + Δb² − ΔC²) is zero in exact arithmetic for any pair on one
  // hue line; rounding can take it below zero. It is clamped, so the result stays a number.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> lightness(0, 100);
  std::uniform_real_distribution<double> scale(0.001, 3.0);
  for (int i = 0; i < 2000; ++i) {
    const double a = scale(rng) * 0.1;
    const double b = scale(rng) * 0.3;
    const double k = scale(rng);
    const auto s = lab(lightness(rng), a, b);
    const auto t = lab(lightness(rng), a * k, b * k);
    ASSERT_FALSE(std::isnan(s.deltaEcmc(t, 0))) << i;
    ASSERT_FALSE(std::isnan(s.deltaE94(t, 0))) << i;
    ASSERT_FALSE(std::isnan(s.deltaE94(t, 1))) << i;
  }
  EXPECT_NEAR(lab(50, 0, 0).deltaEcmc(lab(60, 0, 0), 1),
              10.0 / (0.040975 * 50 / (1 + 0.01765 * 50)), 1e-12);
}

TEST(DeltaE, CMCAndCIE94AreAsymmetricAndSampleSetsTheWeights) {
  const auto sample = lab(50, 40, 10);
  const auto standard = lab(55, 30, 25);
  EXPECT_NE(sample.deltaEcmc(standard, 0), standard.deltaEcmc(sample, 0));
  EXPECT_NE(sample.deltaE94(standard, 0), standard.deltaE94(sample, 0));
  EXPECT_DOUBLE_EQ(sample.deltaE00(standard), standard.deltaE00(sample));
  EXPECT_EQ(HTColorUtils::deltaEForSample(sample, standard, HCFDeltaEMethod::CMC21),
            sample.deltaEcmc(standard, 0));
  EXPECT_EQ(HTColorUtils::deltaEForSample(sample, standard, HCFDeltaEMethod::CMC11),
            sample.deltaEcmc(standard, 1));
  EXPECT_EQ(HTColorUtils::deltaEForSample(sample, standard, HCFDeltaEMethod::CIE94GraphicArts),
            sample.deltaE94(standard, 0));
  EXPECT_EQ(HTColorUtils::deltaEForSample(sample, standard, HCFDeltaEMethod::CIE94Textiles),
            sample.deltaE94(standard, 1));
  for (const auto other : {HCFDeltaEMethod{7}, HCFDeltaEMethod{-1}, HCFDeltaEMethod::CIEDE2000}) {
    EXPECT_EQ(HTColorUtils::deltaEForSample(sample, standard, other), sample.deltaE00(standard));
  }
}

TEST(DeltaE, CIE94MatchesHandComputedValues) {
  // Sample (50, 3, 4): C1 = 5. Standard (40, 0, 0): ΔL = 10, ΔC = 5, ΔH = 0.
  // Graphic arts: SC = 1.225 -> √(100 + (5/1.225)²); textiles: kL 2, SC = 1.24 -> √(25 +
  // (5/1.24)²).
  EXPECT_NEAR(CieStdMath::deltaE1994WithL(50, 3, 4, 40, 0, 0, 0),
              std::sqrt(100 + std::pow(5 / 1.225, 2)), 1e-12);
  EXPECT_NEAR(CieStdMath::deltaE1994WithL(50, 3, 4, 40, 0, 0, 5),
              std::sqrt(25 + std::pow(5 / 1.24, 2)), 1e-12);
}

TEST(DeltaE, EveryMethodMatchesTextbookValuesWithLightnessChromaAndHueDifferences) {
  // Each pair differs in lightness, chroma and hue, so every weight (SL, SC, SH; kL, K1, K2 of
  // both CIE94 variants; l of CMC) shows. The values come from the published formulas written
  // out apart from the kit, with the standard as the reference: CIEDE2000 as in Sharma, Wu &
  // Dalal (2005); CMC l:c as in Clarke, McDonald & Rigg (1984); CIE94 as in CIE 116-1995,
  // graphic arts kL = 1, K1 = 0.045, K2 = 0.015, textiles kL = 2, K1 = 0.048, K2 = 0.014.
  // The hues stay clear of CMC's T branch bounds; the last standard is below L* 16.
  struct Row {
    double standard[3], sample[3];
    double de00, cmc21, cmc11, cie94g, cie94t;
  };
  const Row rows[] = {
      {{50, 20, 10}, {53, 25, 2}, 7.2007, 9.6231, 9.9148, 7.5231, 7.1626},
      {{35, -30, -25}, {31, -22, -33}, 6.7512, 7.0790, 8.0859, 8.1733, 7.5759},
      {{85, 5, 60}, {82, 12, 52}, 6.1122, 5.8529, 6.1428, 5.5388, 4.9833},
      {{10, 8, -15}, {13, 3, -20}, 7.8363, 7.5785, 9.1260, 6.1224, 5.5896},
  };
  // Values are given to four decimals.
  constexpr double kTolerance = 1e-4;
  for (const Row& r : rows) {
    const auto standard = lab(r.standard[0], r.standard[1], r.standard[2]);
    const auto sample = lab(r.sample[0], r.sample[1], r.sample[2]);
    const std::pair<HCFDeltaEMethod, double> expected[] = {
        {HCFDeltaEMethod::CIEDE2000, r.de00},
        {HCFDeltaEMethod::CMC21, r.cmc21},
        {HCFDeltaEMethod::CMC11, r.cmc11},
        {HCFDeltaEMethod::CIE94GraphicArts, r.cie94g},
        {HCFDeltaEMethod::CIE94Textiles, r.cie94t}};
    for (const auto& [method, value] : expected) {
      EXPECT_NEAR(
          HTColorUtils::deltaEForSample(sample, standard, method, HCFDeltaEReference::Standard),
          value, kTolerance)
          << "method " << static_cast<int>(method) << " standard L* " << r.standard[0];
      // In the kit's own orientation the sample sets the weights: the roles swapped.
      EXPECT_NEAR(HTColorUtils::deltaEForSample(standard, sample, method), value, kTolerance)
          << "method " << static_cast<int>(method) << " standard L* " << r.standard[0];
    }
  }
}

TEST(DeltaE, StandardOrientationOfCMCIsLittleCmsWithTheStandardFirst) {
  // Little CMS's cmsCMCdeltaE takes its weights from the first colour, the reference.
  struct Row {
    HCFDeltaEMethod method;
    double l;
  };
  const Row rows[] = {{HCFDeltaEMethod::CMC21, 2}, {HCFDeltaEMethod::CMC11, 1}};
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> L(1, 100);
  std::uniform_real_distribution<double> ab(-120, 120);
  for (const Row& r : rows) {
    for (int i = 0; i < 2000; ++i) {
      const auto sample = lab(L(rng), ab(rng), ab(rng));
      const auto standard = lab(L(rng), ab(rng), ab(rng));
      const cmsCIELab s{sample.L, sample.A, sample.B};
      const cmsCIELab t{standard.L, standard.A, standard.B};
      const double expected = cmsCMCdeltaE(&t, &s, r.l, 1);
      // The kit's ten-decimal π keeps the two apart by up to about 5e-10 of the value.
      ASSERT_NEAR(
          HTColorUtils::deltaEForSample(sample, standard, r.method, HCFDeltaEReference::Standard),
          expected, 1e-9 * expected)
          << "l " << r.l << " pair " << i;
      // The kit's own orientation is the other way round.
      ASSERT_NEAR(
          HTColorUtils::deltaEForSample(sample, standard, r.method, HCFDeltaEReference::Sample),
          cmsCMCdeltaE(&s, &t, r.l, 1), 1e-9 * expected)
          << "l " << r.l << " pair " << i;
    }
  }
}

TEST(DeltaE, OrientationChoosesWhichColourSetsTheWeights) {
  // Sample (50, 3, 4) has chroma 5, standard (40, 0, 0) none: ΔL = −10, ΔC = −5, ΔH = 0. The
  // neutral standard's weights are 1 (and kL); the sample's are SC = 1 + K1·5.
  const auto sample = lab(50, 3, 4);
  const auto standard = lab(40, 0, 0);
  const double slStandard = 0.040975 * 40 / (1 + 0.01765 * 40);  // CMC SL at L* 40
  const double sc0 = 0.638;                                      // CMC's SC at chroma 0
  struct Row {
    HCFDeltaEMethod method;
    HCFDeltaEReference reference;
    double expected;
  };
  const Row rows[] = {
      {HCFDeltaEMethod::CIE94GraphicArts, HCFDeltaEReference::Standard, std::sqrt(125.0)},
      {HCFDeltaEMethod::CIE94Textiles, HCFDeltaEReference::Standard, std::sqrt(50.0)},
      {HCFDeltaEMethod::CIE94GraphicArts, HCFDeltaEReference::Sample,
       std::sqrt(100 + std::pow(5 / 1.225, 2))},
      {HCFDeltaEMethod::CIE94Textiles, HCFDeltaEReference::Sample,
       std::sqrt(25 + std::pow(5 / 1.24, 2))},
      {HCFDeltaEMethod::CMC11, HCFDeltaEReference::Standard, std::hypot(10 / slStandard, 5 / sc0)},
      {HCFDeltaEMethod::CIEDE2000, HCFDeltaEReference::Standard, sample.deltaE00(standard)},
  };
  for (const Row& r : rows) {
    EXPECT_NEAR(HTColorUtils::deltaEForSample(sample, standard, r.method, r.reference), r.expected,
                1e-12)
        << static_cast<int>(r.method) << " " << static_cast<int>(r.reference);
  }
  EXPECT_EQ(sample.deltaE94(standard, 1, HCFDeltaEReference::Standard), std::sqrt(50.0));
  EXPECT_EQ(sample.deltaEcmc(standard, 0, HCFDeltaEReference::Sample),
            sample.deltaEcmc(standard, 0));
  EXPECT_THROW((void)HTColorUtils::deltaEForSample(sample, standard, HCFDeltaEMethod::CIEDE2000,
                                                   HCFDeltaEReference{2}),
               HCFException);
}

TEST(DeltaE, LabDifferenceComponentsAndTheSignOfHueDifference) {
  struct Row {
    double sample[3], standard[3];
    double dL, dC, dH;
  };
  const Row rows[] = {
      {{50, 0, 10}, {50, 10, 0}, 0, 0, std::sqrt(200.0)},   // a quarter turn anticlockwise
      {{50, 10, 0}, {50, 0, 10}, 0, 0, -std::sqrt(200.0)},  // and clockwise
      {{50, 10, -1}, {50, 10, 1}, 0, 0, -2},                // clockwise across 0°
      {{50, 10, 1}, {50, 10, -1}, 0, 0, 2},                 // anticlockwise across 0°
      {{55, 3, 4}, {50, 0, 0}, 5, 5, 0},                    // neutral standard: no hue
      {{50, 3, 4}, {50, 6, 8}, 0, -5, 0},                   // same hue, less chroma
      {{50, -3, -4}, {50, 3, 4}, 0, 0, 10},                 // exactly opposite: +180°
      {{50, 3, 4}, {50, -3, -4}, 0, 0, 10},
      {{50, -9, -12}, {50, 3, 4}, 0, 10, 2 * std::sqrt(75.0)},
  };
  for (const Row& r : rows) {
    const auto s = lab(r.sample[0], r.sample[1], r.sample[2]);
    const auto t = lab(r.standard[0], r.standard[1], r.standard[2]);
    const LabDifference d = s.labDifference(t);
    EXPECT_NEAR(d.dL, r.dL, 1e-12) << r.sample[1] << ", " << r.sample[2];
    EXPECT_NEAR(d.dC, r.dC, 1e-12) << r.sample[1] << ", " << r.sample[2];
    EXPECT_NEAR(d.dH, r.dH, 1e-12) << r.sample[1] << ", " << r.sample[2];
    EXPECT_NEAR(d.dE * d.dE, d.dL * d.dL + d.dC * d.dC + d.dH * d.dH, 1e-12);
  }
  // ΔE*ab is Little CMS's cmsDeltaE, and its square splits into the three components.
  std::mt19937 rng(19);
  std::uniform_real_distribution<double> L(0, 100);
  std::uniform_real_distribution<double> ab(-120, 120);
  for (int i = 0; i < 2000; ++i) {
    const cmsCIELab s{L(rng), ab(rng), ab(rng)};
    const cmsCIELab t{L(rng), ab(rng), ab(rng)};
    const LabDifference d = CieStdMath::labDifference({s.L, s.a, s.b}, {t.L, t.a, t.b});
    const double expected = cmsDeltaE(&s, &t);
    ASSERT_NEAR(d.dE, expected, 1e-13 * expected) << i;
    ASSERT_EQ(lab(s.L, s.a, s.b).deltaE76(lab(t.L, t.a, t.b)), d.dE) << i;
    ASSERT_NEAR(d.dL * d.dL + d.dC * d.dC + d.dH * d.dH, d.dE * d.dE, 1e-12 * d.dE * d.dE) << i;
  }
}

TEST(CMC, LightnessWeightSwitchesAtSixteen) {
  // Same chroma and hue, only L differs: ΔE = |ΔL| / (l·SL).
  const double sl159 = 0.511;
  const double sl16 = 0.040975 * 16 / (1 + 0.01765 * 16);
  EXPECT_NEAR(CieStdMath::deltaEcmc_l(1, 1, 15.9, 0, 0, 20.9, 0, 0), 5 / sl159, 1e-12);
  EXPECT_NEAR(CieStdMath::deltaEcmc_l(1, 1, 16.0, 0, 0, 21.0, 0, 0), 5 / sl16, 1e-12);
  EXPECT_NEAR(CieStdMath::deltaEcmc_l(2, 1, 16.0, 0, 0, 21.0, 0, 0), 5 / (2 * sl16), 1e-12);
}

TEST(CMC, HueWeightBranchesAtBothBoundsInclusive) {
  // A pure hue difference isolates SH = SC·(F·T + 1 − F); T picks its branch from H1.
  const auto valueAt = [](double hueDeg) {
    const double r = hueDeg * 3.141592654 / 180.0;
    const double a1 = 30 * std::cos(r);
    const double b1 = 30 * std::sin(r);
    return CieStdMath::deltaEcmc_l(1, 1, 50, a1, b1, 50, a1 - 2 * std::sin(r),
                                   b1 + 2 * std::cos(r));
  };
  const auto expected = [](double hueDeg, bool inner) {
    const double C1 = 30;
    const double C2 = std::sqrt(30.0 * 30.0 + 4.0);
    const double dC = C2 - C1;
    const double dH = std::sqrt(4.0 - dC * dC);
    const double rad = 3.141592654 / 180.0;
    const double T = inner ? 0.56 + std::fabs(0.2 * std::cos((hueDeg + 168) * rad))
                           : 0.36 + std::fabs(0.4 * std::cos((hueDeg + 35) * rad));
    const double SC = 0.0638 * C1 / (1 + 0.0131 * C1) + 0.638;
    const double F = std::sqrt(std::pow(C1, 4) / (std::pow(C1, 4) + 1900));
    const double SH = SC * (F * T + 1 - F);
    return std::sqrt(std::pow(dC / SC, 2) + std::pow(dH / SH, 2));
  };
  EXPECT_NEAR(valueAt(164.001), expected(164.001, true), 1e-9);
  EXPECT_NEAR(valueAt(163.9), expected(163.9, false), 1e-9);
  EXPECT_NEAR(valueAt(344.999), expected(344.999, true), 1e-9);
  EXPECT_NEAR(valueAt(345.1), expected(345.1, false), 1e-9);
  // The two branches really differ there, so the checks above tell them apart.
  EXPECT_GT(std::fabs(expected(163.9, true) - expected(163.9, false)), 1e-3);
}

TEST(DeltaEBatch, EqualsThePairRoutineForEveryMethod) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> L(0, 100);
  std::uniform_real_distribution<double> ab(-110, 110);
  std::vector<double> Ls, as, bs;
  for (int i = 0; i < 20000; ++i) {
    Ls.push_back(L(rng));
    as.push_back(ab(rng));
    bs.push_back(ab(rng));
  }
  // Awkward standards: neutral, signed zeros, exact opposites, a mean hue on the 0°/360° line
  // (against the sample (50, 20, 5)), the Sharma pairs.
  const double awkward[][3] = {{50, 0, 0},         {50, -0.0, 0},      {50, 0, -0.0},
                               {50, -0.0, -0.0},   {50, -20, -5},      {50, 20, -5},
                               {50, 2.49, -0.001}, {50, -2.49, 0.001}, {50, 1e-9, 0},
                               {50, -3, -0.0},     {50, -3, 0.0}};
  for (const auto& w : awkward) {
    Ls.push_back(w[0]);
    as.push_back(w[1]);
    bs.push_back(w[2]);
  }
  for (const auto& p : loadSharma()) {
    Ls.push_back(p.L2);
    as.push_back(p.a2);
    bs.push_back(p.b2);
  }
  const LabColumns columns{Ls, as, bs};
  std::vector<double> out(Ls.size());
  std::vector<LabTriple> samples = {
      {50, 20, 5}, {50, -2.49, 0.001}, {50, 0, 0}, {50, -3, -0.0}, {2.0776, 0.0795, -1.135}};
  std::uniform_real_distribution<double> near(-2, 2);
  for (int k = 0; k < 6; ++k) samples.push_back({L(rng), ab(rng), ab(rng)});
  for (int k = 0; k < 3; ++k) samples.push_back({L(rng), near(rng), near(rng)});
  const HCFDeltaEMethod methods[] = {HCFDeltaEMethod::CIEDE2000, HCFDeltaEMethod::CMC21,
                                     HCFDeltaEMethod::CMC11, HCFDeltaEMethod::CIE94GraphicArts,
                                     HCFDeltaEMethod::CIE94Textiles};
  for (const auto& s : samples) {
    const auto sampleLab = lab(s.L, s.a, s.b);
    for (const auto m : methods) {
      CieStdMath::deltaEBatch(m, s, columns, out);
      for (std::size_t i = 0; i < Ls.size(); ++i) {
        const double pair = HTColorUtils::deltaEForSample(sampleLab, lab(Ls[i], as[i], bs[i]), m);
        // Requirement: batch and pair results agree within 1e-12.
        ASSERT_NEAR(out[i], pair, 1e-12) << "method " << static_cast<int>(m) << " standard " << i;
      }
    }
  }
}

TEST(DeltaEBatch, RejectsColumnsOfUnequalLengthOrShortOutput) {
  const std::vector<double> three{1, 2, 3};
  const std::vector<double> two{1, 2};
  std::vector<double> out(3);
  EXPECT_THROW(CieStdMath::deltaEBatch(HCFDeltaEMethod::CIEDE2000, {}, {three, two, three}, out),
               std::invalid_argument);
  std::vector<double> shortOut(2);
  EXPECT_THROW(
      CieStdMath::deltaEBatch(HCFDeltaEMethod::CIEDE2000, {}, {three, three, three}, shortOut),
      std::invalid_argument);
  CieStdMath::deltaEBatch(HCFDeltaEMethod::CIEDE2000, {}, {{}, {}, {}}, {});  // empty is fine
}
