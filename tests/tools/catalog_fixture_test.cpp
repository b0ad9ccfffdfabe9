// The fixture catalogue: products whose measured colours come from their own curves.
#include "catalog_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace fx = hcf_cloud::fixtures;
using namespace hcf;

TEST(CatalogFixture, ProductsCarryTheirColourThroughTheirCurves) {
  const auto colors = fx::namedColors(HCF_DATA_DIR "/colors/color-name-list.csv");
  ASSERT_EQ(colors.size(), 31881u);
  const auto products = fx::catalogProducts(colors, 400);
  ASSERT_EQ(products.size(), 400u);
  double worst = 0;
  std::size_t inspirations = 0;
  for (const auto& p : products) {
    ASSERT_EQ(p.colors().size(), 1u);
    const auto reference = p.colors()[0];
    const auto measured = p.batchedLabsWithIllum("D50", "2°");
    ASSERT_EQ(measured.size(), 2u);  // batches 95 and s1-1
    worst = std::max(worst, measured[0].lab.deltaE00(reference));
    EXPECT_EQ(p.batchedLabsWithIllum(std::nullopt, std::nullopt).size(), 32u);
    ASSERT_EQ(p.spectra->size(), 1u);
    EXPECT_EQ((*p.spectra)[0].curve->size(), 31u);
    for (const auto& kv : *p.filters) {
      if (kv.key == "category" && kv.val == "Inspirations") ++inspirations;
    }
  }
  std::printf("worst ΔE00 of a curve to its colour over 400 products: %.3f\n", worst);
  EXPECT_LT(worst, 6.0);  // very saturated display colours lie beyond what a smooth curve reaches
  EXPECT_EQ(inspirations, 20u);
  EXPECT_EQ(products[0].name(), colors[0].name);
  EXPECT_EQ(products[0].code(), "HC-00000");
  // Beyond the list: synthetic colours, still complete products.
  const auto beyond = fx::catalogProduct({"Colour 40000", "#336699"}, 40000);
  EXPECT_EQ(beyond.colors().size(), 1u);
}
