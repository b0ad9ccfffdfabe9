// Text forms of the colour enumerations.
#include "hcf/color/ht_color_utils.h"

#include <gtest/gtest.h>

using namespace hcf;

TEST(HTColorUtils, IlluminantNamesAndTheirListOrder) {
  EXPECT_EQ(HTColorUtils::allIlluminants(),
            (std::vector<std::string>{"D50", "D65", "C", "B", "A", "F2", "F7", "F11"}));
  const char* byValue[] = {"D50", "D65", "A", "B", "C", "F2", "F7", "F11"};
  for (int v = 0; v < 8; ++v) {
    EXPECT_EQ(HTColorUtils::toIlluminantStr(HCFIlluminant{v}), byValue[v]);
    EXPECT_EQ(HTColorUtils::fromIlluminantStr(byValue[v]), HCFIlluminant{v});
  }
  EXPECT_FALSE(HTColorUtils::toIlluminantStr(HCFIlluminant{8}).has_value());
  EXPECT_FALSE(HTColorUtils::toIlluminantStr(HCFIlluminant{-1}).has_value());
}

TEST(HTColorUtils, IlluminantParsingIsLenient) {
  for (const char* d50 : {"D50", "d50", "xyz", "", "D6", "d65 "}) {
    EXPECT_EQ(HTColorUtils::fromIlluminantStr(d50), HCFIlluminant::D50) << d50;
  }
  EXPECT_EQ(HTColorUtils::fromIlluminantStr("F11"), HCFIlluminant::F11);
  EXPECT_EQ(HTColorUtils::fromIlluminantStr("f7"), HCFIlluminant::F7);
  EXPECT_EQ(HTColorUtils::fromIlluminantStr("D65"), HCFIlluminant::D65);
  EXPECT_EQ(HTColorUtils::fromIlluminantStr("a"), HCFIlluminant::A);
}

TEST(HTColorUtils, ObserverStrings) {
  EXPECT_EQ(HTColorUtils::toObserverStr(HCFStdObserver::TenDegree), "10°");
  EXPECT_EQ(HTColorUtils::toObserverStr(HCFStdObserver::TwoDegree), "2°");
  EXPECT_EQ(HTColorUtils::toObserverStr(HCFStdObserver{7}), "2°");
  EXPECT_EQ(HTColorUtils::toObserverTextStr(HCFStdObserver::TenDegree), "TEN_DEGREE");
  EXPECT_EQ(HTColorUtils::toObserverTextStr(HCFStdObserver{-4}), "TWO_DEGREE");
  for (const char* ten : {"10°", "TEN_DEGREE", "ten_degree", "10deg", "_deg10", "10", "Ten"}) {
    EXPECT_EQ(HTColorUtils::fromObserverStr(ten), HCFStdObserver::TenDegree) << ten;
  }
  for (const char* two : {"2°", "TWO_DEGREE", "2", "", "deg10", "1 0", "observer"}) {
    EXPECT_EQ(HTColorUtils::fromObserverStr(two), HCFStdObserver::TwoDegree) << two;
  }
}

TEST(HTColorUtils, DeltaEMethodNames) {
  EXPECT_EQ(HTColorUtils::toDeltaEStr(HCFDeltaEMethod::CIEDE2000), "de_2000");
  EXPECT_EQ(HTColorUtils::toDeltaEStr(HCFDeltaEMethod::CMC21), "de_cmc_21");
  EXPECT_EQ(HTColorUtils::toDeltaEStr(HCFDeltaEMethod::CMC11), "de_cmc_11");
  EXPECT_EQ(HTColorUtils::toDeltaEStr(HCFDeltaEMethod::CIE94GraphicArts), "de_94_gfx");
  EXPECT_EQ(HTColorUtils::toDeltaEStr(HCFDeltaEMethod::CIE94Textiles), "de_94_textiles");
  EXPECT_EQ(HTColorUtils::toDeltaEStr(HCFDeltaEMethod{9}), "de_2000");
  for (int v = 0; v < 5; ++v) {
    const auto m = HCFDeltaEMethod{v};
    EXPECT_EQ(HTColorUtils::fromDeltaEStr(HTColorUtils::toDeltaEStr(m)), m);
  }
  EXPECT_EQ(HTColorUtils::fromDeltaEStr("DE_CMC_21"), HCFDeltaEMethod::CMC21);
  EXPECT_EQ(HTColorUtils::fromDeltaEStr("94_text"), HCFDeltaEMethod::CIE94Textiles);
  EXPECT_EQ(HTColorUtils::fromDeltaEStr("my cmc_11 please"), HCFDeltaEMethod::CMC11);
  EXPECT_EQ(HTColorUtils::fromDeltaEStr("cmc"), HCFDeltaEMethod::CIEDE2000);
  EXPECT_EQ(HTColorUtils::fromDeltaEStr(""), HCFDeltaEMethod::CIEDE2000);
}
