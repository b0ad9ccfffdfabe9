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
  std::optional<std::string> key;            ///< the key ("category", "name", ...)
  std::optional<std::string> keyTranslated;  ///< the key as shown to the user
  std::optional<std::string> val;            ///< the value
  std::optional<std::string> valTranslated;  ///< the value as shown to the user

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
  /// A hash of key and value, consistent with `==`.
  std::size_t hash() const;
  /// "<key> - <val>".
  std::string description() const;
};

/// An image of a product: its kind and URL.
struct HCF_API HCFProductImage {
  std::optional<std::string> key;  ///< the image's role ("swatch", ...)
  std::optional<std::string> url;  ///< its absolute URL

  /// True when role and URL are equal (both unset counts as equal).
  bool isEqualToImage(const HCFProductImage& other) const;
  /// When `a` is set, `b` must be set and as long; then pairwise equal.
  static bool areImagesEqualTo(const std::optional<std::vector<HCFProductImage>>& a,
                               const std::optional<std::vector<HCFProductImage>>& b);
};

/// A reflectance curve of one of the product's colours, for one instrument batch.
struct HCF_API HCFProductSpectrum {
  /// The reflectance samples, 0 to 1, from `start` every `step`.
  std::optional<std::vector<double>> curve;
  std::uint64_t start = 0;  ///< nm
  std::uint64_t step = 0;   ///< nm
  /// The instrument batch the curve was measured for.
  std::optional<std::string> batch;
  /// The instrument model, when the catalogue gives one.
  std::optional<std::string> model;
  /// Which of the product's colours the curve belongs to, from 0.
  std::int64_t colorIndex = 0;

  /// One point per sample: start + step·i nm.
  std::vector<HCFSpectralPoint> spectralCurve() const;
  /// True when start, step, batch and model are equal and, if this curve is set, `other` has
  /// the same curve.
  bool isEqualToSpectrum(const HCFProductSpectrum& other) const;
};

/// A measured colour of a product: batch ("adjusted" for the reference), instrument model,
/// Lab, name, composition, hex and which of the product's colours it belongs to.
struct HCF_API HCFProductBatchedLabColor : HCFBatchedLabColor {
  /// The instrument model the value was measured or converted for.
  std::optional<std::string> model;
  std::optional<std::string> name;  ///< the colour's name in the catalogue
  /// The composition value the catalogue gives the colour ("comp"), the same for all its entries.
  std::int64_t composition = 0;
  /// The hex the catalogue gives the colour; when unset, `hex()` computes it from the Lab.
  std::optional<std::string> storedHex;
  std::int64_t colorIndex = 0;  ///< which of the product's colours it belongs to, from 0

  /// The stored hex, else the Lab's.
  std::string hex() const;
  /// True when batch and Lab are equal (`HCFLabColor::isEqualToLab`).
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
  std::optional<std::string> uuid;  ///< the product's identity in the catalogue
  /// The filter values it can be found by (its category among them).
  std::optional<std::vector<HCFProductKV>> filters;
  /// Its attributes: code, name, vendor, collection and whatever else the catalogue gives.
  std::optional<std::vector<HCFProductKV>> attributes;
  std::optional<std::vector<HCFProductImage>> images;  ///< its images, in catalogue order
  /// Its measured colours: for each colour, the entry of every batch, then its reference
  /// colour of batch "adjusted".
  std::optional<std::vector<HCFProductBatchedLabColor>> internalColors;
  std::optional<std::vector<HCFProductSpectrum>> spectra;  ///< its reflectance curves
  double vendorOrder = 0;  ///< the vendor's own order, the first key of the default sort
  double saturation = 0;   ///< a sort key the catalogue gives
  double hue = 0;          ///< a sort key the catalogue gives
  double brightness = 0;   ///< a sort key the catalogue gives

  /// The value of the first attribute whose key equals `key` ignoring case; "" when none.
  std::string valForAttr(std::string_view key) const;
  /// The value of the attribute "code", "name", "vendor" or "collection" (see `valForAttr`);
  /// "" when the product has none.
  ///@{
  std::string code() const { return valForAttr("code"); }
  std::string name() const { return valForAttr("name"); }
  std::string vendor() const { return valForAttr("vendor"); }
  std::string collection() const { return valForAttr("collection"); }
  ///@}
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
  /// True when name, uuid (set on both), images, colours, spectra, filters and attributes
  /// are equal, and the code too when this product has one.
  bool isEqualToProduct(const HCFHalvernCloudProduct& other) const;
};

/// The product interface is that of the one product class.
using HCFProduct = HCFHalvernCloudProduct;

HCF_NAMESPACE_END
