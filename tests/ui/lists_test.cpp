// The folder browser on a temporary tree, the drag icon, the calendar (in
// UTC; its first day also in zones with clock changes), the clip order list
// against a fake channel, and a scroll bar drag.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/os/system_time.h"
#include "tests/support/test_paths.h"
#include "tests/ui/fake_host.h"
#include "tests/ui/widget_test_util.h"
#include "ui/calendar.h"
#include "ui/clip_order_list.h"
#include "ui/folder_browser.h"
#include "ui/menu.h"
#include "ui/screen_links.h"
#include "ui/scroll_bar.h"

namespace ui {
namespace {

using ovtest::Place;

std::vector<std::u16string> Names(const std::vector<ov::String>& list) {
  std::vector<std::u16string> out;
  for (const ov::String& s : list) out.emplace_back(s.View());
  return out;
}

// A documents folder holding a/b/c, a/x, d and e..h, and a file.
class FolderTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ovtest::ScratchDir();
    for (const char* f : {"a/b/c", "a/x", "d", "e", "f", "g", "h"}) std::filesystem::create_directories(root_ + "/" + f);
    std::FILE* file = std::fopen((root_ + "/a/clip.mp4").c_str(), "w");
    if (file) std::fclose(file);
    const char* old = std::getenv("OVMIX_DOCUMENTS");
    old_ = old ? old : "";
    had_ = old != nullptr;
    setenv("OVMIX_DOCUMENTS", root_.c_str(), 1);
  }
  void TearDown() override {
    if (had_) setenv("OVMIX_DOCUMENTS", old_.c_str(), 1);
    else unsetenv("OVMIX_DOCUMENTS");
  }
  // A browser of two 10-pixel rows in host.menu, started from option text.
  FileBrowser* AddBrowser(const char16_t* stored) {
    host_.menu = &menu_;
    host_.values[u"SetLocationDir"] = stored;
    auto* b = static_cast<FileBrowser*>(menu_.AddChild(std::make_unique<FileBrowser>()));
    Place(b, 0, 0, 100, 20);
    b->LoadAttribute(u"lineSize", u"10");
    b->OnAction(kActionInitialise, u"", 0);
    b->OnAction(kActionMenuShown, u"", 0);
    return b;
  }
  std::vector<std::u16string> Sorted(FileBrowser* b) {
    std::vector<std::u16string> n = Names(b->folders());
    std::sort(n.begin() + (n.size() && n[0] == u".." ? 1 : 0), n.end());
    return n;
  }
  void Open(FileBrowser* b, const char16_t* name) {
    for (size_t i = 0; i < b->folders().size(); ++i) {
      if (b->folders()[i] == ov::String(name)) {
        while (b->selected() < static_cast<int32_t>(i)) {
          ovtest::Canvas canvas = ovtest::MakeCanvas(100, 20, 0);
          b->Draw(canvas.get(), 0);
          b->OnDirectionKey(3);
        }
        ASSERT_TRUE(b->OnDirectionKey(4));
        return;
      }
    }
    FAIL() << "no entry";
  }

  std::string root_, old_;
  bool had_ = false;
  ovtest::FakeHost host_;
  Menu menu_;
};

TEST_F(FolderTree, DotDotRulesAndOnlyFoldersListed) {
  FileBrowser* b = AddBrowser(u"");
  EXPECT_EQ(b->current_folder(), ov::String(u"\\"));
  using V = std::vector<std::u16string>;
  EXPECT_EQ(Sorted(b), (V{u"a", u"d", u"e", u"f", u"g", u"h"}));
  Open(b, u"a");
  EXPECT_EQ(b->current_folder(), ov::String(u"\\a\\"));
  EXPECT_EQ(Sorted(b), (V{u"..", u"b", u"x"}));
  EXPECT_EQ(host_.values[u"SetLocationDir"], u"\\a\\");
  Open(b, u"b");
  Open(b, u"c");
  EXPECT_EQ(Names(b->folders()), (V{u".."}));  // no sub-folders: only ".."
  Open(b, u"..");
  Open(b, u"..");
  EXPECT_EQ(b->current_folder(), ov::String(u"\\a\\"));
  Open(b, u"..");
  EXPECT_EQ(b->current_folder(), ov::String(u"\\"));
}

TEST_F(FolderTree, AStaleStoredFolderStartsAtTheRootAndAGoodOneIsKept) {
  host_.history = {&menu_};  // the browser's screen is the current one
  EXPECT_EQ(AddBrowser(u"\\gone\\")->current_folder(), ov::String(u"\\"));
  EXPECT_EQ(host_.go_backs, 0);  // its own announcement of the folder is not SL_OK
  EXPECT_EQ(host_.values[u"SetLocationDir"], u"\\");
  EXPECT_EQ(AddBrowser(u"\\a\\b\\")->current_folder(), ov::String(u"\\a\\b\\"));
}

TEST_F(FolderTree, KeysScrollByOneRowAtTheEdgesOfThePage) {
  FileBrowser* b = AddBrowser(u"");  // six folders, two rows shown
  ovtest::Canvas canvas = ovtest::MakeCanvas(100, 20, 0);
  b->Draw(canvas.get(), 0);
  EXPECT_EQ(b->last_visible(), 1);
  b->OnDirectionKey(3);
  EXPECT_EQ(b->top(), 0);
  b->Draw(canvas.get(), 0);
  b->OnDirectionKey(3);  // past the last visible row
  EXPECT_EQ(b->selected(), 2);
  EXPECT_EQ(b->top(), 1);
  b->Draw(canvas.get(), 0);
  EXPECT_EQ(b->last_visible(), 2);
  b->OnDirectionKey(2);
  EXPECT_EQ(b->top(), 1);
  b->OnDirectionKey(2);  // past the first visible row
  EXPECT_EQ(b->selected(), 0);
  EXPECT_EQ(b->top(), 0);
  b->OnDirectionKey(2);  // at the first entry: nothing
  EXPECT_EQ(b->selected(), 0);
}

TEST_F(FolderTree, TappingTheSelectedRowOpensItAndBelowTheListIsNothing) {
  FileBrowser* b = AddBrowser(u"\\a\\");  // "..", then two folders
  ovtest::Canvas canvas = ovtest::MakeCanvas(100, 20, 0);
  b->Draw(canvas.get(), 0);
  const ov::String second = b->folders()[1];
  b->OnStylusDown(5, 15);
  EXPECT_EQ(b->selected(), 1);
  EXPECT_EQ(b->current_folder(), ov::String(u"\\a\\"));
  b->OnStylusDown(5, 15);
  EXPECT_EQ(b->current_folder(), ov::String(u"\\a\\") + second + u"\\");
  // "\a\b\" or "\a\x\": ".." alone when it is x; tap past the drawn rows.
  b->Draw(canvas.get(), 0);
  const ov::String before = b->current_folder();
  b->OnStylusDown(5, 25);
  b->OnStylusDown(5, -3);
  EXPECT_EQ(b->current_folder(), before);
  EXPECT_EQ(b->selected(), 0);
  // The OK item follows whether the browser is the focused selection.
  EXPECT_EQ(host_.LastEnable(kActionSelectOk), 0);
  host_.focused = b;
  b->OnStylusDown(5, 25);
  EXPECT_EQ(host_.LastEnable(kActionSelectOk), 1);
}

TEST_F(FolderTree, ARowHeightOfZeroStepsAndHitsNothing) {
  FileBrowser* b = AddBrowser(u"");
  b->LoadAttribute(u"lineSize", u"0");
  ovtest::Canvas canvas = ovtest::MakeCanvas(100, 20, 0);
  b->Draw(canvas.get(), 0);
  b->OnStylusDown(5, 5);
  b->OnAction(kActionScrollDown, u"", 0);
  EXPECT_EQ(b->current_folder(), ov::String(u"\\"));
  EXPECT_EQ(b->top(), 0);
}

// A media browser that records the range it is given.
class FakeBrowser : public Control, public MediaBrowserLink {
 public:
  FakeBrowser() { type_ = kTypeMediaBrowser; }
  MediaBrowserLink* AsMediaBrowser() override { return this; }
  bool HasMediaInMonth(int64_t date) override { return media_month != 0 && Calendar::MakeDate(2025, media_month, 1, 0, 0, 0) == date; }
  bool HasMediaInRange(int64_t start, int64_t span) override { return media_day >= start && media_day <= start + span; }
  void ShowDateRange(int64_t start, int64_t end) override {
    shown_start = start;
    shown_end = end;
    ++shows;
  }
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override {
    if (code == kActionSelectOk) folders.emplace_back(argument.View());
    return Control::OnAction(code, argument, flag);
  }
  int media_month = 0;
  int64_t media_day = -1;
  int64_t shown_start = 0, shown_end = 0;
  int shows = 0;
  std::vector<std::u16string> folders;
};

TEST_F(FolderTree, OkHandsTheFolderToTheMediaBrowserOnLeavingAndCancelDoesNot) {
  for (const bool ok : {true, false}) {
    Menu root;
    Menu* browser_screen = root.CreateSubMenu();
    Menu* folder_screen = root.CreateSubMenu();
    auto* media = static_cast<FakeBrowser*>(browser_screen->AddChild(std::make_unique<FakeBrowser>()));
    host_.menu = folder_screen;
    host_.values[u"SetLocationDir"] = u"\\d\\";
    auto* b = static_cast<FileBrowser*>(folder_screen->AddChild(std::make_unique<FileBrowser>()));
    b->OnAction(kActionInitialise, u"", 0);
    b->OnAction(kActionMenuShown, u"", 0);
    host_.history = {folder_screen};
    const int backs = host_.go_backs;
    b->OnAction(ok ? kActionSelectOk : kActionSelectCancel, u"", 0);
    EXPECT_EQ(host_.go_backs, backs + 1);
    media->folders.clear();
    b->OnAction(kActionLeavingMenu, u"", 0);
    EXPECT_EQ(media->folders, (ok ? std::vector<std::u16string>{u"\\d\\"} : std::vector<std::u16string>{})) << ok;
  }
}

TEST(DragIcon, DragStatesPickTheImagesAndARefreshHidesIt) {
  ovtest::FakeHost host;
  const std::string dir = ovtest::ScratchDir();
  const gfx::COLORREF idle = gfx::Rgb(255, 0, 0), disabled = gfx::Rgb(0, 255, 0), focus = gfx::Rgb(0, 0, 255);
  DragIcon icon;
  Place(&icon, 0, 0, 4, 4);
  icon.LoadAttribute(u"sw", u"0");
  icon.LoadAttribute(u"il", ovtest::WriteBands(dir, "i.png", 4, 4, {idle}));
  icon.LoadAttribute(u"di", ovtest::WriteBands(dir, "d.png", 4, 4, {disabled}));
  icon.LoadAttribute(u"fi", ovtest::WriteBands(dir, "f.png", 4, 4, {focus}));
  const std::pair<int32_t, gfx::COLORREF> cases[] = {{0, idle}, {1, focus}, {2, disabled}};
  for (const auto& [state, colour] : cases) {
    icon.SetDragState(state);
    ovtest::Canvas canvas = ovtest::MakeCanvas(4, 4, 0);
    icon.Draw(canvas.get(), kDrawFocused);  // the drag state decides, not the focus
    EXPECT_EQ(ovtest::PixelAt(canvas, 2, 2), gfx::ColorRefTo565(colour)) << state;
  }
  EXPECT_TRUE(icon.IsVisible());
  icon.OnAction(kActionMenuShown, u"", 0);
  EXPECT_FALSE(icon.IsVisible());
}

class CalendarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    old_tz_ = tz ? tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    host_.menu = &menu_;
    cal_ = static_cast<Calendar*>(menu_.AddChild(std::make_unique<Calendar>()));
    Place(cal_, 0, 0, 140, 140);  // cells of 20 x 20 (days), 70 x 23 (months)
    cal_->LoadAttribute(u"months", u"Jan,Feb,Mar,Apr,May,Jun,Jul,Aug,Sep,Oct,Nov,Dec");
    cal_->LoadAttribute(u"titleMonths", u"J,F,M,A,M,J,J,A,S,O,N,D");
    cal_->LoadAttribute(u"days", u"S,M,T,W,T,F,S");
    cal_->LoadAttribute(u"selectedColour", u"0000FF");
    cal_->LoadAttribute(u"mediaColour", u"00FF00");
    cal_->LoadAttribute(u"noMediaColour", u"808080");
  }
  void TearDown() override {
    if (had_tz_) setenv("TZ", old_tz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static int64_t D(int y, int m, int d, int h = 0) { return Calendar::MakeDate(y, m, d, h, 0, 0); }
  FakeBrowser* AddBrowser() {
    auto* b = static_cast<FakeBrowser*>(menu_.AddChild(std::make_unique<FakeBrowser>()));
    cal_->OnAction(kActionInitialise, u"", 0);
    return b;
  }
  void Draw() {
    ovtest::Canvas canvas = ovtest::MakeCanvas(140, 140, 0);
    cal_->Draw(canvas.get(), 0);
  }

  bool had_tz_ = false;
  std::string old_tz_;
  ovtest::FakeHost host_;
  Menu menu_;
  Calendar* cal_ = nullptr;
};

TEST_F(CalendarTest, StepsByMonthInTheDaysViewAndByCalendarYearInTheMonthsView) {
  cal_->OnAction(kActionInitialise, u"", 0);
  struct Case {
    const char* name;
    int32_t view_code;  // 70 days, 69 months
    int64_t from;
    int32_t code;
    int64_t to;
  };
  const Case cases[] = {
      {"31 January -> 1 February, same time", kActionCalendarShowDays, D(2025, 1, 31, 15), kActionCalendarNext,
       D(2025, 2, 1, 15)},
      {"15 March -> 1 April", kActionCalendarShowDays, D(2025, 3, 15, 9), kActionCalendarNext, D(2025, 4, 1, 9)},
      {"1 March back -> 28 February", kActionCalendarShowDays, D(2025, 3, 1), kActionCalendarPrevious,
       D(2025, 2, 28)},
      {"December -> January", kActionCalendarShowDays, D(2024, 12, 5), kActionCalendarNext, D(2025, 1, 1)},
      {"1 January of a leap year -> next year", kActionCalendarShowMonths, D(2024, 1, 1), kActionCalendarNext,
       D(2025, 1, 1)},
      {"31 December of a leap year <- back a year", kActionCalendarShowMonths, D(2024, 12, 31),
       kActionCalendarPrevious, D(2023, 12, 31)},
      {"29 February -> 28 February", kActionCalendarShowMonths, D(2024, 2, 29, 8), kActionCalendarNext,
       D(2025, 2, 28, 8)},
  };
  for (const Case& k : cases) {
    cal_->SetDates(k.from, k.from, k.from);
    cal_->OnAction(k.view_code, u"", 0);
    cal_->OnAction(k.code, u"", 0);
    EXPECT_EQ(cal_->cursor(), k.to) << k.name;
  }
  // The title follows: month name and year in the days view, else the year.
  cal_->SetDates(D(2025, 3, 2), D(2025, 3, 2), D(2025, 3, 2));
  cal_->OnAction(kActionCalendarShowDays, u"", 0);
  EXPECT_EQ(host_.values.count(u"Cal_Date"), 0u);  // not a known option here
  EXPECT_EQ(host_.options.back().first, u"Cal_Date");
  EXPECT_EQ(host_.options.back().second, u"Mar 2025");
  EXPECT_EQ(host_.LastEnable(kActionCalendarShowMonths), 1);
  EXPECT_EQ(host_.LastEnable(kActionCalendarShowDays), 0);
  cal_->OnAction(kActionCalendarShowMonths, u"", 0);
  EXPECT_EQ(host_.options.back().second, u"2025");
}

// Right after INITIALISE, Select hands on today from its first second to
// its last, in the local zone, also on the days a clock change makes 23 or
// 25 hours long or starts at 01:00; the cursor stays at now.
TEST_F(CalendarTest, SelectAtOnceFindsToday) {
  const struct {
    const char* tz;
    int64_t now;    // UTC seconds
    int64_t start;  // UTC seconds of the local day's first second
    const char* name;
  } cases[] = {
      {"UTC", 1750001400, 1749945600, "15 June 2025 15:30"},
      {"Europe/Berlin", 1749940200, 1749938400, "15 June 2025 00:30, just past midnight"},
      {"Europe/Berlin", 1743339600, 1743289200, "30 March 2025 15:00, a 23-hour day"},
      {"Europe/Berlin", 1761487200, 1761429600, "26 October 2025 15:00, a 25-hour day"},
      {"America/Santiago", 1662919200, 1662868800, "11 September 2022 15:00, a day starting at 01:00"},
  };
  FakeBrowser* browser = AddBrowser();
  for (const auto& c : cases) {
    setenv("TZ", c.tz, 1);
    tzset();
    ov::SetLocalTimeForTesting(c.now);
    cal_->OnAction(kActionInitialise, u"", 0);
    ov::SetLocalTimeForTesting(0);
    browser->shows = 0;
    cal_->OnAction(kActionCalendarSelect, u"", 0);
    EXPECT_EQ(browser->shows, 1) << c.name;
    EXPECT_EQ(browser->shown_start, c.start) << c.name;
    EXPECT_EQ(browser->shown_end, c.start + 86399) << c.name;
    // The cursor is now (the test clock runs on from c.now).
    int now_day = 0, cursor_day = 0;
    Calendar::SplitDate(c.now, nullptr, nullptr, &now_day, nullptr, nullptr, nullptr, nullptr);
    Calendar::SplitDate(cal_->cursor(), nullptr, nullptr, &cursor_day, nullptr, nullptr, nullptr, nullptr);
    EXPECT_GE(cal_->cursor(), c.now) << c.name;
    EXPECT_EQ(cursor_day, now_day) << c.name;
  }
}

TEST_F(CalendarTest, ARangeDraggedBackwardsSelectsTheSameDays) {
  FakeBrowser* browser = AddBrowser();
  // March 2025 starts on a Saturday (column 6): day 5 is a Wednesday in row 1.
  auto at = [](int day, int32_t* x, int32_t* y) {
    const int cell = day - 1 + 6;
    *x = 10 + (cell % 7) * 20 + 5;
    *y = 20 + (cell / 7) * 20 + 5;
  };
  int64_t ranges[2][2];
  for (int backwards = 0; backwards < 2; ++backwards) {
    cal_->SetDates(D(2025, 3, 1), D(2025, 3, 1), D(2025, 3, 1));
    cal_->OnAction(kActionCalendarShowDays, u"", 0);
    int32_t x1, y1, x2, y2;
    at(backwards ? 12 : 5, &x1, &y1);
    at(backwards ? 5 : 12, &x2, &y2);
    cal_->OnStylusDown(x1, y1);
    EXPECT_EQ(host_.pressed, cal_);
    cal_->OnStylusMove(x2, y2);
    cal_->OnStylusUp(x2, y2);
    cal_->OnAction(kActionCalendarSelect, u"", 0);
    ranges[backwards][0] = browser->shown_start;
    ranges[backwards][1] = browser->shown_end;
  }
  EXPECT_EQ(ranges[0][0], D(2025, 3, 5));
  EXPECT_EQ(ranges[0][1], D(2025, 3, 12) + 86399);
  EXPECT_EQ(ranges[1][0], ranges[0][0]);
  EXPECT_EQ(ranges[1][1], ranges[0][1]);
  EXPECT_EQ(host_.go_backs, 2);
}

TEST_F(CalendarTest, HeaderRowPicksTheFirstWeekAndTinyCalendarsPickNothing) {
  cal_->SetDates(D(2025, 3, 10), D(2025, 3, 10), D(2025, 3, 10));
  cal_->OnAction(kActionCalendarShowDays, u"", 0);
  cal_->OnStylusDown(10 + 6 * 20 + 5, 5);  // header, Saturday column: 1 March
  EXPECT_EQ(cal_->anchor(), D(2025, 3, 1));
  cal_->OnStylusDown(10 + 0 * 20 + 5, 5);  // header, Sunday: before the 1st, clamped
  EXPECT_EQ(cal_->anchor(), D(2025, 3, 1));
  Calendar tiny;
  Place(&tiny, 0, 0, 6, 100);
  tiny.SetDates(D(2025, 3, 10), D(2025, 3, 10), D(2025, 3, 10));
  int64_t date = 0;
  EXPECT_FALSE(tiny.DateAt(3, 50, &date));
  tiny.OnStylusDown(3, 50);
  EXPECT_EQ(tiny.anchor(), D(2025, 3, 10));
}

TEST_F(CalendarTest, MonthsViewColoursTheSelectedMonthsThenMediaMonths) {
  FakeBrowser* browser = AddBrowser();
  browser->media_month = 8;
  cal_->SetDates(D(2025, 6, 1), D(2025, 3, 1), D(2025, 5, 1));
  cal_->OnAction(kActionCalendarShowMonths, u"", 0);
  Draw();
  ASSERT_EQ(cal_->drawn_colours().size(), 12u);
  for (int m = 1; m <= 12; ++m) {
    const uint32_t expected = (m >= 3 && m <= 5) ? 0x0000FF : (m == 8 ? 0x00FF00 : 0x808080);
    EXPECT_EQ(cal_->drawn_colours()[m - 1], expected) << m;
  }
  // Months view select: to the last second of the larger date's month.
  cal_->OnAction(kActionCalendarSelect, u"", 0);
  EXPECT_EQ(browser->shown_start, D(2025, 3, 1));
  EXPECT_EQ(browser->shown_end, D(2025, 6, 1) - 1);
}

TEST_F(CalendarTest, WithoutABrowserSelectOnlyGoesBackAndOnlySelectedDaysAreDrawn) {
  cal_->OnAction(kActionInitialise, u"", 0);
  cal_->SetDates(D(2025, 2, 1), D(2025, 2, 3), D(2025, 2, 4));
  cal_->OnAction(kActionCalendarShowMonths, u"", 0);
  cal_->OnAction(kActionCalendarShowDays, u"", 0);  // the cursor becomes the anchor
  Draw();
  ASSERT_EQ(cal_->drawn_colours().size(), 28u);
  for (int d = 1; d <= 28; ++d) EXPECT_EQ(cal_->drawn_colours()[d - 1], (d == 3 || d == 4) ? 0x0000FFu : 0u) << d;
  cal_->OnAction(kActionCalendarSelect, u"", 0);
  EXPECT_EQ(host_.go_backs, 1);
  EXPECT_EQ(Calendar::ListItem(u"a,b", 1), ov::String(u"b"));
  EXPECT_EQ(Calendar::ListItem(u"a,b", 5), ov::String());
}

// A channel of named clips.
class FakeChannel : public Control, public ChannelLink {
 public:
  explicit FakeChannel(std::vector<std::u16string> names) : clips(std::move(names)) { type_ = kTypeChannelSelection; }
  ChannelLink* AsChannel() override { return this; }
  int32_t ClipCount() override { return static_cast<int32_t>(clips.size()); }
  ov::String GetClipFile(int32_t i) override { return ov::String(clips.at(i)); }
  void MoveClip(int32_t from, int32_t to) override {
    const std::u16string c = clips.at(from);
    clips.erase(clips.begin() + from);
    clips.insert(clips.begin() + to, c);
  }
  void RemoveClip(int32_t i) override { clips.erase(clips.begin() + i); }
  void ClearChannel(int32_t kind) override { clears.push_back(kind); }
  bool IsFocusable() const override { return false; }
  std::vector<std::u16string> clips;
  std::vector<int32_t> clears;
};

struct ClipList {
  ovtest::FakeHost host;
  Menu menu;
  FakeChannel* channel;
  PlaylistOrder* list;
  DragIcon* icon;
  explicit ClipList(std::vector<std::u16string> clips, int32_t rows = 5) {
    host.menu = &menu;
    channel = static_cast<FakeChannel*>(menu.AddChild(std::make_unique<FakeChannel>(std::move(clips))));
    channel->set_title(u"channel1");
    list = static_cast<PlaylistOrder*>(menu.AddChild(std::make_unique<PlaylistOrder>()));
    Place(list, 10, 10, 100, 14 * rows);
    list->LoadAttribute(u"lineSize", u"14");
    list->LoadAttribute(u"textHeight", u"14");
    icon = static_cast<DragIcon*>(menu.AddChild(std::make_unique<DragIcon>()));
    Place(icon, -5, -5, 10, 10);
    list->OnAction(kActionInitialise, u"", 0);
    list->OnAction(kActionSetChannel, u"channel1", 0);
    Draw();
  }
  void Draw() {
    ovtest::Canvas canvas = ovtest::MakeCanvas(120, 120, 0);
    list->Draw(canvas.get(), kDrawFocused);
  }
  int32_t RowY(int row) const { return 10 + row * 14 + 7; }
  void Drag(int from_row, int32_t to_x, int32_t to_y) {
    list->OnStylusDown(50, RowY(from_row));
    list->OnStylusMove(to_x, to_y);
    list->OnStylusUp(to_x, to_y);
    Draw();
  }
};

using Clips = std::vector<std::u16string>;

TEST(ClipOrderList, DragsMoveTheClipAboveTheRowUnderTheStylus) {
  struct Case {
    const char* name;
    int from_row, to_row;
    Clips order;
  };
  const Case cases[] = {
      {"third onto the first row", 2, 0, {u"c", u"a", u"b", u"d"}},
      {"first onto the third row", 0, 2, {u"b", u"a", u"c", u"d"}},
      {"first onto the last row", 0, 3, {u"b", u"c", u"a", u"d"}},
      {"onto its own row", 1, 1, {u"a", u"b", u"c", u"d"}},
  };
  for (const Case& k : cases) {
    ClipList l({u"a", u"b", u"c", u"d"});
    l.Drag(k.from_row, 50, l.RowY(k.to_row));
    EXPECT_EQ(l.channel->clips, k.order) << k.name;
    EXPECT_FALSE(l.icon->IsVisible()) << k.name;
    EXPECT_FALSE(l.list->dragging()) << k.name;
    EXPECT_EQ(l.channel->clears.empty(), k.from_row == k.to_row) << k.name;  // caches rebuilt after a move
  }
}

TEST(ClipOrderList, DragOutDeletesButTheLastClipIsKept) {
  ClipList l({u"\\My Clips\\a.mp4", u"\\My Clips\\b.3gp"});
  l.list->OnStylusDown(50, l.RowY(1));
  l.list->OnStylusMove(200, 200);
  EXPECT_TRUE(l.icon->IsVisible());
  EXPECT_EQ(l.icon->drag_state(), 1);
  EXPECT_EQ(l.list->drop_row(), -1);
  l.list->OnStylusUp(200, 200);
  EXPECT_EQ(l.channel->clips, (Clips{u"\\My Clips\\a.mp4"}));
  EXPECT_EQ(l.host.Count(kActionClipDeleted), 1);
  // One clip: a drag out and PL_DELETE leave it, and PL_DELETE is disabled.
  l.Drag(0, 200, 200);
  l.list->OnAction(kActionPlaylistDelete, u"", 0);
  EXPECT_EQ(l.channel->clips.size(), 1u);
  EXPECT_EQ(l.host.LastEnable(kActionPlaylistDelete), 0);
  EXPECT_EQ(l.host.LastEnable(kActionAddText), 1);
}

TEST(ClipOrderList, DownOnTheLastShownRowScrollsFirstAndShowsNamesShort) {
  ClipList l({u"\\a\\one.mp4", u"two", u"x.y", u"\\f\\four", u"five"}, 3);
  l.host.focused = l.list;
  EXPECT_EQ(l.list->last_shown(), 2);
  l.list->OnDirectionKey(3);
  l.list->OnDirectionKey(3);
  EXPECT_EQ(l.list->selected(), 2);
  EXPECT_EQ(l.host.Count(kActionSelectionChanged), 2);
  l.list->OnDirectionKey(3);  // on the last shown row: the list scrolls
  EXPECT_EQ(l.list->selected(), 2);
  EXPECT_EQ(l.list->first_shown(), 1);
  l.Draw();
  l.list->OnDirectionKey(3);
  EXPECT_EQ(l.list->selected(), 3);
  // Moving mode carries the clip.
  l.list->OnDirectionKey(4);
  EXPECT_TRUE(l.list->moving());
  l.list->OnDirectionKey(2);
  EXPECT_EQ(l.channel->clips[2], u"\\f\\four");
  EXPECT_EQ(ShownFileName(u"\\a\\one.mp4"), ov::String(u"one"));
  EXPECT_EQ(ShownFileName(u"x.y"), ov::String(u"x.y"));
  EXPECT_EQ(ShownFileName(u"\\f\\four"), ov::String(u"\\f\\four"));
}

TEST(ClipOrderList, StateKeepsChannelAndSelection) {
  ClipList l({u"a", u"b", u"c"});
  l.list->OnStylusDown(50, l.RowY(2));
  ov::Archive archive;
  l.list->SaveState(&archive);
  PlaylistOrder other;
  ov::Archive reader(std::vector<uint8_t>(archive.Bytes().begin(), archive.Bytes().end()));
  other.LoadState(&reader);
  EXPECT_EQ(other.selected(), 2);
  EXPECT_EQ(other.first_shown(), 2);
}

TEST(ScrollBarDrag, DraggingAThumbThatFillsTheTrackSendsNothing) {
  ClipList l({u"a", u"b", u"c"});
  ScrollBar bar;
  Place(&bar, 0, 0, 10, 100);
  bar.SetScrollRange(l.list, 2, 0, 3);  // range 3 = page 3
  bar.OnStylusDown(5, 50);
  EXPECT_EQ(l.host.pressed, &bar);
  for (int32_t y : {10, 90, 300, -300}) bar.OnStylusMove(5, y);
  EXPECT_EQ(l.list->first_shown(), 0);
}

}  // namespace
}  // namespace ui
