// Predicates built from values applications and the cloud hand in, rendered to SQL: values
// only ever become bound parameters.
#include <fuzzer/FuzzedDataProvider.h>
#include <hcf/hcf.h>

#include <algorithm>

#include "fuzz_support.h"
#include "store/product_store.h"

namespace {

namespace p = hcf::predicate;

const char* const kKeys[] = {"name", "code", "kvHashes", "category", "labs.L", "no.such.key"};

p::Value value(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return nullptr;
    case 1:
      return in.ConsumeBool();
    case 2:
      return in.ConsumeIntegral<std::int64_t>();
    case 3:
      return in.ConsumeFloatingPoint<double>();
    default:
      return in.ConsumeRandomLengthString(64);
  }
}

p::Predicate tree(FuzzedDataProvider& in, int depth) {
  const std::string key = kKeys[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)];
  const int kind = depth >= 6 ? in.ConsumeIntegralInRange(0, 2) : in.ConsumeIntegralInRange(0, 5);
  switch (kind) {
    case 0:
      return p::Predicate::equal(key, value(in));
    case 1:
      return p::Predicate::containsCD(key, in.ConsumeRandomLengthString(64));
    case 2: {
      std::vector<p::Value> values;
      for (int i = in.ConsumeIntegralInRange(0, 4); i > 0; --i) values.push_back(value(in));
      return p::Predicate::in(key, values);
    }
    case 3:
      return p::Predicate::andOf({tree(in, depth + 1), tree(in, depth + 1)});
    case 4:
      return p::Predicate::orOf({tree(in, depth + 1), tree(in, depth + 1)});
    default:
      return p::Predicate::notOf(tree(in, depth + 1));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const auto predicate = tree(in, 0);
  (void)predicate.text();
  if (auto fragment = predicate.sql(hcf::store::productMapping())) {
    const auto marks = std::count(fragment->sql.begin(), fragment->sql.end(), '?');
    HCF_FUZZ_CHECK(static_cast<std::size_t>(marks) == fragment->parameters.size());
  }
  return 0;
}
