// The colour value classes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "hcf/color/cie_std_math.h"
#include "hcf/color/hsb_color.h"
#include "hcf/color/lab_color.h"
#include "hcf/color/luv_color.h"
#include "hcf/core/exception.h"
#include "hcf/core/json.h"

using namespace hcf;

TEST(LabColor, ConstructorsAndObserverDefaults) {
  const auto c = HCFLabColor::labColorWithL(50, 1, -2, HCFIlluminant::D65);
  EXPECT_EQ(c.stdObserver, HCFStdObserver::TwoDegree);
  EXPECT_EQ(c.illuminant, HCFIlluminant::D65);
  const auto ten =
      HCFLabColor::labColorWithL(50, 1, -2, HCFIlluminant::A, HCFStdObserver::TenDegree);
  const auto copy = HCFLabColor::labColorWithColor(ten);
  EXPECT_TRUE(copy.isEqualToLab(ten));
  EXPECT_EQ(copy.stdObserver, HCFStdObserver::TenDegree);
}

TEST(LabColor, Texts) {
  const auto c = HCFLabColor::labColorWithL(50, 1.005, -2.5, HCFIlluminant::D50);
  EXPECT_EQ(c.description(), "HCFLabColor: L: 50.00, a: 1.00, b: -2.50");
  EXPECT_EQ(c.displayString(), "D502°L: 50.00, a: 1.00, b: -2.50");
  const auto d65ten =
      HCFLabColor::labColorWithL(61.2, 3, 4, HCFIlluminant::D65, HCFStdObserver::TenDegree);
  EXPECT_EQ(d65ten.displayString(), "D6510°L: 61.20, a: 3.00, b: 4.00");
}

TEST(LabColor, EqualityNeedsSameIlluminantAndObserver) {
  const auto a = HCFLabColor::labColorWithL(50, 1, 2, HCFIlluminant::D50);
  auto b = a;
  b.L += 1e-11;
  EXPECT_TRUE(a.isEqualToLab(b));
  b.L += 1e-10;
  EXPECT_FALSE(a.isEqualToLab(b));
  auto other = a;
  other.illuminant = HCFIlluminant::D65;
  EXPECT_FALSE(a.isEqualToLab(other));
  other = a;
  other.stdObserver = HCFStdObserver::TenDegree;
  EXPECT_FALSE(a.isEqualToLab(other));
}

TEST(LabColor, LchHueIsInAHalfOpenTurnAndZeroForNeutrals) {
  struct Row {
    double a, b, C, h;
  };
  const Row rows[] = {
      {0, 0, 0, 0},
      {-0.0, 0, 0, 0},  // atan2 would say 180°
      {-0.0, -0.0, 0, 0},
      {0, -0.0, 0, 0},
      {0, -10, 10, 270},
      {-3, 0, 3, 180},
      {-3, -0.0, 3, 180},
      {1, -1e-20, 1, 0},  // 360° − 6e-19° rounds to 360°, which is 0°
      {1, -0.0, 1, 0},
      {1e-200, 1e-200, std::sqrt(2.0) * 1e-200, 45},  // the squares underflow
      {-1e300, 1e300, std::sqrt(2.0) * 1e300, 135},   // the squares overflow
  };
  for (const Row& r : rows) {
    const auto lch = HCFLabColor::labColorWithL(50, r.a, r.b, HCFIlluminant::D50).lchColor();
    EXPECT_DOUBLE_EQ(lch.c, r.C) << r.a << ", " << r.b;
    EXPECT_DOUBLE_EQ(lch.h, r.h) << r.a << ", " << r.b;
    EXPECT_FALSE(std::signbit(lch.h)) << r.a << ", " << r.b;
  }
  const auto lch =
      HCFLabColor::labColorWithL(40, -30, 10, HCFIlluminant::C, HCFStdObserver::TenDegree)
          .lchColor();
  EXPECT_EQ(lch.illuminant, HCFIlluminant::C);
  EXPECT_EQ(lch.stdObserver, HCFStdObserver::TenDegree);
}

TEST(LabColor, LchRoundTripsForRandomColours) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> ab(-120, 120);
  for (int i = 0; i < 1000; ++i) {
    const auto lab = HCFLabColor::labColorWithL(50, ab(rng), ab(rng), HCFIlluminant::D50);
    const auto lch = lab.lchColor();
    ASSERT_GE(lch.h, 0);
    ASSERT_LT(lch.h, 360);
    const auto back = lch.toLAB();
    // Requirement: Lab -> LCh -> Lab within 1e-12.
    ASSERT_NEAR(back.A, lab.A, 1e-12);
    ASSERT_NEAR(back.B, lab.B, 1e-12);
  }
}

TEST(LabColor, ToLabWithIlluminant) {
  const auto c = HCFLabColor::labColorWithL(60, 20, -10, HCFIlluminant::D50);
  const auto same = c.toLabWithIlluminant(HCFIlluminant::D50);
  EXPECT_EQ(same.L, c.L);
  EXPECT_EQ(same.A, c.A);
  EXPECT_EQ(same.B, c.B);
  const auto d65 = c.toLabWithIlluminant(HCFIlluminant::D65);
  EXPECT_EQ(d65.illuminant, HCFIlluminant::D65);
  EXPECT_EQ(d65.stdObserver, HCFStdObserver::TwoDegree);
  const auto expected = c.XYZColor().toXYZWithIlluminant(HCFIlluminant::D65).toLab();
  EXPECT_TRUE(d65.isEqualToLab(expected));
  // A white stays white under every illuminant (the adaptation maps white to white).
  const auto white = HCFLabColor::labColorWithL(100, 0, 0, HCFIlluminant::D50);
  for (int v = 0; v < 8; ++v) {
    const auto w = white.toLabWithIlluminant(HCFIlluminant{v});
    EXPECT_NEAR(w.L, 100, 1e-4);
    EXPECT_NEAR(w.A, 0, 1e-3);
    EXPECT_NEAR(w.B, 0, 1e-3);
  }
  EXPECT_THROW((void)c.toLabWithIlluminant(HCFIlluminant{8}), HCFException);
}

TEST(LabColor, RgbAndHex) {
  const auto white = HCFLabColor::labColorWithL(100, 0, 0, HCFIlluminant::D65);
  const auto rgb = white.rgbColor();
  EXPECT_NEAR(rgb.r, 1, 1e-6);
  EXPECT_NEAR(rgb.g, 1, 1e-6);
  EXPECT_NEAR(rgb.b, 1, 1e-6);
  EXPECT_EQ(HCFLabColor::labColorWithL(0, 0, 0, HCFIlluminant::D50).hex(), "000000");
  const auto ui = white.uiColor();
  EXPECT_EQ(ui.alpha, 1.0);
  EXPECT_EQ(ui.red, rgb.r);
}

TEST(XYZColor, ConversionsKeepIlluminantAndObserver) {
  const auto xyz =
      HCFXYZColor::XYZColorWithX(30, 40, 20, HCFIlluminant::F7, HCFStdObserver::TenDegree);
  const auto lab = xyz.toLab();
  EXPECT_EQ(lab.illuminant, HCFIlluminant::F7);
  EXPECT_EQ(lab.stdObserver, HCFStdObserver::TenDegree);
  const auto luv = xyz.toLUV();
  EXPECT_EQ(luv.illuminant, HCFIlluminant::F7);
  EXPECT_EQ(luv.stdObserver, HCFStdObserver::TenDegree);
  const auto lch = xyz.toLCH();
  EXPECT_EQ(lch.h, lab.lchColor().h);
  const auto adapted = xyz.toXYZWithIlluminant(HCFIlluminant::A);
  EXPECT_EQ(adapted.illuminant, HCFIlluminant::A);
  EXPECT_EQ(adapted.stdObserver, HCFStdObserver::TenDegree);
  EXPECT_EQ(HCFXYZColor::XYZColorWithX(1, 2, 3, HCFIlluminant::D50).stdObserver,
            HCFStdObserver::TwoDegree);
  EXPECT_EQ(xyz.description(), "HCFXYZColor: X: 30.00, Y: 40.00, Z: 20.00");
}

TEST(XYZColor, OnlySrgbIsASupportedSpace) {
  const auto xyz = HCFXYZColor::XYZColorWithX(30, 40, 20, HCFIlluminant::D65);
  try {
    (void)xyz.RGBColorInSpace(HCFRGBSpace{1});
    FAIL() << "no exception";
  } catch (const HCFException& e) {
    EXPECT_EQ(e.name(), "Invalid RGB color space.");
    EXPECT_STREQ(e.what(), "Invalid RGB color space.");
  }
  EXPECT_EQ(xyz.RGBColorInSpace(HCFRGBSpace::sRGB).rgbSpace, HCFRGBSpace::sRGB);
}

TEST(LuvColor, RoundTripsThroughXyz) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> v(1, 90);
  for (int ill = 0; ill < 8; ++ill) {
    for (const auto obs : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      for (int i = 0; i < 50; ++i) {
        const auto xyz =
            HCFXYZColor::XYZColorWithX(v(rng), v(rng), v(rng), HCFIlluminant{ill}, obs);
        const auto back = xyz.toLUV().toXYZ();
        // Requirement: XYZ -> Luv -> XYZ within 1e-9 (double arithmetic throughout).
        ASSERT_NEAR(back.X, xyz.X, 1e-9);
        ASSERT_NEAR(back.Y, xyz.Y, 1e-9);
        ASSERT_NEAR(back.Z, xyz.Z, 1e-9);
        ASSERT_EQ(back.illuminant, HCFIlluminant{ill});
      }
    }
  }
}

TEST(LuvColor, WhiteAndDarkSegment) {
  const auto white = HCFXYZColor::XYZColorWithX(96.422, 100, 82.521, HCFIlluminant::D50).toLUV();
  EXPECT_NEAR(white.L, 100, 1e-12);
  EXPECT_NEAR(white.u, 0, 1e-12);
  EXPECT_NEAR(white.v, 0, 1e-12);
  // A very dark colour uses κ·yr.
  const auto dark = HCFXYZColor::XYZColorWithX(0.1, 0.1, 0.1, HCFIlluminant::D50).toLUV();
  EXPECT_NEAR(dark.L, 24389.0 / 27.0 * 0.001, 1e-12);
  EXPECT_EQ(HCFLuvColor::luvColorWithL(50, 1, -2, HCFIlluminant::D50).description(),
            "Luv: 50.00, 1.00, -2.00");
  // Black is (0, 0, 0) both ways, whatever u* and v* say.
  const auto black = HCFXYZColor::XYZColorWithX(0, 0, 0, HCFIlluminant::D50).toLUV();
  EXPECT_EQ(black.L, 0);
  EXPECT_EQ(black.u, 0);
  EXPECT_EQ(black.v, 0);
  const auto backToBlack = HCFLuvColor::luvColorWithL(0, 30, -20, HCFIlluminant::D50).toXYZ();
  EXPECT_EQ(backToBlack.X, 0);
  EXPECT_EQ(backToBlack.Y, 0);
  EXPECT_EQ(backToBlack.Z, 0);
}

TEST(Conversions, FiniteInputGivesFiniteOutputOrARefusal) {
  using Triple = std::array<double, 3>;
  struct Row {
    const char* name;
    std::function<Triple(double, double, double)> convert;
  };
  const auto d50 = HCFIlluminant::D50;
  const auto two = HCFStdObserver::TwoDegree;
  const Row rows[] = {
      {"XYZ -> Lab",
       [&](double x, double y, double z) {
         const auto t =
             CieStdMath::xyz2LabWith(x, y, z, HCFIlluminant::A, HCFStdObserver::TenDegree);
         return Triple{t.L, t.a, t.b};
       }},
      {"Lab -> XYZ",
       [&](double x, double y, double z) {
         const auto t = CieStdMath::lab2xyzWithL(x, y, z, HCFIlluminant::D65, two);
         return Triple{t.X, t.Y, t.Z};
       }},
      {"XYZ -> sRGB",
       [&](double x, double y, double z) {
         const auto t =
             CieStdMath::xyz2sRGBWithX(x, y, z, HCFIlluminant::F11, HCFStdObserver::TenDegree);
         return Triple{t.R, t.G, t.B};
       }},
      {"sRGB -> XYZ",
       [&](double x, double y, double z) {
         const auto t = CieStdMath::sRGB2XYZWith(x, y, z, HCFIlluminant::A);
         return Triple{t.X, t.Y, t.Z};
       }},
      {"sRGB -> Lab",
       [&](double x, double y, double z) {
         const auto t = CieStdMath::sRGB2LabWith(x, y, z, HCFIlluminant::D65);
         return Triple{t.L, t.a, t.b};
       }},
      {"RGB colour -> Lab",
       [&](double x, double y, double z) {
         const auto t =
             HCFRGBColor::rgbColorWithR(x, y, z, HCFRGBSpace::sRGB).labColor(HCFIlluminant::C);
         return Triple{t.L, t.A, t.B};
       }},
      {"Lab colour -> RGB",
       [&](double x, double y, double z) {
         const auto t = HCFLabColor::labColorWithL(x, y, z, d50).rgbColor();
         return Triple{t.r, t.g, t.b};
       }},
      {"adapt",
       [&](double x, double y, double z) {
         const auto t = CieStdMath::adapt(x, y, z, HCFIlluminant::A, two, HCFIlluminant::D65,
                                          HCFStdObserver::TenDegree);
         return Triple{t.X, t.Y, t.Z};
       }},
      {"Lab under another illuminant",
       [&](double x, double y, double z) {
         const auto t =
             HCFLabColor::labColorWithL(x, y, z, d50).toLabWithIlluminant(HCFIlluminant::F2);
         return Triple{t.L, t.A, t.B};
       }},
      {"adapt to a custom white",
       [&](double x, double y, double z) {
         Triple t = {x, y, z};
         CieStdMath::d50XYZArr2CustomIllumn(t, 1, *CieStdMath::refIllumXYZfor("3.0"), t);
         return t;
       }},
      {"instrument light",
       [&](double x, double y, double z) {
         const auto t = *CieStdMath::tintra2newLight(x, y, z, true, "2.1");
         return Triple{t.X, t.Y, t.Z};
       }},
      {"XYZ -> Luv",
       [&](double x, double y, double z) {
         const auto t = HCFXYZColor::XYZColorWithX(x, y, z, d50).toLUV();
         return Triple{t.L, t.u, t.v};
       }},
      {"Luv -> XYZ",
       [&](double x, double y, double z) {
         const auto t = HCFLuvColor::luvColorWithL(x, y, z, d50).toXYZ();
         return Triple{t.X, t.Y, t.Z};
       }},
      {"Lab -> LCh",
       [&](double x, double y, double z) {
         const auto t = HCFLabColor::labColorWithL(x, y, z, d50).lchColor();
         return Triple{t.L, t.c, t.h};
       }},
      {"LCh -> Lab",
       [&](double x, double y, double z) {
         const auto t = HCFLchColor::LchColorWithL(x, y, z, d50).toLAB();
         return Triple{t.L, t.A, t.B};
       }},
      {"platform colour -> HSB",
       [&](double x, double y, double z) {
         const auto t = HCFHSBColor::colorWithUIColor(PlatformColor::colorWithRed(x, y, z, 1));
         return Triple{t.hue, t.saturation, t.brightness};
       }},
  };
  const double edges[] = {0.0, -0.0, 5e-324, 1e-300, 1e-5,   1,
                          50,  -1,   -50,    1e300,  -1e300, std::numeric_limits<double>::max()};
  // Only a result beyond a double's range may be refused: never one of these.
  const auto ordinary = [](double v) {
    return v == 0 || (std::fabs(v) >= 1e-5 && std::fabs(v) <= 50);
  };
  for (const Row& row : rows) {
    for (const double x : edges) {
      for (const double y : edges) {
        for (const double z : edges) {
          try {
            const Triple t = row.convert(x, y, z);
            ASSERT_TRUE(std::isfinite(t[0]) && std::isfinite(t[1]) && std::isfinite(t[2]))
                << row.name << " (" << x << ", " << y << ", " << z << ") gave (" << t[0] << ", "
                << t[1] << ", " << t[2] << ")";
          } catch (const HCFException& e) {
            ASSERT_EQ(e.name(), kIllegalArgumentException) << row.name;
            ASSERT_FALSE(ordinary(x) && ordinary(y) && ordinary(z))
                << row.name << " (" << x << ", " << y << ", " << z << "): " << e.what();
          }
        }
      }
    }
  }
}

TEST(LchColor, ToLabAndTexts) {
  const auto lch = HCFLchColor::LchColorWithL(50, 10, 90, HCFIlluminant::D65);
  const auto lab = lch.toLAB();
  EXPECT_NEAR(lab.A, 0, 1e-12);
  EXPECT_NEAR(lab.B, 10, 1e-12);
  EXPECT_EQ(lab.illuminant, HCFIlluminant::D65);
  EXPECT_EQ(lch.stdObserver, HCFStdObserver::TwoDegree);
  EXPECT_EQ(lch.description(), "HCFLCHColor: L: 50.00, c: 10.00, h: 90.00");
}

TEST(RGBColor, HexRoundsAndClampsEachComponentToTwoDigits) {
  struct Row {
    double r, g, b;
    const char* hex;
  };
  const Row rows[] = {
      {1, 1, 1, "FFFFFF"},
      {1, 0.5, 0, "FF8000"},  // 127.5 rounds up
      {0x12 / 255.0, 0xAB / 255.0, 0xEF / 255.0, "12ABEF"},
      {126.49 / 255, 126.51 / 255, 254.6 / 255, "7E7FFF"},
      {1.2, -0.01, -0.0, "FF0000"},
      {1e300, -1e300, 5e-324, "FF0000"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(HCFRGBColor::rgbColorWithR(r.r, r.g, r.b, HCFRGBSpace::sRGB).hex(), r.hex) << r.hex;
  }
  EXPECT_THROW((void)HCFRGBColor::rgbColorWithR(0, NAN, 0, HCFRGBSpace::sRGB).hex(), HCFException);
  // L* 50 is sRGB 118.9, and white is white under every illuminant and observer.
  EXPECT_EQ(HCFLabColor::labColorWithL(50, 0, 0, HCFIlluminant::D50).hex(), "777777");
  for (int ill = 0; ill < 8; ++ill) {
    for (const auto obs : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      EXPECT_EQ(HCFLabColor::labColorWithL(100, 0, 0, HCFIlluminant{ill}, obs).hex(), "FFFFFF")
          << ill;
    }
  }
}

TEST(RGBColor, HexReadsExactlySixDigitsAfterAnOptionalHash) {
  struct Row {
    const char* text;
    const char* hex;  // what the colour read writes back; null where the text is refused
  };
  const Row rows[] = {
      {"12ABef", "12ABEF"},  {"#12abEF", "12ABEF"}, {"000000", "000000"}, {"#FFFFFF", "FFFFFF"},
      {"", nullptr},         {"#", nullptr},        {"12ABE", nullptr},   {"12ABEF0", nullptr},
      {"##12ABEF", nullptr}, {"-1-1-1", nullptr},   {"+1+1+1", nullptr},  {"0x0x0x", nullptr},
      {" 12ABE", nullptr},   {"12ABE ", nullptr},   {"12 ABE", nullptr},  {"12ABEG", nullptr},
  };
  for (const Row& r : rows) {
    const auto rgb = HCFRGBColor::rgbColorWithHex(r.text);
    ASSERT_EQ(rgb.has_value(), r.hex != nullptr) << '"' << r.text << '"';
    if (rgb) {
      EXPECT_EQ(rgb->hex(), r.hex);
    }
  }
}

TEST(RGBColor, HexGridRoundTripsThroughLabUnderEveryIlluminant) {
  const char* digits = "0123456789ABCDEF";
  for (int i = 0; i < 4096; ++i) {
    // Each component one of 00, 11, ..., FF.
    const std::string hex = {digits[i >> 8],        digits[i >> 8], digits[(i >> 4) & 15],
                             digits[(i >> 4) & 15], digits[i & 15], digits[i & 15]};
    const auto rgb = HCFRGBColor::rgbColorWithHex(hex);
    ASSERT_TRUE(rgb) << hex;
    ASSERT_EQ(rgb->hex(), hex);
    for (int ill = 0; ill < 8; ++ill) {
      ASSERT_EQ(rgb->labColor(HCFIlluminant{ill}).hex(), hex) << "illuminant " << ill;
    }
  }
}

TEST(RGBColor, ComponentsJsonAndTexts) {
  const auto c = HCFRGBColor::rgbColorWithR(1, 0.5, 0.25, HCFRGBSpace::sRGB);
  EXPECT_EQ(c.r255(), 255);
  EXPECT_EQ(c.g255(), 127.5);
  EXPECT_EQ(c.red(), 1);
  EXPECT_EQ(c.json().dump(), R"({"r":255.0,"g":127.5,"b":63.75})");
  EXPECT_EQ(c.description(), "HCFRGBColor: R: 255.00, G: 127.50, B: 63.75");
  const auto back = HCFRGBColor::rgbColorWithUIColor(c.color());
  EXPECT_EQ(back.r, 1);
  EXPECT_EQ(back.b, 0.25);
  EXPECT_EQ(c.color().alpha, 1.0);
}

TEST(RGBColor, LabUsesTheTwoDegreeObserver) {
  const auto white = HCFRGBColor::rgbColorWithR(1, 1, 1, HCFRGBSpace::sRGB);
  for (int ill = 0; ill < 8; ++ill) {
    const auto lab = white.labColor(HCFIlluminant{ill});
    EXPECT_EQ(lab.stdObserver, HCFStdObserver::TwoDegree);
    EXPECT_EQ(lab.illuminant, HCFIlluminant{ill});
    EXPECT_NEAR(lab.L, 100, 1e-9) << ill;
    EXPECT_NEAR(lab.A, 0, 1e-9) << ill;
    EXPECT_NEAR(lab.B, 0, 1e-9) << ill;
  }
  const auto search = HCFRGBColor::rgbColorWithR(0.2, 0.4, 0.6, HCFRGBSpace::sRGB);
  EXPECT_TRUE(search.auxSearchLab().isEqualToLab(search.labColor(HCFIlluminant::D50)));
  EXPECT_THROW((void)white.labColor(HCFIlluminant{8}), HCFException);
}

TEST(RGBColor, SrgbLabRoundTrip) {
  // Requirement: sRGB -> Lab -> sRGB within 1e-5 for in-gamut colours (single-precision power).
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  for (const auto ill : {HCFIlluminant::D50, HCFIlluminant::D65}) {
    for (int i = 0; i < 300; ++i) {
      const auto rgb = HCFRGBColor::rgbColorWithR(u(rng), u(rng), u(rng), HCFRGBSpace::sRGB);
      const auto back = rgb.labColor(ill).rgbColor();
      ASSERT_NEAR(back.r, rgb.r, 1e-5);
      ASSERT_NEAR(back.g, rgb.g, 1e-5);
      ASSERT_NEAR(back.b, rgb.b, 1e-5);
    }
  }
}

TEST(HSBColor, FromPlatformColour) {
  const auto orange = HCFHSBColor::colorWithUIColor(PlatformColor::colorWithRed(1, 0.5, 0, 0.3));
  EXPECT_DOUBLE_EQ(orange.getH(), 30);
  EXPECT_DOUBLE_EQ(orange.getS(), 100);
  EXPECT_DOUBLE_EQ(orange.getB(), 100);
  const auto grey = HCFHSBColor::colorWithUIColor(PlatformColor::colorWithRed(0.5, 0.5, 0.5, 1));
  EXPECT_EQ(grey.getH(), 0);
  EXPECT_EQ(grey.getS(), 0);
  EXPECT_EQ(grey.getB(), 50);
  const auto magenta = HCFHSBColor::colorWithUIColor(PlatformColor::colorWithRed(1, 0, 0.5, 1));
  EXPECT_DOUBLE_EQ(magenta.getH(), 330);
  const auto blue = HCFHSBColor::colorWithUIColor(PlatformColor::colorWithRed(0, 0.25, 0.5, 1));
  EXPECT_DOUBLE_EQ(blue.getH(), 210);
  EXPECT_DOUBLE_EQ(blue.getS(), 100);
  const auto black = HCFHSBColor::colorWithUIColor(PlatformColor::colorWithRed(0, 0, 0, 1));
  EXPECT_EQ(black.getS(), 0);
}
