// The zone database's rule text read into the device's yearly form.
#include "platform/linux/kernel/posix_zone_rule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ce::kernel::parsePosixZoneRule;
using ce::kernel::tzifFooter;

std::string shown(const SYSTEMTIME& t) {
  return std::to_string(t.wYear) + "-" + std::to_string(t.wMonth) + " w" +
         std::to_string(t.wDay) + " d" + std::to_string(t.wDayOfWeek) + " " +
         std::to_string(t.wHour) + ":" + std::to_string(t.wMinute) + ":" +
         std::to_string(t.wSecond);
}

// Catches swapped start and end, a default change time other than 02:00, a lost "/3" (the
// EU's changes fall at different local hours) and the bias's sign turned round.
TEST(PosixZoneRule, YearlyChangesKeepTheirMonthWeekDayAndWallTime) {
  auto berlin = parsePosixZoneRule("CET-1CEST,M3.5.0,M10.5.0/3", 2026);
  ASSERT_TRUE(berlin);
  EXPECT_EQ(berlin->bias, -60);
  EXPECT_TRUE(berlin->daylight);
  EXPECT_EQ(berlin->daylightBias, -60);
  EXPECT_EQ(shown(berlin->daylightDate), "0-3 w5 d0 2:0:0");
  EXPECT_EQ(shown(berlin->standardDate), "0-10 w5 d0 3:0:0");

  auto newYork = parsePosixZoneRule("EST5EDT,M3.2.0,M11.1.0", 2026);
  ASSERT_TRUE(newYork);
  EXPECT_EQ(newYork->bias, 300);
  EXPECT_EQ(shown(newYork->daylightDate), "0-3 w2 d0 2:0:0");
  EXPECT_EQ(shown(newYork->standardDate), "0-11 w1 d0 2:0:0");
}

// Catches an explicit daylight offset ignored (Lord Howe saves half an hour), quoted names
// not read, half-hour biases cut to hours, and times past midnight left out of the day.
TEST(PosixZoneRule, OffsetsQuotedNamesAndExtendedTimes) {
  auto lordHowe = parsePosixZoneRule("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2026);
  ASSERT_TRUE(lordHowe);
  EXPECT_EQ(lordHowe->bias, -630);
  EXPECT_EQ(lordHowe->daylightBias, -30);
  // Greenland changes at "-1" and "0": 23:00 and midnight as times of day.
  auto nuuk = parsePosixZoneRule("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", 2026);
  ASSERT_TRUE(nuuk);
  EXPECT_EQ(nuuk->bias, 120);
  EXPECT_EQ(nuuk->daylightDate.wHour, 23);
  EXPECT_EQ(nuuk->standardDate.wHour, 0);
}

// Catches a day of the year counted from the wrong origin or across 29 February wrongly:
// "J60" is 1 March in every year, "59" is 29 February in a leap year.
TEST(PosixZoneRule, DaysOfTheYearBecomeThatYearsDate) {
  auto julian = parsePosixZoneRule("XST3XDT,J60,J300", 2024);
  ASSERT_TRUE(julian);
  EXPECT_EQ(shown(julian->daylightDate), "2024-3 w1 d0 2:0:0");
  auto zeroBased = parsePosixZoneRule("XST3XDT,59,300", 2024);
  ASSERT_TRUE(zeroBased);
  EXPECT_EQ(shown(zeroBased->daylightDate), "2024-2 w29 d0 2:0:0");
}

// A zone without daylight saving has no dates; text that is not a rule is refused rather
// than read as a zone at UTC (catches a parser that stops at the first unknown character).
TEST(PosixZoneRule, NoDaylightSavingAndMalformedText) {
  auto tokyo = parsePosixZoneRule("JST-9", 2026);
  ASSERT_TRUE(tokyo);
  EXPECT_EQ(tokyo->bias, -540);
  EXPECT_FALSE(tokyo->daylight);
  for (const char* bad : {"", "Europe/Berlin", "CET", "CET-1CEST,M3.5.0",
                          "CET-1CEST,M13.5.0,M10.5.0", "CET-1CEST,M3.6.0,M10.5.0",
                          "CET-1CEST,M3.5.7,M10.5.0",
                          "CET-1CEST,M3.5.0,M10.5.0/3x", "<+01-1", "CET-99"})
    EXPECT_FALSE(parsePosixZoneRule(bad, 2026)) << bad;
}

// Catches a version-1 file (no footer) or a file that is not TZif read as a rule.
TEST(PosixZoneRule, TheFooterComesOnlyFromTzifVersionTwoOnwards) {
  using namespace std::string_literals;
  EXPECT_EQ(tzifFooter("TZif2...data...\nCET-1CEST,M3.5.0,M10.5.0/3\n"s),
            "CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_FALSE(tzifFooter("TZif\0...data...\nCET-1\n"s));
  EXPECT_FALSE(tzifFooter("not a zone\nCET-1\n"s));
  EXPECT_FALSE(tzifFooter("TZif2 truncated"s));
}

}  // namespace
