// Conversions between the product store's records and the product model.
#pragma once

#include <vector>

#include "hcf/core/export.h"
#include "hcf/products/hcf_product.h"
#include "hcf/store/store_records.h"

HCF_NAMESPACE_BEGIN

/// Turns stored product records into the product model and back. Stateless; any thread.
class HCF_API HCFRealmSerialization {
 public:
  HCFRealmSerialization() = delete;

  /// The model of a stored product (its hex and inspiration flag are not carried over).
  static HCFHalvernCloudProduct productFromRealmProduct(const HRLMOfflineProduct& product);
  /// The pair's key, value and their translations.
  static HCFProductKV kvFromRealmKV(const HRLMProductKV& kv);
  /// `kvFromRealmKV` of each, in order.
  static std::vector<HCFProductKV> KVsFromRealmKVs(const std::vector<HRLMProductKV>& kvs);
  /// Labs from the stored single-precision values; a colour without its illuminant or observer
  /// name is logged ("Missing obs/illum info") and read as D50, 2°.
  static std::vector<HCFProductBatchedLabColor> measuredColorsFromRealmBatchedLabs(
      const std::vector<HRLMBatchedLab>& colors);
  /// The curve in double precision; a negative start or step reads as 0.
  static HCFProductSpectrum spectrumFromRealm(const HRLMSpectrum& spectrum);

  /// The reverse: store records from the model ("2°"/"10°" observer names).
  static HRLMOfflineProduct realmProductFromProduct(const HCFHalvernCloudProduct& product);
  /// The record of a measured colour of the product `productUuid` (Lab in single precision).
  static HRLMBatchedLab realmBatchedLabFromMeasuredColor(const HCFProductBatchedLabColor& color,
                                                         const std::string& productUuid);
  /// The record of a pair, with its `kvHash` and the `isFilter` flag given.
  static HRLMProductKV realmKVFromKV(const HCFProductKV& kv, bool isFilter);
};

HCF_NAMESPACE_END
