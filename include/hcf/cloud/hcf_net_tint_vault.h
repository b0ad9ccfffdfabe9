// The client of the cloud product search service: product counts, the catalogue's status,
// product searches and filter panels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/cloud/hcf_net_common.h"
#include "hcf/cloud/hcf_net_credentials.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/core/json.h"
#include "hcf/products/hcf_product_filter_set.h"
#include "hcf/products/hcf_product_search_result.h"

HCF_NAMESPACE_BEGIN

/// When the server's product catalogue last changed.
struct HCF_API HCFNetProductsStatusResponse {
  Date productsUpdatedAt{};  ///< the server's "products_updated_at"

  /// The response of `date`.
  static HCFNetProductsStatusResponse responseWithProductsUpdatedAt(Date date) {
    return HCFNetProductsStatusResponse{date};
  }
};

/// The service under "<api host>/ss/v2". Every request carries the credentials' session
/// headers ("Session-Token", "Cas-Sub-Id"); no state is kept, so calls may overlap.
///
/// Completion queues: the main queue for counts, for search answers and for inspiration
/// panels; the transport's callback queue (a global queue) for the status, for product panels
/// and for every error of a search or a panel.
class HCF_API HCFNetTintVault {
 public:
  HCFNetTintVault() = delete;

  /// Called once with the count, or with 0 and the error's description.
  using CountCompletion =
      std::function<void(std::int64_t count, std::optional<std::string> errorMessage)>;
  /// Called once with the status, or with none and the error.
  using StatusCompletion =
      std::function<void(std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>)>;
  /// Called once with the results in the service's order, or with none and the error.
  using SearchCompletion =
      std::function<void(std::vector<HCFProductSearchResult>, std::optional<HCFError>)>;
  /// Called once with the service's filter panel, or with none and the error.
  using FilterSetCompletion =
      std::function<void(std::shared_ptr<HCFProductFilterSet>, std::optional<HCFError>)>;

  /// "<api host>/ss/v2".
  static std::string baseURL();

  /// POST "/count" with an empty object: "count" of the reply. A failure gives 0 and the
  /// error's description.
  static void fetchProductCountUsingCredentials(const HCFNetCredentials& credentials,
                                                CountCompletion onComplete);
  /// POST "/count" with `filterDictionary` as the body.
  static void fetchProductCountUsingCredentials(const HCFNetCredentials& credentials,
                                                const JsonValue& filterDictionary,
                                                CountCompletion onComplete);
  /// GET "/download2_status": "products_updated_at" (RFC 3339). A reply without a valid
  /// date is reported as invalid data (9930): a guessed date could make an old catalogue
  /// look current.
  static void fetchProductsStatusUsingCredentials(const HCFNetCredentials& credentials,
                                                  StatusCompletion onComplete);
  /// POST "/search2" with `searchDictionary` ({"search": ...}): one result per element of
  /// "products", in the service's order, with "dE" as the difference (0 when absent). A reply
  /// without "products" is an empty result.
  static void performTintVaultProductSearchUsingCredentials(const HCFNetCredentials& credentials,
                                                            const JsonValue& searchDictionary,
                                                            SearchCompletion onComplete);
  /// POST "/filters3": the service's panel as an HCFOnlineProductFilterSet.
  static void fetchTintVaultFiltersUsingCredentials(const HCFNetCredentials& credentials,
                                                    const JsonValue& filterDictionary,
                                                    FilterSetCompletion onComplete);
  /// POST "/filters3/inspirations": the service's panel as an HCFOnlineInspirationsFilterSet.
  static void fetchTintVaultInspirationFiltersUsingCredentials(const HCFNetCredentials& credentials,
                                                               const JsonValue& filterDictionary,
                                                               FilterSetCompletion onComplete);
};

HCF_NAMESPACE_END
