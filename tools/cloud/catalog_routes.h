// The product search service ("/ss/v2") and the product-database storage of the reference
// cloud, answered from each package's catalogue with the kit's own catalogue code.
#pragma once

#include <memory>

#include "cloud_server.h"
#include "cloud_world.h"

namespace hcf_cloud {

/// "/ss/v2/count", "/ss/v2/download2_status", "/ss/v2/search2", "/ss/v2/filters3",
/// "/ss/v2/filters3/inspirations" (session headers of a known login required) and the
/// archives "/halvern-product-db-zips/v1/prod-dbs-<package>.zip" (streamed from disk).
void addCatalogRoutes(CloudServer& server, std::shared_ptr<CloudWorld> world);

}  // namespace hcf_cloud
