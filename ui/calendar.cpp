#include "ui/calendar.h"

#include <algorithm>

#include "platform/os/system_time.h"
#include "ui/screen_links.h"
#include "ui/ui_host.h"

namespace ui {
namespace {

constexpr char16_t kTitleOption[] = u"Cal_Date";
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// The first second of a local date: its 00:00:00, or on a day whose
// midnight a clock change skips, the first time the day has.
int64_t StartOfDay(int year, int month, int day) {
  int64_t start = Calendar::MakeDate(year, month, day, 0, 0, 0);
  // A skipped midnight may come back as the evening before, on the old
  // offset: its next midnight there is the first time of the day.
  int y = 0, m = 0, d = 0, hour = 0, minute = 0, second = 0;
  Calendar::SplitDate(start, &y, &m, &d, &hour, &minute, &second, nullptr);
  if (y != year || m != month || d != day) start += Calendar::kDay - (hour * 3600 + minute * 60 + second);
  return start;
}

}  // namespace

Calendar::Calendar() {
  type_ = kTypeCalendar;
  x_ = y_ = 0;
}

int64_t Calendar::MakeDate(int year, int month, int day, int hour, int minute, int second) {
  ov::SystemTime t{};
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  return ov::LocalSystemTimeToSeconds(t);
}

void Calendar::SplitDate(int64_t date, int* year, int* month, int* day, int* hour, int* minute, int* second,
                         int* weekday) {
  ov::SystemTime t{};
  const ov::FileTime ft = static_cast<ov::FileTime>(std::max<int64_t>(date + kSecondsFrom1601To1970, 0)) * 10000000u;
  if (!ov::FileTimeToLocalSystemTime(ft, &t)) t = ov::SystemTime{1970, 1, 4, 1, 0, 0, 0, 0};
  if (year) *year = t.year;
  if (month) *month = t.month;
  if (day) *day = t.day;
  if (hour) *hour = t.hour;
  if (minute) *minute = t.minute;
  if (second) *second = t.second;
  if (weekday) *weekday = t.day_of_week;
}

ov::String Calendar::ListItem(const ov::String& list, int n) {
  int start = 0;
  for (int i = 0; i < n; ++i) {
    const int comma = list.Find(u',', start);
    if (comma < 0) return ov::String();
    start = comma + 1;
  }
  const int comma = list.Find(u',', start);
  return comma < 0 ? list.Mid(start) : list.Mid(start, comma - start);
}

void Calendar::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"days")) days_ = value;
  else if (NameIs(name, u"months")) months_ = value;
  else if (NameIs(name, u"titleMonths")) title_months_ = value;
  else if (NameIs(name, u"noMediaColour")) no_media_colour_ = ParseHex(value);
  else if (NameIs(name, u"mediaColour")) media_colour_ = ParseHex(value);
  else if (NameIs(name, u"dateColour")) date_colour_ = ParseHex(value);
  else if (NameIs(name, u"selectedColour")) selected_colour_ = ParseHex(value);
  else if (NameIs(name, u"monthTextOffset")) month_text_offset_ = static_cast<int32_t>(ParseHex(value) & 0x7FFF);
  else Control::LoadAttribute(name, value);
}

MediaBrowserLink* Calendar::Browser() const { return browser_ ? browser_->AsMediaBrowser() : nullptr; }

bool Calendar::DateAt(int32_t x, int32_t y, int64_t* date) const {
  // Cells are a seventh of the box (days) or a sixth and a half (months):
  // a box narrower or lower than 7 pixels has no cells to hit.
  if (x_size_ < 7 || y_size_ < 7) return false;
  int year = 0, month = 0;
  SplitDate(cursor_, &year, &month, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (view_ == kDays) {
    const int32_t w = x_size_ / 7;
    int32_t row = (y - y_) / (y_size_ / 7);
    if (row > 0) --row;  // the first row is the header
    const int32_t column = (x - w / 2 - x_) / w;
    int first_weekday = 0;
    SplitDate(MakeDate(year, month, 1, 0, 0, 0), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
              &first_weekday);
    const int day = std::clamp(row * 7 + column - first_weekday + 1, 1, DaysIn(year, month));
    *date = MakeDate(year, month, day, 0, 0, 0);
  } else {
    const int32_t row = (y - y_) / (y_size_ / 6);
    const int32_t column = (x - x_) / (x_size_ / 2);
    *date = MakeDate(year, std::clamp(row * 2 + column + 1, 1, 12), 1, 0, 0, 0);
  }
  return true;
}

void Calendar::Step(int direction) {
  int year, month, day, hour, minute, second;
  SplitDate(cursor_, &year, &month, &day, &hour, &minute, &second, nullptr);
  if (view_ == kMonths) {
    // By calendar year: 29 February becomes 28 February.
    year += direction;
    cursor_ = MakeDate(year, month, std::min(day, DaysIn(year, month)), hour, minute, second);
  } else if (direction > 0) {
    // The first day of the next month, at the same time of day.
    if (++month > 12) month = 1, ++year;
    cursor_ = MakeDate(year, month, 1, hour, minute, second);
  } else {
    // The last day of the previous month.
    if (--month < 1) month = 12, --year;
    cursor_ = MakeDate(year, month, DaysIn(year, month), hour, minute, second);
  }
}

void Calendar::UpdateTitle() {
  int year = 0, month = 0;
  SplitDate(cursor_, &year, &month, nullptr, nullptr, nullptr, nullptr, nullptr);
  ov::String title;
  if (view_ == kMonths) {
    title = ov::String::Format(u"%d", year);
  } else {
    title = ListItem(months_, month - 1) + ov::String::Format(u" %d", year);
  }
  if (!Host()) return;
  Host()->EnableActionItems(view_ == kMonths, nullptr, kActionCalendarShowDays, 1);
  Host()->EnableActionItems(view_ == kDays, nullptr, kActionCalendarShowMonths, 1);
  Host()->StoreOption(kTitleOption, title);
  Host()->DoAction(kActionOptionsChanged, ov::String(), 1);
}

int Calendar::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  (void)argument;
  (void)flag;
  int result = 1;
  switch (code) {
    case kActionInitialise: {
      // The selection starts as today, midnight to midnight, so that Select
      // at once finds today's files; the cursor shows the month of now.
      const ov::SystemTime now = ov::GetLocalTime();
      cursor_ = ov::LocalSystemTimeToSeconds(now);
      anchor_ = end_ = StartOfDay(now.year, now.month, now.day);
      view_ = kDays;
      browser_ = Host() ? Host()->FindElementByType(nullptr, kTypeMediaBrowser, 1) : nullptr;
      return 1;
    }
    case kActionCalendarNext:
      Step(1);
      break;
    case kActionCalendarPrevious:
      Step(-1);
      break;
    case kActionCalendarShowMonths:
      view_ = kMonths;
      break;
    case kActionCalendarShowDays:
      view_ = kDays;
      cursor_ = anchor_;
      break;
    case kActionCalendarSelect:
      if (MediaBrowserLink* browser = Browser()) {
        const int64_t low = std::min(anchor_, end_);
        int64_t high = std::max(anchor_, end_);
        if (view_ == kDays) {
          high += kDay - 1;
        } else {
          int year, month;
          SplitDate(high, &year, &month, nullptr, nullptr, nullptr, nullptr, nullptr);
          if (++month > 12) month = 1, ++year;
          high = MakeDate(year, month, 1, 0, 0, 0) - 1;
        }
        browser->ShowDateRange(low, high);
      }
      if (Host()) Host()->GoBack(true);
      break;
    case kActionCalendarCancel:
      if (Host()) Host()->GoBack(true);
      break;
    case kActionMenuShown:
      pressed_ = false;
      result = 0;
      break;
    case kActionLeavingMenu:
    case kActionFocusLost:
      break;
    default:
      return 0;
  }
  UpdateTitle();
  InvalidateScreen();
  return result;
}

bool Calendar::OnDirectionKey(int32_t code) {
  if (code != 4 || !IsVisible() || !Host() || Host()->GetFocusedSelection() != this) return false;
  pressed_ = !pressed_;
  InvalidateScreen();
  return true;
}

bool Calendar::OnStylusDown(int32_t x, int32_t y) {
  pressed_ = true;
  int64_t date = 0;
  if (DateAt(x, y, &date)) anchor_ = end_ = date;
  if (Host()) Host()->SetPressedElement(this);
  return true;
}

bool Calendar::OnStylusMove(int32_t x, int32_t y) {
  Invalidate();
  int64_t date = 0;
  if (DateAt(x, y, &date)) end_ = date;
  return true;
}

bool Calendar::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  pressed_ = false;
  UpdateLayout();
  Invalidate();
  return false;
}

void Calendar::DrawText(gfx::HDC dc, const ov::String& text, int32_t x, int32_t y, uint32_t colour) {
  gfx::Rect clip{x_, y_, x_ + x_size_, y_ + y_size_};
  DrawTextEllipsis(&font_, dc, text, &clip, x, &y, colour);
}

void Calendar::Draw(gfx::HDC dc, int state) {
  (void)state;
  font_.Set(font_face_, text_height_, antialias_);
  font_.line_size = text_height_;
  drawn_colours_.clear();
  int year = 0, month = 0;
  SplitDate(cursor_, &year, &month, nullptr, nullptr, nullptr, nullptr, nullptr);
  const int64_t low = std::min(anchor_, end_);
  const int64_t high = std::max(anchor_, end_);
  MediaBrowserLink* browser = Browser();
  if (view_ == kMonths) {
    int low_year = 0, low_month = 0, high_month = 0;
    SplitDate(low, &low_year, &low_month, nullptr, nullptr, nullptr, nullptr, nullptr);
    SplitDate(high, nullptr, &high_month, nullptr, nullptr, nullptr, nullptr, nullptr);
    for (int i = 0; i < 12; ++i) {
      uint32_t colour = no_media_colour_;
      if (low_year == year && i + 1 >= low_month && i + 1 <= high_month) colour = selected_colour_;
      else if (browser && browser->HasMediaInMonth(MakeDate(year, i + 1, 1, 0, 0, 0))) colour = media_colour_;
      drawn_colours_.push_back(colour);
      DrawText(dc, ListItem(title_months_, i), x_ + month_text_offset_ + (i % 2) * (x_size_ / 2),
               y_ + (i / 2) * (y_size_ / 6), colour);
    }
  } else {
    const int64_t last = high + kDay - 1;
    const int32_t w = x_size_ / 7;
    for (int i = 0; i < 7; ++i) DrawText(dc, ListItem(days_, i), x_ + w / 2 + i * w, y_, date_colour_);
    int64_t date = MakeDate(year, month, 1, 0, 0, 0);
    SplitDate(date, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &first_weekday_);
    days_in_month_ = DaysIn(year, month);
    int32_t row_y = y_ + y_size_ / 7;
    int32_t previous_x = -0x7FFFFFFF;
    for (int day = 1; day <= days_in_month_; ++day) {
      date = MakeDate(year, month, day, 0, 0, 0);
      int weekday = 0;
      SplitDate(date, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &weekday);
      const int32_t x = x_ + w / 2 + weekday * w;
      if (x < previous_x) row_y += y_size_ / 7;
      previous_x = x;
      uint32_t colour = 0;
      bool shown = true;
      if (date >= low && date <= last) colour = selected_colour_;
      else if (browser) colour = browser->HasMediaInRange(date, kDay) ? media_colour_ : no_media_colour_;
      else shown = false;  // without a browser only the selection is drawn
      drawn_colours_.push_back(shown ? colour : 0);
      if (shown) DrawText(dc, ov::String::Format(u"%d", day), x, row_y, colour);
    }
  }
  ResetRect();
}

}  // namespace ui
