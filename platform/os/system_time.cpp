#include "platform/os/system_time.h"

#include <time.h>

#include <atomic>

namespace ov {

namespace {

SystemTime FromTm(const struct tm& t, int milliseconds) {
  SystemTime s;
  s.year = static_cast<uint16_t>(t.tm_year + 1900);
  s.month = static_cast<uint16_t>(t.tm_mon + 1);
  s.day_of_week = static_cast<uint16_t>(t.tm_wday);
  s.day = static_cast<uint16_t>(t.tm_mday);
  s.hour = static_cast<uint16_t>(t.tm_hour);
  s.minute = static_cast<uint16_t>(t.tm_min);
  s.second = static_cast<uint16_t>(t.tm_sec);
  s.milliseconds = static_cast<uint16_t>(milliseconds);
  return s;
}

// Seconds added to the system clock by SetLocalTimeForTesting.
std::atomic<int64_t> g_local_offset{0};

}  // namespace

SystemTime GetLocalTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  now.tv_sec += static_cast<time_t>(g_local_offset.load(std::memory_order_relaxed));
  struct tm t;
  ::localtime_r(&now.tv_sec, &t);
  return FromTm(t, static_cast<int>(now.tv_nsec / 1000000));
}

void SetLocalTimeForTesting(int64_t seconds) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  g_local_offset.store(seconds == 0 ? 0 : seconds - static_cast<int64_t>(now.tv_sec), std::memory_order_relaxed);
}

bool FileTimeToLocalSystemTime(FileTime time, SystemTime* local) {
  // 11644473600 seconds lie between 1601-01-01 and 1970-01-01.
  const int64_t seconds = static_cast<int64_t>(time / 10000000ULL) - 11644473600LL;
  const int milliseconds = static_cast<int>((time / 10000ULL) % 1000ULL);
  time_t t = static_cast<time_t>(seconds);
  struct tm broken;
  if (!::localtime_r(&t, &broken) || broken.tm_year + 1900 > 30827) return false;
  *local = FromTm(broken, milliseconds);
  return true;
}

int64_t LocalSystemTimeToSeconds(const SystemTime& local) {
  if (local.year < 1900) return 0;
  struct tm t = {};
  t.tm_year = local.year - 1900;
  t.tm_mon = local.month - 1;
  t.tm_mday = local.day;
  t.tm_hour = local.hour;
  t.tm_min = local.minute;
  t.tm_sec = local.second;
  t.tm_isdst = -1;  // daylight saving unknown: the time zone decides
  time_t seconds = ::mktime(&t);
  return seconds == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(seconds);
}

}  // namespace ov
