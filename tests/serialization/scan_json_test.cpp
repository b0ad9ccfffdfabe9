// Scan, Lab and batched-Lab dictionaries: both round trips, the readers' presence rules, and
// dictionaries from outside whose values have the wrong types.
#include <gtest/gtest.h>

#include "hcf/core/ht_utility.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"
#include "hcf/serialization/tint_vault_serialization.h"

using namespace hcf;
using S = HCFTintVaultSerialization;

namespace {

JsonValue tristimDictionary() {
  return JsonValue::parse(R"({
    "batch": "12", "model": "4.0", "serial": "00C0FFEE4012", "raw_color": [1200, 3400.5, 560],
    "adjusted_lab": {"L": 52.1, "a": 12.5, "b": -30.25, "observer": "TWO_DEGREE", "illuminant": "D50"},
    "adjusted_lab_10_degree": {"L": 52.4, "a": 13, "b": -29.75, "observer": "TEN_DEGREE", "illuminant": "D50"},
    "batched_labs": [
      {"lab": {"L": 51, "a": 12, "b": -30, "observer": "TWO_DEGREE", "illuminant": "D50"}, "batch": "95"},
      {"lab": {"L": 50, "a": 11, "b": -31}, "batch": "12"}]})");
}

JsonValue spectralDictionary() {
  JsonValue curve = JsonValue::array();
  for (int i = 0; i < 31; ++i) curve.push_back(0.2 + 0.01 * i);
  return {{"batch", "s1-1"},
          {"model", "Irisel S1"},
          {"serial", "00E15E000001"},
          {"raw_color", {0.1, 0.2, 0.3, 0.4, 0.5}},
          {"start", 400},
          {"step", 10},
          {"curve", curve}};
}

}  // namespace

TEST(ScanJson, TristimulusScanRoundTripsWithEveryField) {
  auto read = S::colorScanFromDictionary(tristimDictionary());
  ASSERT_TRUE(read.ok()) << read.error().localizedDescription;
  auto* scan = dynamic_cast<HCFTristimScan*>(read->get());
  ASSERT_NE(scan, nullptr);
  EXPECT_EQ(scan->batch, "12");
  EXPECT_EQ(scan->model, "4.0");
  EXPECT_EQ(scan->colorSense, (std::vector<double>{1200, 3400.5, 560}));
  EXPECT_EQ(scan->adjusted2DegreeLab.B, -30.25);
  ASSERT_TRUE(scan->adjusted10DegreeLab);
  EXPECT_EQ(scan->adjusted10DegreeLab->stdObserver, HCFStdObserver::TenDegree);
  ASSERT_EQ(scan->batchedLabs.size(), 2u);
  EXPECT_EQ(scan->batchedLabs[1].lab.illuminant, HCFIlluminant::D50);  // absent names: D50, 2°

  const JsonValue written = S::colorScanToDictionary(*scan);
  EXPECT_FALSE(written.contains("curve"));
  auto again = S::colorScanFromDictionary(written);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(S::colorScanToDictionary(**again), written);
  EXPECT_EQ(written["adjusted_lab_10_degree"]["observer"], "TEN_DEGREE");
  EXPECT_EQ(written["batched_labs"][0]["batch"], "95");
  EXPECT_EQ(written["raw_color"], tristimDictionary()["raw_color"]);
}

TEST(ScanJson, SpectralScanRoundTripsAndRecomputesItsBatchedLabs) {
  auto read = S::colorScanFromDictionary(spectralDictionary());
  ASSERT_TRUE(read.ok()) << read.error().localizedDescription;
  auto* scan = dynamic_cast<HCFSpectralScan*>(read->get());
  ASSERT_NE(scan, nullptr);
  EXPECT_EQ(scan->curve.size(), 31u);
  EXPECT_EQ(scan->batchedLabs.size(), 16u);
  const JsonValue written = S::colorScanToDictionary(*scan);
  EXPECT_EQ(written, spectralDictionary());
  auto again = S::colorScanFromDictionary(written);
  ASSERT_TRUE(again.ok());
  auto* back = dynamic_cast<HCFSpectralScan*>(again->get());
  EXPECT_EQ(back->serial, scan->serial);
  EXPECT_EQ(back->senseValues, scan->senseValues);
  EXPECT_EQ(back->curve, scan->curve);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_TRUE(back->batchedLabs[i].lab.isEqualToLab(scan->batchedLabs[i].lab));
  }
  // "batch", "start" and "step" are not taken over.
  JsonValue odd = spectralDictionary();
  odd["batch"] = "x";
  odd["start"] = 380;
  auto oddScan = S::colorScanFromDictionary(odd);
  ASSERT_TRUE(oddScan.ok());
  EXPECT_EQ(dynamic_cast<HCFSpectralScan&>(**oddScan).batch(), "s1-1");
  EXPECT_TRUE((*oddScan)
                  ->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)
                  ->isEqualToLab(*scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50)));
}

TEST(ScanJson, ReadersPresenceRules) {
  // d50 keys when the plain three are incomplete; observer null or absent is 2°, "10°" is 10°.
  auto lab = S::labColorFromDictionary(JsonValue::parse(
      R"({"L": 1, "a": 2, "d50L": 40, "d50a": -3, "d50b": 7, "observer": null, "illuminant": "F11"})"));
  ASSERT_TRUE(lab.ok());
  EXPECT_EQ(lab->L, 40);
  EXPECT_EQ(lab->stdObserver, HCFStdObserver::TwoDegree);
  EXPECT_EQ(lab->illuminant, HCFIlluminant::F11);
  EXPECT_EQ(
      S::labColorFromDictionary({{"L", 1}, {"a", 2}, {"b", 3}, {"observer", "10°"}})->stdObserver,
      HCFStdObserver::TenDegree);
  EXPECT_FALSE(S::labColorFromDictionary({{"L", 1}, {"a", 2}}).ok());
  const auto d50 =
      S::labColorToD50Dictionary(HCFLabColor::labColorWithL(1, 2, 3, HCFIlluminant::D65));
  EXPECT_EQ(d50["d50L"], 1);
  EXPECT_EQ(d50["illuminant"], "D65");  // written as given
  EXPECT_FALSE(d50.contains("L"));

  JsonValue noAdjusted = tristimDictionary();
  noAdjusted.erase("adjusted_lab");
  EXPECT_FALSE(S::colorScanFromDictionary(noAdjusted).ok());
  JsonValue noTen = tristimDictionary();
  noTen.erase("adjusted_lab_10_degree");
  noTen.erase("model");
  auto read = S::colorScanFromDictionary(noTen);
  ASSERT_TRUE(read.ok());
  EXPECT_FALSE(dynamic_cast<HCFTristimScan&>(**read).adjusted10DegreeLab);
  EXPECT_FALSE(S::colorScanToDictionary(**read).contains("adjusted_lab_10_degree"));
  for (const char* key : {"model", "raw_color", "serial", "batch"}) {
    JsonValue d = spectralDictionary();
    d.erase(key);
    EXPECT_FALSE(S::colorScanFromDictionary(d).ok()) << key;
  }

  // Entries lacking "batch" or a readable lab are left out.
  auto labs = S::batchedLabsFromArray(JsonValue::parse(
      R"([{"lab": {"L": 1, "a": 2, "b": 3}}, {"lab": {"L": 1}, "batch": "7"},
          {"lab": {"L": 5, "a": 6, "b": 7}, "batch": "9"}])"));
  ASSERT_TRUE(labs.ok());
  ASSERT_EQ(labs->size(), 1u);
  EXPECT_EQ((*labs)[0].batch, "9");
  EXPECT_EQ(S::batchedLabsToSpectrumLabsArray(*labs)[0]["L"], 5);

  // A tristimulus scan with a spectrometer's model is written in the spectral form.
  HCFTristimScan t;
  t.model = "11.0";
  EXPECT_TRUE(S::isSpectroScan(t));
  EXPECT_TRUE(S::colorScanToDictionary(t).contains("curve"));
  t.model = "1.1";
  EXPECT_FALSE(S::isSpectroScan(t));
}

TEST(ScanJson, ValuesOfTheWrongTypeAreRefusedWithAnError) {
  const auto refused = [](const JsonValue& d) {
    Result<std::shared_ptr<HCFColorScan>> r = std::shared_ptr<HCFColorScan>();
    EXPECT_NO_THROW(r = S::colorScanFromDictionary(d)) << d.dump();
    if (r.ok()) return std::string("read");
    EXPECT_EQ(r.error().code, error_code::kInvalidData) << d.dump();
    return r.error().localizedDescription;
  };
  const auto with = [](JsonValue d, const JsonValue::json_pointer& at, JsonValue v) {
    d[at] = std::move(v);
    return d;
  };
  using P = JsonValue::json_pointer;
  const JsonValue t = tristimDictionary();
  const JsonValue s = spectralDictionary();
  const std::vector<std::pair<JsonValue, std::string>> cases = {
      {with(t, P("/serial"), 42), "\"serial\""},
      {with(t, P("/batch"), JsonValue::object()), "\"batch\""},
      {with(t, P("/model"), JsonValue::array()), "\"model\""},
      {with(t, P("/raw_color"), "1200,3400,560"), "\"raw_color\""},
      {with(t, P("/raw_color/1"), "3400"), "\"raw_color\""},
      {with(t, P("/adjusted_lab"), JsonValue::array({1, 2, 3})), "\"adjusted_lab\""},
      {with(t, P("/adjusted_lab/L"), "52.1"), "\"L\""},
      {with(t, P("/adjusted_lab/observer"), 10), "\"observer\""},
      {with(t, P("/adjusted_lab_10_degree/illuminant"), JsonValue::object()), "\"illuminant\""},
      {with(t, P("/batched_labs"), JsonValue::object()), "\"batched_labs\""},
      {with(t, P("/batched_labs/0"), "95"), "\"batched_labs\""},
      {with(t, P("/batched_labs/0/batch"), 95), "\"batch\""},
      {with(s, P("/curve"), JsonValue::object()), "\"curve\""},
      {with(s, P("/curve/3"), nullptr), "\"curve\""},
      {with(s, P("/raw_color"), 5), "\"raw_color\""},
      {with(s, P("/model"), 11), "\"model\""},
      {with(s, P("/curve"), JsonValue::array()), "\"curve\""},
      {JsonValue::array(), "\"scan\""},
      {JsonValue("a scan"), "\"scan\""},
  };
  for (const auto& [dictionary, key] : cases) {
    EXPECT_NE(refused(dictionary).find(key), std::string::npos)
        << dictionary.dump() << " → " << refused(dictionary);
  }
  EXPECT_FALSE(S::labColorFromDictionary(JsonValue(3)).ok());
  EXPECT_FALSE(S::batchedLabfromDictionary(JsonValue::array()).ok());
  EXPECT_FALSE(S::batchedLabsFromArray(JsonValue::object()).ok());
}
