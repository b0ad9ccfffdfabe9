// The fixture catalogue: paint products made from the named-colour list, each with a smooth
// reflectance curve matching its colour and the colours measured from that curve.
#pragma once

#include <hcf/hcf.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace hcf_cloud::fixtures {

/// One named colour of the list: its display name and sRGB hex ("#rrggbb").
struct NamedColor {
  std::string name;
  std::string hex;
};

/// The named colours of `data/colors/color-name-list.csv` (read from `file`).
std::vector<NamedColor> namedColors(const std::filesystem::path& file);

/// The named colours of the list built into the fixtures (the same list).
const std::vector<NamedColor>& builtInNamedColors();

/// The product of named colour `index`: attributes (name, code, vendor, collection), filters
/// (category — "Inspirations" for about one product in twenty —, collection, finish, vendor,
/// base; "sheen" repeats the values of "finish", "line" has one value), a swatch image, the
/// sort values, the reference colour (batch "adjusted", D50 2°) and, integrated from the
/// product's reflectance curve under every illuminant and both observers, the colours of
/// batch "95" (model "4.0") and of the spectral batch "s1-1" (model "11.0") with its curve.
hcf::HCFHalvernCloudProduct catalogProduct(const NamedColor& color, std::size_t index);

/// Products for the first `count` named colours (all when `count` is larger); beyond the list,
/// synthetic colours spread over the gamut (for catalogues of any size).
std::vector<hcf::HCFHalvernCloudProduct> catalogProducts(const std::vector<NamedColor>& colors,
                                                         std::size_t count);

/// A product of a synthetic catalogue of any size (for benchmarks): a two-word name, code
/// "SY-nnnnnnn", the filters of the fixture catalogue (inspirations one in twenty), a colour
/// spread over the sRGB gamut with its reference (batch "adjusted"), a device colour of batch
/// "95" and a spectral batch "s1-1" (curve and Labs under D50 2° and D65 10°). Values are
/// rounded so that a line stays short (about 1.3 kB).
hcf::HCFHalvernCloudProduct syntheticProduct(std::size_t index, std::size_t catalogSize);

/// Writes each product as one line of product JSON; returns the bytes written.
std::uint64_t writeProductLines(std::ostream& out,
                                const std::vector<hcf::HCFHalvernCloudProduct>& products);

/// A published catalogue: the products store and its archive, as the cloud serves them.
struct CatalogFiles {
  std::filesystem::path store;    ///< "<dir>/halvern-products-<package>.realm"
  std::filesystem::path archive;  ///< "<dir>/prod-dbs-<package>.zip", the store as its entry
  std::uint64_t products = 0;
};

/// Builds the catalogue of the first `count` products of the built-in named colours (see
/// `catalogProducts`) for `packageID` in `dir`. Throws std::runtime_error.
CatalogFiles buildCatalog(const std::filesystem::path& dir, const std::string& packageID,
                          std::size_t count);

}  // namespace hcf_cloud::fixtures

namespace hcf_cloud {
class CloudWorld;
namespace fixtures {
/// Builds the catalogue of `count` products in `dir` and publishes it in `world` for the demo
/// package, changed at `updatedAt` (RFC 3339).
CatalogFiles publishCatalog(CloudWorld& world, const std::filesystem::path& dir, std::size_t count,
                            const std::string& updatedAt = "2026-11-30T09:00:00.000Z");
}  // namespace fixtures
}  // namespace hcf_cloud
