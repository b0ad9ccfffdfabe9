// Scan, Lab and batched-Lab dictionaries: both round trips, the readers' presence rules, and
// dictionaries from outside whose values have the wrong types.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>

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

// A scan of another kind that gives its curve with wavelengths, 31 samples from `start` nm.
struct CurveScan : HCFColorScan {
  explicit CurveScan(std::uint64_t from) : start(from) {}
  std::optional<std::vector<HCFSpectralPoint>> spectralCurve() const override {
    std::vector<HCFSpectralPoint> points;
    for (std::uint64_t i = 0; i < 31; ++i) points.push_back({start + 10 * i, 0.5});
    return points;
  }
  std::uint64_t start;
};

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
  // "batch" is not taken over.
  JsonValue odd = spectralDictionary();
  odd["batch"] = "x";
  auto oddScan = S::colorScanFromDictionary(odd);
  ASSERT_TRUE(oddScan.ok());
  EXPECT_EQ(dynamic_cast<HCFSpectralScan&>(**oddScan).batch(), "s1-1");
}

// The over-range mark is written only when set, so a document without it is an ordinary scan
// to every reader; present, it reads back.
TEST(ScanJson, TheOverRangeMarkRoundTripsAndIsWrittenOnlyWhenSet) {
  struct Row {
    const char* name;
    JsonValue dictionary;
    JsonValue mark;  // the "over_range" value; a discarded value: left out
    bool overRange;
  };
  const JsonValue absent(JsonValue::value_t::discarded);
  const Row rows[] = {
      {"tristimulus without the key", tristimDictionary(), absent, false},
      {"tristimulus over range", tristimDictionary(), true, true},
      {"tristimulus marked false", tristimDictionary(), false, false},
      {"tristimulus marked null", tristimDictionary(), nullptr, false},
      {"spectral without the key", spectralDictionary(), absent, false},
      {"spectral over range", spectralDictionary(), true, true},
  };
  for (const auto& row : rows) {
    JsonValue d = row.dictionary;
    if (!row.mark.is_discarded()) d["over_range"] = row.mark;
    const auto read = S::colorScanFromDictionary(d);
    ASSERT_TRUE(read.ok()) << row.name << ": " << read.error().localizedDescription;
    EXPECT_EQ((*read)->overRange, row.overRange) << row.name;
    const auto written = S::colorScanToCheckedDictionary(**read);
    ASSERT_TRUE(written.ok()) << row.name << ": " << written.error().localizedDescription;
    EXPECT_EQ(written->contains("over_range"), row.overRange) << row.name;
    EXPECT_EQ(written->value("over_range", false), row.overRange) << row.name;
    const auto again = S::colorScanFromText(*S::colorScanToText(**read));
    ASSERT_TRUE(again.ok()) << row.name;
    EXPECT_EQ((*again)->overRange, row.overRange) << row.name;
  }
}

TEST(ScanJson, OnlyCurvesFrom400NmEvery10NmCoveringTheInstrumentRangeRead) {
  struct Row {
    JsonValue start, step;  // null: left out
    std::size_t samples;
    const char* error;  // a part of the message; nullptr when the scan reads
  };
  const Row rows[] = {
      {400, 10, 31, nullptr},
      {nullptr, nullptr, 31, nullptr},
      {400.0, 10.0, 32, nullptr},
      {400, 10, 44, nullptr},
      {405, 10, 31, "\"start\" is 405 nm: a scan's curve runs from 400 nm every 10 nm"},
      {380, 10, 33, "\"start\" is 380 nm"},
      {410, 10, 30, "\"start\" is 410 nm"},
      {400, 5, 61, "\"step\" is 5 nm"},
      {400, 20, 16, "\"step\" is 20 nm"},
      {"400", 10, 31, "\"start\" must be a number"},
      {400, 10, 1, "\"curve\" has 1 sample: a scan's curve needs 31 to 44"},
      {400, 10, 30, "\"curve\" has 30 samples"},
      {400, 10, 45, "\"curve\" has 45 samples"},
  };
  for (const auto& row : rows) {
    JsonValue d = spectralDictionary();
    d["start"] = row.start;
    d["step"] = row.step;
    d["curve"] = std::vector<double>(row.samples, 0.5);
    const auto read = S::colorScanFromDictionary(d);
    const std::string shown =
        row.start.dump() + "/" + row.step.dump() + "/" + std::to_string(row.samples);
    if (!row.error) {
      EXPECT_TRUE(read.ok()) << shown << ": " << read.error().localizedDescription;
      continue;
    }
    ASSERT_FALSE(read.ok()) << shown;
    EXPECT_EQ(read.error().code, error_code::kInvalidData);
    EXPECT_NE(read.error().localizedDescription.find(row.error), std::string::npos)
        << shown << ": " << read.error().localizedDescription;
  }
}

TEST(ScanJson, ScansThatWouldNotReadBackAreNotWritten) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const auto spectralScan = [] {
    return std::dynamic_pointer_cast<HCFSpectralScan>(
        *S::colorScanFromDictionary(spectralDictionary()));
  };
  const auto tristimScan = [] {
    return std::dynamic_pointer_cast<HCFTristimScan>(
        *S::colorScanFromDictionary(tristimDictionary()));
  };
  struct Row {
    std::function<std::shared_ptr<HCFColorScan>()> make;
    const char* error;
  };
  const Row rows[] = {
      {[&] {
         auto s = spectralScan();
         s->curve[3] = nan;
         return s;
       },
       "\"curve[3]\" is not a finite number (nan)"},
      {[&] {
         auto s = spectralScan();
         s->senseValues[1] = inf;
         return s;
       },
       "\"raw_color[1]\" is not a finite number (inf)"},
      {[&] {
         auto s = spectralScan();
         s->curve.resize(1);
         return s;
       },
       "\"curve\" has 1 sample"},
      {[&] {
         auto t = tristimScan();
         t->colorSense[2] = -inf;
         return t;
       },
       "\"raw_color[2]\" is not a finite number (-inf)"},
      {[&] {
         auto t = tristimScan();
         t->adjusted2DegreeLab.L = nan;
         return t;
       },
       "\"adjusted_lab.L\" is not a finite number"},
      {[&] {
         auto t = tristimScan();
         t->adjusted10DegreeLab->B = inf;
         return t;
       },
       "\"adjusted_lab_10_degree.b\" is not a finite number"},
      {[&] {
         auto t = tristimScan();
         t->batchedLabs[1].lab.A = nan;
         return t;
       },
       "\"batched_labs[1].lab.a\" is not a finite number"},
      {[&] {
         auto t = tristimScan();
         t->serial = "00C0\xFF";
         return t;
       },
       "\"serial\" is not UTF-8 text"},
      {[] { return std::make_shared<CurveScan>(405); },
       "\"curve[0]\" is at 405 nm: a scan's curve runs from 400 nm every 10 nm"},
  };
  for (const auto& row : rows) {
    const auto scan = row.make();
    const auto one = S::colorScanToText(*scan);
    ASSERT_FALSE(one.ok()) << row.error;
    EXPECT_EQ(one.error().code, error_code::kInvalidData);
    EXPECT_TRUE(one.error().localizedDescription.starts_with(
        std::string("Invalid data: The scan cannot be written: ") + row.error))
        << one.error().localizedDescription;
    const auto list = S::colorScansToText({tristimScan(), scan});
    ASSERT_FALSE(list.ok()) << row.error;
    EXPECT_NE(list.error().localizedDescription.find("entry 1: The scan cannot be written: "),
              std::string::npos)
        << list.error().localizedDescription;
  }
  EXPECT_FALSE(S::colorScansToText({nullptr}).ok());
  const auto onGrid = S::colorScanToText(CurveScan(400));
  ASSERT_TRUE(onGrid.ok()) << onGrid.error().localizedDescription;
  EXPECT_NE(dynamic_cast<HCFSpectralScan*>(S::colorScanFromText(*onGrid)->get()), nullptr);
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

  // A colorimeter's scan is written in its own form whatever its model says, and reads back.
  JsonValue eleven = tristimDictionary();
  eleven["model"] = "11.0";
  const auto t = S::colorScanFromText(eleven.dump());
  ASSERT_TRUE(t.ok()) << t.error().localizedDescription;
  EXPECT_FALSE(S::isSpectroScan(**t));
  const auto written = S::colorScanToText(**t);
  ASSERT_TRUE(written.ok()) << written.error().localizedDescription;
  const auto back = S::colorScanFromText(*written);
  ASSERT_TRUE(back.ok()) << back.error().localizedDescription;
  ASSERT_NE(dynamic_cast<HCFTristimScan*>(back->get()), nullptr);
  EXPECT_EQ(S::colorScanToDictionary(**back), S::colorScanToDictionary(**t));
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
      {with(t, P("/over_range"), "true"), "\"over_range\" must be true or false"},
      {with(s, P("/over_range"), 1), "\"over_range\" must be true or false"},
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

TEST(ScanText, OneScanOrAListOfThemAndWhyNot) {
  const std::string t = tristimDictionary().dump();
  const std::string s = spectralDictionary().dump();
  struct Row {
    std::string text;
    std::size_t scans;  // read by colorScansFromText
    const char* error;  // a part of its message; nullptr when it reads
  };
  const Row rows[] = {
      {t, 1, nullptr},
      {"[" + s + ", " + t + "]", 2, nullptr},
      {"[]", 0, nullptr},
      {"not json", 0, "Invalid data: JSON text is not valid at line 1, column 2"},
      {std::string(90000, '[') + std::string(90000, ']'), 0,
       "JSON text nests deeper than 512 levels at line 1, column 513"},
      {"42", 0, "JSON text holds neither a scan dictionary nor a list of them"},
      {"[" + t + ", 3]", 0, "Invalid data: entry 1 is not a scan dictionary"},
      {"[" + t +
           R"(, {"curve": [0.5], "model": "m", "serial": "s", "raw_color": [], "batch": "b"}])",
       0, "Invalid data: entry 1: \"curve\" has 1 sample"},
      {R"({"batch": "1", "serial": "s", "raw_color": "red", "adjusted_lab": {}})", 0,
       "Invalid data: \"raw_color\" must be an array of numbers"},
  };
  for (const auto& row : rows) {
    const std::string shown = row.text.substr(0, 60);
    const auto scans = S::colorScansFromText(row.text);
    const auto one = S::colorScanFromText(row.text);
    if (!row.error) {
      ASSERT_TRUE(scans.ok()) << shown << ": " << scans.error().localizedDescription;
      EXPECT_EQ(scans->size(), row.scans) << shown;
      EXPECT_EQ(one.ok(), row.scans == 1) << shown;
      if (row.scans != 1) {
        EXPECT_EQ(one.error().localizedDescription, "Invalid data: JSON text holds " +
                                                        std::to_string(row.scans) +
                                                        " scans where one was expected");
      }
      continue;
    }
    ASSERT_FALSE(scans.ok()) << shown;
    EXPECT_EQ(scans.error().code, error_code::kInvalidData);
    EXPECT_NE(scans.error().localizedDescription.find(row.error), std::string::npos)
        << shown << ": " << scans.error().localizedDescription;
    ASSERT_FALSE(one.ok());
    EXPECT_EQ(one.error(), scans.error());
  }
}

TEST(ScanText, TheListThePythonModuleSavesReadsAndIsWrittenTheSameWay) {
  const std::filesystem::path file = HCF_TEST_DATA_DIR "/scans/saved_by_python.json";
  const auto scans = S::colorScansFromFile(file);
  ASSERT_TRUE(scans.ok()) << scans.error().localizedDescription;
  ASSERT_EQ(scans->size(), 2u);
  const auto* spectral = dynamic_cast<const HCFSpectralScan*>((*scans)[0].get());
  ASSERT_NE(spectral, nullptr);
  EXPECT_EQ(spectral->curve.size(), 31u);
  EXPECT_EQ(spectral->curve[30], 0.17);
  const auto* tristim = dynamic_cast<const HCFTristimScan*>((*scans)[1].get());
  ASSERT_NE(tristim, nullptr);
  EXPECT_EQ(tristim->adjusted10DegreeLab->B, -29.75);

  // Written back, the list is the file byte for byte: what the module reads.
  std::ifstream in(file, std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto written = S::colorScansToText(*scans);
  ASSERT_TRUE(written.ok()) << written.error().localizedDescription;
  EXPECT_EQ(*written, saved);

  EXPECT_FALSE(S::colorScanFromFile(file).ok());  // two scans where one was expected
  for (const auto& [path, reason] :
       {std::pair{file.parent_path() / "missing.json", "No such file or directory"},
        std::pair{file.parent_path(), "Is a directory"}}) {
    const auto refused = S::colorScansFromFile(path);
    ASSERT_FALSE(refused.ok()) << path;
    EXPECT_EQ(refused.error().localizedDescription, path.string() + " cannot be read: " + reason);
    ASSERT_TRUE(refused.error().native);
    EXPECT_EQ(refused.error().native->library, "errno");
  }
}
