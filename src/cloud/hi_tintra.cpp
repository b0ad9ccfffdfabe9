#include "hcf/cloud/hi_tintra.h"

#include <cctype>
#include <limits>
#include <mutex>

#include "../calibration/batch_alignment.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hcf_net_common.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/notify/notification_center.h"
#include "hcf/store/hcf_realm_manager.h"
#include "percent_encode.h"

HCF_NAMESPACE_BEGIN

namespace {

constexpr const char* kRecordContentType = "application/x-protobuf";
constexpr const char* kAlignmentContentType = "binary/octet-stream";

// "Sun, 06 Nov 1994 08:49:37 GMT": day name, comma, two-digit day, month name, year, time, zone.
bool hasHttpDateForm(std::string_view s) {
  if (s.size() < 29) return false;
  const auto alpha = [&](std::size_t i) {
    return std::isalpha(static_cast<unsigned char>(s[i])) != 0;
  };
  const auto digit = [&](std::size_t i) {
    return std::isdigit(static_cast<unsigned char>(s[i])) != 0;
  };
  return alpha(0) && alpha(1) && alpha(2) && s[3] == ',' && s[4] == ' ' && digit(5) && digit(6) &&
         s[7] == ' ' && alpha(8) && alpha(9) && alpha(10) && s[11] == ' ' && digit(12) &&
         digit(13) && digit(14) && digit(15) && s[16] == ' ' && digit(17) && digit(18) &&
         s[19] == ':' && digit(20) && digit(21) && s[22] == ':' && digit(23) && digit(24) &&
         s[25] == ' ' && alpha(26);
}

std::int32_t batchOfTopCalibration(const TintraDevice& record) {
  const auto* top = TintraDeviceProtoHelper::topCalForDevice(record);
  return top ? top->batch().batch_number() : 0;
}

// A downloaded alignment document is kept only when it is one: a maintenance page or a cut-off
// body would otherwise replace the working document for good.
bool usableAlignment(const Bytes& data, std::int32_t batch) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  const auto problem = alignmentDocumentProblem(text, batch);
  if (problem) {
    logLine("the alignment document of batch " + std::to_string(batch) +
            " is not kept: " + *problem);
  }
  return !problem;
}

std::mutex& observerMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

// ---- HITintraSession -------------------------------------------------------------------------

struct HITintraSession::State {
  mutable std::mutex mutex;
  std::string apiKey;
};

HITintraSession& HITintraSession::currentSession() {
  static HITintraSession* session = new HITintraSession();
  return *session;
}

HITintraSession::State& HITintraSession::state() const {
  static State* s = new State();
  return *s;
}

std::string HITintraSession::apiKey() const {
  const std::lock_guard lock(state().mutex);
  return state().apiKey;
}

void HITintraSession::setApiKey(std::string key) {
  const std::lock_guard lock(state().mutex);
  state().apiKey = std::move(key);
}

// ---- B2Public ----------------------------------------------------------------------------------

B2Public B2Public::initWithApiKey(std::optional<std::string> apiKey) {
  B2Public b;
  b.apiKey_ = std::move(apiKey);
  return b;
}

std::string B2Public::b2URLString() const {
  return CloudEndpoints::current().apiHost + "/b2/ext_api/v1/";
}

http::Headers B2Public::b2Params() const {
  if (!apiKey_) return {};
  return {{"HI-Auth-Token", *apiKey_}};
}

void B2Public::fetchTintra(const std::string& serial,
                           std::function<void(std::optional<TintraDevice>)> handler) const {
  if (serial.empty()) {
    handler(std::nullopt);
    return;
  }
  const std::string url = b2URLString() + "tintra_device.protobuf?serial=" + percentEncode(serial);
  HCFNetCommon::fetchDataFrom(
      url, "GET", kRecordContentType, b2Params(),
      [handler = std::move(handler)](std::optional<Bytes> data, std::optional<std::string> error) {
        if (error || !data) return handler(std::nullopt);
        auto record = TintraDeviceRecord::parseFromData(*data);
        if (!record) return handler(std::nullopt);
        handler(std::move(*record));
      });
}

void B2Public::fetchAlignmentForBatchNum(
    std::int32_t batch, std::function<void(std::optional<Bytes>, std::int32_t)> handler) const {
  const std::string url = CloudEndpoints::current().alignmentStorage + "/orla_alignment_ann/" +
                          std::to_string(batch) + ".json";
  HCFNetCommon::fetchResponseFrom(
      url, "GET", kAlignmentContentType, {},
      [handler = std::move(handler)](std::optional<Bytes> data,
                                     std::optional<http::Response> response,
                                     std::optional<std::string> error) {
        if (error || !data) return handler(std::nullopt, 0);
        std::int32_t updatedAt = 0;
        if (response) {
          if (auto modified = http::headerValue(response->headers, "Last-Modified")) {
            updatedAt = static_cast<std::int32_t>(stringToDate(*modified));
          }
        }
        handler(std::move(data), updatedAt);
      });
}

std::uint32_t B2Public::stringToDate(std::string_view httpDate) {
  if (!hasHttpDateForm(httpDate)) return 0;
  const std::string text(httpDate);
  const auto t = http::parseHttpDate(text);
  if (!t || *t > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::uint32_t>(*t);
}

// ---- HITintra ----------------------------------------------------------------------------------

void HITintra::startWithKey(const std::string& key, SessionHandler onSuccess,
                            ErrorHandler /*onError: starting cannot fail*/) {
  HITintraSession::currentSession().setApiKey(key);
  if (onSuccess) onSuccess(HITintraSession::currentSession());
  addANNObserver();
}

void HITintra::tintraInitWithSerial(const std::string& serial, std::function<void(bool)> success,
                                    ErrorHandler fail) {
  fetchTintraData(
      serial,
      [success = std::move(success)](const TintraDevice&) {
        if (success) success(true);
      },
      std::move(fail));
}

void HITintra::fetchTintraData(const std::string& serial,
                               std::function<void(const TintraDevice&)> completion,
                               ErrorHandler fail) {
  if (auto cached = HCFRealmManager::fetchTintraDeviceWithSerial(serial)) {
    if (TintraDeviceProtoHelper::topCalHasAdjustmentMethodForDevice(*cached)) {
      if (!TintraDeviceProtoHelper::isOrla(*cached) ||
          HCFRealmManager::fetchAlignmentForSource(batchOfTopCalibration(*cached))) {
        completion(*cached);
        return;
      }
    }
  }
  const B2Public client = B2Public::initWithApiKey(HITintraSession::currentSession().apiKey());
  client.fetchTintra(serial, [serial, client, completion = std::move(completion),
                              fail = std::move(fail)](std::optional<TintraDevice> record) {
    if (!record) return fail(HTUtility::noCalDownloadError(serial));
    if (!TintraDeviceProtoHelper::topCalHasAdjustmentMethodForDevice(*record)) {
      return fail(TintraDeviceProtoHelper::topCalForDevice(*record)
                      ? HTUtility::noBatchError(record->serial())
                      : HTUtility::noCalDataError(record->serial()));
    }
    if (!TintraDeviceProtoHelper::isOrla(*record)) {
      HCFRealmManager::addTintraDevice(*record);
      return completion(*record);
    }
    const std::int32_t batch = batchOfTopCalibration(*record);
    client.fetchAlignmentForBatchNum(batch, [record = std::move(*record), batch, completion, fail](
                                                std::optional<Bytes> data, std::int32_t updatedAt) {
      if (!data || !usableAlignment(*data, batch)) return fail(HTUtility::alignmentFetchError());
      HCFRealmManager::addTintraDevice(record);
      HCFRealmManager::addUpdateAlignmentHash(data, batch, updatedAt);
      completion(record);
    });
  });
}

void HITintra::addANNObserver() {
  updateAlignmentData();
  static notify::NotificationCenter::Token token = 0;
  const std::lock_guard lock(observerMutex());
  auto& center = notify::NotificationCenter::defaultCenter();
  if (token != 0) center.removeObserver(token);  // one observer however often the kit starts
  token = center.addObserver(notify::kApplicationDidBecomeActiveNotification,
                             [](const notify::Notification&) { updateAlignmentData(); });
}

void HITintra::updateAlignmentData() {
  const auto sources = HCFRealmManager::fetchAlignmentSources();
  for (const std::int32_t batch : sources) {
    const auto stored = HCFRealmManager::fetchAlignmentForSource(batch);
    const std::int32_t storedAt = stored ? stored->updatedAt : 0;
    B2Public::initWithApiKey(HITintraSession::currentSession().apiKey())
        .fetchAlignmentForBatchNum(
            batch, [batch, storedAt](std::optional<Bytes> data, std::int32_t updatedAt) {
              if (storedAt >= updatedAt) return;  // includes every failed download (time 0)
              if (!data || !usableAlignment(*data, batch)) return;  // the stored one stays
              HCFRealmManager::addUpdateAlignmentHash(data, batch, updatedAt);
            });
  }
}

HCF_NAMESPACE_END
