// Where the kit's cloud lives: the paths are fixed, the hosts are the deployment's.
#pragma once

#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The base URLs of the cloud services (no trailing slash).
struct HCF_API CloudEndpoints {
  std::string apiHost;  ///< login ("/cas/sdk/auth"), device data ("/b2/ext_api/v1/"), search
  std::string alignmentStorage;        ///< ".../orla_alignment_ann/<batch>.json"
  std::string modelPackageStorage;     ///< ".../irisel/model_packages/zips/ios/<serial>.zip"
  std::string productDatabaseStorage;  ///< ".../<package>/prod-dbs-<date>.zip"

  /// All four on one base URL.
  static CloudEndpoints withBase(const std::string& baseUrl);
  /// The endpoints in use: set by the application, else from the environment variable
  /// HCF_CLOUD_URL, else a host that resolves nowhere (so nothing is sent by accident).
  static CloudEndpoints current();
  /// Makes `endpoints` (trailing slashes removed) the ones in use, for requests made from now
  /// on. Any thread.
  static void setCurrent(const CloudEndpoints& endpoints);
};

HCF_NAMESPACE_END
