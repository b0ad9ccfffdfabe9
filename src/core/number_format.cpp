#include "hcf/core/number_format.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <locale>
#include <vector>

HCF_NAMESPACE_BEGIN

namespace {

// Adds one to the decimal digit string (no sign), carrying leftwards.
void incrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  digits.insert(digits.begin(), '1');
}

// Inserts the locale's thousands separator by its grouping rule (sizes from the right, the
// last size repeating).
std::string group(const std::string& digits, const std::numpunct<char>& punct) {
  const std::string rule = punct.grouping();
  if (rule.empty() || rule[0] <= 0 || rule[0] == CHAR_MAX) return digits;
  std::vector<std::string> groups;
  std::size_t end = digits.size();
  std::size_t ruleIndex = 0;
  auto size = static_cast<std::size_t>(rule[0]);
  while (end > size) {
    groups.push_back(digits.substr(end - size, size));
    end -= size;
    if (ruleIndex + 1 < rule.size() && rule[ruleIndex + 1] > 0 && rule[ruleIndex + 1] != CHAR_MAX) {
      size = static_cast<std::size_t>(rule[++ruleIndex]);
    }
  }
  std::string out = digits.substr(0, end);
  for (auto it = groups.rbegin(); it != groups.rend(); ++it) {
    out += punct.thousands_sep();
    out += *it;
  }
  return out;
}

}  // namespace

std::string str1decimal(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+∞" : "-∞";

  const bool negative = std::signbit(value);
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
  const std::string shortest(buf, res.ptr);
  const std::size_t dot = shortest.find('.');
  std::string whole = shortest.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : shortest.substr(dot + 1);

  if (fraction.size() > 1) {
    const std::string rest = fraction.substr(1);
    const bool half = rest == "5";
    const bool aboveHalf = rest[0] > '5' || (rest[0] == '5' && !half);
    // Halves go toward positive infinity: up in magnitude for positive numbers only.
    const bool up = aboveHalf || (half && !negative);
    std::string digits = whole + fraction.substr(0, 1);
    if (up) incrementDigits(digits);
    whole = digits.substr(0, digits.size() - 1);
    fraction = digits.substr(digits.size() - 1);
  }
  if (fraction == "0") fraction.clear();
  const bool zero = whole.find_first_not_of('0') == std::string::npos && fraction.empty();

  const auto& punct = std::use_facet<std::numpunct<char>>(std::locale());
  std::string out = (negative && !zero) ? "-" : "";
  out += group(whole, punct);
  if (!fraction.empty()) {
    out += punct.decimal_point();
    out += fraction;
  }
  return out;
}

HCF_NAMESPACE_END
