#include "fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "cloud_world.h"
#include "embedded_colorchecker.h"
#include "spectrometer.h"

namespace hcf_cloud::fixtures {

namespace {

using hcf::CieStdMath;
using hcf::HCFIlluminant;
using hcf::HCFStdObserver;
using hcf::JsonValue;
using hcf::XYZTriple;

// The white tile of the chart (patch 19).
constexpr std::size_t kWhitePatch = 18;
// Model "1.1" keeps its white reading at this index.
constexpr std::size_t kModel11WhiteIndex = 51;
// The non-linear correction of the 24-patch model, as the instruments' firmware team fitted it.
constexpr double kK1 = 0.0015, kK2 = 0.0007, kK3 = 0.0016, kK4 = 0.0012;

XYZTriple labToXYZD50(double L, double a, double b) {
  return CieStdMath::lab2xyzWithL(L, a, b, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
}

// The light of a hardware version (the multi-channel model has none of its own in the kit;
// its sensor is built like a 3.0).
hcf::Vector3 lightOf(const std::string& model) {
  if (auto w = CieStdMath::refIllumXYZfor(model)) return *w;
  return *CieStdMath::refIllumXYZfor("3.0");
}

XYZTriple toLight(const XYZTriple& d50, const std::string& model) {
  std::array<double, 3> v = {d50.X, d50.Y, d50.Z};
  CieStdMath::d50XYZArr2CustomIllumn(v, 1, lightOf(model), v);
  return {v[0], v[1], v[2]};
}

hcf::Vector3 times(const hcf::Matrix3x3& m, const XYZTriple& v) {
  return {m[0] * v.X + m[1] * v.Y + m[2] * v.Z, m[3] * v.X + m[4] * v.Y + m[5] * v.Z,
          m[6] * v.X + m[7] * v.Y + m[8] * v.Z};
}

// A small deterministic variation per hardware version.
double wobble(const std::string& model, int k) {
  unsigned h = 2166136261u;
  for (const char c : model) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  h = (h ^ static_cast<unsigned>(k)) * 16777619u;
  return static_cast<double>(h % 1000) / 1000.0 - 0.5;  // −0.5 .. 0.5
}

std::vector<XYZTriple> referenceSet(const std::string& model) {
  std::vector<XYZTriple> refs = colorCheckerXYZD50();
  if (model == "1.1") {
    const auto& grid = gridXYZD50();
    refs.insert(refs.end(), grid.begin(), grid.end());
  }
  return refs;
}

JsonValue reading(const std::array<double, 3>& c, bool multiChannel) {
  JsonValue r = {{"redSense", std::lround(c[0])},
                 {"greenSense", std::lround(c[1])},
                 {"blueSense", std::lround(c[2])}};
  if (multiChannel) {
    r["senseReds"] = std::lround(c[0] * 0.9);
    r["senseOJs"] = std::lround((c[0] + c[1]) * 0.45);
    r["senseGreens"] = std::lround(c[1] * 0.95);
    r["senseBlues"] = std::lround(c[2] * 0.92);
    r["senseUVs"] = std::lround(c[2] * 0.1);
  }
  return r;
}

std::string lutDocument(const hcf::TintraDevice& record, const std::vector<XYZTriple>& refs) {
  auto model = hcf::makeSense2XYZ(record);
  if (!model) return "[]";
  const auto* cal = hcf::TintraDeviceProtoHelper::topCalForDevice(record);
  auto readings = hcf::Sense2XYZ::calSetOfSenseObjs(*cal);
  JsonValue table = JsonValue::array();
  for (std::size_t i = 0; i < refs.size() && i < readings->size(); ++i) {
    const XYZTriple own = (*model)->getXYZforSenseVals((*readings)[i]);
    const auto d65 = CieStdMath::tintra2newLight(own.X, own.Y, own.Z, true, record.tintra_model());
    if (!d65) return "[]";
    // Model 1.1 corrects in CIELAB D50, the others in CIELAB D65.
    const bool d50Space = record.tintra_model() == "1.1";
    const HCFIlluminant space = d50Space ? HCFIlluminant::D50 : HCFIlluminant::D65;
    const XYZTriple m = d50Space ? CieStdMath::adapt(d65->X, d65->Y, d65->Z, HCFIlluminant::D65,
                                                     HCFStdObserver::TwoDegree, HCFIlluminant::D50,
                                                     HCFStdObserver::TwoDegree)
                                 : *d65;
    const auto measured = CieStdMath::xyz2LabWith(m.X, m.Y, m.Z, space, HCFStdObserver::TwoDegree);
    const XYZTriple r =
        CieStdMath::adapt(refs[i].X, refs[i].Y, refs[i].Z, HCFIlluminant::D50,
                          HCFStdObserver::TwoDegree, space, HCFStdObserver::TwoDegree);
    const auto reference = CieStdMath::xyz2LabWith(r.X, r.Y, r.Z, space, HCFStdObserver::TwoDegree);
    table.push_back({{"L", measured.L},
                     {"a", measured.a},
                     {"b", measured.b},
                     {"dL", measured.L - reference.L},
                     {"da", measured.a - reference.a},
                     {"db", measured.b - reference.b}});
  }
  return table.dump();
}

JsonValue offsetNetwork(const std::array<double, 3>& offset) {
  return {{"shape", {3, 4, 3}},
          {"layerTypes", {"LinearLayer", "LinearLayer", "LinearLayer"}},
          {"weights",
           {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}},
            {{100, 0, 0, 0}, {0, 256, 0, 0}, {0, 0, 256, 0}}}},
          {"biasWeights", {{0, 0, 0, 0}, {offset[0], -128 + offset[1], -128 + offset[2]}}}};
}

}  // namespace

const std::vector<std::string>& hardwareVersions() {
  static const std::vector<std::string> v = {"1.0", "1.1",     "1.3",     "2.0", "2.1",
                                             "3.0", "3.01.00", "3.01.02", "4.0"};
  return v;
}

const std::vector<ChartPatch>& colorCheckerPatches() {
  static const std::vector<ChartPatch> patches = [] {
    std::vector<ChartPatch> out;
    std::istringstream in(kColorCheckerCsv);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      const auto comma = line.find(',');
      if (comma == std::string::npos) continue;
      std::istringstream fields(line.substr(comma + 1));
      ChartPatch p{line.substr(0, comma)};
      char sep;
      if (fields >> p.L >> sep >> p.a >> sep >> p.b) out.push_back(std::move(p));
    }
    return out;
  }();
  return patches;
}

const std::vector<XYZTriple>& colorCheckerXYZD50() {
  static const std::vector<XYZTriple> patches = [] {
    std::vector<XYZTriple> out;
    for (const auto& p : colorCheckerPatches()) out.push_back(labToXYZD50(p.L, p.a, p.b));
    return out;
  }();
  return patches;
}

const std::vector<XYZTriple>& gridXYZD50() {
  static const std::vector<XYZTriple> grid = [] {
    std::vector<XYZTriple> out;
    for (const double L : {30.0, 50.0, 70.0}) {
      for (const double a : {-30.0, 0.0, 30.0}) {
        for (const double b : {-30.0, 0.0, 30.0}) out.push_back(labToXYZD50(L, a, b));
      }
    }
    return out;
  }();
  return grid;
}

std::array<double, 3> SensorModel::signal(const XYZTriple& xyzD50) const {
  const XYZTriple light = toLight(xyzD50, tintraModel);
  const hcf::Vector3 lin = times(mixing, light);
  if (!mb24) {
    std::array<double, 3> out{};
    for (int i = 0; i < 3; ++i) out[i] = lin[i] * (1.0 + nonlinearity * (lin[i] / 40000.0));
    return out;
  }
  // The counts whose white-balanced, corrected values are `lin` (the inverse of the
  // correction: green as it is, red and blue from their quadratics).
  const double g = lin[1];
  const double p = 1.0 + kK2 * g;
  const double r = (p - std::sqrt(p * p - 4.0 * kK1 * lin[0])) / (2.0 * kK1);
  const double cb = lin[2] - kK4 * r * g;
  const double b = (1.0 - std::sqrt(1.0 - 4.0 * kK3 * cb)) / (2.0 * kK3);
  return {r * whiteCounts[0] / 100.0, g * whiteCounts[1] / 100.0, b * whiteCounts[2] / 100.0};
}

std::array<std::uint16_t, 3> SensorModel::rawCounts(const XYZTriple& xyzD50) const {
  const auto s = signal(xyzD50);
  std::array<std::uint16_t, 3> out{};
  for (int i = 0; i < 3; ++i) {
    out[i] = static_cast<std::uint16_t>(std::clamp(std::lround(s[i] + black[i]), 0L, 65535L));
  }
  return out;
}

SensorModel sensorFor(const std::string& tintraModel, bool mb24) {
  SensorModel m;
  m.tintraModel = tintraModel;
  m.mb24 = mb24;
  m.nonlinearity = 0.01 * (1.0 + wobble(tintraModel, 9));
  // Counts per unit of XYZ: mostly diagonal, with the cross-talk of real filters.
  const hcf::Matrix3x3 base = {380, 60, -15, -40, 420, 25, 10, -30, 440};
  for (int i = 0; i < 9; ++i) m.mixing[i] = base[i] * (1.0 + 0.05 * wobble(tintraModel, i));
  m.black =
      tintraModel == "1.1" ? std::array<double, 3>{0, 0, 0} : std::array<double, 3>{120, 135, 110};
  if (mb24) {
    // Scale the response so that the white patch corrects to (92, 100, 96), as it must when
    // its own counts are the white reference.
    const hcf::Vector3 w = times(m.mixing, toLight(colorCheckerXYZD50()[kWhitePatch], tintraModel));
    const double target[3] = {92, 100, 96};
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) m.mixing[row * 3 + col] *= target[row] / w[row];
    }
    m.whiteCounts = {41000.0 * (1 + 0.1 * wobble(tintraModel, 20)), 44000.0,
                     38000.0 * (1 + 0.1 * wobble(tintraModel, 21))};
  }
  return m;
}

std::string offsetNetworkDocument(const std::array<double, 3>& offset2,
                                  const std::array<double, 3>& offset10) {
  JsonValue doc = offsetNetwork(offset2);
  doc["degree_order_2"] = offsetNetwork(offset2);
  doc["degree_order_10"] = offsetNetwork(offset10);
  return doc.dump();
}

hcf::TintraDevice makeRecord(const RecordOptions& o) {
  const SensorModel sensor = sensorFor(o.tintraModel, o.mb24);
  const bool multi = o.tintraModel == kMultiChannelModel;
  const std::vector<XYZTriple> refs = referenceSet(o.tintraModel);

  JsonValue readings = JsonValue::array();
  JsonValue references = JsonValue::array();
  for (const auto& r : refs) {
    readings.push_back(reading(sensor.signal(r), multi));
    references.push_back({r.X, r.Y, r.Z});
  }
  // The white tile, raw (the colorimeter's white calibration compares against it), then the
  // dark reading.
  const auto white = sensor.rawCounts(colorCheckerXYZD50()[kWhitePatch]);
  if (o.tintraModel == "1.1") {
    while (readings.size() < kModel11WhiteIndex) readings.push_back(readings.back());
  }
  readings.push_back(reading({double(white[0]), double(white[1]), double(white[2])}, multi));
  readings.push_back(reading(sensor.black, multi));

  hcf::TintraDevice record;
  record.set_serial(o.serial);
  record.set_tintra_model(o.tintraModel);
  record.set_updated_at(1733616000);

  auto addCalibration = [&](std::int32_t priority, const std::string& data) {
    auto* cal = record.add_calibrations();
    cal->set_data_json(data);
    cal->set_priority(priority);
    cal->set_cal_color_set_name(o.mb24 ? "MB24" : "CC24");
    cal->set_cal_color_set_reference_data_json(JsonValue{{"xyz_d50", references}}.dump());
    cal->mutable_batch()->set_batch_number(o.batchNumber);
    return cal;
  };
  // An older calibration of the same instrument (readings a little off) comes first.
  JsonValue stale = readings;
  for (auto& r : stale) r["redSense"] = r["redSense"].get<long>() * 101 / 100;
  if (o.competingEntries) addCalibration(1, stale.dump());
  auto* current = addCalibration(3, readings.dump());
  if (o.competingEntries) {
    addCalibration(3, stale.dump());  // equal priority, later: never chosen
    addCalibration(0, readings.dump());
  }

  auto* batch = current->mutable_batch();
  if (o.competingEntries) {
    auto* textured = batch->add_adjustment_methods();
    textured->set_adjustment_method_type("LUT");
    textured->set_adjustment_method_data(R"([{"L":50,"a":0,"b":0,"dL":9,"da":9,"db":9}])");
    textured->set_physical_texture_type("matte");
    textured->set_priority(9);
    textured->set_desc("textured samples");
  }
  if (o.adjustment == Adjustment::Table) {
    auto* m = batch->add_adjustment_methods();
    m->set_adjustment_method_type("LUT");
    m->set_adjustment_method_data(lutDocument(record, refs));
    m->set_priority(2);
    m->set_desc("factory residuals, CIELAB D65");
  } else if (o.adjustment == Adjustment::Network) {
    auto* m = batch->add_adjustment_methods();
    m->set_adjustment_method_type("ANN");
    m->set_adjustment_method_data(offsetNetworkDocument({0.4, -0.3, 0.2}, {0.6, -0.5, 0.1}));
    m->set_priority(2);
    m->set_desc("batch network");
  }
  if (o.competingEntries) {
    auto* later = batch->add_adjustment_methods();
    later->set_adjustment_method_type("LUT");
    later->set_adjustment_method_data("[]");
    later->set_priority(2);  // equal priority, later: never the main method
  }
  return record;
}

std::string serialFor(const std::string& tintraModel) {
  const auto& v = hardwareVersions();
  const auto it = std::find(v.begin(), v.end(), tintraModel);
  char buf[16];
  std::snprintf(buf, sizeof buf, "00C0FFEE00%02X", static_cast<unsigned>(it - v.begin()));
  return buf;
}

std::string orlaSerial(int batch) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "00C0FFEE4%03d", batch);
  return buf;
}

const std::vector<int>& orlaBatches() {
  static const std::vector<int> batches = {7, 12, 95};
  return batches;
}

std::string alignmentDocument(int sourceBatch) {
  JsonValue targets = JsonValue::object();
  for (const int t : orlaBatches()) {
    if (t == sourceBatch) continue;
    const double shift = 0.05 * (t - sourceBatch);
    targets[std::to_string(t)] = JsonValue::parse(offsetNetworkDocument(
        {shift, -shift / 2, shift / 3}, {shift, -shift / 2, shift / 3}))["degree_order_2"];
  }
  JsonValue doc = {
      {"uANN", {{std::to_string(sourceBatch), targets}}},
      {"aANN",
       {{"95", JsonValue::parse(offsetNetworkDocument({0.1, 0.1, -0.1}, {0.2, 0.1, -0.1}))}}},
      {"priorities", {"95", "12", "7"}}};
  return doc.dump();
}

void populate(CloudWorld& world) {
  world.addLogin(kDemoSdkKey, {{"sdk_key", kDemoSdkKey},
                               {"session_token", "session-0001"},
                               {"subscription_id", "sub-0001"},
                               {"b2_access_key", kDemoDeviceKey},
                               {"platform_id", "linux"},
                               {"package_id", kDemoPackageID}});
  world.addDeviceKey(kDemoDeviceKey);
  const auto put = [&](const hcf::TintraDevice& record) {
    const hcf::Bytes b = hcf::TintraDeviceRecord::data(record);
    world.putRecord(record.serial(), std::string(b.begin(), b.end()));
  };
  for (const auto& v : hardwareVersions()) {
    if (v == "4.0") continue;
    put(makeRecord({.serial = serialFor(v),
                    .tintraModel = v,
                    .mb24 = v == "3.01.02",
                    .adjustment = v == "2.1" ? Adjustment::Network : Adjustment::Table}));
  }
  for (const int batch : orlaBatches()) {
    put(makeRecord({.serial = orlaSerial(batch),
                    .tintraModel = "4.0",
                    .mb24 = true,
                    .batchNumber = batch,
                    .adjustment = Adjustment::Network}));
    world.putAlignment(batch, {alignmentDocument(batch), "Sun, 06 Nov 2026 08:49:37 GMT"});
  }
  put(makeRecord({.serial = kOrphanOrlaSerial,
                  .tintraModel = "4.0",
                  .mb24 = true,
                  .batchNumber = 99,
                  .adjustment = Adjustment::Network}));
  auto uncalibrated = makeRecord({.serial = kUncalibratedSerial, .tintraModel = "2.0"});
  for (auto& c : *uncalibrated.mutable_calibrations()) c.set_priority(0);
  put(uncalibrated);
  put(makeRecord(
      {.serial = kUnbatchedSerial, .tintraModel = "2.0", .adjustment = Adjustment::None}));
  for (const auto kind : packageKinds()) {
    const auto serial = iriselSerial(kind);
    const auto zip = modelPackage(serial, kind);
    world.putPackage(serial, std::string(zip.begin(), zip.end()));
  }
}

}  // namespace hcf_cloud::fixtures
