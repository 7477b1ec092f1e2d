#include "native_common/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace sorvel {
namespace {

// Sets TZ for one test and restores the previous zone afterwards. POSIX zone
// rules, so no zone database is needed.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) setenv("TZ", old_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

constexpr const char kEastern[] = "EST5EDT,M3.2.0,M11.1.0";

TEST(DateTimeTest, YearIsGregorianPlus660) {
  ScopedTimeZone tz("JST-9");
  DateTime d;
  EXPECT_EQ(d.Raw(), 0u);
  EXPECT_EQ(d.Year(), 1970 + 660);
  EXPECT_EQ(d.Hour(), 9);
  ASSERT_TRUE(d.SetDate(2673, 7, 1));
  EXPECT_EQ(d.Raw(), 1372636800u);  // 2013-07-01 09:00 JST = 00:00 UTC
  EXPECT_EQ(d.Year(), 2673);
  EXPECT_EQ(d.Month(), 7);
  EXPECT_EQ(d.Day(), 1);
  EXPECT_EQ(d.DayOfWeek(), 1);  // a Monday
  ASSERT_TRUE(d.SetTime(23, 58, 7));
  EXPECT_EQ(d.Raw(), 1372636800u + 14 * 3600 + 58 * 60 + 7);
  EXPECT_EQ(d.Hour(), 23);
  EXPECT_EQ(d.Minute(), 58);
  EXPECT_EQ(d.Second(), 7);
}

TEST(DateTimeTest, RawTimeIsUnsignedPast2038) {
  ScopedTimeZone tz("UTC0");
  struct Case {
    uint32_t raw;
    int year, month, day, hour, minute, second;
  };
  const Case cases[] = {
      {0x7FFFFFFFu, 2038, 1, 19, 3, 14, 7},
      {0x80000000u, 2038, 1, 19, 3, 14, 8},
      {0xFFFFFFFFu, 2106, 2, 7, 6, 28, 15},
  };
  for (const Case& c : cases) {
    DateTime d(c.raw);
    EXPECT_EQ(d.Year(), c.year + 660);
    EXPECT_EQ(d.Month(), c.month);
    EXPECT_EQ(d.Day(), c.day);
    EXPECT_EQ(d.Hour(), c.hour);
    EXPECT_EQ(d.Minute(), c.minute);
    EXPECT_EQ(d.Second(), c.second);
  }
  DateTime d;
  ASSERT_TRUE(d.SetDate(2060 + 660, 3, 1));
  EXPECT_EQ(d.Raw(), 2845324800u);  // date -u -d 2060-03-01 +%s
  EXPECT_TRUE(DateTime(0x80000000u) > DateTime(0x7FFFFFFFu));
}

TEST(DateTimeTest, DatesOutsideTheRangeAreRefused) {
  ScopedTimeZone tz("UTC0");
  DateTime d(1000);
  EXPECT_FALSE(d.SetDate(2107 + 660, 1, 1));
  EXPECT_FALSE(d.SetDate(1969 + 660, 12, 31));
  EXPECT_EQ(d.Raw(), 1000u);
  DateTime end(0xFFFFFFFFu);
  EXPECT_FALSE(end.SetTime(23, 59, 59));
  EXPECT_EQ(end.Raw(), 0xFFFFFFFFu);
}

TEST(DateTimeTest, SetDateKeepsTheLocalHourAcrossDaylightSaving) {
  ScopedTimeZone tz(kEastern);
  DateTime d(1358269200u);  // 2013-01-15 12:00 EST
  ASSERT_EQ(d.Hour(), 12);
  ASSERT_TRUE(d.SetDate(2673, 7, 15));
  EXPECT_EQ(d.Hour(), 12);
  EXPECT_EQ(d.Raw(), 1373904000u);  // 12:00 EDT
}

TEST(DateTimeTest, SystemClockTimeIsTheValue) {
  for (const char* zone : {"UTC0", "JST-9", kEastern}) {
    ScopedTimeZone tz(zone);
    // Includes both 01:30 of the repeated hour at the end of daylight saving.
    for (uint32_t raw : {1372636800u, 1383456600u, 1383460200u, 0x80000000u, 0xF0000000u}) {
      timespec ts{-1, -1};
      ASSERT_TRUE(DateTime(raw).SystemClockTime(&ts)) << zone << " " << raw;
      EXPECT_EQ(ts.tv_sec, static_cast<time_t>(raw)) << zone;
      EXPECT_EQ(ts.tv_nsec, 0);
    }
  }
  EXPECT_FALSE(DateTime().SystemClockTime(nullptr));
}

TEST(DateTimeTest, NowAndComparisons) {
  DateTime d;
  uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  d.SetNow();
  uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  EXPECT_GE(d.Raw(), before);
  EXPECT_LE(d.Raw(), after);
  DateTime a(5), b(6);
  EXPECT_TRUE(a < b && a <= b && b > a && b >= a && a != b && a == DateTime(5));
  a.SetRaw(6);
  EXPECT_TRUE(a == b);
}

}  // namespace
}  // namespace sorvel
