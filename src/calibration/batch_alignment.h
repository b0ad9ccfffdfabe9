// Where readings find the batch-alignment documents of the device-data service. The documents
// are kept by the device-data cache, a floor above; the cache registers itself here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN

/// The alignment document kept for one source batch.
struct BatchAlignment {
  std::optional<JsonValue> document;       ///< none when the kept bytes are not JSON
  std::vector<std::string> targetBatches;  ///< the document's target batches, sorted
};

/// The alignment of a source batch, or none when nothing is kept for it.
using BatchAlignmentProvider = std::function<std::optional<BatchAlignment>(std::int32_t)>;

/// Installs the provider readings ask (replacing the one before).
void setBatchAlignmentProvider(BatchAlignmentProvider provider);
/// The alignment of `sourceBatch` from the installed provider; none without one.
std::optional<BatchAlignment> batchAlignmentFor(std::int32_t sourceBatch);

/// What makes `bytes` unfit to be kept as the alignment document of `sourceBatch`, or none: it
/// must be a JSON object whose "uANN" holds, for this batch, at least one network that maps a
/// colour to a colour; "aANN", when present, an object; "priorities", when present, an array.
std::optional<std::string> alignmentDocumentProblem(std::string_view bytes,
                                                    std::int32_t sourceBatch);

HCF_NAMESPACE_END
