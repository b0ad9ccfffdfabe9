// A products store file searched on the calling thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/result.h"
#include "hcf/platform/predicate/predicate.h"
#include "hcf/products/hcf_product.h"
#include "hcf/products/hcf_product_search.h"
#include "hcf/products/hcf_product_search_result.h"

HCF_NAMESPACE_BEGIN

/// A filter value of a panel and how many products choosing it would leave.
struct HCFProductFilterCount {
  HCFProductKV filter;         ///< the filter value
  std::uint64_t products = 0;  ///< how many products (or inspirations) it would leave
};

/// A products store file (made by HCFProductStoreBuilder, or a downloaded catalogue) searched
/// synchronously on the calling thread: for services that answer searches over a catalogue of
/// their own, for tools and for scripts. The kit's own catalogue is searched with
/// HCFProductSearch on the kit's queues; both give the same answers for the same store.
///
/// Any thread may call; each uses a connection of its own, opened again when the file is
/// replaced. Every operation reports a store that can no longer be read as an error.
class HCF_API HCFProductCatalog {
 public:
  /// Opens the store at `storeFile` read-only: an error naming the problem when there is no
  /// file or it cannot be read as a products store (a version the kit discards or a newer
  /// kit's, a product table or column missing). The file is never written.
  static Result<HCFProductCatalog> open(const std::filesystem::path& storeFile);

  /// The store file the catalogue reads.
  const std::filesystem::path& file() const { return file_; }

  /// How many products (inspirations included) match `where`; all when none.
  Result<std::uint64_t> count(const std::optional<predicate::Predicate>& where = {}) const;

  /// Runs `search` as the kit runs it offline: colour search when it has a colour term, else
  /// text search, else all products; products or inspirations by its search type, with its
  /// filters, options, sort order and paging. `preferOnline` is not consulted.
  Result<std::vector<HCFProductSearchResult>> search(const HCFProductSearch& search) const;

  /// The filter pairs in use by the products (the inspirations when `inspirations`) that pass
  /// the `selected` pairs (any value of a key, every key); all of them when none is selected.
  /// In the store's order (by key, then value).
  Result<std::vector<HCFProductKV>> filterValues(
      bool inspirations, const std::vector<HCFProductKV>& selected = {}) const;

  /// The filter panel for the `selected` pairs: every value offered, with the number of
  /// products (inspirations when `inspirations`) that have it and pass the selections of the
  /// other keys. Values of one key combine by OR, so a key's other values stay offered, with
  /// their counts, after one of them is chosen. Values no product would leave are not offered.
  Result<std::vector<HCFProductFilterCount>> filterCounts(
      bool inspirations, const std::vector<HCFProductKV>& selected = {}) const;

 private:
  explicit HCFProductCatalog(std::filesystem::path file) : file_(std::move(file)) {}
  std::filesystem::path file_;
};

HCF_NAMESPACE_END
