#pragma once
// Calendar ("CALENDAR"): shows the twelve months of a year or the days of a
// month, marks the months and days on which the screen's media browser has
// files, lets the user pick a date or a range with the stylus, and hands the
// range to the media browser as its date filter. Its title (the year, or a
// month name and the year) is published through the option "Cal_Date".
//
// Dates are seconds since 1970 of local calendar dates and times.
//
// Thread: UI thread only.

#include "ui/control.h"
#include "ui/list_control.h"

namespace ui {

class MediaBrowserLink;

class Calendar : public Control {
 public:
  enum View : int32_t { kMonths = 0, kDays = 1 };
  static constexpr int64_t kDay = 86400;

  Calendar();

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;

  // The date under a point of the shown view; false (nothing picked) for a
  // calendar too small to hold its cells.
  bool DateAt(int32_t x, int32_t y, int64_t* date) const;
  // Item n (0-based) of a ","-separated list; "" past its end.
  static ov::String ListItem(const ov::String& list, int n);
  // Local calendar date and time to seconds, and back (month 1-12).
  static int64_t MakeDate(int year, int month, int day, int hour, int minute, int second);
  static void SplitDate(int64_t date, int* year, int* month, int* day, int* hour, int* minute, int* second,
                        int* weekday);

  int32_t view() const { return view_; }
  bool pressed() const { return pressed_; }
  int64_t cursor() const { return cursor_; }
  int64_t anchor() const { return anchor_; }
  int64_t end() const { return end_; }
  void SetDates(int64_t cursor, int64_t anchor, int64_t end) {
    cursor_ = cursor;
    anchor_ = anchor;
    end_ = end;
  }
  // The colour each month cell (months view) or day (days view, index day
  // - 1; 0 for a day not drawn) got at the last draw.
  const std::vector<uint32_t>& drawn_colours() const { return drawn_colours_; }

 private:
  MediaBrowserLink* Browser() const;
  void Step(int direction);
  void UpdateTitle();
  void DrawText(gfx::HDC dc, const ov::String& text, int32_t x, int32_t y, uint32_t colour);

  int32_t view_ = kMonths;
  bool pressed_ = false;
  int64_t anchor_ = 0, end_ = 0, cursor_ = 0;
  ov::String days_, months_, title_months_;
  int32_t month_text_offset_ = 0;
  uint32_t media_colour_ = 0, no_media_colour_ = 0, date_colour_ = 0, selected_colour_ = 0;
  int32_t first_weekday_ = 0, days_in_month_ = 0;
  Element* browser_ = nullptr;
  ListTextFont font_;
  std::vector<uint32_t> drawn_colours_;
};

}  // namespace ui
