// RFC 3339 dates: the three accepted forms and the one written form.
#include <cctype>
#include <chrono>
#include <cstdio>

#include "hcf/cloud/hcf_net_common.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN

namespace {

using namespace std::chrono;

// Reads exactly `n` digits at `pos`.
bool digits(const std::string& s, std::size_t& pos, std::size_t n, int& out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[pos + i];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  pos += n;
  return true;
}

bool literal(const std::string& s, std::size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

// "yyyy-MM-ddTHH:mm:ss", then a fraction ('.' and digits) when `fraction`, then a zone of the
// form ±HHMM when `zone`; nothing may follow.
std::optional<Date> parsePattern(const std::string& s, bool fraction, bool zone) {
  std::size_t pos = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!digits(s, pos, 4, year) || !literal(s, pos, '-') || !digits(s, pos, 2, month) ||
      !literal(s, pos, '-') || !digits(s, pos, 2, day) || !literal(s, pos, 'T') ||
      !digits(s, pos, 2, hour) || !literal(s, pos, ':') || !digits(s, pos, 2, minute) ||
      !literal(s, pos, ':') || !digits(s, pos, 2, second)) {
    return std::nullopt;
  }
  nanoseconds frac{0};
  if (fraction) {
    if (!literal(s, pos, '.')) return std::nullopt;
    const std::size_t start = pos;
    long long value = 0;
    long long scale = 1000000000;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
      if (scale > 1) {
        scale /= 10;
        value += (s[pos] - '0') * scale;
      }
      ++pos;
    }
    if (pos == start) return std::nullopt;
    frac = nanoseconds(value);
  }
  minutes offset{0};
  if (zone) {
    if (pos >= s.size() || (s[pos] != '+' && s[pos] != '-')) return std::nullopt;
    const int sign = s[pos] == '-' ? -1 : 1;
    ++pos;
    int zh = 0, zm = 0;
    if (!digits(s, pos, 2, zh) || !digits(s, pos, 2, zm) || zh > 23 || zm > 59) return std::nullopt;
    offset = minutes(sign * (zh * 60 + zm));
  }
  if (pos != s.size()) return std::nullopt;
  const year_month_day ymd{std::chrono::year(year),
                           std::chrono::month(static_cast<unsigned>(month)),
                           std::chrono::day(static_cast<unsigned>(day))};
  if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const sys_days days(ymd);
  // Whole seconds first: four-digit years all fit. The clock itself holds only about 292
  // years either side of 1970; a date outside it is not one the kit can use.
  const auto whole = days + hours(hour) + minutes(minute) + seconds(second) - offset;
  const auto earliest = ceil<seconds>(system_clock::time_point::min().time_since_epoch()) + 1s;
  const auto latest = floor<seconds>(system_clock::time_point::max().time_since_epoch()) - 1s;
  if (whole.time_since_epoch() < earliest || whole.time_since_epoch() > latest) return std::nullopt;
  return time_point_cast<system_clock::duration>(whole) +
         duration_cast<system_clock::duration>(frac);
}

}  // namespace

std::optional<Date> HCFNetCommon::dateFromRFC3339String(const std::optional<std::string>& text) {
  if (!text) return system_clock::now();
  std::string s;
  for (const char c : *text) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == 'Z') {
      s += "-0000";
    } else {
      s += upper;
    }
  }
  // The zone's colon goes ("+01:00" -> "+0100"); the time before index 20 keeps its colons.
  if (s.size() >= 21) {
    std::string head = s.substr(0, 20);
    for (std::size_t i = 20; i < s.size(); ++i) {
      if (s[i] != ':') head += s[i];
    }
    s = head;
  }
  if (auto d = parsePattern(s, true, true)) return d;
  if (auto d = parsePattern(s, false, true)) return d;
  if (auto d = parsePattern(s, false, false)) return d;
  logLine("Could not parse RFC3339 date: \"" + *text + "\" Possibly invalid format.");
  return std::nullopt;
}

std::string HCFNetCommon::RFC3339StringFromDate(Date date) {
  const auto ms = floor<milliseconds>(date);
  const auto days = floor<std::chrono::days>(ms);
  const year_month_day ymd{days};
  const auto timeOfDay = ms - days;
  const hh_mm_ss<milliseconds> t{timeOfDay};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<int>(t.hours().count()),
                static_cast<int>(t.minutes().count()), static_cast<int>(t.seconds().count()),
                static_cast<int>(t.subseconds().count()));
  return buf;
}

HCF_NAMESPACE_END
