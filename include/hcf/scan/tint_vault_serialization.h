// Scans, Lab colours and batched Labs as JSON dictionaries, and back.
//
// Dictionaries from outside are untrusted: a reader refuses a value of the wrong type (a text
// where a number belongs, an object where an array belongs) with error 9930 naming the key,
// and never throws.
#pragma once

#include <memory>
#include <vector>

#include "hcf/json.h"
#include "hcf/result.h"
#include "hcf/scan/color_scan.h"

HCF_NAMESPACE_BEGIN

class HCF_API HCFTintVaultSerialization {
 public:
  HCFTintVaultSerialization() = delete;

  /// True for a spectral scan, or a scan whose model begins with "11".
  static bool isSpectroScan(const HCFColorScan& scan);

  /// The spectral form ("batch", "model", "serial", "raw_color", "start", "step", "curve") or
  /// the tristimulus form ("batch", "model", "serial", "raw_color", "adjusted_lab",
  /// "adjusted_lab_10_degree" when that Lab is set, "batched_labs" when there are any).
  static JsonValue colorScanToDictionary(const HCFColorScan& scan);
  /// A spectral scan when "curve" is present (needs "model", "raw_color", "serial", "batch"),
  /// else a tristimulus scan (needs "batch", "serial", "raw_color", "adjusted_lab").
  static Result<std::shared_ptr<HCFColorScan>> colorScanFromDictionary(const JsonValue& dictionary);

  /// "L", "a", "b", "observer" ("TWO_DEGREE"/"TEN_DEGREE"), "illuminant" ("D50", …).
  static JsonValue labColorToDictionary(const HCFLabColor& lab);
  /// The same with "d50L", "d50a", "d50b"; the values are written as they are.
  static JsonValue labColorToD50Dictionary(const HCFLabColor& lab);
  /// "L", "a", "b", else "d50L", "d50a", "d50b"; observer 2° and illuminant D50 when absent or
  /// null, unknown names read as 2° and D50.
  static Result<HCFLabColor> labColorFromDictionary(const JsonValue& dictionary);

  /// {"lab": Lab dictionary, "batch": text}.
  static JsonValue batchedLabToDictionary(const HCFBatchedLabColor& lab);
  /// Needs "batch" and a readable "lab".
  static Result<HCFGenericBatchedLab> batchedLabfromDictionary(const JsonValue& dictionary);
  /// The entries that read, in order; entries lacking "batch" or a readable "lab" are left
  /// out, while an entry of the wrong type refuses the whole array.
  static Result<std::vector<HCFGenericBatchedLab>> batchedLabsFromArray(const JsonValue& array);
  static JsonValue batchedLabsToArray(const std::vector<HCFGenericBatchedLab>& labs);
  /// One Lab dictionary per entry, batch dropped.
  static JsonValue batchedLabsToSpectrumLabsArray(const std::vector<HCFGenericBatchedLab>& labs);
};

HCF_NAMESPACE_END
