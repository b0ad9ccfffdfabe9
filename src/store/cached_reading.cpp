#include "hcf/store/cached_reading.h"

#include "hcf/core/ht_utility.h"
#include "hcf/store/hcf_realm_manager.h"

HCF_NAMESPACE_BEGIN

Result<std::shared_ptr<const HIColorReading>> toColorReading(const HITintraSensorReading& sense,
                                                             const std::string& serial) {
  auto record = HCFRealmManager::fetchTintraDeviceWithSerial(serial);
  if (!record) return HTUtility::noCalDataError(serial);
  return HIColorReading::initWith(sense, *record);
}

HCF_NAMESPACE_END
