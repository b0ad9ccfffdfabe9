#include "hcf/cloud/cloud_endpoints.h"

#include <cstdlib>
#include <mutex>
#include <optional>

HCF_NAMESPACE_BEGIN

namespace {

// No host of this name can exist (RFC 2606): an unconfigured kit fails fast and sends nothing.
constexpr const char* kUnconfiguredBase = "https://cloud.hcf.invalid";

std::mutex& endpointsMutex() {
  static std::mutex m;
  return m;
}

std::optional<CloudEndpoints>& endpointsSlot() {
  static std::optional<CloudEndpoints> slot;
  return slot;
}

std::string withoutTrailingSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

}  // namespace

CloudEndpoints CloudEndpoints::withBase(const std::string& baseUrl) {
  const std::string base = withoutTrailingSlash(baseUrl);
  return CloudEndpoints{base, base, base, base};
}

CloudEndpoints CloudEndpoints::current() {
  {
    const std::lock_guard lock(endpointsMutex());
    if (endpointsSlot()) return *endpointsSlot();
  }
  const char* env = std::getenv("HCF_CLOUD_URL");
  return withBase(env && *env ? env : kUnconfiguredBase);
}

void CloudEndpoints::setCurrent(const CloudEndpoints& endpoints) {
  CloudEndpoints e = endpoints;
  e.apiHost = withoutTrailingSlash(e.apiHost);
  e.alignmentStorage = withoutTrailingSlash(e.alignmentStorage);
  e.modelPackageStorage = withoutTrailingSlash(e.modelPackageStorage);
  e.productDatabaseStorage = withoutTrailingSlash(e.productDatabaseStorage);
  const std::lock_guard lock(endpointsMutex());
  endpointsSlot() = e;
}

HCF_NAMESPACE_END
