#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/json_read.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"
#include "hcf/serialization/tint_vault_serialization.h"

HCF_NAMESPACE_BEGIN

namespace {

// A reader's outcome: a value, nothing (a required key is absent: the caller may skip the
// entry), or an error (a value of the wrong type: the whole read fails).
template <typename T>
using Read = Result<std::optional<T>>;

// Where a spectral scan's curve starts and how far apart its samples are: the only grid the
// kit integrates exactly.
constexpr double kCurveStart = HCFSpectralScan::kWaveLengthStart;
constexpr double kCurveStep = HCFSpectralScan::kWavelengthStep;

HCFError wrongType(std::string_view key, std::string_view expected) {
  return HTUtility::invalidDataError("\"" + std::string(key) + "\" must be " +
                                     std::string(expected));
}

HCFError missingKey(std::string_view what, std::string_view key) {
  return HTUtility::invalidDataError(std::string(what) + " lacks \"" + std::string(key) + "\"");
}

// A number that is not finite as a message shows it.
std::string notFiniteText(double v) {
  if (std::isnan(v)) return "nan";
  return v < 0 ? "-inf" : "inf";
}

HCFError notFinite(std::string_view path, double v) {
  return HTUtility::invalidDataError("\"" + std::string(path) + "\" is not a finite number (" +
                                     notFiniteText(v) + ")");
}

// `error` with `context` put before what it says ("Invalid data: <context>: …").
HCFError within(const HCFError& error, std::string_view context) {
  static constexpr std::string_view kPrefix = "Invalid data: ";
  std::string_view what = error.localizedDescription;
  if (what.starts_with(kPrefix)) what.remove_prefix(kPrefix.size());
  HCFError out = HTUtility::invalidDataError(std::string(context) + ": " + std::string(what));
  out.code = error.code;
  out.native = error.native;
  return out;
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
    const double n = x.get<double>();
    if (!std::isfinite(n))
      return notFinite(std::string(key) + "[" + std::to_string(out.size()) + "]", n);
    out.push_back(n);
  }
  return out;
}

// `path` names the dictionary in messages about its values ("adjusted_lab" gives
// "adjusted_lab.L"); an empty path names the values alone.
Read<HCFLabColor> readLab(const JsonValue& d, std::string_view path) {
  if (!d.is_object()) return wrongType(path.empty() ? "Lab" : path, "a Lab dictionary");
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
    if (!std::isfinite(v[i])) {
      return notFinite(path.empty() ? std::string(names[i]) : std::string(path) + "." + names[i],
                       v[i]);
    }
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

Read<HCFGenericBatchedLab> readBatchedLab(const JsonValue& d, std::string_view path) {
  if (!d.is_object()) return wrongType("batched_labs", "an array of batched-Lab dictionaries");
  if (!has(d, "batch") || !has(d, "lab")) return std::optional<HCFGenericBatchedLab>();
  auto batch = text(d, "batch");
  if (!batch) return batch.error();
  auto lab = readLab(d["lab"], path.empty() ? std::string("lab") : std::string(path) + ".lab");
  if (!lab) return lab.error();
  if (!*lab) return std::optional<HCFGenericBatchedLab>();
  return std::optional(HCFGenericBatchedLab::batchedLabWith(**lab, *batch));
}

Result<std::vector<HCFGenericBatchedLab>> readBatchedLabs(const JsonValue& array,
                                                          std::string_view path) {
  if (!array.is_array()) return wrongType("batched_labs", "an array of batched-Lab dictionaries");
  std::vector<HCFGenericBatchedLab> out;
  for (std::size_t i = 0; i < array.size(); ++i) {
    auto lab = readBatchedLab(
        array[i], path.empty() ? std::string() : std::string(path) + "[" + std::to_string(i) + "]");
    if (!lab) return lab.error();
    if (*lab) out.push_back(std::move(**lab));
  }
  return out;
}

// "start" and "step" may be left out (or null), and otherwise must be where the kit's curves
// are: any other grid would be integrated as if it were this one.
std::optional<HCFError> gridRefusal(const JsonValue& d, const char* key, double expected) {
  if (!hasValue(d, key)) return std::nullopt;
  const auto& v = d[key];
  if (!v.is_number()) return wrongType(key, "a number");
  const double n = v.get<double>();
  if (n == expected) return std::nullopt;
  return HTUtility::invalidDataError("\"" + std::string(key) + "\" is " +
                                     (std::isfinite(n) ? v.dump() : notFiniteText(n)) +
                                     " nm: a scan's curve runs from 400 nm every 10 nm");
}

// The over-range mark: written only on a scan read at full scale, so readers that do not know
// it take every other scan as before; absent or null reads as not over range.
constexpr const char* kOverRangeKey = "over_range";

Result<bool> readOverRange(const JsonValue& d) {
  if (!hasValue(d, kOverRangeKey)) return false;
  const auto& v = d[kOverRangeKey];
  if (!v.is_boolean()) return wrongType(kOverRangeKey, "true or false");
  return v.get<bool>();
}

void writeOverRange(JsonValue& d, const HCFColorScan& scan) {
  if (scan.overRange) d[kOverRangeKey] = true;
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
  if (auto refusal = gridRefusal(d, "start", kCurveStart)) return *refusal;
  if (auto refusal = gridRefusal(d, "step", kCurveStep)) return *refusal;
  auto curve = numbers(d, "curve");
  if (!curve) return curve.error();
  auto overRange = readOverRange(d);
  if (!overRange) return overRange.error();
  auto scan =
      HCFSpectralScan::initWithSerial(*serial, *model, std::move(*senses), std::move(*curve));
  if (!scan) return scan.error();
  (*scan)->overRange = *overRange;
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
    auto labs = readBatchedLabs(d["batched_labs"], "batched_labs");
    if (!labs) return labs.error();
    scan->batchedLabs = std::move(*labs);
  }
  auto overRange = readOverRange(d);
  if (!overRange) return overRange.error();
  scan->overRange = *overRange;
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
    // Another kind of scan that gives a curve: the curve as it gives it.
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
  writeOverRange(d, scan);
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
  writeOverRange(d, scan);
  return d;
}

// The path of the first text in `v` that is not UTF-8 ("serial", "batched_labs[2].batch").
std::optional<std::string> firstNonUtf8(const JsonValue& v, const std::string& path) {
  if (v.is_string()) {
    try {
      (void)v.dump(-1, ' ', false, JsonValue::error_handler_t::strict);
      return std::nullopt;
    } catch (const JsonValue::type_error&) {
      return path;
    }
  }
  if (v.is_object()) {
    for (const auto& [key, member] : v.items()) {
      if (auto at = firstNonUtf8(member, path.empty() ? key : path + "." + key)) return at;
    }
  } else if (v.is_array()) {
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (auto at = firstNonUtf8(v[i], path + "[" + std::to_string(i) + "]")) return at;
    }
  }
  return std::nullopt;
}

// The checked dictionary of a scan, with its texts checked to be UTF-8 as JSON text needs.
Result<JsonValue> writableDictionary(const HCFColorScan& scan) {
  auto d = HCFTintVaultSerialization::colorScanToCheckedDictionary(scan);
  if (!d) return d;
  if (const auto at = firstNonUtf8(*d, "")) {
    return HTUtility::invalidDataError("The scan cannot be written: \"" + *at +
                                       "\" is not UTF-8 text");
  }
  return d;
}

std::string jsonText(const JsonValue& v) { return v.dump(2, ' ', false) + "\n"; }

Result<std::vector<std::shared_ptr<HCFColorScan>>> scansFromValue(const JsonValue& v) {
  std::vector<std::shared_ptr<HCFColorScan>> out;
  if (v.is_object()) {
    auto scan = HCFTintVaultSerialization::colorScanFromDictionary(v);
    if (!scan) return scan.error();
    out.push_back(std::move(*scan));
    return out;
  }
  if (!v.is_array()) {
    return HTUtility::invalidDataError(
        "JSON text holds neither a scan dictionary nor a list of them");
  }
  out.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::string entry = "entry " + std::to_string(i);
    if (!v[i].is_object()) return HTUtility::invalidDataError(entry + " is not a scan dictionary");
    auto scan = HCFTintVaultSerialization::colorScanFromDictionary(v[i]);
    if (!scan) return within(scan.error(), entry);
    out.push_back(std::move(*scan));
  }
  return out;
}

Result<std::shared_ptr<HCFColorScan>> oneScan(
    Result<std::vector<std::shared_ptr<HCFColorScan>>> scans) {
  if (!scans) return scans.error();
  if (scans->size() != 1) {
    return HTUtility::invalidDataError("JSON text holds " + std::to_string(scans->size()) +
                                       " scans where one was expected");
  }
  return std::move(scans->front());
}

Result<std::string> fileText(const std::filesystem::path& path) {
  const auto failed = [&path](int err) {
    return HTUtility::fileReadError(
        path.string() + " cannot be read: " + std::generic_category().message(err), err);
  };
  errno = 0;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) return failed(errno ? errno : EIO);
  std::string text;
  char buffer[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
  if (std::ferror(file.get())) return failed(errno ? errno : EIO);
  return text;
}

}  // namespace

bool HCFTintVaultSerialization::isSpectroScan(const HCFColorScan& scan) {
  if (dynamic_cast<const HCFSpectralScan*>(&scan) != nullptr) return true;
  const auto curve = scan.spectralCurve();
  return curve && !curve->empty();
}

JsonValue HCFTintVaultSerialization::colorScanToDictionary(const HCFColorScan& scan) {
  return isSpectroScan(scan) ? spectralDictionary(scan) : tristimDictionary(scan);
}

Result<JsonValue> HCFTintVaultSerialization::colorScanToCheckedDictionary(
    const HCFColorScan& scan) {
  // The spectral form has no room for wavelengths: a curve given by another kind of scan
  // must lie where the form says it does.
  if (dynamic_cast<const HCFSpectralScan*>(&scan) == nullptr) {
    if (const auto points = scan.spectralCurve()) {
      for (std::size_t i = 0; i < points->size(); ++i) {
        const auto at = (*points)[i].wavelength;
        if (at != HCFSpectralScan::kWaveLengthStart + HCFSpectralScan::kWavelengthStep * i) {
          return HTUtility::invalidDataError("The scan cannot be written: \"curve[" +
                                             std::to_string(i) + "]\" is at " + std::to_string(at) +
                                             " nm: a scan's curve runs from 400 nm every 10 nm");
        }
      }
    }
  }
  JsonValue d = colorScanToDictionary(scan);
  const auto read = colorScanFromDictionary(d);
  if (!read) return within(read.error(), "The scan cannot be written");
  return d;
}

Result<std::shared_ptr<HCFColorScan>> HCFTintVaultSerialization::colorScanFromDictionary(
    const JsonValue& dictionary) {
  if (!dictionary.is_object()) return wrongType("scan", "a dictionary");
  return has(dictionary, "curve") ? readSpectral(dictionary) : readTristim(dictionary);
}

Result<std::vector<std::shared_ptr<HCFColorScan>>> HCFTintVaultSerialization::colorScansFromText(
    std::string_view text) {
  auto json = parseJson(text);
  if (!json) return json.error();
  return scansFromValue(*json);
}

Result<std::shared_ptr<HCFColorScan>> HCFTintVaultSerialization::colorScanFromText(
    std::string_view text) {
  return oneScan(colorScansFromText(text));
}

Result<std::vector<std::shared_ptr<HCFColorScan>>> HCFTintVaultSerialization::colorScansFromFile(
    const std::filesystem::path& path) {
  auto text = fileText(path);
  if (!text) return text.error();
  auto scans = colorScansFromText(*text);
  if (!scans) return within(scans.error(), path.string());
  return scans;
}

Result<std::shared_ptr<HCFColorScan>> HCFTintVaultSerialization::colorScanFromFile(
    const std::filesystem::path& path) {
  auto text = fileText(path);
  if (!text) return text.error();
  auto scan = colorScanFromText(*text);
  if (!scan) return within(scan.error(), path.string());
  return scan;
}

Result<std::string> HCFTintVaultSerialization::colorScanToText(const HCFColorScan& scan) {
  auto d = writableDictionary(scan);
  if (!d) return d.error();
  return jsonText(*d);
}

Result<std::string> HCFTintVaultSerialization::colorScansToText(
    const std::vector<std::shared_ptr<HCFColorScan>>& scans) {
  JsonValue list = JsonValue::array();
  for (std::size_t i = 0; i < scans.size(); ++i) {
    const std::string entry = "entry " + std::to_string(i);
    if (!scans[i]) return HTUtility::invalidDataError(entry + " is not a scan");
    auto d = writableDictionary(*scans[i]);
    if (!d) return within(d.error(), entry);
    list.push_back(std::move(*d));
  }
  return jsonText(list);
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
  auto lab = readLab(dictionary, "");
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
  auto lab = readBatchedLab(dictionary, "");
  if (!lab) return lab.error();
  if (!*lab) return missingKey("A batched Lab", "batch\" or a readable \"lab");
  return **lab;
}

Result<std::vector<HCFGenericBatchedLab>> HCFTintVaultSerialization::batchedLabsFromArray(
    const JsonValue& array) {
  return readBatchedLabs(array, "");
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
