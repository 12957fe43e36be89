// The default skin's widget screens driven headless: a value picker's
// confirmed commit and a slider drag reaching "user.opt", the tour's sequences on the screen
// manager's ticks and focus moves, and golden pictures of each widget screen
// in both orientations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/os/thread.h"
#include "shell/user_options.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/action_keywords.h"
#include "ui/calendar.h"
#include "ui/list_control.h"
#include "ui/placeholder_control.h"
#include "ui/screen_links.h"
#include "ui/slider_control.h"
#include "ui/value_picker.h"

namespace {

using ovtest::HeadlessDriver;

// Focus moves by key until the named element has the focus.
bool FocusByKey(HeadlessDriver& d, const char16_t* name) {
  ui::Element* target = d.sm().FindElementByName(nullptr, name, false);
  for (int i = 0; target && i < 20 && d.sm().focused() != target; ++i) d.Key(wnd::Key::kDown);
  return target && d.sm().focused() == target;
}

// Opens "settings" on the test clock, runs `use` there, lets the timed save
// write "user.opt" and reads that file back (null when any step failed).
std::unique_ptr<shell::UserOptions> SavedAfterSettings(const std::function<void(HeadlessDriver&)>& use) {
  const std::string dir = ovtest::ScratchDir();
  ov::String options_path;
  {
    HeadlessDriver d(dir);
    ov::SetTickCountForTesting(100000);
    if (!d.ok() || !d.TapElement(u"main_2") || d.Menu() != u"settings") return nullptr;
    use(d);
    ov::SetTickCountForTesting(110000);
    d.sm().OnTimer(shell::kTimerOptions);
    options_path = d.sm().options().file_path();
  }
  auto read = std::make_unique<shell::UserOptions>(options_path);
  return read->LoadOptions() ? std::move(read) : nullptr;
}

TEST(WidgetScreens, ConfirmedValuePickerCommitReachesTheOptionsFile) {
  auto read = SavedAfterSettings([](HeadlessDriver& d) {
    auto* picker = static_cast<ui::ItemComboBox*>(d.sm().FindElementByName(nullptr, u"length_picker", false));
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(picker->GetType(), ui::kTypeItemComboBox);
    // An option matching no entry shows the first and stores it.
    EXPECT_EQ(picker->ShownText(), ov::String(u"12 s"));
    ASSERT_TRUE(FocusByKey(d, u"length_picker"));
    d.Key(wnd::Key::kRight);
    d.Key(wnd::Key::kRight);
    EXPECT_EQ(picker->ShownText(), ov::String(u"36 s"));
    const int length = d.sm().options().FindNumericIndex(u"WizardMediaLength");
    ASSERT_GE(length, 0);
    EXPECT_EQ(*d.sm().options().GetOption(length), 12u);
    d.Key(wnd::Key::kDown);  // leaving the picker asks first
    EXPECT_TRUE(picker->awaiting_confirmation());
    EXPECT_EQ(*d.sm().options().GetOption(length), 12u);
    ASSERT_TRUE(d.TapElement(u"confirm_length_ok"));
    EXPECT_FALSE(picker->awaiting_confirmation());
    EXPECT_EQ(*d.sm().options().GetOption(length), 36u);
    // The sort picker stores at every step.
    ASSERT_TRUE(FocusByKey(d, u"sort_picker"));
    d.Key(wnd::Key::kRight);
    EXPECT_EQ(*d.sm().options().GetOption(0), 1u);
  });
  ASSERT_TRUE(read);
  EXPECT_EQ(*read->GetOption(read->FindNumericIndex(u"WizardMediaLength")), 36u);
  EXPECT_EQ(*read->GetOption(0), 1u);
}

// Counts the announcements that a cut option changed (action 248).
class CutRecorder : public ui::PlaceholderControl {
 public:
  CutRecorder() : ui::PlaceholderControl(ui::kTypeMenuItem) {}
  bool IsFocusable() const override { return false; }
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override {
    if (code == ui::kActionOptionCut) ++cuts;
    return ui::PlaceholderControl::OnAction(code, argument, flag);
  }
  int cuts = 0;
};

// The cut sliders on "settings" dragged by the driver: each stores its
// option (38 CutFlagStart, 39 CutFlagEnd) when the stylus is let go, which
// announces the cut with 248, and the timed save writes both.
TEST(WidgetScreens, SliderDragReachesTheOptionsFileAndAnnouncesTheCut) {
  auto read = SavedAfterSettings([](HeadlessDriver& d) {
    auto* recorder = static_cast<CutRecorder*>(d.sm().current_menu()->AddChild(std::make_unique<CutRecorder>()));
    auto* start = static_cast<ui::SliderControl*>(d.sm().FindElementByName(nullptr, u"cut_start_slider", false));
    auto* end = static_cast<ui::SliderControl*>(d.sm().FindElementByName(nullptr, u"cut_end_slider", false));
    ASSERT_TRUE(start && end);
    ASSERT_EQ(start->GetType(), ui::kTypeSliderControl);
    ASSERT_EQ(start->GetXSize(), 118);  // 110 pixels of track beside the 8-pixel knob
    EXPECT_EQ(start->value(), 0);
    // Grabbed at the knob, 60 pixels right (the stylus drifting down a
    // little): 60 * 100 / 109 = 55 %.
    const int32_t kx = start->x() + 4, ky = start->y() + 3;
    d.Drag({kx, ky}, {{kx + 20, ky}, {kx + 40, ky + 2}, {kx + 60, ky + 4}});
    EXPECT_EQ(start->value(), 55);
    EXPECT_EQ(*d.sm().options().GetOption(38), 55u);
    EXPECT_EQ(*d.sm().options().GetOption(39), 0u);
    EXPECT_EQ(recorder->cuts, 1);
    // Past the right end: 100; then back by 30 pixels from there: 73.
    const int32_t ex = end->x() + 4, ey = end->y() + 3;
    d.Drag({ex, ey}, {{ex + 400, ey}});
    EXPECT_EQ(*d.sm().options().GetOption(39), 100u);
    EXPECT_EQ(recorder->cuts, 2);
    d.Drag({ex, ey}, {{ex - 30, ey}});
    EXPECT_EQ(end->value(), 73);
    EXPECT_EQ(*d.sm().options().GetOption(39), 73u);
    EXPECT_EQ(recorder->cuts, 3);
  });
  ASSERT_TRUE(read);
  EXPECT_EQ(*read->GetOption(read->FindNumericIndex(u"CutFlagStart")), 55u);
  EXPECT_EQ(*read->GetOption(read->FindNumericIndex(u"CutFlagEnd")), 73u);
}

// Runs n animation ticks step ms apart on the test clock. The clock goes on
// in real time between ticks, so step is well above every delay involved:
// each tick then moves every animation and sequence by exactly one step,
// however slowly the test runs.
void Ticks(HeadlessDriver& d, uint32_t* now, int n, uint32_t step = 200) {
  for (int i = 0; i < n; ++i) {
    *now += step;
    ov::SetTickCountForTesting(*now);
    d.sm().OnTimer(shell::kTimerTick);
    d.Settle();
  }
}

TEST(WidgetScreens, TourSlidesItsButtonsInAndFlashesOnFocusMoves) {
  HeadlessDriver d(ovtest::ScratchDir());
  ASSERT_TRUE(d.ok());
  d.sm().StopTimers();
  uint32_t now = 200000;
  ov::SetTickCountForTesting(now);
  d.sm().DoAction(ui::kActionJumpTo, u"tour", 1);
  d.Settle();
  ASSERT_EQ(d.Menu(), u"tour");
  ui::Element* first = d.sm().FindElementByName(nullptr, u"tour_0", false);
  ASSERT_NE(first, nullptr);
  const int32_t home = (240 - 200) / 2 + 8;  // the skin's xPos of the first button
  EXPECT_EQ(first->x(), home - 320);         // jumped left at the screen's start
  Ticks(d, &now, 40);
  EXPECT_EQ(first->x(), home);
  ASSERT_EQ(d.sm().current_menu()->sequences().size(), 2u);
  ui::Element* flash = d.sm().current_menu()->sequences()[1]->ControlPart();
  EXPECT_FALSE(flash->IsVisible());
  d.Key(wnd::Key::kDown);  // a focus move triggers "selection"
  EXPECT_TRUE(flash->IsVisible());
  Ticks(d, &now, 5);
  EXPECT_TRUE(flash->IsVisible());  // six frames
  Ticks(d, &now, 1);
  EXPECT_FALSE(flash->IsVisible());  // played once
  EXPECT_EQ(first->x(), home);       // the slide runs only at the start
}

// A channel of four clips for the clip order list (the mixer screens are not
// in this skin).
class ClipChannel : public ui::Control, public ui::ChannelLink {
 public:
  ClipChannel() {
    type_ = ui::kTypeChannelSelection;
    title_ = u"golden_channel";
    x_ = y_ = 0;
  }
  ui::ChannelLink* AsChannel() override { return this; }
  bool IsFocusable() const override { return false; }
  void Draw(gfx::HDC, int) override {}
  int32_t ClipCount() override { return static_cast<int32_t>(clips.size()); }
  ov::String GetClipFile(int32_t i) override { return clips[i]; }
  void MoveClip(int32_t from, int32_t to) override {
    const ov::String c = clips[from];
    clips.erase(clips.begin() + from);
    clips.insert(clips.begin() + to, c);
  }
  void RemoveClip(int32_t i) override { clips.erase(clips.begin() + i); }
  void ClearChannel(int32_t) override {}
  std::vector<ov::String> clips = {u"\\My Documents\\Beach.mp4", u"\\My Documents\\Sunset.3gp",
                                   u"\\Storage Card\\Party night.mp4", u"Intro"};
};

// A fixed date for the calendar and a channel for the clip order list.
void PrepareScreen(HeadlessDriver& d, const char16_t* menu) {
  if (std::u16string(menu) == u"clip_order") {
    d.sm().current_menu()->AddChild(std::make_unique<ClipChannel>());
    ui::Element* list = d.sm().FindElementByName(nullptr, u"clip_list", false);
    ASSERT_NE(list, nullptr);
    list->OnAction(ui::kActionSetChannel, u"golden_channel", 0);
    d.Settle();  // drawn once, so the rows can be hit
    list->OnStylusDown(list->x() + 20, list->y() + 16 + 8);  // the second row
  }
  if (std::u16string(menu) == u"calendar_screen") {
    auto* cal = static_cast<ui::Calendar*>(d.sm().FindElementByType(nullptr, ui::kTypeCalendar, 1));
    ASSERT_NE(cal, nullptr);
    const int64_t date = ui::Calendar::MakeDate(2025, 3, 10, 0, 0, 0);
    cal->SetDates(date, date, date + 4 * ui::Calendar::kDay);
    cal->OnAction(ui::kActionCalendarShowDays, u"", 0);
    cal->SetDates(date, date, date + 4 * ui::Calendar::kDay);
  }
}

struct GoldenCase {
  const char16_t* menu;
  const char* name;
};

class Goldens : public ::testing::TestWithParam<const char*> {};

// Each widget screen painted on the test clock, compared pixel for pixel
// with its committed picture. OVMIX_WRITE_GOLDEN=1 writes the pictures
// instead (look at them before committing).
TEST_P(Goldens, WidgetScreensMatchTheirPictures) {
  const std::string size = GetParam();
  const std::string dir = ovtest::ScratchDir();
  const std::string docs = dir + "/documents";
  for (const char* f : {"Movies", "Music", "Pictures", "Storage Card/DCIM"}) {
    std::filesystem::create_directories(docs + "/" + f);
  }
  setenv("OVMIX_DOCUMENTS", docs.c_str(), 1);
  setenv("OVMIX_SCREEN", size.c_str(), 1);
  setenv("TZ", "UTC", 1);
  tzset();
  const GoldenCase cases[] = {{u"settings", "settings"},       {u"tour", "tour"},
                              {u"set_location", "set_location"}, {u"calendar_screen", "calendar"},
                              {u"colours", "colours"},         {u"clip_order", "clip_order"}};
  for (const GoldenCase& k : cases) {
    HeadlessDriver d(dir);
    ASSERT_TRUE(d.ok());
    d.sm().StopTimers();
    uint32_t now = 300000;
    ov::SetTickCountForTesting(now);
    d.sm().DoAction(ui::kActionJumpTo, k.menu, 1);
    d.Settle();
    ASSERT_EQ(d.Menu(), std::u16string(k.menu));
    PrepareScreen(d, k.menu);
    Ticks(d, &now, 40);
    const gfx::Size s = d.sm().ScreenSize();
    d.sm().Paint({0, 0, s.cx, s.cy + shell::ScreenManager::kBarHeight});
    const std::string file = std::string(k.name) + "_" + size + ".png";
    EXPECT_EQ(d.DifferFromGolden(file, dir), 0) << file << " differs; see " << dir;
  }
  unsetenv("OVMIX_SCREEN");
  unsetenv("OVMIX_DOCUMENTS");
  unsetenv("TZ");
  tzset();
}

// The driver's drag on the skin's clip order list, routed by the screen
// manager: the third clip dragged onto the first row moves to the top, and
// a drag out of the list removes the selected clip.
TEST(WidgetScreens, DragInTheClipOrderListReordersTheChannel) {
  HeadlessDriver d(ovtest::ScratchDir());
  ASSERT_TRUE(d.ok());
  d.sm().DoAction(ui::kActionJumpTo, u"clip_order", 1);
  d.Settle();
  auto* channel = static_cast<ClipChannel*>(d.sm().current_menu()->AddChild(std::make_unique<ClipChannel>()));
  ui::Element* list = d.sm().FindElementByName(nullptr, u"clip_list", false);
  ASSERT_NE(list, nullptr);
  list->OnAction(ui::kActionSetChannel, u"golden_channel", 0);
  d.Settle();
  const int32_t row = static_cast<ui::ListControl*>(list)->row_height();
  auto drag = [&](int32_t from_row, int32_t x, int32_t y) {
    const int32_t fx = list->x() + 30, fy = list->y() + from_row * row + row / 2;
    d.window().Inject(wnd::Event(wnd::Message::kStylusDown, 0, fx, fy));
    d.window().Inject(wnd::Event(wnd::Message::kStylusMove, 1, x, y));  // 1: the stylus is down
    d.window().Inject(wnd::Event(wnd::Message::kStylusUp, 0, x, y));
    d.Settle();
  };
  drag(2, list->x() + 30, list->y() + row / 2);
  std::vector<std::u16string> names;
  for (const ov::String& c : channel->clips) names.emplace_back(ui::ShownFileName(c).View());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Party night", u"Beach", u"Sunset", u"Intro"}));
  drag(3, 5, 5);  // out of the list
  EXPECT_EQ(channel->clips.size(), 3u);
  EXPECT_FALSE(d.sm().FindElementByName(nullptr, u"drag_icon", false)->IsVisible());
}

// Focus moves by key send 4 (down, right) or 5 (up, left) before 1.
TEST(WidgetScreens, FocusMovesSendTheirDirectionTriggers) {
  HeadlessDriver d(ovtest::ScratchDir());
  ASSERT_TRUE(d.ok());
  ui::Menu* menu = d.sm().current_menu();
  auto* right = static_cast<ui::Sequence*>(menu->CreateChild(u"MQ"));
  right->LoadAttribute(u"trigger", u"selectionr");
  auto* left = static_cast<ui::Sequence*>(menu->CreateChild(u"MQ"));
  left->LoadAttribute(u"trigger", u"selectionl");
  d.Key(wnd::Key::kDown);
  EXPECT_TRUE(right->IsRunning());
  EXPECT_FALSE(left->IsRunning());
  d.Key(wnd::Key::kUp);
  EXPECT_TRUE(left->IsRunning());
}

INSTANTIATE_TEST_SUITE_P(Skin, Goldens, ::testing::Values("240x320", "320x240"));

}  // namespace
