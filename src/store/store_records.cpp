#include "hcf/store/store_records.h"

#include <algorithm>
#include <limits>

#include "../calibration/text_cache.h"
#include "../core/json_text.h"
#include "hcf/store/hcf_realm_manager.h"

HCF_NAMESPACE_BEGIN

namespace {

std::optional<JsonValue> parseBytes(const std::optional<Bytes>& data) {
  if (!data) return std::nullopt;
  try {
    return json_text::parse(
        std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
  } catch (const JsonValue::exception&) {
    return std::nullopt;
  }
}

// Hours beyond which a spectrometer's cached entry is checked against the server.
constexpr std::int32_t kServerCheckHours = 24;

// Alignment documents are read for every ColorOrla measurement; each distinct document is
// parsed once.
TextCache<JsonValue>& documentCache() {
  static TextCache<JsonValue> cache;
  return cache;
}

std::optional<JsonValue> parseCachedBytes(const std::optional<Bytes>& data) {
  if (!data) return std::nullopt;
  const std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
  auto parsed =
      documentCache().get(text, [](std::string_view t) -> Result<std::shared_ptr<const JsonValue>> {
        try {
          return std::make_shared<const JsonValue>(json_text::parse(t));
        } catch (const JsonValue::exception&) {
          return HCFError{};
        }
      });
  if (!parsed) return std::nullopt;
  return **parsed;
}

}  // namespace

std::string HRLMProductKV::makeKvHash(const std::string& key, const std::string& val) {
  return key + "$$" + val + "$$" + "f";
}

std::optional<JsonValue> HAlignmentHash::alignmentDic() const { return parseCachedBytes(jsonData); }

std::optional<JsonValue> HAlignmentHash::priorityArray() const {
  const auto dic = alignmentDic();
  if (!dic || !dic->is_object()) return std::nullopt;
  const auto it = dic->find("priorities");
  if (it == dic->end() || it->empty()) return std::nullopt;
  return *it;
}

std::optional<std::vector<std::string>> HAlignmentHash::sortedTargetBatches() const {
  const auto dic = alignmentDic();
  if (!dic || !dic->is_object()) return std::nullopt;
  const auto u = dic->find("uANN");
  if (u == dic->end() || !u->is_object()) return std::nullopt;
  const auto m = u->find(std::to_string(sourceBatch));
  if (m == u->end() || !m->is_object()) return std::nullopt;
  std::vector<std::string> out;
  if (const auto priorities = priorityArray(); priorities && priorities->is_array()) {
    for (const auto& p : *priorities) {
      if (!p.is_string()) continue;
      const std::string key = p.get<std::string>();
      if (m->contains(key) && std::find(out.begin(), out.end(), key) == out.end())
        out.push_back(key);
    }
  }
  for (const auto& [key, value] : m->items()) {
    if (std::find(out.begin(), out.end(), key) == out.end()) out.push_back(key);
  }
  return out;
}

std::optional<JsonValue> HRLMSpectroModule::annJSON() const { return parseBytes(annJsonData); }

std::optional<std::vector<std::filesystem::path>> HRLMSpectroModule::cModelUrls() const {
  const auto paths = parseBytes(mlmodelcURLStringsData);
  if (!paths || !paths->is_array()) return std::nullopt;
  const auto documents = HCFRealmManager::docDirectory();
  std::vector<std::filesystem::path> out;
  for (const auto& p : *paths) {
    if (!p.is_string()) return std::nullopt;
    // Appended as a path component: the stored form starts with "/" ("/<serial>/<name>").
    std::string relative = p.get<std::string>();
    relative.erase(0, relative.find_first_not_of('/'));
    const std::filesystem::path part(relative);
    for (const auto& component : part) {
      if (component == "..") return std::nullopt;  // never a path out of the data directory
    }
    out.push_back(documents / part);
  }
  return out;
}

std::int32_t HRLMSpectroModule::hrsSinceServerChecked() const {
  if (!updatedAtLastChecked) return std::numeric_limits<std::int32_t>::max();
  const auto seconds =
      std::chrono::duration<double>(dispatch::wallClockNow() - *updatedAtLastChecked).count();
  const double hours = seconds / 3600.0;
  if (hours >= std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (hours <= std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(hours);
}

bool HRLMSpectroModule::needToCheckServerForUpdatedInfo() const {
  return hrsSinceServerChecked() > kServerCheckHours;
}

HCF_NAMESPACE_END
