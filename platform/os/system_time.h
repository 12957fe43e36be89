#pragma once
// Calendar time: the platform's broken-down time record, the local clock and
// the conversions the media catalogue and the calendar use.
//
// Thread: any thread.

#include <cstdint>

#include "platform/os/file.h"

namespace ov {

// Fields as the platform keeps them: month 1-12, day of week 0 (Sunday) - 6.
struct SystemTime {
  uint16_t year;
  uint16_t month;
  uint16_t day_of_week;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

// The local date and time now.
SystemTime GetLocalTime();
// Test hook: from now on GetLocalTime continues from `seconds` since 1970
// (UTC); 0 returns to the system clock. Any thread.
void SetLocalTimeForTesting(int64_t seconds);
// A file time (UTC) as local date and time; false for a time the system
// calendar cannot represent.
bool FileTimeToLocalSystemTime(FileTime time, SystemTime* local);
// Seconds since 1970-01-01 UTC of a local date and time, daylight saving
// left to the time zone rules; 0 for a year below 1900 or a time that does
// not exist.
int64_t LocalSystemTimeToSeconds(const SystemTime& local);

}  // namespace ov
