#include "hcf/products/hcf_product.h"

#include <algorithm>
#include <functional>
#include <map>

HCF_NAMESPACE_BEGIN

namespace {

// "a" before "B": case folded first, then as given (a stable order for texts equal but for case).
bool lessIgnoringCase(const std::string& a, const std::string& b) {
  const auto fa = predicate::foldCase(a);
  const auto fb = predicate::foldCase(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

// A set text on `mine` must be set and equal on `theirs`.
bool setAndEqual(const std::optional<std::string>& mine, const std::optional<std::string>& theirs) {
  return !mine || (theirs && *mine == *theirs);
}

// When `mine` is set, `theirs` must be set, as long, and pairwise `same`.
template <typename T, typename Same>
bool listsEqual(const std::optional<std::vector<T>>& mine,
                const std::optional<std::vector<T>>& theirs, Same same) {
  if (!mine) return true;
  if (!theirs || theirs->size() != mine->size()) return false;
  for (std::size_t i = 0; i < mine->size(); ++i) {
    if (!same((*mine)[i], (*theirs)[i])) return false;
  }
  return true;
}

}  // namespace

// ---- HCFProductKV ------------------------------------------------------------------------------

HCFProductKV HCFProductKV::kvWithKey(const std::string& key, const std::string& val) {
  return {key, key, val, val};
}

predicate::Predicate HCFProductKV::filterPredicate() const {
  const std::string hash = key.value_or("") + "$$" + val.value_or("") + "$$" + "f";
  return predicate::Predicate::anyElement("filters", "filter",
                                          predicate::Predicate::equal("kvHash", hash));
}

std::vector<HCFProductKV> HCFProductKV::sortedKVs(std::vector<HCFProductKV> kvs) {
  std::stable_sort(kvs.begin(), kvs.end(), [](const HCFProductKV& a, const HCFProductKV& b) {
    const auto ak = a.keyTranslated.value_or("");
    const auto bk = b.keyTranslated.value_or("");
    if (predicate::foldCase(ak) != predicate::foldCase(bk)) return lessIgnoringCase(ak, bk);
    return lessIgnoringCase(a.valTranslated.value_or(""), b.valTranslated.value_or(""));
  });
  return kvs;
}

std::vector<std::pair<std::string, std::vector<HCFProductKV>>> HCFProductKV::kvsByKey(
    const std::vector<HCFProductKV>& kvs) {
  std::vector<std::string> keys;
  for (const auto& kv : kvs) {
    const auto k = kv.key.value_or("");
    if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
  }
  std::stable_sort(keys.begin(), keys.end(), lessIgnoringCase);
  std::vector<std::pair<std::string, std::vector<HCFProductKV>>> out;
  for (const auto& k : keys) {
    std::vector<HCFProductKV> group;
    for (const auto& kv : kvs) {
      if (kv.key.value_or("") == k) group.push_back(kv);
    }
    out.emplace_back(k, sortedKVs(std::move(group)));
  }
  return out;
}

bool HCFProductKV::isEqualTo(const HCFProductKV& o) const {
  return setAndEqual(key, o.key) && setAndEqual(keyTranslated, o.keyTranslated) &&
         setAndEqual(val, o.val) && setAndEqual(valTranslated, o.valTranslated);
}

std::size_t HCFProductKV::hash() const {
  const std::hash<std::string> h;
  return h(key.value_or("")) ^ h(val.value_or(""));
}

std::string HCFProductKV::description() const {
  return key.value_or("(null)") + " - " + val.value_or("(null)");
}

// ---- HCFProductImage ---------------------------------------------------------------------------

bool HCFProductImage::isEqualToImage(const HCFProductImage& o) const {
  return key == o.key && url == o.url;
}

bool HCFProductImage::areImagesEqualTo(const std::optional<std::vector<HCFProductImage>>& a,
                                       const std::optional<std::vector<HCFProductImage>>& b) {
  return listsEqual(a, b, [](const auto& x, const auto& y) { return x.isEqualToImage(y); });
}

// ---- HCFProductSpectrum ------------------------------------------------------------------------

std::vector<HCFSpectralPoint> HCFProductSpectrum::spectralCurve() const {
  std::vector<HCFSpectralPoint> points;
  if (!curve) return points;
  for (std::size_t i = 0; i < curve->size(); ++i) {
    points.push_back({start + step * i, (*curve)[i]});
  }
  return points;
}

bool HCFProductSpectrum::isEqualToSpectrum(const HCFProductSpectrum& o) const {
  if (step != o.step || start != o.start || batch != o.batch || model != o.model) return false;
  if (!curve) return true;
  return o.curve && *curve == *o.curve;
}

// ---- HCFProductBatchedLabColor -----------------------------------------------------------------

std::string HCFProductBatchedLabColor::hex() const { return storedHex ? *storedHex : lab.hex(); }

bool HCFProductBatchedLabColor::isEqualToBatchedLab(const HCFProductBatchedLabColor& o) const {
  return batch == o.batch && lab.isEqualToLab(o.lab);
}

std::vector<std::pair<std::int64_t, std::vector<HCFProductBatchedLabColor>>>
HCFProductBatchedLabColor::colorsByColorIndex(
    const std::vector<HCFProductBatchedLabColor>& colors) {
  std::map<std::int64_t, std::vector<HCFProductBatchedLabColor>> groups;
  for (const auto& c : colors) groups[c.colorIndex].push_back(c);
  return {groups.begin(), groups.end()};
}

std::vector<std::pair<std::string, std::vector<HCFProductBatchedLabColor>>>
HCFProductBatchedLabColor::colorsByBatch(const std::vector<HCFProductBatchedLabColor>& colors) {
  // In the order the batches first appear, so that writing and reading keeps the order.
  std::vector<std::pair<std::string, std::vector<HCFProductBatchedLabColor>>> groups;
  for (const auto& c : colors) {
    auto it = std::find_if(groups.begin(), groups.end(),
                           [&](const auto& g) { return g.first == c.batch; });
    if (it == groups.end()) it = groups.insert(groups.end(), {c.batch, {}});
    it->second.push_back(c);
  }
  return groups;
}

std::optional<HCFProductBatchedLabColor> HCFProductBatchedLabColor::d502degBatchedLabFrom(
    const std::vector<HCFProductBatchedLabColor>& colors) {
  for (const auto& c : colors) {
    if (c.lab.stdObserver == HCFStdObserver::TwoDegree && c.lab.illuminant == HCFIlluminant::D50) {
      return c;
    }
  }
  return std::nullopt;
}

// ---- HCFHalvernCloudProduct --------------------------------------------------------------------

std::string HCFHalvernCloudProduct::valForAttr(std::string_view key) const {
  if (!attributes) return "";
  const auto wanted = predicate::foldCase(key);
  for (const auto& kv : *attributes) {
    if (kv.key && predicate::foldCase(*kv.key) == wanted) return kv.val.value_or("");
  }
  return "";
}

std::vector<HCFLabColor> HCFHalvernCloudProduct::colors() const {
  std::vector<HCFLabColor> out;
  if (!internalColors) return out;
  for (const auto& c : *internalColors) {
    if (c.batch == "adjusted") out.push_back(HCFLabColor::labColorWithColor(c.lab));
  }
  return out;
}

PlatformColor HCFHalvernCloudProduct::displayColor() const {
  const auto all = colors();
  if (all.empty()) return PlatformColor::colorWithRed(1, 1, 1, 1);
  return all.front().uiColor();
}

std::optional<HCFLabColor> HCFHalvernCloudProduct::auxSearchLab() const {
  const auto all = colors();
  if (all.empty()) return std::nullopt;
  return all.front();
}

std::vector<HCFGenericBatchedLab> HCFHalvernCloudProduct::batchedLabsWithIllum(
    const std::optional<std::string>& illuminant,
    const std::optional<std::string>& observer) const {
  std::vector<HCFGenericBatchedLab> labs;
  if (internalColors) {
    for (const auto& c : *internalColors) {
      labs.push_back(HCFGenericBatchedLab::batchedLabWith(c.lab, c.batch));
    }
  }
  return filterBatchedLabs(labs, illuminant, observer);
}

std::string HCFHalvernCloudProduct::description() const {
  std::string values;
  if (filters) {
    for (std::size_t i = 0; i < filters->size(); ++i) {
      values += (i ? ", " : "") + (*filters)[i].val.value_or("(null)");
    }
  }
  return code() + " - " + name() + " (" + values + ")";
}

bool HCFHalvernCloudProduct::isEqualToProduct(const HCFHalvernCloudProduct& o) const {
  if (name() != o.name()) return false;
  if (!code().empty() && code() != o.code()) return false;
  if (!uuid || !o.uuid || *uuid != *o.uuid) return false;
  if (!HCFProductImage::areImagesEqualTo(images, o.images)) return false;
  if (!listsEqual(internalColors, o.internalColors,
                  [](const auto& a, const auto& b) { return a.isEqualToBatchedLab(b); })) {
    return false;
  }
  if (!listsEqual(spectra, o.spectra,
                  [](const auto& a, const auto& b) { return a.isEqualToSpectrum(b); })) {
    return false;
  }
  const auto kvSame = [](const HCFProductKV& a, const HCFProductKV& b) { return a.isEqualTo(b); };
  return listsEqual(filters, o.filters, kvSame) && listsEqual(attributes, o.attributes, kvSame);
}

HCF_NAMESPACE_END
