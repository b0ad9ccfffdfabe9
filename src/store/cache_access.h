// Work on the stores the kit fills itself (the device-data store, the download log).
#pragma once

#include "hcf/core/log.h"
#include "hcf/store/hcf_realm_manager.h"
#include "sqlite.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN
namespace store {

/// Runs `work` on the store of `kind`; a store that cannot be used gives `fallback`. A store
/// found damaged while working is moved aside and the work runs once more on a new one.
template <typename T, typename Work>
T withCache(StoreKind kind, const char* what, T fallback, Work work) {
  for (int attempt = 0;; ++attempt) {
    auto handle = HCFRealmManager::openStore(kind);
    if (!handle) return fallback;
    try {
      return work(*handle->impl().db);
    } catch (const sql::Failure& e) {
      logLine(std::string(what) + ": " + e.what());
      if (!isDamage(e) || attempt > 0) return fallback;
      handle.reset();
      setAsideDamagedCache(HCFRealmManager::storeFile(kind), e);
    }
  }
}

}  // namespace store
HCF_NAMESPACE_END
