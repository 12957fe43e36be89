#pragma once
// What the media browser's and catalogue's tests share: dates in UTC, files
// dated with touch -d, the visible names of a list, and a documents folder
// with the time zone, the cards and the clock of the date filters set for
// the test's life.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/system_time.h"
#include "screens/browsers/media_catalogue.h"

namespace ovtest {

// Seconds since 1970 of a UTC date and time.
inline int64_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

// Dates path with touch -d ("2026-03-05 10:00:00").
inline void DateFile(const std::string& path, const std::string& date) {
  ASSERT_EQ(std::system(("touch -d '" + date + "' '" + path + "'").c_str()), 0) << path;
}

// Writes folder/name, creating its folders, and dates it.
inline void TouchDated(const std::string& folder, const std::string& name, const std::string& date) {
  const std::string path = folder + "/" + name;
  ASSERT_EQ(std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str()), 0);
  std::ofstream(path) << "x";
  DateFile(path, date);
}

// The names of a catalogue's visible records in list order.
inline std::vector<std::string> VisibleNames(screens::MediaCatalogue& c) {
  std::vector<std::string> names;
  screens::MediaCatalogue::Position p = c.records().begin();
  for (;;) {
    const screens::MediaCatalogue::Position found = c.NextVisible(&p);
    if (found == c.None()) break;
    names.push_back(found->name.ToUtf8Lossy());
  }
  return names;
}

// TZ=UTC, OVMIX_DOCUMENTS at documents (created), no storage cards, and the
// local clock at now (seconds since 1970; 0 leaves the system clock).
class DatedDocuments {
 public:
  DatedDocuments(const std::string& documents, int64_t now) {
    if (const char* tz = std::getenv("TZ")) old_tz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(std::system(("mkdir -p '" + documents + "'").c_str()), 0);
    setenv("OVMIX_DOCUMENTS", documents.c_str(), 1);
    setenv("OVMIX_CARDS", "", 1);
    ov::SetLocalTimeForTesting(now);
  }
  ~DatedDocuments() {
    ov::SetLocalTimeForTesting(0);
    unsetenv("OVMIX_DOCUMENTS");
    unsetenv("OVMIX_CARDS");
    if (old_tz_) setenv("TZ", old_tz_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  DatedDocuments(const DatedDocuments&) = delete;
  DatedDocuments& operator=(const DatedDocuments&) = delete;

 private:
  std::optional<std::string> old_tz_;
};

}  // namespace ovtest
