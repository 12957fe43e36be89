#include "platform/os/system_time.h"

#include <gtest/gtest.h>

#include "platform/os/environment.h"

using namespace ov;

TEST(SystemTime, FileTimesConvertThroughTheLocalCalendar) {
  SetEnvironmentValue("TZ", "UTC0");
  // 2024-02-29 12:34:56.789 UTC in 100 ns units since 1601.
  const FileTime leap_day = (1709210096ULL + 11644473600ULL) * 10000000ULL + 7890000ULL;
  SystemTime t{};
  ASSERT_TRUE(FileTimeToLocalSystemTime(leap_day, &t));
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.day_of_week, 4);  // Thursday
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(t.minute, 34);
  EXPECT_EQ(t.second, 56);
  EXPECT_EQ(t.milliseconds, 789);
  EXPECT_EQ(LocalSystemTimeToSeconds(t), 1709210096);
  t.year = 1899;
  EXPECT_EQ(LocalSystemTimeToSeconds(t), 0);
  EXPECT_GE(GetLocalTime().year, 2024);
  EXPECT_GT(CurrentFileTime(), leap_day);
}
