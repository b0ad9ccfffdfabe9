// What the reference cloud knows: its logins, device-data keys, calibration records and
// alignment documents and spectrometer model packages. Thread-safe: tests change it while the
// server answers.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

#include "cloud_server.h"

namespace hcf_cloud {

/// The fixed value every login must carry in its "CAST" header.
inline constexpr const char* kCastHeaderValue = "5d2a8c47-91e3-4b6f-a0d8-3e7c19f4b2a6";

class CloudWorld {
 public:
  struct Alignment {
    std::string json;
    std::string lastModified;  ///< HTTP date of the file ("Sun, 06 Nov 1994 08:49:37 GMT")
  };

  /// A login: the SDK key and the credentials answered for it.
  void addLogin(const std::string& sdkKey, const nlohmann::ordered_json& credentials);
  std::optional<nlohmann::ordered_json> login(const std::string& sdkKey) const;
  /// A device-data key ("HI-Auth-Token") the service accepts.
  void addDeviceKey(const std::string& key);
  bool acceptsDeviceKey(const std::string& key) const;
  /// A calibration record (protobuf bytes) by serial.
  void putRecord(const std::string& serial, std::string bytes);
  std::optional<std::string> record(const std::string& serial) const;
  /// The alignment document of a source batch.
  void putAlignment(int batch, Alignment alignment);
  std::optional<Alignment> alignment(int batch) const;
  /// A release of a package's product catalogue: the products store the search service
  /// answers from, the archive the kit downloads, and when the catalogue last changed
  /// (RFC 3339).
  struct Catalog {
    std::filesystem::path store;
    std::filesystem::path archive;
    std::string updatedAt;
  };
  void putCatalog(const std::string& packageID, Catalog catalog);
  std::optional<Catalog> catalog(const std::string& packageID) const;
  /// The package of the login whose session these headers carry ("Session-Token",
  /// "Cas-Sub-Id"); none for an unknown session.
  std::optional<std::string> packageOfSession(const std::string& sessionToken,
                                              const std::string& subscriptionID) const;
  /// The model package (zip bytes) of a spectrometer.
  void putPackage(const std::string& serial, std::string zip);
  std::optional<std::string> package(const std::string& serial) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, nlohmann::ordered_json> logins_;
  std::set<std::string> deviceKeys_;
  std::map<std::string, std::string> records_;
  std::map<int, Alignment> alignments_;
  std::map<std::string, std::string> packages_;
  std::map<std::string, Catalog> catalogs_;
};

/// The kit's endpoints: "/cas/sdk/auth", "/b2/ext_api/v1/tintra_device.protobuf?serial=..."
/// "/orla_alignment_ann/<batch>.json" and "/irisel/model_packages/zips/ios/<serial>.zip",
/// answered from `world`.
void addKitRoutes(CloudServer& server, std::shared_ptr<CloudWorld> world);

}  // namespace hcf_cloud
