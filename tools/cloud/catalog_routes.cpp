#include "catalog_routes.h"

#include <hcf/hcf.h>

#include <algorithm>

namespace hcf_cloud {

namespace {

using hcf::HCFProductKV;
using hcf::JsonValue;

Answer message(int status, const std::string& text) {
  return Answer{status, JsonValue{{"message", text}}.dump(), "application/json", {}, {}};
}

Answer json(const JsonValue& body) { return Answer{200, body.dump(), "application/json", {}, {}}; }

// The selected pairs of {"filter": {"attributes": {key: [values]}}}.
std::vector<HCFProductKV> selectedPairs(const JsonValue& body) {
  std::vector<HCFProductKV> out;
  if (!body.is_object() || !body.contains("filter") || !body["filter"].is_object()) return out;
  const auto& filter = body["filter"];
  if (!filter.contains("attributes") || !filter["attributes"].is_object()) return out;
  for (const auto& [key, values] : filter["attributes"].items()) {
    if (!values.is_array()) continue;
    for (const auto& v : values) {
      if (v.is_string()) out.push_back(HCFProductKV::kvWithKey(key, v.get<std::string>()));
    }
  }
  return out;
}

bool hasInspirationsCategory(const std::vector<HCFProductKV>& pairs) {
  return std::any_of(pairs.begin(), pairs.end(), [](const HCFProductKV& kv) {
    return kv.key == "category" && kv.val == "Inspirations";
  });
}

std::optional<hcf::HCFLabColor> d50Lab(const JsonValue& v) {
  if (!v.is_object()) return std::nullopt;
  for (const char* k : {"d50L", "d50a", "d50b"}) {
    if (!v.contains(k) || !v[k].is_number()) return std::nullopt;
  }
  return hcf::HCFLabColor::labColorWithL(v["d50L"].get<double>(), v["d50a"].get<double>(),
                                         v["d50b"].get<double>(), hcf::HCFIlluminant::D50,
                                         hcf::HCFStdObserver::TwoDegree);
}

std::uint64_t unsignedOr(const JsonValue& v, const char* key, std::uint64_t fallback) {
  if (!v.contains(key) || !v[key].is_number()) return fallback;
  const double d = v[key].get<double>();
  return d <= 0 ? 0 : static_cast<std::uint64_t>(std::min(d, 1e9));
}

// The search of a "search2" body, as the kit sends it: colours in D50 2°, the filter pairs,
// the sort order and paging; inspirations when category = Inspirations is selected.
hcf::HCFProductSearch searchOf(const JsonValue& s) {
  auto search = hcf::HCFProductSearch::productSearch();
  search.limit = unsignedOr(s, "limit", 50);
  search.skip = unsignedOr(s, "skip", 0);
  auto term = std::make_shared<hcf::HCFGenericColorSearchTerm>();
  bool colour = false;
  if (s.contains("adjusted_lab")) {
    if (auto lab = d50Lab(s["adjusted_lab"])) {
      term->auxLab = *lab;
      colour = true;
    }
  }
  const auto addBatched = [&](const JsonValue& lab, const JsonValue& batch) {
    auto l = d50Lab(lab);
    if (!l || !batch.is_string()) return;
    term->batchedLabs.push_back(
        hcf::HCFGenericBatchedLab::batchedLabWith(*l, batch.get<std::string>()));
    colour = true;
  };
  if (s.contains("unifiedBatchLabs") && s["unifiedBatchLabs"].is_array()) {
    for (const auto& e : s["unifiedBatchLabs"]) {
      if (e.is_object() && e.contains("device_lab") && e.contains("device_batch")) {
        addBatched(e["device_lab"], e["device_batch"]);
      }
    }
  } else if (s.contains("device_lab") && s.contains("device_batch")) {
    addBatched(s["device_lab"], s["device_batch"]);
  }
  if (colour) search.colorTerm = term;
  if (s.contains("text_term") && s["text_term"].is_string()) {
    search.textTerm = s["text_term"].get<std::string>();
  }
  if (s.contains("sort") && s["sort"].is_array()) {
    std::vector<hcf::HCFProductSearchSortDescriptor> sorts;
    for (const auto& e : s["sort"]) {
      if (!e.is_object()) continue;
      for (const auto& [key, order] : e.items()) {
        sorts.push_back(hcf::HCFProductSearchSortDescriptor::sortDescriptorWithKey(
            hcf::HCFTintVaultSerialization::serverSortKeyFromDisplayableSortKey(key),
            !(order.is_string() && order.get<std::string>() == "DESC")));
      }
    }
    search.sortDescriptors = sorts;
  }
  const auto pairs = selectedPairs(s);
  if (!pairs.empty()) search.filters = pairs;
  if (hasInspirationsCategory(pairs)) search.searchType = 1;
  return search;
}

// The panel reply for a selection: every value offered (as a fresh panel offers them), the
// selection with its translations, and the values in use among the matching products.
JsonValue panel(const hcf::HCFProductCatalog& catalog, bool inspirations,
                const std::vector<HCFProductKV>& requested) {
  using S = hcf::HCFTintVaultSerialization;
  const auto every = catalog.filterValues(inspirations);
  if (!every.ok()) throw std::runtime_error(every.error().localizedDescription);
  const auto offered = hcf::HCFProductFilterSet::filterSetWithFilters(*every)->allFilters();
  std::vector<HCFProductKV> selected;
  for (const auto& r : requested) {
    const auto it = std::find(every->begin(), every->end(), r);
    selected.push_back(it != every->end() ? *it : r);
  }
  // The inspirations' own category is the panel's scope, not a choice of the user's.
  std::vector<HCFProductKV> narrowing = selected;
  if (inspirations) {
    std::erase_if(narrowing, [](const HCFProductKV& kv) {
      return kv.key == "category" && kv.val == "Inspirations";
    });
  }
  const auto available = catalog.filterValues(inspirations, narrowing);
  if (!available.ok()) throw std::runtime_error(available.error().localizedDescription);
  std::vector<HCFProductKV> availableOffered;
  for (const auto& kv : *available) {
    if (std::find(offered.begin(), offered.end(), kv) != offered.end()) {
      availableOffered.push_back(kv);
    }
  }
  return JsonValue{{"all_filters", S::kvsToServerArray(offered)},
                   {"current_filters", S::kvsToServerArray(selected)},
                   {"available_filters", S::kvsToServerArray(availableOffered)}};
}

// Runs `work` with the catalogue of the request's session: 401 for an unknown session, 404
// for a package without a catalogue, 400 for a body that is not JSON, 500 for a store that
// cannot be read.
template <typename Work>
Answer withCatalog(const CloudWorld& world, const httplib::Request& req, bool readsBody,
                   Work work) {
  const auto package = world.packageOfSession(req.get_header_value("Session-Token"),
                                              req.get_header_value("Cas-Sub-Id"));
  if (!package) return message(401, "hi-invalid_session");
  const auto release = world.catalog(*package);
  if (!release) return message(404, "hi-no_catalog");
  JsonValue body = JsonValue::object();
  if (readsBody && !req.body.empty()) {
    try {
      body = JsonValue::parse(req.body);
    } catch (const JsonValue::exception&) {
      return message(400, "hi-bad_request");
    }
  }
  auto catalog = hcf::HCFProductCatalog::open(release->store);
  if (!catalog.ok()) return message(500, "hi-catalog_unavailable");
  try {
    return work(*catalog, *release, body);
  } catch (const std::exception& e) {
    return message(500, std::string("hi-") + e.what());
  }
}

}  // namespace

void addCatalogRoutes(CloudServer& server, std::shared_ptr<CloudWorld> world) {
  using Catalog = hcf::HCFProductCatalog;
  using Release = CloudWorld::Catalog;

  server.route("POST", "/ss/v2/count", [world](const httplib::Request& req) {
    return withCatalog(*world, req, true, [](const Catalog& c, const Release&, const JsonValue& b) {
      const auto pairs = selectedPairs(b);
      std::optional<hcf::predicate::Predicate> where;
      if (!pairs.empty()) {
        where = hcf::HCFProductFilterSet::filterSetWithSelectedFilters(pairs)->searchPredicate();
      }
      const auto n = c.count(where);
      if (!n.ok()) throw std::runtime_error(n.error().localizedDescription);
      return json(JsonValue{{"count", *n}});
    });
  });

  server.route("GET", "/ss/v2/download2_status", [world](const httplib::Request& req) {
    return withCatalog(*world, req, false, [](const Catalog&, const Release& r, const JsonValue&) {
      return json(JsonValue{{"products_updated_at", r.updatedAt}});
    });
  });

  server.route("POST", "/ss/v2/search2", [world](const httplib::Request& req) {
    return withCatalog(*world, req, true, [](const Catalog& c, const Release&, const JsonValue& b) {
      if (!b.contains("search") || !b["search"].is_object()) {
        return message(400, "hi-missing_search");
      }
      const auto results = c.search(searchOf(b["search"]));
      if (!results.ok()) throw std::runtime_error(results.error().localizedDescription);
      JsonValue products = JsonValue::array();
      for (const auto& r : *results) {
        auto p = hcf::HCFTintVaultSerialization::productToDictionary(r.product);
        if (r.deltaE) p["dE"] = static_cast<double>(*r.deltaE);
        products.push_back(std::move(p));
      }
      return json(JsonValue{{"products", std::move(products)}});
    });
  });

  for (const bool inspirations : {false, true}) {
    server.route("POST", inspirations ? "/ss/v2/filters3/inspirations" : "/ss/v2/filters3",
                 [world, inspirations](const httplib::Request& req) {
                   return withCatalog(
                       *world, req, true,
                       [inspirations](const Catalog& c, const Release&, const JsonValue& b) {
                         return json(panel(c, inspirations, selectedPairs(b)));
                       });
                 });
  }

  // The storage bucket answers like a plain object store: the object, or an XML error.
  server.route(
      "GET", R"(/halvern-product-db-zips/v1/prod-dbs-([^/]+)\.zip)",
      [world](const httplib::Request& req) {
        const auto release = world->catalog(req.matches[1]);
        if (!release) {
          return Answer{404, "<Error><Code>NoSuchKey</Code></Error>", "application/xml", {}, {}};
        }
        return Answer{200, {}, "application/zip", {}, release->archive};
      });
}

}  // namespace hcf_cloud
