// Publishing the fixture catalogue: the products store built with the kit's builder and its
// archive, as the product-database storage serves it.
#include <sstream>
#include <stdexcept>

#include "catalog_fixture.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "package_builder.h"

namespace hcf_cloud::fixtures {

CatalogFiles buildCatalog(const std::filesystem::path& dir, const std::string& packageID,
                          std::size_t count) {
  std::filesystem::create_directories(dir);
  CatalogFiles files;
  files.store = dir / ("halvern-products-" + packageID + ".realm");
  files.archive = dir / ("prod-dbs-" + packageID + ".zip");
  std::stringstream lines;
  writeProductLines(lines, catalogProducts(builtInNamedColors(), count));
  const auto built = hcf::HCFProductStoreBuilder::build(lines, files.store);
  if (!built.ok()) {
    throw std::runtime_error("catalogue build failed: " +
                             (built.error ? built.error->localizedDescription : std::string()));
  }
  files.products = built.summary->products;
  zipFileTo(files.archive, files.store.filename().string(), files.store);
  return files;
}

CatalogFiles publishCatalog(CloudWorld& world, const std::filesystem::path& dir, std::size_t count,
                            const std::string& updatedAt) {
  auto files = buildCatalog(dir, kDemoPackageID, count);
  world.putCatalog(kDemoPackageID, {files.store, files.archive, updatedAt});
  return files;
}

}  // namespace hcf_cloud::fixtures
