// Conversions between the product store's records and the product model.
#pragma once

#include <vector>

#include "hcf/core/export.h"
#include "hcf/products/hcf_product.h"
#include "hcf/store/store_records.h"

HCF_NAMESPACE_BEGIN

class HCF_API HCFRealmSerialization {
 public:
  HCFRealmSerialization() = delete;

  /// The model of a stored product (its hex and inspiration flag are not carried over).
  static HCFHalvernCloudProduct productFromRealmProduct(const HRLMOfflineProduct& product);
  static HCFProductKV kvFromRealmKV(const HRLMProductKV& kv);
  static std::vector<HCFProductKV> KVsFromRealmKVs(const std::vector<HRLMProductKV>& kvs);
  /// Labs from the stored single-precision values; a colour without its illuminant or observer
  /// name is logged ("Missing obs/illum info") and read as D50, 2°.
  static std::vector<HCFProductBatchedLabColor> measuredColorsFromRealmBatchedLabs(
      const std::vector<HRLMBatchedLab>& colors);
  static HCFProductSpectrum spectrumFromRealm(const HRLMSpectrum& spectrum);

  /// The reverse: store records from the model ("2°"/"10°" observer names).
  static HRLMOfflineProduct realmProductFromProduct(const HCFHalvernCloudProduct& product);
  static HRLMBatchedLab realmBatchedLabFromMeasuredColor(const HCFProductBatchedLabColor& color,
                                                         const std::string& productUuid);
  static HRLMProductKV realmKVFromKV(const HCFProductKV& kv, bool isFilter);
};

HCF_NAMESPACE_END
