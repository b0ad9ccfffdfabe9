#include "hcf/store/hcf_realm_serialization.h"

#include <cmath>

#include "hcf/color/ht_color_utils.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN

HCFProductKV HCFRealmSerialization::kvFromRealmKV(const HRLMProductKV& kv) {
  return {kv.key, kv.keyTranslated, kv.val, kv.valTranslated};
}

std::vector<HCFProductKV> HCFRealmSerialization::KVsFromRealmKVs(
    const std::vector<HRLMProductKV>& kvs) {
  std::vector<HCFProductKV> out;
  out.reserve(kvs.size());
  for (const auto& kv : kvs) out.push_back(kvFromRealmKV(kv));
  return out;
}

std::vector<HCFProductBatchedLabColor> HCFRealmSerialization::measuredColorsFromRealmBatchedLabs(
    const std::vector<HRLMBatchedLab>& colors) {
  std::vector<HCFProductBatchedLabColor> out;
  out.reserve(colors.size());
  for (const auto& c : colors) {
    HCFProductBatchedLabColor m;
    auto illuminant = HCFIlluminant::D50;
    auto observer = HCFStdObserver::TwoDegree;
    if (c.illuminant && c.observer) {
      illuminant = HTColorUtils::fromIlluminantStr(*c.illuminant);
      observer = HTColorUtils::fromObserverStr(*c.observer);
    } else {
      logLine("Missing obs/illum info");
    }
    m.lab = HCFLabColor::labColorWithL(c.d50L, c.d50A, c.d50B, illuminant, observer);
    m.batch = c.batch;
    m.model = c.model;
    m.colorIndex = c.owningCompositionDetailPosition;
    m.composition = static_cast<std::int64_t>(std::trunc(c.comp));
    m.name = c.name;
    m.storedHex = c.hex;
    out.push_back(std::move(m));
  }
  return out;
}

HCFProductSpectrum HCFRealmSerialization::spectrumFromRealm(const HRLMSpectrum& s) {
  HCFProductSpectrum out;
  out.start = static_cast<std::uint64_t>(std::max(0, s.start));
  out.step = static_cast<std::uint64_t>(std::max(0, s.step));
  out.batch = s.batch;
  out.model = s.model;
  out.curve = std::vector<double>(s.curve.begin(), s.curve.end());
  out.colorIndex = s.owningCompositionDetailPosition;
  return out;
}

HCFHalvernCloudProduct HCFRealmSerialization::productFromRealmProduct(const HRLMOfflineProduct& p) {
  HCFHalvernCloudProduct m;
  m.uuid = p.uuid;
  m.vendorOrder = p.vendorOrder;
  m.hue = p.hue;
  m.saturation = p.saturation;
  m.brightness = p.brightness;
  m.filters = KVsFromRealmKVs(p.filters);
  m.attributes = KVsFromRealmKVs(p.attributes);
  m.internalColors = measuredColorsFromRealmBatchedLabs(p.colors);
  std::vector<HCFProductImage> images;
  for (const auto& i : p.images) images.push_back({i.key, i.url});
  m.images = std::move(images);
  std::vector<HCFProductSpectrum> spectra;
  for (const auto& s : p.spectrums) spectra.push_back(spectrumFromRealm(s));
  m.spectra = std::move(spectra);
  return m;
}

HRLMProductKV HCFRealmSerialization::realmKVFromKV(const HCFProductKV& kv, bool isFilter) {
  HRLMProductKV r;
  r.key = kv.key;
  r.val = kv.val;
  r.keyTranslated = kv.keyTranslated;
  r.valTranslated = kv.valTranslated;
  r.isFilter = isFilter;
  r.kvHash = HRLMProductKV::makeKvHash(kv.key.value_or(""), kv.val.value_or(""));
  return r;
}

HRLMBatchedLab HCFRealmSerialization::realmBatchedLabFromMeasuredColor(
    const HCFProductBatchedLabColor& c, const std::string& productUuid) {
  HRLMBatchedLab r;
  r.d50L = static_cast<float>(c.lab.L);
  r.d50A = static_cast<float>(c.lab.A);
  r.d50B = static_cast<float>(c.lab.B);
  r.batch = c.batch;
  r.name = c.name;
  r.comp = static_cast<float>(c.composition);
  r.hex = c.hex();
  r.owningCompositionDetailPosition = static_cast<std::int32_t>(c.colorIndex);
  r.owningProductUUID = productUuid;
  r.illuminant = HTColorUtils::toIlluminantStr(c.lab.illuminant);
  r.observer = HTColorUtils::toObserverStr(c.lab.stdObserver);
  r.model = c.model;
  return r;
}

HRLMOfflineProduct HCFRealmSerialization::realmProductFromProduct(const HCFHalvernCloudProduct& p) {
  HRLMOfflineProduct r;
  r.uuid = p.uuid.value_or("");
  r.name = p.name();
  r.code = p.code();
  const auto colors = p.colors();
  r.hex = colors.empty() ? std::string() : colors.front().hex();
  r.vendorOrder = p.vendorOrder;
  r.hue = p.hue;
  r.saturation = p.saturation;
  r.brightness = p.brightness;
  for (const auto& kv : p.filters.value_or(std::vector<HCFProductKV>{})) {
    r.filters.push_back(realmKVFromKV(kv, true));
  }
  for (const auto& kv : p.attributes.value_or(std::vector<HCFProductKV>{})) {
    r.attributes.push_back(realmKVFromKV(kv, false));
  }
  for (const auto& i : p.images.value_or(std::vector<HCFProductImage>{})) {
    r.images.push_back({i.key.value_or(""), i.url.value_or("")});
  }
  for (const auto& c : p.internalColors.value_or(std::vector<HCFProductBatchedLabColor>{})) {
    r.colors.push_back(realmBatchedLabFromMeasuredColor(c, r.uuid));
  }
  for (const auto& s : p.spectra.value_or(std::vector<HCFProductSpectrum>{})) {
    HRLMSpectrum rs;
    rs.start = static_cast<std::int32_t>(s.start);
    rs.step = static_cast<std::int32_t>(s.step);
    rs.batch = s.batch.value_or("");
    rs.model = s.model;
    rs.owningCompositionDetailPosition = static_cast<std::int32_t>(s.colorIndex);
    rs.owningProductUUID = r.uuid;
    for (const double v : s.curve.value_or(std::vector<double>{})) {
      rs.curve.push_back(static_cast<float>(v));
    }
    r.spectrums.push_back(std::move(rs));
  }
  return r;
}

HCF_NAMESPACE_END
