// Scans, Lab colours and batched Labs as JSON dictionaries, and back.
//
// Dictionaries from outside are untrusted: a reader refuses a value of the wrong type (a text
// where a number belongs, an object where an array belongs) with error 9930 naming the key,
// and never throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hcf/core/json.h"
#include "hcf/core/json_read.h"
#include "hcf/core/result.h"
#include "hcf/products/hcf_product.h"
#include "hcf/products/hcf_product_filter_set.h"
#include "hcf/products/hcf_product_search.h"
#include "hcf/products/hcf_product_search_result.h"
#include "hcf/products/hcf_product_search_sort_descriptor.h"
#include "hcf/scan/color_scan.h"

HCF_NAMESPACE_BEGIN

/// Every JSON form of the kit: scans, Lab colours and batched Labs, products, searches, colour
/// terms, filter panels, search results and sort descriptors, each to a dictionary and back.
/// Stateless; any thread.
class HCF_API HCFTintVaultSerialization {
 public:
  HCFTintVaultSerialization() = delete;

  /// True for a scan written in the spectral form: a spectral scan, or a scan of another kind
  /// that gives a spectral curve. A colorimeter's scan is never one, whatever its model.
  static bool isSpectroScan(const HCFColorScan& scan);

  /// The spectral form ("batch", "model", "serial", "raw_color", "start", "step", "curve") or
  /// the tristimulus form ("batch", "model", "serial", "raw_color", "adjusted_lab",
  /// "adjusted_lab_10_degree" when that Lab is set, "batched_labs" when there are any), each
  /// with "over_range": true when the scan is over range (`HCFColorScan::overRange`) and no
  /// such key otherwise.
  /// Values are taken as they are: a value that is not a finite number would be written as
  /// null, which no reader takes. To write a scan, use `colorScanToCheckedDictionary` or
  /// `colorScanToText`, which refuse such a scan.
  static JsonValue colorScanToDictionary(const HCFColorScan& scan);
  /// `colorScanToDictionary` when `colorScanFromDictionary` reads it back; otherwise error
  /// 9930 "The scan cannot be written: <why it would not read>", for instance
  /// `The scan cannot be written: "curve[3]" is not a finite number (nan)`. A curve given by
  /// another kind of scan must also lie at 400 nm, 410 nm, …, as the form cannot say otherwise:
  /// `The scan cannot be written: "curve[0]" is at 405 nm: a scan's curve runs from 400 nm
  /// every 10 nm`.
  static Result<JsonValue> colorScanToCheckedDictionary(const HCFColorScan& scan);
  /// A spectral scan when "curve" is present (needs "model", "raw_color", "serial", "batch"),
  /// else a tristimulus scan (needs "batch", "serial", "raw_color", "adjusted_lab").
  /// Every number must be finite: the error names the first that is not, as
  /// "raw_color[1]", "adjusted_lab.L" or "batched_labs[0].lab.b". A spectral scan's curve
  /// holds samples from 400 nm every 10 nm, from 400 nm to at least 700 nm and at most 830 nm
  /// (31 to 44 samples), the range the kit integrates exactly; "start" and "step", when
  /// present and not null, must be 400 and 10. Such refusals name the field, for instance
  /// `"start" is 405 nm: a scan's curve runs from 400 nm every 10 nm` or
  /// `"curve" has 1 sample: a scan's curve needs 31 to 44 (400 nm to 700–830 nm every 10 nm)`.
  /// "over_range", when present and not null, must be true or false (`"over_range" must be
  /// true or false`); a scan without it is not over range.
  static Result<std::shared_ptr<HCFColorScan>> colorScanFromDictionary(const JsonValue& dictionary);

  // ---- scan text and files ------------------------------------------------------------------
  //
  // A scan file holds one scan dictionary, or a JSON list of them; the Python module's
  // `hcf.save_scans` writes the list, `hcf.save_scan` the single dictionary, and its
  // `hcf.load_scans` reads both. Text is read with `parseJson` (nesting at most
  // `kJsonMaxDepth`); every refusal is error 9930, except a file that cannot be read.

  /// The scans of JSON text holding one scan dictionary or a list of them (an empty list gives
  /// none), in order. Errors: those of `parseJson`; "JSON text holds neither a scan dictionary
  /// nor a list of them"; "entry N is not a scan dictionary"; "entry N: <why the scan does not
  /// read>" (N from 0; a single dictionary's refusal is the reader's own, unprefixed).
  static Result<std::vector<std::shared_ptr<HCFColorScan>>> colorScansFromText(
      std::string_view text);
  /// The one scan of JSON text: a scan dictionary, or a list of exactly one. Errors: those of
  /// `colorScansFromText`, and "JSON text holds N scans where one was expected".
  static Result<std::shared_ptr<HCFColorScan>> colorScanFromText(std::string_view text);
  /// `colorScansFromText` of the file at `path`, errors prefixed with the path ("Invalid data:
  /// scans.json: entry 1: …"). A file that cannot be read is error code 0 "<path> cannot be
  /// read: <the system's reason>", with the errno in `native` (library "errno").
  static Result<std::vector<std::shared_ptr<HCFColorScan>>> colorScansFromFile(
      const std::filesystem::path& path);
  /// `colorScanFromText` of the file at `path`, with the errors of `colorScansFromFile`.
  static Result<std::shared_ptr<HCFColorScan>> colorScanFromFile(const std::filesystem::path& path);
  /// The scan's dictionary as JSON text (indented by two, UTF-8, ending in a line feed), or the
  /// error of `colorScanToCheckedDictionary`; a text field that is not UTF-8 is refused as
  /// `The scan cannot be written: "serial" is not UTF-8 text`.
  static Result<std::string> colorScanToText(const HCFColorScan& scan);
  /// The scans as a JSON list of their dictionaries, laid out as `colorScanToText` and as
  /// `hcf.save_scans` writes it; the first scan that cannot be written fails the whole text
  /// with "entry N: <why>" (a null pointer is "entry N is not a scan").
  static Result<std::string> colorScansToText(
      const std::vector<std::shared_ptr<HCFColorScan>>& scans);

  /// "L", "a", "b", "observer" ("TWO_DEGREE"/"TEN_DEGREE"), "illuminant" ("D50", …).
  static JsonValue labColorToDictionary(const HCFLabColor& lab);
  /// The same with "d50L", "d50a", "d50b"; the values are written as they are.
  static JsonValue labColorToD50Dictionary(const HCFLabColor& lab);
  /// "L", "a", "b", else "d50L", "d50a", "d50b"; observer 2° and illuminant D50 when absent or
  /// null, unknown names read as 2° and D50.
  static Result<HCFLabColor> labColorFromDictionary(const JsonValue& dictionary);

  /// {"lab": Lab dictionary, "batch": text}.
  static JsonValue batchedLabToDictionary(const HCFBatchedLabColor& lab);
  /// Needs "batch" and a readable "lab".
  static Result<HCFGenericBatchedLab> batchedLabfromDictionary(const JsonValue& dictionary);
  /// The entries that read, in order; entries lacking "batch" or a readable "lab" are left
  /// out, while an entry of the wrong type refuses the whole array.
  static Result<std::vector<HCFGenericBatchedLab>> batchedLabsFromArray(const JsonValue& array);
  /// One `batchedLabToDictionary` per entry, in order.
  static JsonValue batchedLabsToArray(const std::vector<HCFGenericBatchedLab>& labs);
  /// One Lab dictionary per entry, batch dropped.
  static JsonValue batchedLabsToSpectrumLabsArray(const std::vector<HCFGenericBatchedLab>& labs);

  // ---- products (values of the wrong type read as absent; these readers never fail) ----------

  /// "uuid", "filters", "product_attributes", "imgs" (when there are images), "colors" (in
  /// ascending colour index), "hex" (of the first colour), "sorts".
  static JsonValue productToDictionary(const HCFHalvernCloudProduct& product);
  /// Reads a product dictionary. An image whose value is not an absolute URL ("scheme:…"
  /// without blanks) and a measured colour without a batch (missing, null, neither text nor
  /// number) are left out.
  static HCFHalvernCloudProduct productFromDictionary(const JsonValue& dictionary);
  /// Nothing when `data` is not JSON.
  static std::optional<HCFHalvernCloudProduct> productFromData(std::string_view data);
  /// One product per line ended by a line feed (a last line without one is not read); a line
  /// that is not JSON gives a product with nothing set.
  static std::vector<HCFHalvernCloudProduct> productsFromJSONLData(std::string_view data);
  /// The same from a stream, one line in memory at a time: `each` gets every product with its
  /// line number (from 1) and whether the line was JSON, and returns false to stop. Returns
  /// the number of lines read.
  static std::size_t productsFromJSONL(
      std::istream& in,
      const std::function<bool(HCFHalvernCloudProduct&& product, std::size_t line, bool parsed)>&
          each);
  /// "imgs": one single-entry dictionary {kind: URL} per image.
  static JsonValue jsonForProductImages(const HCFHalvernCloudProduct& product);
  /// "k", "v", "kt", "vt".
  static JsonValue kvToDictionary(const HCFProductKV& kv);
  /// The pair of "k", "v", "kt", "vt"; a member missing or not text leaves its text unset.
  static HCFProductKV kvFromDictionary(const JsonValue& dictionary);
  /// One `kvToDictionary` per pair, in order.
  static JsonValue kvsToArray(const std::vector<HCFProductKV>& kvs);
  /// The pairs of the array's dictionaries, in order; other elements are skipped, and anything
  /// but an array gives none.
  static std::vector<HCFProductKV> kvsFromArray(const JsonValue& array);

  /// The "colors" array: one dictionary per colour index (ascending) with its reference Lab
  /// and its other batches ("mcs"; spectral batches, model 10 or more, with their spectrum).
  static JsonValue JSONFromColors(const std::vector<HCFProductBatchedLabColor>& colors,
                                  const std::optional<std::vector<HCFProductSpectrum>>& spectra);
  /// Every colour's measured batches, then its reference ("adjusted").
  static std::vector<HCFProductBatchedLabColor> measuredColorsFromJSON(const JsonValue& colors);
  /// The entries of one colour dictionary, as colour `index`: each measured colour of "mcs"
  /// (every Lab of "spectrum_labs" when it has a spectrum, else its "lab"), then the colour's
  /// own "lab" as batch "adjusted"; each with the colour's "name", "hex" and "comp".
  static std::vector<HCFProductBatchedLabColor> measuredColorsFromColorDictionary(
      const JsonValue& color, std::uint64_t index);
  /// The spectrum of every measured colour that has one, colour by colour, batch as the
  /// spectral scans' ("s1-1").
  static std::vector<HCFProductSpectrum> spectraFromColorsJSON(const JsonValue& colors);
  /// A measured colour with "spectrum" holding "start", "step" and "curve".
  static bool mcDictHasSpectrum(const JsonValue& measuredColor);
  /// The entry of a measured colour's "lab", "batch" and "model"; none when "lab" does not
  /// read.
  static std::optional<HCFProductBatchedLabColor> bLabFromMeasuredColorDictionary(
      const JsonValue& measuredColor);
  /// One entry per readable Lab of "spectrum_labs", each with the measured colour's "batch" and
  /// "model"; none without that array.
  static std::vector<HCFProductBatchedLabColor> bLabsFromSpectrumMCDictionary(
      const JsonValue& measuredColor);
  /// The measured-colour dictionary of one batch's entries: "batch", "model" and "lab" of the
  /// first; none for no entries.
  static std::optional<JsonValue> measuredColorDicFrom(
      const std::vector<HCFProductBatchedLabColor>& entries);
  /// The same for a spectral batch: "batch", the model and "spectrum" of the spectrum of that
  /// batch, "lab" (the D50, 2° entry) and "spectrum_labs" (every entry's Lab); none without
  /// spectra or entries.
  static std::optional<JsonValue> measuredColorDicWithSpectrumFrom(
      const std::vector<HCFProductBatchedLabColor>& entries,
      const std::optional<std::vector<HCFProductSpectrum>>& spectra);
  /// "start", "step", "curve".
  static JsonValue productSpectrumToJSON(const HCFProductSpectrum& spectrum);

  // ---- searches, colour terms and filter sets -------------------------------------------------

  /// The body the online search service takes under "search": "limit", "skip", "adjusted_lab"
  /// (the term's reference colour), "device_lab", "device_batch" and "unifiedBatchLabs" (its
  /// batched colours), "text_term", "sort" (by default vendor_order, code, name ascending),
  /// "filter" ({"attributes": {key: [values]}}; inspiration searches add category
  /// "Inspirations" when no category is chosen) and "includeDE".
  static JsonValue productSearchToServerDictionary(const HCFProductSearch& search);
  /// The application's form: "sort_descriptors", "limit", "skip", "filter_descriptors",
  /// "color_term", "color_search_opts", "text_term", "search_type".
  static JsonValue productSearchToDictionary(const HCFProductSearch& search);
  /// The search of the application's form. A member missing or of the wrong type keeps the
  /// default, except "limit" and "skip", which then read as 0; "search_type"
  /// "inspirations" is type 1, anything else 0.
  static HCFProductSearch productSearchFromDictionary(const JsonValue& dictionary);
  /// "object_type", "object_version", "adjusted_lab", "batched_labs" (when there are any).
  static JsonValue colorTermToDictionary(const HCFColorSearchTerm& term);
  /// The term of "adjusted_lab" and "batched_labs"; a member that does not read is left
  /// unset. Never null.
  static std::shared_ptr<HCFGenericColorSearchTerm> colorTermFromDictionary(
      const JsonValue& dictionary);
  /// `colorTermFromDictionary`.
  static std::shared_ptr<HCFGenericColorSearchTerm> searchTermFromDictionary(
      const JsonValue& dictionary);
  /// {"filter": {"attributes": {key: [values of the selected pairs, in order]}}}.
  static JsonValue filterSetToServerDictionary(const HCFProductFilterSet& set);
  /// Pairs from the service's filter groups ("filter_key", "filter_key_translated",
  /// "filter_values" of {"filter_value", "filter_value_translated"}).
  static std::vector<HCFProductKV> kvsFromServerArray(const JsonValue& groups);
  /// The service's filter groups of `kvs`: one group per key in order of first appearance.
  static JsonValue kvsToServerArray(const std::vector<HCFProductKV>& kvs);
  /// The service's panel reply ("all_filters", "current_filters", "available_filters") as an
  /// HCFOnlineProductFilterSet / an HCFOnlineInspirationsFilterSet.
  static std::shared_ptr<HCFProductFilterSet> filterSetFromServerDictionary(
      const JsonValue& dictionary);
  /// The same as an HCFOnlineInspirationsFilterSet.
  static std::shared_ptr<HCFProductFilterSet> inspirationsFilterSetFromServerDictionary(
      const JsonValue& dictionary);
  /// "selectedFilters", "availableFilters", "allFilters" as pair arrays.
  static JsonValue filterSetToDictionary(const HCFProductFilterSet& set);
  /// The panel of `filterSetToDictionary`'s form (a plain offline panel); a missing list
  /// reads as empty.
  static std::shared_ptr<HCFProductFilterSet> filterSetFromDictionary(const JsonValue& dictionary);

  // ---- search results -----------------------------------------------------------------------

  /// "product" (the product dictionary) and "delta_e" (when the result has a difference).
  static JsonValue productSearchResultToDictionary(const HCFProductSearchResult& result);
  /// One `productSearchResultToDictionary` per result, in order.
  static JsonValue productSearchResultsToArray(const std::vector<HCFProductSearchResult>& results);

  // ---- sort descriptors ------------------------------------------------------------------

  /// [{server key: "ASC" | "DESC"}] in order; the server key is the sort key lower-cased with
  /// blanks as "_" ("vendorOrder" is "vendor_order").
  static JsonValue sortDescriptorsToServerArray(
      const std::vector<HCFProductSearchSortDescriptor>& descriptors);
  /// [{"sort_key": displayable key ("Vendor Order"), "sort_ascending": bool}] in order.
  static JsonValue sortDescriptorsToArray(
      const std::vector<HCFProductSearchSortDescriptor>& descriptors);
  /// The descriptors of `sortDescriptorsToArray`, keys back in store form; entries without a
  /// text "sort_key" are skipped; anything but an array gives none.
  static std::vector<HCFProductSearchSortDescriptor> sortDescriptorsFromArray(
      const JsonValue& array);
  /// Lower-cased, blanks as "_"; "vendor_order" becomes the store's "vendorOrder".
  static std::string serverSortKeyFromDisplayableSortKey(std::string_view key);
  /// "_" as blanks, each word capitalised: "vendor_order" is "Vendor Order".
  static std::string displayableSortKeyFromServerSortKey(std::string_view key);
};

HCF_NAMESPACE_END
