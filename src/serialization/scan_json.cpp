#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"
#include "hcf/serialization/tint_vault_serialization.h"

HCF_NAMESPACE_BEGIN

namespace {

// A reader's outcome: a value, nothing (a required key is absent: the caller may skip the
// entry), or an error (a value of the wrong type: the whole read fails).
template <typename T>
using Read = Result<std::optional<T>>;

HCFError wrongType(std::string_view key, std::string_view expected) {
  return HTUtility::invalidDataError("\"" + std::string(key) + "\" must be " +
                                     std::string(expected));
}

HCFError missingKey(std::string_view what, std::string_view key) {
  return HTUtility::invalidDataError(std::string(what) + " lacks \"" + std::string(key) + "\"");
}

bool has(const JsonValue& d, const char* key) { return d.contains(key); }
bool hasValue(const JsonValue& d, const char* key) { return d.contains(key) && !d[key].is_null(); }

Result<std::string> text(const JsonValue& d, const char* key) {
  const auto& v = d[key];
  if (!v.is_string()) return wrongType(key, "a text");
  return v.get<std::string>();
}

Result<std::vector<double>> numbers(const JsonValue& d, const char* key) {
  const auto& v = d[key];
  if (!v.is_array()) return wrongType(key, "an array of numbers");
  std::vector<double> out;
  out.reserve(v.size());
  for (const auto& x : v) {
    if (!x.is_number()) return wrongType(key, "an array of numbers");
    out.push_back(x.get<double>());
  }
  return out;
}

Read<HCFLabColor> readLab(const JsonValue& d, std::string_view key) {
  if (!d.is_object()) return wrongType(key, "a Lab dictionary");
  const char* const plain[] = {"L", "a", "b"};
  const char* const d50[] = {"d50L", "d50a", "d50b"};
  const char* const* names = nullptr;
  if (has(d, "L") && has(d, "a") && has(d, "b")) {
    names = plain;
  } else if (has(d, "d50L") && has(d, "d50a") && has(d, "d50b")) {
    names = d50;
  } else {
    return std::optional<HCFLabColor>();
  }
  double v[3];
  for (int i = 0; i < 3; ++i) {
    if (!d[names[i]].is_number()) return wrongType(names[i], "a number");
    v[i] = d[names[i]].get<double>();
  }
  HCFLabColor lab = HCFLabColor::labColorWithL(v[0], v[1], v[2], HCFIlluminant::D50);
  if (hasValue(d, "observer")) {
    auto name = text(d, "observer");
    if (!name) return name.error();
    lab.stdObserver = HTColorUtils::fromObserverStr(*name);
  }
  if (hasValue(d, "illuminant")) {
    auto name = text(d, "illuminant");
    if (!name) return name.error();
    lab.illuminant = HTColorUtils::fromIlluminantStr(*name);
  }
  return std::optional(lab);
}

Read<HCFGenericBatchedLab> readBatchedLab(const JsonValue& d) {
  if (!d.is_object()) return wrongType("batched_labs", "an array of batched-Lab dictionaries");
  if (!has(d, "batch") || !has(d, "lab")) return std::optional<HCFGenericBatchedLab>();
  auto batch = text(d, "batch");
  if (!batch) return batch.error();
  auto lab = readLab(d["lab"], "lab");
  if (!lab) return lab.error();
  if (!*lab) return std::optional<HCFGenericBatchedLab>();
  return std::optional(HCFGenericBatchedLab::batchedLabWith(**lab, *batch));
}

Result<std::shared_ptr<HCFColorScan>> readSpectral(const JsonValue& d) {
  for (const char* key : {"model", "raw_color", "serial", "batch"}) {
    if (!has(d, key)) return missingKey("A spectral scan", key);
  }
  auto serial = text(d, "serial");
  if (!serial) return serial.error();
  auto model = text(d, "model");
  if (!model) return model.error();
  auto senses = numbers(d, "raw_color");
  if (!senses) return senses.error();
  auto curve = numbers(d, "curve");
  if (!curve) return curve.error();
  auto scan =
      HCFSpectralScan::initWithSerial(*serial, *model, std::move(*senses), std::move(*curve));
  if (!scan)
    return HTUtility::invalidDataError("\"curve\" is not a reflectance curve from 400 nm: " +
                                       scan.error().localizedDescription);
  return std::shared_ptr<HCFColorScan>(*scan);
}

Result<std::shared_ptr<HCFColorScan>> readTristim(const JsonValue& d) {
  for (const char* key : {"batch", "serial", "raw_color", "adjusted_lab"}) {
    if (!has(d, key)) return missingKey("A colour scan", key);
  }
  auto scan = std::make_shared<HCFTristimScan>();
  auto batch = text(d, "batch");
  if (!batch) return batch.error();
  scan->batch = *batch;
  auto serial = text(d, "serial");
  if (!serial) return serial.error();
  scan->serial = *serial;
  if (hasValue(d, "model")) {
    auto model = text(d, "model");
    if (!model) return model.error();
    scan->model = *model;
  }
  auto senses = numbers(d, "raw_color");
  if (!senses) return senses.error();
  scan->colorSense = std::move(*senses);
  auto lab2 = readLab(d["adjusted_lab"], "adjusted_lab");
  if (!lab2) return lab2.error();
  if (!*lab2) return missingKey("\"adjusted_lab\"", "L\", \"a\" and \"b");
  scan->adjusted2DegreeLab = **lab2;
  if (hasValue(d, "adjusted_lab_10_degree")) {
    auto lab10 = readLab(d["adjusted_lab_10_degree"], "adjusted_lab_10_degree");
    if (!lab10) return lab10.error();
    scan->adjusted10DegreeLab = *lab10;
  }
  if (hasValue(d, "batched_labs")) {
    auto labs = HCFTintVaultSerialization::batchedLabsFromArray(d["batched_labs"]);
    if (!labs) return labs.error();
    scan->batchedLabs = std::move(*labs);
  }
  return std::shared_ptr<HCFColorScan>(scan);
}

JsonValue spectralDictionary(const HCFColorScan& scan) {
  JsonValue d = JsonValue::object();
  std::vector<double> senses;
  std::vector<double> curve;
  if (const auto* spectral = dynamic_cast<const HCFSpectralScan*>(&scan)) {
    senses = spectral->senseValues;
    curve = spectral->curve;
  } else {
    // Another kind of scan with a spectrometer's model: its curve as it gives it.
    if (const auto* tristim = dynamic_cast<const HCFTristimScan*>(&scan))
      senses = tristim->colorSense;
    if (const auto points = scan.spectralCurve()) {
      for (const auto& p : *points) curve.push_back(p.intensity);
    }
  }
  d["batch"] = HCFSpectralScan::batchFor(scan.model);
  d["model"] = scan.model;
  d["serial"] = scan.serial;
  d["raw_color"] = senses;
  d["start"] = HCFSpectralScan::waveLengthStartFor(scan.model);
  d["step"] = HCFSpectralScan::waveLengthStepFor(scan.model);
  d["curve"] = curve;
  return d;
}

JsonValue tristimDictionary(const HCFColorScan& scan) {
  const auto* tristim = dynamic_cast<const HCFTristimScan*>(&scan);
  JsonValue d = JsonValue::object();
  d["batch"] = tristim ? tristim->batch : std::string();
  d["model"] = scan.model;
  d["serial"] = scan.serial;
  d["raw_color"] = tristim ? tristim->colorSense : std::vector<double>();
  if (const auto lab = scan.auxSearchLab()) {
    d["adjusted_lab"] = HCFTintVaultSerialization::labColorToDictionary(*lab);
  }
  if (const auto lab10 = scan.lab(HCFStdObserver::TenDegree, HCFIlluminant::D50)) {
    d["adjusted_lab_10_degree"] = HCFTintVaultSerialization::labColorToDictionary(*lab10);
  }
  if (!scan.batchedLabs.empty()) {
    d["batched_labs"] = HCFTintVaultSerialization::batchedLabsToArray(scan.batchedLabs);
  }
  return d;
}

}  // namespace

bool HCFTintVaultSerialization::isSpectroScan(const HCFColorScan& scan) {
  return dynamic_cast<const HCFSpectralScan*>(&scan) != nullptr || scan.model.rfind("11", 0) == 0;
}

JsonValue HCFTintVaultSerialization::colorScanToDictionary(const HCFColorScan& scan) {
  return isSpectroScan(scan) ? spectralDictionary(scan) : tristimDictionary(scan);
}

Result<std::shared_ptr<HCFColorScan>> HCFTintVaultSerialization::colorScanFromDictionary(
    const JsonValue& dictionary) {
  if (!dictionary.is_object()) return wrongType("scan", "a dictionary");
  return has(dictionary, "curve") ? readSpectral(dictionary) : readTristim(dictionary);
}

namespace {

// The Lab dictionary with the names of its three value keys.
JsonValue labDictionary(const HCFLabColor& lab, const char* keyL, const char* keyA,
                        const char* keyB) {
  JsonValue d = JsonValue::object();
  d[keyL] = lab.L;
  d[keyA] = lab.A;
  d[keyB] = lab.B;
  d["observer"] = HTColorUtils::toObserverTextStr(lab.stdObserver);
  d["illuminant"] = HTColorUtils::toIlluminantStr(lab.illuminant).value_or("");
  return d;
}

}  // namespace

JsonValue HCFTintVaultSerialization::labColorToDictionary(const HCFLabColor& lab) {
  return labDictionary(lab, "L", "a", "b");
}

JsonValue HCFTintVaultSerialization::labColorToD50Dictionary(const HCFLabColor& lab) {
  return labDictionary(lab, "d50L", "d50a", "d50b");
}

Result<HCFLabColor> HCFTintVaultSerialization::labColorFromDictionary(const JsonValue& dictionary) {
  auto lab = readLab(dictionary, "Lab");
  if (!lab) return lab.error();
  if (!*lab) return missingKey("A Lab dictionary", "L\", \"a\" and \"b");
  return **lab;
}

JsonValue HCFTintVaultSerialization::batchedLabToDictionary(const HCFBatchedLabColor& lab) {
  JsonValue d = JsonValue::object();
  d["lab"] = labColorToDictionary(lab.lab);
  d["batch"] = lab.batch;
  return d;
}

Result<HCFGenericBatchedLab> HCFTintVaultSerialization::batchedLabfromDictionary(
    const JsonValue& dictionary) {
  auto lab = readBatchedLab(dictionary);
  if (!lab) return lab.error();
  if (!*lab) return missingKey("A batched Lab", "batch\" or a readable \"lab");
  return **lab;
}

Result<std::vector<HCFGenericBatchedLab>> HCFTintVaultSerialization::batchedLabsFromArray(
    const JsonValue& array) {
  if (!array.is_array()) return wrongType("batched_labs", "an array of batched-Lab dictionaries");
  std::vector<HCFGenericBatchedLab> out;
  for (const auto& entry : array) {
    auto lab = readBatchedLab(entry);
    if (!lab) return lab.error();
    if (*lab) out.push_back(std::move(**lab));
  }
  return out;
}

JsonValue HCFTintVaultSerialization::batchedLabsToArray(
    const std::vector<HCFGenericBatchedLab>& labs) {
  JsonValue out = JsonValue::array();
  for (const auto& lab : labs) out.push_back(batchedLabToDictionary(lab));
  return out;
}

JsonValue HCFTintVaultSerialization::batchedLabsToSpectrumLabsArray(
    const std::vector<HCFGenericBatchedLab>& labs) {
  JsonValue out = JsonValue::array();
  for (const auto& lab : labs) out.push_back(labColorToDictionary(lab.lab));
  return out;
}

HCF_NAMESPACE_END
