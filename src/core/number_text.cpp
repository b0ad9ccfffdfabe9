#include "number_text.h"

#include <charconv>

HCF_NAMESPACE_BEGIN
namespace text {

std::string fixed(double value, int digits) {
  char buf[400];  // the largest double with its digits fits with room to spare
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, digits);
  return std::string(buf, res.ptr);
}

}  // namespace text
HCF_NAMESPACE_END
