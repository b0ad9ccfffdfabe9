#include "hcf/cloud/hcf_net_tint_vault.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "fixed_headers.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/serialization/tint_vault_serialization.h"

HCF_NAMESPACE_BEGIN

namespace {

// A count the service sends: a whole number that fits; anything else counts as none.
std::int64_t countOf(const JsonValue& v) {
  if (v.is_number_unsigned()) {
    const auto n = v.get<std::uint64_t>();
    return n > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(n);
  }
  if (v.is_number_integer()) return v.get<std::int64_t>();
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (std::isfinite(d) && d >= 0 && d < 9.2e18) return std::llround(d);
  }
  if (v.is_string()) {
    // As the platform reads a text's integer value: leading blanks, a sign, the digits up to
    // the first other character ("42" and " 42 items" are 42, "many" is 0).
    const std::string& text = v.get_ref<const std::string&>();
    errno = 0;
    const long long n = std::strtoll(text.c_str(), nullptr, 10);
    return errno == ERANGE ? (n < 0 ? INT64_MIN : INT64_MAX) : static_cast<std::int64_t>(n);
  }
  return 0;
}

// A colour difference the service sends, as the result's float: a number a float can hold;
// anything else is as if it were not there (0).
float deltaEOf(const JsonValue& v) {
  if (!v.is_number()) return 0;
  const double d = v.get<double>();
  return std::isfinite(d) && std::fabs(d) <= std::numeric_limits<float>::max()
             ? static_cast<float>(d)
             : 0.0f;
}

using S = HCFTintVaultSerialization;

void onMain(std::function<void()> work) { dispatch::mainQueue().async(std::move(work)); }

void postCount(const HCFNetCredentials& credentials, const JsonValue& body,
               HCFNetTintVault::CountCompletion onComplete) {
  HCFNetCommon::postJSON(
      body, credentials.headersForTintVault(), HCFNetTintVault::baseURL() + "/count",
      [onComplete](std::optional<JsonValue> json, std::optional<HCFError> error) {
        std::int64_t count = 0;
        std::optional<std::string> message;
        if (error) {
          message = error->localizedDescription;
        } else if (json && json->is_object()) {
          const auto it = json->find("count");
          if (it != json->end()) count = countOf(*it);
        }
        onMain([onComplete, count, message] {
          if (onComplete) onComplete(count, message);
        });
      });
}

// The service's panel; product panels answer on the transport's queue, inspiration panels on
// the main queue (errors at once, on the transport's queue).
void postFilters(const HCFNetCredentials& credentials, const JsonValue& body, bool inspirations,
                 HCFNetTintVault::FilterSetCompletion onComplete) {
  const std::string path = inspirations ? "/filters3/inspirations" : "/filters3";
  HCFNetCommon::postJSON(
      body, credentials.headersForTintVault(), HCFNetTintVault::baseURL() + path,
      [onComplete, inspirations](std::optional<JsonValue> json, std::optional<HCFError> error) {
        if (error) {
          if (onComplete) onComplete(nullptr, std::move(error));
          return;
        }
        const JsonValue reply = json ? std::move(*json) : JsonValue::object();
        logLine(reply.dump());
        if (inspirations) {
          auto set = S::inspirationsFilterSetFromServerDictionary(reply);
          onMain([onComplete, set] {
            if (onComplete) onComplete(set, std::nullopt);
          });
        } else if (onComplete) {
          onComplete(S::filterSetFromServerDictionary(reply), std::nullopt);
        }
      });
}

}  // namespace

std::string HCFNetTintVault::baseURL() { return CloudEndpoints::current().apiHost + "/ss/v2"; }

void HCFNetTintVault::fetchProductCountUsingCredentials(const HCFNetCredentials& credentials,
                                                        CountCompletion onComplete) {
  postCount(credentials, JsonValue::object(), std::move(onComplete));
}

void HCFNetTintVault::fetchProductCountUsingCredentials(const HCFNetCredentials& credentials,
                                                        const JsonValue& filterDictionary,
                                                        CountCompletion onComplete) {
  postCount(credentials, filterDictionary, std::move(onComplete));
}

void HCFNetTintVault::fetchProductsStatusUsingCredentials(const HCFNetCredentials& credentials,
                                                          StatusCompletion onComplete) {
  http::Request request;
  request.url = baseURL() + "/download2_status";
  request.method = "GET";
  request.headers =
      cloud::withFixedHeaders(credentials.headersForTintVault(), cloud::kJSONContentType);
  HCFNetCommon::doJSONRequestOnCompErr(std::move(request), [onComplete](
                                                               std::optional<JsonValue> json,
                                                               std::optional<HCFError> error) {
    if (!onComplete) return;
    if (error) return onComplete(std::nullopt, std::move(error));
    std::optional<Date> date;
    if (json && json->is_object()) {
      const auto it = json->find("products_updated_at");
      if (it != json->end() && it->is_string()) {
        date = HCFNetCommon::dateFromRFC3339String(it->get<std::string>());
      }
    }
    if (!date) {
      return onComplete(std::nullopt,
                        HTUtility::invalidDataError("the catalogue status has no valid "
                                                    "\"products_updated_at\" date"));
    }
    onComplete(HCFNetProductsStatusResponse::responseWithProductsUpdatedAt(*date), std::nullopt);
  });
}

void HCFNetTintVault::performTintVaultProductSearchUsingCredentials(
    const HCFNetCredentials& credentials, const JsonValue& searchDictionary,
    SearchCompletion onComplete) {
  HCFNetCommon::postJSON(
      searchDictionary, credentials.headersForTintVault(), baseURL() + "/search2",
      [onComplete](std::optional<JsonValue> json, std::optional<HCFError> error) {
        if (error) {
          if (onComplete) onComplete({}, std::move(error));
          return;
        }
        std::vector<HCFProductSearchResult> results;
        if (json && json->is_object()) {
          const auto products = json->find("products");
          if (products != json->end() && products->is_array()) {
            for (const auto& element : *products) {
              float deltaE = 0;
              if (element.is_object()) {
                const auto dE = element.find("dE");
                if (dE != element.end()) deltaE = deltaEOf(*dE);
              }
              results.push_back(
                  HCFProductSearchResult::searchResult(S::productFromDictionary(element), deltaE));
            }
          }
        }
        onMain([onComplete, results = std::move(results)]() mutable {
          if (onComplete) onComplete(std::move(results), std::nullopt);
        });
      });
}

void HCFNetTintVault::fetchTintVaultFiltersUsingCredentials(const HCFNetCredentials& credentials,
                                                            const JsonValue& filterDictionary,
                                                            FilterSetCompletion onComplete) {
  postFilters(credentials, filterDictionary, false, std::move(onComplete));
}

void HCFNetTintVault::fetchTintVaultInspirationFiltersUsingCredentials(
    const HCFNetCredentials& credentials, const JsonValue& filterDictionary,
    FilterSetCompletion onComplete) {
  postFilters(credentials, filterDictionary, true, std::move(onComplete));
}

HCF_NAMESPACE_END
