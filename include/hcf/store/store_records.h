// The records the kit keeps in its three local stores.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/json.h"
#include "hcf/platform/dispatch/clock.h"

HCF_NAMESPACE_BEGIN

/// One key/value pair of a product, shared between products by its `kvHash`.
struct HCF_API HRLMProductKV {
  std::optional<std::string> key;
  std::optional<std::string> val;
  std::optional<std::string> keyTranslated;
  std::optional<std::string> valTranslated;
  bool isFilter = false;
  std::string kvHash;

  /// The identity of a pair: key, "$$", value, "$$", "f".
  static std::string makeKvHash(const std::string& key, const std::string& val);
};

/// One measured colour of a product (L*, a*, b* under the illuminant and observer named).
struct HRLMBatchedLab {
  float d50L = 0, d50A = 0, d50B = 0;
  std::string batch;
  std::optional<std::string> name;
  float comp = 0;
  std::string hex;
  std::int32_t owningCompositionDetailPosition = 0;
  std::string owningProductUUID;
  std::optional<std::string> illuminant;
  std::optional<std::string> observer;
  std::optional<std::string> model;
};

struct HRLMProductImage {
  std::string key;
  std::string url;
};

/// One reflectance curve: `curve[i]` at `start + i·step` nm.
struct HRLMSpectrum {
  std::int32_t start = 0;
  std::int32_t step = 0;
  std::string batch;
  std::optional<std::string> model;
  std::int32_t owningCompositionDetailPosition = 0;
  std::string owningProductUUID;
  std::vector<float> curve;
};

/// One catalogue product.
struct HRLMOfflineProduct {
  std::string uuid;
  std::string name;
  std::string code;
  std::string hex;
  double vendorOrder = 0;
  double hue = 0;
  double saturation = 0;
  double brightness = 0;
  std::vector<HRLMProductKV> filters;
  std::vector<HRLMProductKV> attributes;
  std::vector<HRLMProductImage> images;
  std::vector<HRLMBatchedLab> colors;
  bool isInspiration = false;
  std::vector<HRLMSpectrum> spectrums;
};

/// One completed catalogue download.
struct HRLMProductDownloadLogEntry {
  std::optional<dispatch::WallTime> date;
  std::optional<std::string> sdkKey;
};

/// The cached calibration record of one colorimeter.
struct HTintraModule {
  std::string serial;
  std::optional<Bytes> buf;  ///< the record's protobuf bytes
  std::optional<std::string> model;
  std::int32_t batch = 0;
};

/// The cached batch-alignment document of one source batch.
struct HCF_API HAlignmentHash {
  std::int32_t sourceBatch = 0;
  std::optional<Bytes> jsonData;
  std::int32_t updatedAt = 0;

  /// `jsonData` parsed; empty when absent or not JSON.
  std::optional<JsonValue> alignmentDic() const;
  /// "priorities" of the document when present and not empty.
  std::optional<JsonValue> priorityArray() const;
  /// The targets of this source under "uANN": the priorities that are targets, in priority
  /// order, then the other targets in the document's order. Empty when the document or the
  /// source's member is missing.
  std::optional<std::vector<std::string>> sortedTargetBatches() const;
};

/// The cached model data of one spectrometer.
struct HCF_API HRLMSpectroModule {
  std::string serial;
  std::optional<std::string> model;
  std::optional<std::string> batch;
  std::int32_t updatedAt = 0;
  std::optional<dispatch::WallTime> updatedAtLastChecked;
  std::optional<Bytes> annJsonData;
  std::optional<Bytes> mlmodelcURLStringsData;

  /// `annJsonData` parsed; empty when absent or not JSON.
  std::optional<JsonValue> annJSON() const;
  /// One file path per entry of `mlmodelcURLStringsData`, inside the data directory; empty
  /// when absent or not a JSON array of texts.
  std::optional<std::vector<std::filesystem::path>> cModelUrls() const;
  /// Whole hours since the last server check (the kit's calendar clock).
  std::int32_t hrsSinceServerChecked() const;
  /// More than 24 hours since the last check (or never checked).
  bool needToCheckServerForUpdatedInfo() const;
};

HCF_NAMESPACE_END
