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
  std::optional<std::string> key;            ///< the key
  std::optional<std::string> val;            ///< the value
  std::optional<std::string> keyTranslated;  ///< the key as shown to the user
  std::optional<std::string> valTranslated;  ///< the value as shown to the user
  /// Informative only: a pair is a filter value when a product lists it among its filters.
  bool isFilter = false;
  std::string kvHash;  ///< `makeKvHash` of key and value ("(null)" for a missing one)

  /// The identity of a pair: key, "$$", value, "$$", "f".
  static std::string makeKvHash(const std::string& key, const std::string& val);
};

/// One measured colour of a product (L*, a*, b* under the illuminant and observer named).
struct HRLMBatchedLab {
  /// L*, a*, b* in single precision, under `illuminant` and `observer` (D50 only by name).
  ///@{
  float d50L = 0, d50A = 0, d50B = 0;
  ///@}
  std::string batch;                ///< the batch; "adjusted" marks the reference colour
  std::optional<std::string> name;  ///< the colour's name
  float comp = 0;                   ///< the composition value, read back truncated to an integer
  std::string hex;                  ///< the colour's hex digits
  /// Which of the product's colours it is, from 0.
  std::int32_t owningCompositionDetailPosition = 0;
  std::string owningProductUUID;  ///< the owning product's `uuid`
  /// "D50", "D65", "A", "B", "C", "F2", "F7" or "F11"; with `observer`, unset reads as D50, 2°.
  std::optional<std::string> illuminant;
  /// "TWO_DEGREE" or "TEN_DEGREE", the names colour search compares.
  std::optional<std::string> observer;
  std::optional<std::string> model;  ///< the instrument model the value is for
};

/// One image of a product.
struct HRLMProductImage {
  std::string key;  ///< the image's role
  std::string url;  ///< its absolute URL
};

/// One reflectance curve: `curve[i]` at `start + i·step` nm.
struct HRLMSpectrum {
  std::int32_t start = 0;            ///< nm
  std::int32_t step = 0;             ///< nm
  std::string batch;                 ///< the instrument batch it was measured for
  std::optional<std::string> model;  ///< the instrument model, when known
  /// Which of the product's colours it belongs to, from 0.
  std::int32_t owningCompositionDetailPosition = 0;
  std::string owningProductUUID;  ///< the owning product's `uuid`
  std::vector<float> curve;       ///< the reflectance samples, single precision
};

/// One catalogue product.
struct HRLMOfflineProduct {
  std::string uuid;                       ///< the product's identity, unique in the store
  std::string name;                       ///< attribute "name"
  std::string code;                       ///< attribute "code"
  std::string hex;                        ///< the hex of the product's first colour
  double vendorOrder = 0;                 ///< sort key: the vendor's own order
  double hue = 0;                         ///< sort key
  double saturation = 0;                  ///< sort key
  double brightness = 0;                  ///< sort key
  std::vector<HRLMProductKV> filters;     ///< its filter values, in order
  std::vector<HRLMProductKV> attributes;  ///< its attributes, in order
  std::vector<HRLMProductImage> images;   ///< its images, in order
  std::vector<HRLMBatchedLab> colors;     ///< its measured colours, in order
  bool isInspiration = false;             ///< true for a product of category "Inspirations"
  std::vector<HRLMSpectrum> spectrums;    ///< its reflectance curves
};

/// One completed catalogue download.
struct HRLMProductDownloadLogEntry {
  std::optional<dispatch::WallTime> date;  ///< when the download completed
  std::optional<std::string> sdkKey;       ///< the SDK key it was made with
};

/// The cached calibration record of one colorimeter.
struct HTintraModule {
  std::string serial;        ///< the colorimeter's serial number, the key
  std::optional<Bytes> buf;  ///< the record's protobuf bytes
  /// The record's hardware version.
  std::optional<std::string> model;
  /// The batch of its calibration in force; 0 without one.
  std::int32_t batch = 0;
};

/// The cached batch-alignment document of one source batch.
struct HCF_API HAlignmentHash {
  std::int32_t sourceBatch = 0;   ///< the batch the document aligns from, the key
  std::optional<Bytes> jsonData;  ///< the document's JSON text
  /// The document's Last-Modified time at the server, seconds since 1970; 0 when not given.
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
  std::string serial;                ///< the spectrometer's serial number, the key
  std::optional<std::string> model;  ///< the model the package names
  std::optional<std::string> batch;  ///< the batch the package names
  std::int32_t updatedAt = 0;        ///< not kept up to date by the kit: 0
  /// When the server was last asked for a newer package; unset for never.
  std::optional<dispatch::WallTime> updatedAtLastChecked;
  std::optional<Bytes> annJsonData;  ///< the package's description (info.json), JSON text
  /// The compiled models' paths relative to the data directory, as a JSON array of texts.
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
