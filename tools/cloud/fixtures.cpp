#include "fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "cloud_world.h"
#include "embedded_colorchecker.h"
#include "sample_spectra.h"
#include "spectrometer.h"

namespace hcf_cloud::fixtures {

namespace {

using hcf::CieStdMath;
using hcf::HCFIlluminant;
using hcf::HCFStdObserver;
using hcf::JsonValue;
using hcf::XYZTriple;

XYZTriple labToXYZD50(double L, double a, double b) {
  return CieStdMath::lab2xyzWithL(L, a, b, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
}

// Model "1.1" keeps its white reading at this index.
constexpr std::size_t kModel11WhiteIndex = 51;

// The colours the factory calibrates a version on, as spectra: the chart, and for model
// "1.1" the 27 colours of its CIELAB grid after it.
std::vector<Reflectance> referenceSpectra(const std::string& model) {
  std::vector<Reflectance> refs = colorCheckerReflectances();
  if (model == "1.1") {
    for (const auto& g : gridXYZD50()) {
      refs.push_back(reflectanceForLab(
          hcf::HCFXYZColor::XYZColorWithX(g.X, g.Y, g.Z, HCFIlluminant::D50).toLab()));
    }
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

// The colours the kit makes of a record's own chart readings before any adjustment: CIELAB
// D65, 2° (D50 for model "1.1", which corrects in that space), as the reading classes hand
// them to the adjustment.
std::vector<hcf::LabTriple> unadjustedLabs(const hcf::TintraDevice& record, std::size_t count) {
  std::vector<hcf::LabTriple> out;
  auto model = hcf::makeSense2XYZ(record);
  if (!model) return out;
  const auto* cal = hcf::TintraDeviceProtoHelper::topCalForDevice(record);
  auto readings = hcf::Sense2XYZ::calSetOfSenseObjs(*cal);
  const bool d50Space = record.tintra_model() == "1.1";
  for (std::size_t i = 0; i < count && i < readings->size(); ++i) {
    const XYZTriple own = (*model)->getXYZforSenseVals((*readings)[i]);
    const auto d65 = CieStdMath::tintra2newLight(own.X, own.Y, own.Z, true, record.tintra_model());
    if (!d65) return {};
    const XYZTriple m = d50Space ? CieStdMath::adapt(d65->X, d65->Y, d65->Z, HCFIlluminant::D65,
                                                     HCFStdObserver::TwoDegree, HCFIlluminant::D50,
                                                     HCFStdObserver::TwoDegree)
                                 : *d65;
    out.push_back(CieStdMath::xyz2LabWith(m.X, m.Y, m.Z,
                                          d50Space ? HCFIlluminant::D50 : HCFIlluminant::D65,
                                          HCFStdObserver::TwoDegree));
  }
  return out;
}

// The true colours of the reference spectra (under D50, where the chart's references are
// given) as CIELAB in `space` for `observer`: adapted to D65 as the kit adapts its readings,
// so that a corrected reading shown under D50 is the sample's colour under D50.
std::vector<hcf::LabTriple> referenceLabs(const std::vector<Reflectance>& refs, HCFIlluminant space,
                                          HCFStdObserver observer) {
  std::vector<hcf::LabTriple> out;
  for (const auto& r : refs) {
    const auto d50 = colourOf(r, HCFIlluminant::D50, observer);
    const auto xyz =
        CieStdMath::adapt(d50.X, d50.Y, d50.Z, HCFIlluminant::D50, observer, space, observer);
    out.push_back(CieStdMath::xyz2LabWith(xyz.X, xyz.Y, xyz.Z, space, observer));
  }
  return out;
}

// The factory's table: the error the instrument makes at each reference colour.
std::string lutDocument(const hcf::TintraDevice& record, const std::vector<Reflectance>& refs) {
  const bool d50Space = record.tintra_model() == "1.1";
  const auto measured = unadjustedLabs(record, refs.size());
  const auto reference = referenceLabs(refs, d50Space ? HCFIlluminant::D50 : HCFIlluminant::D65,
                                       HCFStdObserver::TwoDegree);
  if (measured.size() != refs.size()) return "[]";
  JsonValue table = JsonValue::array();
  for (std::size_t i = 0; i < refs.size(); ++i) {
    table.push_back({{"L", measured[i].L},
                     {"a", measured[i].a},
                     {"b", measured[i].b},
                     {"dL", measured[i].L - reference[i].L},
                     {"da", measured[i].a - reference[i].a},
                     {"db", measured[i].b - reference[i].b}});
  }
  return table.dump();
}

// A one-layer linear network fitted by least squares so that it takes each input colour to
// its target: corrected L, a, b as an affine function of the network's scaled inputs.
JsonValue fittedNetwork(const std::vector<hcf::LabTriple>& in,
                        const std::vector<hcf::LabTriple>& target) {
  // Normal equations over the features (L/100, (a+128)/256, (b+128)/256, 1).
  double ata[4][4] = {};
  double atb[4][3] = {};
  for (std::size_t n = 0; n < in.size() && n < target.size(); ++n) {
    const double f[4] = {in[n].L / 100.0, (in[n].a + 128.0) / 256.0, (in[n].b + 128.0) / 256.0,
                         1.0};
    const double t[3] = {target[n].L, target[n].a, target[n].b};
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) ata[r][c] += f[r] * f[c];
      for (int c = 0; c < 3; ++c) atb[r][c] += f[r] * t[c];
    }
  }
  for (int k = 0; k < 4; ++k) {  // Gauss–Jordan with partial pivoting
    int p = k;
    for (int r = k + 1; r < 4; ++r) {
      if (std::abs(ata[r][k]) > std::abs(ata[p][k])) p = r;
    }
    std::swap(ata[k], ata[p]);
    std::swap(atb[k], atb[p]);
    for (int r = 0; r < 4; ++r) {
      if (r == k || ata[k][k] == 0) continue;
      const double q = ata[r][k] / ata[k][k];
      for (int c = 0; c < 4; ++c) ata[r][c] -= q * ata[k][c];
      for (int c = 0; c < 3; ++c) atb[r][c] -= q * atb[k][c];
    }
  }
  JsonValue weights = JsonValue::array();
  JsonValue bias = JsonValue::array();
  for (int out = 0; out < 3; ++out) {
    JsonValue row = JsonValue::array();
    for (int f = 0; f < 3; ++f) row.push_back(atb[f][out] / ata[f][f]);
    weights.push_back(row);
    bias.push_back(atb[3][out] / ata[3][3]);
  }
  return {{"shape", {3, 3}},
          {"layerTypes", {"LinearLayer", "LinearLayer"}},
          {"weights", {weights}},
          {"biasWeights", {bias}}};
}

// The adjustment network of a record: its chart colours onto their true colours, for each
// observer (the 10° network aims at the colours the 10° observer sees).
std::string adjustmentNetworkDocument(const hcf::TintraDevice& record,
                                      const std::vector<Reflectance>& refs) {
  const auto measured = unadjustedLabs(record, refs.size());
  const JsonValue two =
      fittedNetwork(measured, referenceLabs(refs, HCFIlluminant::D65, HCFStdObserver::TwoDegree));
  JsonValue doc = two;
  doc["degree_order_2"] = two;
  doc["degree_order_10"] =
      fittedNetwork(measured, referenceLabs(refs, HCFIlluminant::D65, HCFStdObserver::TenDegree));
  return doc.dump();
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

std::string offsetNetworkDocument(const std::array<double, 3>& offset2,
                                  const std::array<double, 3>& offset10) {
  JsonValue doc = offsetNetwork(offset2);
  doc["degree_order_2"] = offsetNetwork(offset2);
  doc["degree_order_10"] = offsetNetwork(offset10);
  return doc.dump();
}

hcf::TintraDevice makeRecord(const RecordOptions& o) {
  // The factory measures each reference colour through the instrument's own optics (averaging
  // away the read noise) and knows its true colour from the spectrum.
  const SensorModel sensor = sensorFor(o.tintraModel, o.mb24, o.batchNumber);
  const bool multi = o.tintraModel == kMultiChannelModel;
  const std::vector<Reflectance> refs = referenceSpectra(o.tintraModel);

  JsonValue readings = JsonValue::array();
  JsonValue references = JsonValue::array();
  for (const auto& r : refs) {
    readings.push_back(reading(sensor.signal(r), multi));
    const auto xyz = colourOf(r);
    references.push_back({xyz.X, xyz.Y, xyz.Z});
  }
  // The white tile, raw (the colorimeter's white calibration compares against it), then the
  // dark reading.
  const auto white = sensor.rawCounts(whiteTile());
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
    m->set_adjustment_method_data(adjustmentNetworkDocument(record, refs));
    m->set_priority(2);
    m->set_desc("batch network");
  } else if (o.adjustment == Adjustment::OffsetNetwork) {
    auto* m = batch->add_adjustment_methods();
    m->set_adjustment_method_type("ANN");
    m->set_adjustment_method_data(offsetNetworkDocument({0.4, -0.3, 0.2}, {0.6, -0.5, 0.1}));
    m->set_priority(2);
    m->set_desc("offset network");
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
  // The batches' own chart colours: unifying networks take one batch's colours onto another's,
  // and the reference batch's adjustment takes its colours onto the true ones.
  const auto& refs = colorCheckerReflectances();
  const auto recordOf = [](int batch) {
    return makeRecord({.serial = orlaSerial(batch),
                       .tintraModel = "4.0",
                       .mb24 = true,
                       .batchNumber = batch,
                       .adjustment = Adjustment::None});
  };
  const auto source = unadjustedLabs(recordOf(sourceBatch), refs.size());
  JsonValue targets = JsonValue::object();
  for (const int t : orlaBatches()) {
    if (t == sourceBatch) continue;
    targets[std::to_string(t)] = fittedNetwork(source, unadjustedLabs(recordOf(t), refs.size()));
  }
  JsonValue doc = {
      {"uANN", {{std::to_string(sourceBatch), targets}}},
      {"aANN", {{"95", JsonValue::parse(adjustmentNetworkDocument(recordOf(95), refs))}}},
      {"priorities", {"95", "12", "7"}}};
  return doc.dump();
}

std::string offsetAlignmentDocument(int sourceBatch) {
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
