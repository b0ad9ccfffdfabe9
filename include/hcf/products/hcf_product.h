// A catalogue product as the application reads it: identity, attributes, filter values,
// images, measured colours per batch and instrument model, and reflectance spectra.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hcf/color/lab_color.h"
#include "hcf/color/platform_color.h"
#include "hcf/core/export.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/scan/batched_lab.h"
#include "hcf/scan/color_scan.h"
#include "hcf/scan/color_search_term.h"

HCF_NAMESPACE_BEGIN

/// A key/value pair of a product (an attribute or a filter value), with display texts.
struct HCF_API HCFProductKV {
  std::optional<std::string> key;
  std::optional<std::string> keyTranslated;
  std::optional<std::string> val;
  std::optional<std::string> valTranslated;

  /// The translated texts equal the key and value.
  static HCFProductKV kvWithKey(const std::string& key, const std::string& val);
  /// The store's filter predicate: some filter of the product has the hash
  /// "<key>$$<val>$$f".
  predicate::Predicate filterPredicate() const;
  /// Sorted by translated key, then translated value, ignoring case.
  static std::vector<HCFProductKV> sortedKVs(std::vector<HCFProductKV> kvs);
  /// The pairs grouped by key (keys in case-insensitive order), each group sorted.
  static std::vector<std::pair<std::string, std::vector<HCFProductKV>>> kvsByKey(
      const std::vector<HCFProductKV>& kvs);
  /// Key and value equal (the translations do not count).
  friend bool operator==(const HCFProductKV& a, const HCFProductKV& b) {
    return a.val == b.val && a.key == b.key;
  }
  /// Product equality: every text set on this pair is set and equal on `other`.
  bool isEqualTo(const HCFProductKV& other) const;
  std::size_t hash() const;
  /// "<key> - <val>".
  std::string description() const;
};

/// An image of a product: its kind and URL.
struct HCF_API HCFProductImage {
  std::optional<std::string> key;
  std::optional<std::string> url;

  bool isEqualToImage(const HCFProductImage& other) const;
  /// When `a` is set, `b` must be set and as long; then pairwise equal.
  static bool areImagesEqualTo(const std::optional<std::vector<HCFProductImage>>& a,
                               const std::optional<std::vector<HCFProductImage>>& b);
};

/// A reflectance curve of one of the product's colours, for one instrument batch.
struct HCF_API HCFProductSpectrum {
  std::optional<std::vector<double>> curve;
  std::uint64_t start = 0;  ///< nm
  std::uint64_t step = 0;   ///< nm
  std::optional<std::string> batch;
  std::optional<std::string> model;
  std::int64_t colorIndex = 0;

  /// One point per sample: start + step·i nm.
  std::vector<HCFSpectralPoint> spectralCurve() const;
  bool isEqualToSpectrum(const HCFProductSpectrum& other) const;
};

/// A measured colour of a product: batch ("adjusted" for the reference), instrument model,
/// Lab, name, composition, hex and which of the product's colours it belongs to.
struct HCF_API HCFProductBatchedLabColor : HCFBatchedLabColor {
  std::optional<std::string> model;
  std::optional<std::string> name;
  std::int64_t composition = 0;
  std::optional<std::string> storedHex;
  std::int64_t colorIndex = 0;

  /// The stored hex, else the Lab's.
  std::string hex() const;
  bool isEqualToBatchedLab(const HCFProductBatchedLabColor& other) const;
  /// Grouped by colour index, ascending.
  static std::vector<std::pair<std::int64_t, std::vector<HCFProductBatchedLabColor>>>
  colorsByColorIndex(const std::vector<HCFProductBatchedLabColor>& colors);
  /// Grouped by batch, in the order the batches first appear.
  static std::vector<std::pair<std::string, std::vector<HCFProductBatchedLabColor>>> colorsByBatch(
      const std::vector<HCFProductBatchedLabColor>& colors);
  /// The first entry under D50 for the 2° observer.
  static std::optional<HCFProductBatchedLabColor> d502degBatchedLabFrom(
      const std::vector<HCFProductBatchedLabColor>& colors);
};

/// A catalogue product (the kit's one product class). The application only reads products;
/// the JSON reader and the store build them.
class HCF_API HCFHalvernCloudProduct : public HCFColorSearchTerm {
 public:
  std::optional<std::string> uuid;
  std::optional<std::vector<HCFProductKV>> filters;
  std::optional<std::vector<HCFProductKV>> attributes;
  std::optional<std::vector<HCFProductImage>> images;
  std::optional<std::vector<HCFProductBatchedLabColor>> internalColors;
  std::optional<std::vector<HCFProductSpectrum>> spectra;
  double vendorOrder = 0;
  double saturation = 0;
  double hue = 0;
  double brightness = 0;

  /// The value of the first attribute whose key equals `key` ignoring case; "" when none.
  std::string valForAttr(std::string_view key) const;
  std::string code() const { return valForAttr("code"); }
  std::string name() const { return valForAttr("name"); }
  std::string vendor() const { return valForAttr("vendor"); }
  std::string collection() const { return valForAttr("collection"); }
  /// Copies of the Labs of the entries of batch "adjusted" (exactly), in order.
  std::vector<HCFLabColor> colors() const;
  /// The first colour's platform colour; white without colours.
  PlatformColor displayColor() const;
  /// The first colour, if any.
  std::optional<HCFLabColor> auxSearchLab() const override;
  /// The measured colours other than "adjusted", filtered as a scan's batched Labs.
  std::vector<HCFGenericBatchedLab> batchedLabsWithIllum(
      const std::optional<std::string>& illuminant,
      const std::optional<std::string>& observer) const override;
  /// "<code> - <name> (<filter values joined with ', '>)".
  std::string description() const;
  bool isEqualToProduct(const HCFHalvernCloudProduct& other) const;
};

/// The product interface is that of the one product class.
using HCFProduct = HCFHalvernCloudProduct;

HCF_NAMESPACE_END
