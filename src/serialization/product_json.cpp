// The product forms of HCFTintVaultSerialization: products, pairs, colours, spectra and JSON
// Lines. Documents come from outside: a value of the wrong type reads as absent.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "../core/json_text.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/serialization/tint_vault_serialization.h"
#include "json_members.h"

HCF_NAMESPACE_BEGIN

namespace {

using S = HCFTintVaultSerialization;

using json_members::member;
using json_members::text;

// A text, or a number written as text (a batch may come as 95).
std::optional<std::string> textOrNumber(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  if (!v) return std::nullopt;
  if (v->is_string()) return v->get<std::string>();
  if (v->is_number_integer()) return std::to_string(v->get<std::int64_t>());
  if (v->is_number()) return v->dump();
  return std::nullopt;
}

double number(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  return v && v->is_number() ? v->get<double>() : 0.0;
}

std::int64_t integer(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  if (!v || !v->is_number()) return 0;
  if (v->is_number_integer()) return v->get<std::int64_t>();
  const double x = v->get<double>();
  if (!std::isfinite(x) || std::abs(x) > 9.2e18) return 0;
  return static_cast<std::int64_t>(x);  // towards zero
}

std::uint64_t unsignedInteger(const JsonValue& d, const char* key) {
  const std::int64_t v = integer(d, key);
  return v < 0 ? 0 : static_cast<std::uint64_t>(v);
}

const JsonValue* array(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  return v && v->is_array() ? v : nullptr;
}

std::optional<std::vector<double>> numbers(const JsonValue& d, const char* key) {
  const auto* a = array(d, key);
  if (!a) return std::nullopt;
  std::vector<double> out;
  for (const auto& x : *a) out.push_back(x.is_number() ? x.get<double>() : 0.0);
  return out;
}

std::optional<HCFLabColor> lab(const JsonValue& d, const char* key) {
  const auto* v = member(d, key);
  if (!v) return std::nullopt;
  auto l = S::labColorFromDictionary(*v);
  if (!l) return std::nullopt;
  return *l;
}

// "scheme:rest": a scheme of a letter then letters, digits, '+', '-', '.', and a rest without
// blanks or control characters.
bool absoluteUrl(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return std::none_of(text.begin() + static_cast<std::ptrdiff_t>(colon), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
}

// Model texts are version numbers; a spectrometer's are 10 or more.
bool spectralModel(const std::optional<std::string>& model) {
  if (!model) return false;
  char* end = nullptr;
  const double v = std::strtod(model->c_str(), &end);
  return end != model->c_str() && v >= 10.0;
}

}  // namespace

JsonValue S::kvToDictionary(const HCFProductKV& kv) {
  JsonValue d = JsonValue::object();
  if (kv.key) d["k"] = *kv.key;
  if (kv.val) d["v"] = *kv.val;
  if (kv.keyTranslated) d["kt"] = *kv.keyTranslated;
  if (kv.valTranslated) d["vt"] = *kv.valTranslated;
  return d;
}

HCFProductKV S::kvFromDictionary(const JsonValue& d) {
  return {text(d, "k"), text(d, "kt"), text(d, "v"), text(d, "vt")};
}

JsonValue S::kvsToArray(const std::vector<HCFProductKV>& kvs) {
  JsonValue out = JsonValue::array();
  for (const auto& kv : kvs) out.push_back(kvToDictionary(kv));
  return out;
}

std::vector<HCFProductKV> S::kvsFromArray(const JsonValue& a) {
  std::vector<HCFProductKV> out;
  if (!a.is_array()) return out;
  for (const auto& d : a) {
    if (d.is_object()) out.push_back(kvFromDictionary(d));
  }
  return out;
}

JsonValue S::jsonForProductImages(const HCFHalvernCloudProduct& p) {
  JsonValue out = JsonValue::array();
  if (!p.images) return out;
  for (const auto& image : *p.images) {
    out.push_back(JsonValue{{image.key.value_or(""), image.url.value_or("")}});
  }
  return out;
}

JsonValue S::productSpectrumToJSON(const HCFProductSpectrum& s) {
  JsonValue d = JsonValue::object();
  d["start"] = s.start;
  d["step"] = s.step;
  d["curve"] = s.curve.value_or(std::vector<double>{});
  return d;
}

std::optional<JsonValue> S::measuredColorDicFrom(const std::vector<HCFProductBatchedLabColor>& e) {
  if (e.empty()) return std::nullopt;
  JsonValue d = JsonValue::object();
  d["batch"] = e.front().batch;
  if (e.front().model) d["model"] = *e.front().model;
  d["lab"] = labColorToD50Dictionary(e.front().lab);
  return d;
}

std::optional<JsonValue> S::measuredColorDicWithSpectrumFrom(
    const std::vector<HCFProductBatchedLabColor>& e,
    const std::optional<std::vector<HCFProductSpectrum>>& spectra) {
  if (!spectra || e.empty()) return std::nullopt;
  const HCFProductSpectrum* match = nullptr;
  for (const auto& s : *spectra) {
    if (s.batch == e.front().batch) {
      match = &s;
      break;
    }
  }
  JsonValue d = JsonValue::object();
  d["batch"] = e.front().batch;
  if (match && match->model) d["model"] = *match->model;
  if (const auto d50 = HCFProductBatchedLabColor::d502degBatchedLabFrom(e)) {
    d["lab"] = labColorToD50Dictionary(d50->lab);
  }
  if (match) d["spectrum"] = productSpectrumToJSON(*match);
  JsonValue labs = JsonValue::array();
  for (const auto& entry : e) labs.push_back(labColorToDictionary(entry.lab));
  d["spectrum_labs"] = std::move(labs);
  return d;
}

JsonValue S::JSONFromColors(const std::vector<HCFProductBatchedLabColor>& colors,
                            const std::optional<std::vector<HCFProductSpectrum>>& spectra) {
  JsonValue out = JsonValue::array();
  for (const auto& [index, group] : HCFProductBatchedLabColor::colorsByColorIndex(colors)) {
    const auto& first = group.front();
    JsonValue d = JsonValue::object();
    d["comp"] = first.composition;
    d["hex"] = first.hex();
    if (first.name) d["name"] = *first.name;
    for (const auto& e : group) {
      if (e.batch == "adjusted") {
        d["lab"] = labColorToD50Dictionary(e.lab);
        break;
      }
    }
    if (group.size() > 1) {
      JsonValue mcs = JsonValue::array();
      for (const auto& [batch, entries] : HCFProductBatchedLabColor::colorsByBatch(group)) {
        if (batch == "adjusted") continue;
        const auto mc = spectralModel(entries.front().model)
                            ? measuredColorDicWithSpectrumFrom(entries, spectra)
                            : measuredColorDicFrom(entries);
        if (mc) mcs.push_back(*mc);
      }
      d["mcs"] = std::move(mcs);
    }
    out.push_back(std::move(d));
  }
  return out;
}

bool S::mcDictHasSpectrum(const JsonValue& mc) {
  const auto* s = member(mc, "spectrum");
  return s && s->is_object() && member(*s, "start") && member(*s, "step") && member(*s, "curve");
}

std::optional<HCFProductBatchedLabColor> S::bLabFromMeasuredColorDictionary(const JsonValue& mc) {
  const auto l = lab(mc, "lab");
  if (!l) return std::nullopt;
  HCFProductBatchedLabColor c;
  c.lab = *l;
  c.batch = textOrNumber(mc, "batch").value_or("");
  c.model = textOrNumber(mc, "model");
  return c;
}

std::vector<HCFProductBatchedLabColor> S::bLabsFromSpectrumMCDictionary(const JsonValue& mc) {
  std::vector<HCFProductBatchedLabColor> out;
  const auto* labs = array(mc, "spectrum_labs");
  if (!labs) return out;
  for (const auto& d : *labs) {
    auto l = labColorFromDictionary(d);
    if (!l) continue;
    HCFProductBatchedLabColor c;
    c.lab = *l;
    c.batch = textOrNumber(mc, "batch").value_or("");
    c.model = textOrNumber(mc, "model");
    out.push_back(std::move(c));
  }
  return out;
}

std::vector<HCFProductBatchedLabColor> S::measuredColorsFromColorDictionary(const JsonValue& color,
                                                                            std::uint64_t index) {
  std::vector<HCFProductBatchedLabColor> out;
  if (!color.is_object()) return out;
  const auto name = text(color, "name");
  const auto hex = text(color, "hex");
  const auto composition = integer(color, "comp");
  const auto stamp = [&](HCFProductBatchedLabColor& c) {
    c.name = name;
    c.storedHex = hex;
    c.composition = composition;
    c.colorIndex = static_cast<std::int64_t>(index);
  };
  if (const auto* mcs = array(color, "mcs")) {
    for (const auto& mc : *mcs) {
      // A measured colour belongs to a batch: one without (missing, null, neither text nor
      // number) is left out.
      if (!textOrNumber(mc, "batch")) continue;
      if (mcDictHasSpectrum(mc)) {
        for (auto& c : bLabsFromSpectrumMCDictionary(mc)) {
          stamp(c);
          out.push_back(std::move(c));
        }
      } else if (auto c = bLabFromMeasuredColorDictionary(mc)) {
        stamp(*c);
        out.push_back(std::move(*c));
      }
    }
  }
  if (auto reference = bLabFromMeasuredColorDictionary(color)) {
    reference->batch = "adjusted";
    stamp(*reference);
    out.push_back(std::move(*reference));
  }
  return out;
}

std::vector<HCFProductBatchedLabColor> S::measuredColorsFromJSON(const JsonValue& colors) {
  std::vector<HCFProductBatchedLabColor> out;
  if (!colors.is_array()) return out;
  for (std::size_t i = 0; i < colors.size(); ++i) {
    auto some = measuredColorsFromColorDictionary(colors[i], i);
    out.insert(out.end(), std::make_move_iterator(some.begin()),
               std::make_move_iterator(some.end()));
  }
  return out;
}

std::vector<HCFProductSpectrum> S::spectraFromColorsJSON(const JsonValue& colors) {
  std::vector<HCFProductSpectrum> out;
  if (!colors.is_array()) return out;
  for (const auto& color : colors) {
    const auto* mcs = array(color, "mcs");
    if (!mcs) continue;
    for (const auto& mc : *mcs) {
      if (!mcDictHasSpectrum(mc)) continue;
      const auto& s = *member(mc, "spectrum");
      HCFProductSpectrum spectrum;
      spectrum.start = unsignedInteger(s, "start");
      spectrum.step = unsignedInteger(s, "step");
      spectrum.curve = numbers(s, "curve");
      spectrum.model = textOrNumber(mc, "model");
      spectrum.batch = HCFSpectralScan::batchFor(spectrum.model.value_or(""));
      out.push_back(std::move(spectrum));
    }
  }
  return out;
}

JsonValue S::productToDictionary(const HCFHalvernCloudProduct& p) {
  JsonValue d = JsonValue::object();
  d["uuid"] = p.uuid.value_or("");
  d["filters"] = kvsToArray(p.filters.value_or(std::vector<HCFProductKV>{}));
  d["product_attributes"] = kvsToArray(p.attributes.value_or(std::vector<HCFProductKV>{}));
  if (p.images && !p.images->empty()) d["imgs"] = jsonForProductImages(p);
  d["colors"] = JSONFromColors(p.internalColors.value_or(std::vector<HCFProductBatchedLabColor>{}),
                               p.spectra);
  if (!d["colors"].empty() && d["colors"][0].contains("hex")) d["hex"] = d["colors"][0]["hex"];
  JsonValue sorts = JsonValue::object();
  sorts["vendor_order"] = p.vendorOrder;
  sorts["brightness"] = p.brightness;
  sorts["saturation"] = p.saturation;
  sorts["hue"] = p.hue;
  sorts["name"] = p.name();
  if (!p.code().empty()) sorts["code"] = p.code();
  d["sorts"] = std::move(sorts);
  return d;
}

HCFHalvernCloudProduct S::productFromDictionary(const JsonValue& d) {
  HCFHalvernCloudProduct p;
  if (!d.is_object()) return p;
  p.uuid = text(d, "uuid");
  if (const auto* a = array(d, "filters")) p.filters = kvsFromArray(*a);
  if (const auto* a = array(d, "product_attributes")) p.attributes = kvsFromArray(*a);
  if (const auto* imgs = array(d, "imgs")) {
    std::vector<HCFProductImage> images;
    for (const auto& entry : *imgs) {
      if (!entry.is_object()) continue;
      for (const auto& [kind, url] : entry.items()) {
        // Only an absolute URL names an image; anything else is left out.
        if (url.is_string() && absoluteUrl(url.get_ref<const std::string&>())) {
          images.push_back({kind, url.get<std::string>()});
        }
      }
    }
    p.images = std::move(images);
  }
  if (const auto* colors = array(d, "colors")) {
    p.internalColors = measuredColorsFromJSON(*colors);
    p.spectra = spectraFromColorsJSON(*colors);
  }
  if (const auto* sorts = member(d, "sorts")) {
    p.vendorOrder = number(*sorts, "vendor_order");
    p.brightness = number(*sorts, "brightness");
    p.saturation = number(*sorts, "saturation");
    p.hue = number(*sorts, "hue");
  }
  return p;
}

std::optional<HCFHalvernCloudProduct> S::productFromData(std::string_view data) {
  const auto json = json_text::parseOrDiscard(data);
  if (json.is_discarded()) return std::nullopt;
  return productFromDictionary(json);
}

std::size_t S::productsFromJSONL(
    std::istream& in,
    const std::function<bool(HCFHalvernCloudProduct&&, std::size_t, bool)>& each) {
  std::size_t lines = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // a last line without its line feed is not read
    ++lines;
    const auto json = json_text::parseOrDiscard(line);
    const bool parsed = !json.is_discarded();
    if (!each(parsed ? productFromDictionary(json) : HCFHalvernCloudProduct{}, lines, parsed)) {
      break;
    }
  }
  return lines;
}

std::vector<HCFHalvernCloudProduct> S::productsFromJSONLData(std::string_view data) {
  std::istringstream in{std::string(data)};
  std::vector<HCFHalvernCloudProduct> out;
  productsFromJSONL(in, [&](HCFHalvernCloudProduct&& p, std::size_t, bool) {
    out.push_back(std::move(p));
    return true;
  });
  return out;
}

HCF_NAMESPACE_END
