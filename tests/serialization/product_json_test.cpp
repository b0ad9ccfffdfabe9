// Product dictionaries, colours and spectra, and JSON Lines.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "hcf/serialization/tint_vault_serialization.h"

using namespace hcf;
using S = HCFTintVaultSerialization;

namespace {

HCFProductBatchedLabColor entry(const std::string& batch, const std::string& model, double L,
                                std::int64_t index,
                                HCFStdObserver observer = HCFStdObserver::TwoDegree) {
  HCFProductBatchedLabColor c;
  c.batch = batch;
  c.model = model;
  c.lab = HCFLabColor::labColorWithL(L, 12.5, -7.25, HCFIlluminant::D50, observer);
  c.colorIndex = index;
  c.name = "Sea " + std::to_string(index);
  c.composition = 3;
  return c;
}

HCFHalvernCloudProduct sample() {
  HCFHalvernCloudProduct p;
  p.uuid = "u-1";
  p.attributes = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("name", "Sea"),
                                           HCFProductKV::kvWithKey("code", "S1")};
  p.filters = std::vector<HCFProductKV>{HCFProductKV::kvWithKey("finish", "matte")};
  p.images =
      std::vector<HCFProductImage>{{"swatch", "https://img/1.png"}, {"room", "https://img/2.png"}};
  p.internalColors = std::vector<HCFProductBatchedLabColor>{
      entry("95", "4.0", 60, 0), entry("s1-1", "11.0", 61, 0),
      entry("s1-1", "11.0", 61.5, 0, HCFStdObserver::TenDegree), entry("adjusted", "4.0", 60.5, 0),
      entry("adjusted", "4.0", 30, 1)};
  HCFProductSpectrum s;
  s.curve = std::vector<double>{0.1, 0.2, 0.3};
  s.start = 400;
  s.step = 10;
  s.batch = "s1-1";
  s.model = "11.0";
  p.spectra = std::vector<HCFProductSpectrum>{s};
  // Each sort key its own value, so that one read from another's key shows.
  p.vendorOrder = 7;
  p.hue = 200.5;
  p.saturation = 0.625;
  p.brightness = 0.375;
  return p;
}

}  // namespace

TEST(ProductJson, ProductRoundTripsWithColoursSpectraAndImages) {
  const auto p = sample();
  const JsonValue d = S::productToDictionary(p);
  ASSERT_EQ(d["imgs"].size(), 2u);
  EXPECT_EQ(d["imgs"][1], (JsonValue{{"room", "https://img/2.png"}}));
  ASSERT_EQ(d["colors"].size(), 2u);
  EXPECT_EQ(d["colors"][0]["lab"]["d50L"], 60.5);
  EXPECT_EQ(d["colors"][0]["mcs"].size(), 2u);
  EXPECT_FALSE(d["colors"][1].contains("mcs"));  // only its reference
  EXPECT_EQ(d["hex"], d["colors"][0]["hex"]);
  EXPECT_EQ(d["sorts"]["code"], "S1");
  EXPECT_EQ(d["sorts"]["vendor_order"], 7.0);
  const auto& spectral = d["colors"][0]["mcs"][1];
  EXPECT_EQ(spectral["spectrum"]["curve"].size(), 3u);
  EXPECT_EQ(spectral["spectrum_labs"].size(), 2u);
  EXPECT_EQ(spectral["lab"]["d50L"], 61.0);  // the D50 2° entry

  const auto back = S::productFromDictionary(d);
  EXPECT_EQ(back.name(), "Sea");
  EXPECT_EQ(back.uuid, "u-1");
  EXPECT_EQ((std::array{back.vendorOrder, back.hue, back.saturation, back.brightness}),
            (std::array{7.0, 200.5, 0.625, 0.375}));
  ASSERT_TRUE(back.internalColors);
  // Measured batches first, the reference last, colour by colour.
  std::vector<std::string> batches;
  for (const auto& c : *back.internalColors) batches.push_back(c.batch);
  EXPECT_EQ(batches, (std::vector<std::string>{"95", "s1-1", "s1-1", "adjusted", "adjusted"}));
  EXPECT_EQ((*back.internalColors)[4].colorIndex, 1);
  EXPECT_EQ((*back.internalColors)[4].lab.L, 30);
  ASSERT_EQ(back.spectra->size(), 1u);
  EXPECT_EQ((*back.spectra)[0].batch, "s1-1");
  EXPECT_EQ((*back.spectra)[0].curve, (std::vector<double>{0.1, 0.2, 0.3}));
  EXPECT_TRUE(S::productToDictionary(back) == d) << S::productToDictionary(back).dump();
  // Batches keep the order they come in: a product read back equals itself.
  auto reordered = p;
  reordered.internalColors = std::vector<HCFProductBatchedLabColor>{
      entry("s1-1", "11.0", 61, 0), entry("95", "4.0", 60, 0), entry("adjusted", "4.0", 60.5, 0)};
  const auto again = S::productFromDictionary(S::productToDictionary(reordered));
  batches.clear();
  for (const auto& c : *again.internalColors) batches.push_back(c.batch);
  EXPECT_EQ(batches, (std::vector<std::string>{"s1-1", "95", "adjusted"}));

  HCFHalvernCloudProduct plain = p;
  plain.images.reset();
  EXPECT_FALSE(S::productToDictionary(plain).contains("imgs"));
}

TEST(ProductJson, ReadersTakeWhatTheyCanFromUntrustedDocuments) {
  const auto odd = S::productFromDictionary(JsonValue::parse(R"({
    "uuid": 12, "filters": {"k": "x"}, "product_attributes": [{"k": "name", "v": "Fog"}, 7],
    "imgs": [{"swatch": 3}, "nope", {"room": "https://r"}, {"a": "not a url"}, {"b": "/x.png"},
             {"c": "https:"}, {"d": "1x:y"}],
    "colors": [{"name": "Fog", "comp": "3", "lab": {"d50L": 80, "d50a": 1, "d50b": 2},
                "mcs": [{"batch": 95, "model": "4.0", "lab": {"d50L": 79, "d50a": 1, "d50b": 2}},
                        {"batch": "x", "lab": "not a lab"},
                        {"batch": null, "lab": {"d50L": 78, "d50a": 1, "d50b": 2}},
                        {"lab": {"d50L": 77, "d50a": 1, "d50b": 2}},
                        {"batch": null, "model": "11.0", "spectrum": {"start": 400, "step": 10,
                         "curve": [0.1]}, "spectrum_labs": [{"L": 1, "a": 2, "b": 3}]}]},
               "junk"],
    "sorts": {"hue": "red", "brightness": 0.5}})"));
  EXPECT_FALSE(odd.uuid);
  EXPECT_FALSE(odd.filters);
  EXPECT_EQ(odd.name(), "Fog");
  ASSERT_EQ(odd.images->size(), 1u);
  ASSERT_EQ(odd.internalColors->size(), 2u);
  EXPECT_EQ((*odd.internalColors)[0].batch, "95");  // a number read as text
  EXPECT_EQ((*odd.internalColors)[1].batch, "adjusted");
  EXPECT_EQ((*odd.internalColors)[1].composition, 0);
  EXPECT_EQ(odd.hue, 0);
  EXPECT_EQ(odd.brightness, 0.5);
  EXPECT_NO_THROW(S::productFromDictionary(JsonValue("x")));
  EXPECT_FALSE(S::productFromData("{broken"));
  EXPECT_TRUE(S::productFromData(R"({"uuid": "a"})"));
  // Nesting is bounded (512 levels): a product a million levels deep is refused, not a crash
  // of whoever copies it next; brackets inside text do not count.
  const auto nested = [](std::size_t depth) {
    return R"({"uuid": "a", "name": "[[[[{{{{", "x": )" + std::string(depth, '[') +
           std::string(depth, ']') + "}";
  };
  EXPECT_TRUE(S::productFromData(nested(511)));
  EXPECT_FALSE(S::productFromData(nested(512)));
  EXPECT_FALSE(S::productFromData(nested(1000000)));
}

TEST(ProductJson, JsonLinesReadCompleteLinesOnly) {
  const std::string data =
      "{\"uuid\": \"a\"}\n"
      "not json\n"
      "{\"uuid\": \"c\"}\n"
      "{\"uuid\": \"d\"}";  // no final line feed: not read
  const auto products = S::productsFromJSONLData(data);
  ASSERT_EQ(products.size(), 3u);
  EXPECT_EQ(products[0].uuid, "a");
  EXPECT_FALSE(products[1].uuid);
  EXPECT_EQ(products[2].uuid, "c");
  EXPECT_TRUE(S::productsFromJSONLData("").empty());

  std::istringstream in(data);
  std::vector<std::size_t> badLines;
  const auto lines =
      S::productsFromJSONL(in, [&](HCFHalvernCloudProduct&&, std::size_t line, bool parsed) {
        if (!parsed) badLines.push_back(line);
        return true;
      });
  EXPECT_EQ(lines, 3u);
  EXPECT_EQ(badLines, (std::vector<std::size_t>{2}));
}

TEST(SortDescriptorJson, ServerAndApplicationFormsOfTheStoreKeys) {
  const std::vector<HCFProductSearchSortDescriptor> sorts = {{"vendorOrder", true},
                                                             {"name", false}};
  EXPECT_EQ(S::sortDescriptorsToServerArray(sorts).dump(),
            R"([{"vendor_order":"ASC"},{"name":"DESC"}])");
  EXPECT_EQ(S::displayableSortKeyFromServerSortKey("vendor_order"), "Vendor Order");
  EXPECT_EQ(S::displayableSortKeyFromServerSortKey("BRIGHTNESS"), "Brightness");
  EXPECT_EQ(S::serverSortKeyFromDisplayableSortKey("Vendor Order"), "vendorOrder");
  EXPECT_EQ(S::serverSortKeyFromDisplayableSortKey("Hue"), "hue");

  // The application form reads back to the same store keys, "vendorOrder" included.
  const auto array = S::sortDescriptorsToArray(sorts);
  EXPECT_EQ(array[0]["sort_key"], "Vendor Order");
  EXPECT_EQ(array[1]["sort_ascending"], false);
  const auto back = S::sortDescriptorsFromArray(array);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].sortKey, "vendorOrder");
  EXPECT_TRUE(back[0].ascending);
  EXPECT_EQ(back[1].sortKey, "name");
  EXPECT_FALSE(back[1].ascending);

  // Untrusted documents: wrong types are skipped or read as absent.
  EXPECT_TRUE(S::sortDescriptorsFromArray(JsonValue::object()).empty());
  const auto odd = S::sortDescriptorsFromArray(
      JsonValue::parse(R"([{"sort_key": 7}, "x", {"sort_key": "Code", "sort_ascending": "yes"}])"));
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].sortKey, "code");
  EXPECT_FALSE(odd[0].ascending);
}
