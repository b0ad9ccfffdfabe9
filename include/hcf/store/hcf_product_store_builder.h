// Preparing the products store that a catalogue download delivers: from a file of product
// dictionaries to a ready store file, and what such a file holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// A line of a product file that cannot become a stored product.
struct HCF_API HCFProductFileProblem {
  std::size_t line = 0;  ///< From 1.
  std::string reason;    ///< What is wrong with it.
};

/// What a products store holds.
struct HCF_API HCFProductStoreSummary {
  std::uint64_t products = 0;      ///< Products, inspirations included.
  std::uint64_t inspirations = 0;  ///< Products of category "Inspirations".
  std::uint64_t colors = 0;        ///< Measured colour entries.
  /// Reflectance curves.
  std::uint64_t spectra = 0;
  std::uint64_t filters = 0;      ///< Distinct filter key/value pairs in use.
  std::uint64_t colorGroups = 0;  ///< (batch, illuminant, observer) groups of the scan layout.
  bool scanLayoutReady = false;   ///< The colour-scan layout matches the products.
  /// The schema version the store was written with (`HCFRealmManager::kSchemaVersion`).
  std::int64_t schemaVersion = 0;
};

/// The outcome of a build: the summary of the new store, or the problems and the error that
/// stopped it.
struct HCF_API HCFProductStoreBuild {
  /// What the new store holds; none when the build failed.
  std::optional<HCFProductStoreSummary> summary;
  std::vector<HCFProductFileProblem> problems;  ///< Every bad line, in order.
  /// Why the build failed; none when it succeeded.
  std::optional<HCFError> error;
  /// True when the store was built.
  bool ok() const { return summary.has_value(); }
};

/// Builds and inspects prepared products stores.
class HCF_API HCFProductStoreBuilder {
 public:
  /// Reads product dictionaries (the product JSON form), one per line, and writes them as a new
  /// products store at `storeFile`: observers named as the colour search compares them
  /// ("TWO_DEGREE", "TEN_DEGREE"), products of category "Inspirations" marked, and the
  /// colour-scan layout prepared. Blank lines are skipped; a last line without a line feed is
  /// read. A line that is not a JSON object, lacks a "uuid" text or repeats an earlier uuid is
  /// a problem. The store appears at `storeFile` (replacing any file there) only when every
  /// line was good and the store was written completely; otherwise nothing is left behind and
  /// the error says why (9930 for bad lines, the store's error for a failed write).
  static HCFProductStoreBuild build(std::istream& productLines,
                                    const std::filesystem::path& storeFile);

  /// What the store at `storeFile` holds. Fails for a missing file or one that cannot be read
  /// as a products store (a version the kit discards or a newer kit's, a table or column
  /// missing). The file is never written.
  static Result<HCFProductStoreSummary> summarize(const std::filesystem::path& storeFile);

  /// Checks the store at `storeFile` against the published layout (docs/store-format.md):
  /// each problem named (a version it cannot read, a missing table or column, required values
  /// missing, repeated keys, links to nothing, observer or illuminant names colour search does
  /// not compare, malformed curves, damaged pages); none for a sound store. Fails only when the
  /// file cannot be opened at all. The file is never written.
  static Result<std::vector<std::string>> check(const std::filesystem::path& storeFile);

  /// The query plans SQLite chooses for the store's performance-critical queries, by name,
  /// one line per plan step.
  struct QueryPlan {
    std::string name;                ///< the query's name
    std::vector<std::string> steps;  ///< SQLite's plan, one step a line
  };
  /// The plans of the store at `storeFile`; an error when it cannot be opened. The file is
  /// never written.
  static Result<std::vector<QueryPlan>> queryPlans(const std::filesystem::path& storeFile);
};

HCF_NAMESPACE_END
