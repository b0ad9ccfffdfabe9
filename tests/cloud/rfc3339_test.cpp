// RFC 3339 dates.
#include <gtest/gtest.h>

#include "hcf/cloud/hcf_net_common.h"
#include "hcf/core/log.h"

using hcf::Date;
using hcf::HCFNetCommon;
using namespace std::chrono;

namespace {
Date utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
  return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) +
         milliseconds(ms);
}
}  // namespace

TEST(RFC3339, TheThreeFormsParse) {
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2019-03-04T05:06:07.123+01:00"),
            utc(2019, 3, 4, 4, 6, 7, 123));
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2019-03-04T05:06:07Z"), utc(2019, 3, 4, 5, 6, 7));
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2019-03-04T05:06:07"), utc(2019, 3, 4, 5, 6, 7));
  // Lower case, a fraction with its zone, negative offsets, zones without a colon.
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2019-03-04t05:06:07.5z"),
            utc(2019, 3, 4, 5, 6, 7, 500));
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2019-03-04T05:06:07-05:30"),
            utc(2019, 3, 4, 10, 36, 7));
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2019-03-04T05:06:07.000+0100"),
            utc(2019, 3, 4, 4, 6, 7));
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String("2020-02-29T23:59:59Z"),
            utc(2020, 2, 29, 23, 59, 59));
}

TEST(RFC3339, MissingValueIsNowAndGarbageIsNothingWithALogLine) {
  const auto before = system_clock::now();
  const auto now = HCFNetCommon::dateFromRFC3339String(std::nullopt);
  ASSERT_TRUE(now);
  EXPECT_GE(*now, before);
  std::vector<std::string> lines;
  hcf::setLogHandler([&](std::string_view l) { lines.emplace_back(l); });
  for (const char* bad : {"", "yesterday", "2019-03-04", "2019-13-04T05:06:07Z",
                          "2019-02-30T05:06:07Z", "2019-03-04T25:06:07Z", "2019-03-04T05:06:07+01",
                          "2019-03-04T05:06:07Zjunk", "2019-03-04 05:06:07",
                          // Found by fuzzing: years the clock cannot hold.
                          "0026-12-08T17:54:08Z", "9999-12-31T23:59:59.999+01:00"}) {
    EXPECT_FALSE(HCFNetCommon::dateFromRFC3339String(std::string(bad))) << bad;
  }
  hcf::setLogHandler(nullptr);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[1], "Could not parse RFC3339 date: \"yesterday\" Possibly invalid format.");
}

TEST(RFC3339, WrittenInUtcWithMillisecondsAndALiteralZ) {
  EXPECT_EQ(HCFNetCommon::RFC3339StringFromDate(utc(2019, 3, 4, 5, 6, 7, 123)),
            "2019-03-04T05:06:07.123Z");
  EXPECT_EQ(HCFNetCommon::RFC3339StringFromDate(utc(2019, 3, 4, 5, 6, 7) + microseconds(999)),
            "2019-03-04T05:06:07.000Z");
  EXPECT_EQ(HCFNetCommon::RFC3339StringFromDate(utc(1969, 12, 31, 23, 59, 59, 500)),
            "1969-12-31T23:59:59.500Z");
  // Written dates read back.
  const Date d = utc(2031, 7, 1, 12, 0, 0, 42);
  EXPECT_EQ(HCFNetCommon::dateFromRFC3339String(HCFNetCommon::RFC3339StringFromDate(d)), d);
}
