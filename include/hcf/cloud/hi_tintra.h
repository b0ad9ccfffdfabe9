// The device-data service: calibration records and ColorOrla alignment documents, fetched from
// the cloud by serial and batch, cached in the device-data store and served from there.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hcf/calibration/tintra_device.h"
#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/platform/http/session.h"

HCF_NAMESPACE_BEGIN

/// The running session of the device-data service (one per process).
class HCF_API HITintraSession {
 public:
  /// The process's session.
  static HITintraSession& currentSession();
  /// The device-service key of the session (the credentials' b2 key, or the key kept for an
  /// offline start).
  std::string apiKey() const;
  /// Replaces the device-service key; requests made from now on carry it. Any thread.
  void setApiKey(std::string key);

 private:
  HITintraSession() = default;
  struct State;
  State& state() const;
};

/// The HTTP client of the device-data service.
class HCF_API B2Public {
 public:
  /// A client authorised by `apiKey` ("HI-Auth-Token"); no key, no header.
  static B2Public initWithApiKey(std::optional<std::string> apiKey);

  /// "<api host>/b2/ext_api/v1/".
  std::string b2URLString() const;
  /// The request headers: "HI-Auth-Token" = the key, or none.
  http::Headers b2Params() const;

  /// Downloads the record of a serial (percent-encoded in the query); the handler gets it, or
  /// nothing for an empty serial (no request), a failed download or bytes that are not a
  /// record. The handler runs on a global queue (at once on this thread for an empty serial).
  void fetchTintra(const std::string& serial,
                   std::function<void(std::optional<TintraDevice>)> handler) const;
  /// Downloads the alignment document of a batch; the handler gets its bytes (unparsed) and the
  /// "Last-Modified" time in seconds since 1970 (0 when missing or unreadable), or (nothing, 0).
  void fetchAlignmentForBatchNum(
      std::int32_t batch, std::function<void(std::optional<Bytes>, std::int32_t)> handler) const;
  /// Seconds since 1970 of an HTTP date of the fixed form "Sun, 06 Nov 1994 08:49:37 GMT"; 0
  /// when it does not parse or falls outside 32 bits.
  static std::uint32_t stringToDate(std::string_view httpDate);

 private:
  std::optional<std::string> apiKey_;
};

/// The device-data service facade.
class HCF_API HITintra {
 public:
  HITintra() = delete;

  /// Called with the started session.
  using SessionHandler = std::function<void(HITintraSession&)>;
  /// Called once with the error that stopped an operation.
  using ErrorHandler = std::function<void(const HCFError&)>;

  /// Sets the session's key, calls `onSuccess` with the session at once (starting cannot
  /// fail), then `addANNObserver`.
  static void startWithKey(const std::string& key, SessionHandler onSuccess, ErrorHandler onError);
  /// `fetchTintraData`, reduced to whether a record was delivered.
  static void tintraInitWithSerial(const std::string& serial, std::function<void(bool)> success,
                                   ErrorHandler fail);
  /// The record of a serial: from the cache when it has adjustment methods (and, for a
  /// ColorOrla, an alignment document for its batch), else downloaded, checked and cached.
  /// Errors: 9014 download failed or not a record, 9012 no calibration in force, 9013 no
  /// adjustment method, 9011 ColorOrla alignment download failed. Handlers run on the caller's
  /// thread when the cache answered, else on a global queue.
  static void fetchTintraData(const std::string& serial,
                              std::function<void(const TintraDevice&)> completion,
                              ErrorHandler fail);
  /// Refreshes the alignment documents now and whenever the application becomes active.
  static void addANNObserver();
  /// Downloads every cached alignment document again, replacing those the server has newer.
  static void updateAlignmentData();
};

HCF_NAMESPACE_END
