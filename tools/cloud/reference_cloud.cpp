#include "reference_cloud.h"

#include "catalog_routes.h"
#include "fixtures.h"

namespace hcf_cloud {

ReferenceCloud::ReferenceCloud() : world_(std::make_shared<CloudWorld>()) {
  fixtures::populate(*world_);
  addKitRoutes(server_, world_);
  addCatalogRoutes(server_, world_);
  server_.start();
}

ReferenceCloud::~ReferenceCloud() { server_.stop(); }

}  // namespace hcf_cloud
