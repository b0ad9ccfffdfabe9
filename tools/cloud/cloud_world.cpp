#include "cloud_world.h"

namespace hcf_cloud {

void CloudWorld::addLogin(const std::string& sdkKey, const nlohmann::ordered_json& credentials) {
  const std::lock_guard lock(mutex_);
  logins_[sdkKey] = credentials;
}

std::optional<nlohmann::ordered_json> CloudWorld::login(const std::string& sdkKey) const {
  const std::lock_guard lock(mutex_);
  auto it = logins_.find(sdkKey);
  if (it == logins_.end()) return std::nullopt;
  return it->second;
}

void CloudWorld::addDeviceKey(const std::string& key) {
  const std::lock_guard lock(mutex_);
  deviceKeys_.insert(key);
}

bool CloudWorld::acceptsDeviceKey(const std::string& key) const {
  const std::lock_guard lock(mutex_);
  return deviceKeys_.count(key) > 0;
}

void CloudWorld::putRecord(const std::string& serial, std::string bytes) {
  const std::lock_guard lock(mutex_);
  records_[serial] = std::move(bytes);
}

std::optional<std::string> CloudWorld::record(const std::string& serial) const {
  const std::lock_guard lock(mutex_);
  auto it = records_.find(serial);
  if (it == records_.end()) return std::nullopt;
  return it->second;
}

void CloudWorld::putAlignment(int batch, Alignment alignment) {
  const std::lock_guard lock(mutex_);
  alignments_[batch] = std::move(alignment);
}

std::optional<CloudWorld::Alignment> CloudWorld::alignment(int batch) const {
  const std::lock_guard lock(mutex_);
  auto it = alignments_.find(batch);
  if (it == alignments_.end()) return std::nullopt;
  return it->second;
}
void CloudWorld::putPackage(const std::string& serial, std::string zip) {
  const std::lock_guard lock(mutex_);
  packages_[serial] = std::move(zip);
}

std::optional<std::string> CloudWorld::package(const std::string& serial) const {
  const std::lock_guard lock(mutex_);
  auto it = packages_.find(serial);
  if (it == packages_.end()) return std::nullopt;
  return it->second;
}

void CloudWorld::putCatalog(const std::string& packageID, Catalog catalog) {
  const std::lock_guard lock(mutex_);
  catalogs_[packageID] = std::move(catalog);
}

std::optional<CloudWorld::Catalog> CloudWorld::catalog(const std::string& packageID) const {
  const std::lock_guard lock(mutex_);
  auto it = catalogs_.find(packageID);
  if (it == catalogs_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> CloudWorld::packageOfSession(const std::string& sessionToken,
                                                        const std::string& subscriptionID) const {
  const std::lock_guard lock(mutex_);
  for (const auto& [key, creds] : logins_) {
    const auto text = [&](const char* name) {
      return creds.contains(name) && creds[name].is_string() ? creds[name].get<std::string>()
                                                             : std::string();
    };
    if (!sessionToken.empty() && text("session_token") == sessionToken &&
        text("subscription_id") == subscriptionID) {
      return text("package_id");
    }
  }
  return std::nullopt;
}

namespace {

Answer message(int status, const std::string& text) {
  return Answer{status, nlohmann::ordered_json{{"message", text}}.dump(), "application/json", {}};
}

}  // namespace

void addKitRoutes(CloudServer& server, std::shared_ptr<CloudWorld> world) {
  server.route("POST", "/cas/sdk/auth", [world](const httplib::Request& req) {
    if (req.get_header_value("CAST") != kCastHeaderValue) return message(403, "hi-bad_client");
    nlohmann::ordered_json body;
    try {
      body = nlohmann::ordered_json::parse(req.body);
    } catch (const nlohmann::json::exception&) {
      return message(400, "hi-bad_request");
    }
    if (!body.is_object() || !body.contains("token") || !body["token"].is_string()) {
      return message(400, "hi-missing_token");
    }
    auto creds = world->login(body["token"].get<std::string>());
    if (!creds) return message(401, "hi-invalid_sdk_key");
    return Answer{200, creds->dump(), "application/json", {}};
  });

  server.route("GET", "/b2/ext_api/v1/tintra_device.protobuf",
               [world](const httplib::Request& req) {
                 if (!world->acceptsDeviceKey(req.get_header_value("HI-Auth-Token"))) {
                   return message(401, "hi-unauthorised");
                 }
                 auto bytes = world->record(req.get_param_value("serial"));
                 if (!bytes) return message(404, "hi-unknown_serial");
                 return Answer{200, *bytes, "application/x-protobuf", {}};
               });

  server.route("GET", R"(/orla_alignment_ann/(-?\d+)\.json)", [world](const httplib::Request& req) {
    int batch = 0;
    try {
      batch = std::stoi(req.matches[1]);
    } catch (const std::exception&) {
      return message(404, "not found");
    }
    auto a = world->alignment(batch);
    if (!a) return message(404, "not found");
    Answer answer{200, a->json, "binary/octet-stream", {}};
    if (!a->lastModified.empty()) answer.headers.emplace("Last-Modified", a->lastModified);
    return answer;
  });

  // The storage bucket answers like a plain object store: the object, or an XML error.
  server.route(
      "GET", R"(/irisel/model_packages/zips/ios/([^/]+)\.zip)",
      [world](const httplib::Request& req) {
        auto zip = world->package(req.matches[1]);
        if (!zip) {
          return Answer{404, "<Error><Code>NoSuchKey</Code></Error>", "application/xml", {}};
        }
        return Answer{200, *zip, "application/zip", {}};
      });
}

}  // namespace hcf_cloud
