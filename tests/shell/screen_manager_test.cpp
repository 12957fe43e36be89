// The screen manager on the packed default skin, headless: focus animation,
// the soft-key sub-menu, stylus routing and capture, the idle count, option
// 27, the project and render codes' way to the mixer, keep-awake, painting
// of the focused element and of a background that cannot be read, and the
// shutdown splash.
#include "shell/screen_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/imaging/image.h"
#include "shell/packages.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/item_group.h"
#include "ui/placeholder_control.h"
#include "ui/softkey_menu.h"

namespace {

using ovtest::HeadlessDriver;

class ScreenManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    driver_ = std::make_unique<HeadlessDriver>(dir_);
    ASSERT_TRUE(driver_->ok());
  }
  void TearDown() override { driver_.reset(); }
  HeadlessDriver& d() { return *driver_; }
  ui::Control* Named(const char16_t* name) {
    return static_cast<ui::Control*>(d().sm().FindElementByName(nullptr, name, false));
  }
  std::string dir_;
  std::unique_ptr<HeadlessDriver> driver_;
};

// An element that counts the stylus events and draws it is given.
class Probe : public ui::PlaceholderControl {
 public:
  Probe(int32_t x, int32_t y, int32_t w, int32_t h) : ui::PlaceholderControl(ui::kTypeMenuItem) {
    LoadAttribute(u"xP", ov::String::Format(u"%d", x));
    LoadAttribute(u"yP", ov::String::Format(u"%d", y));
    LoadAttribute(u"xS", ov::String::Format(u"%d", w));
    LoadAttribute(u"yS", ov::String::Format(u"%d", h));
  }
  bool OnStylusDown(int32_t, int32_t) override { return ++downs, true; }
  bool OnStylusUp(int32_t, int32_t) override { return ++ups, true; }
  bool OnStylusMove(int32_t, int32_t) override { return ++moves, true; }
  void Draw(gfx::HDC, int state) override { draws.push_back(state); }
  int downs = 0, ups = 0, moves = 0;
  std::vector<int> draws;
};

Probe* AddProbe(HeadlessDriver& d, int32_t x, int32_t y, int32_t w, int32_t h) {
  return static_cast<Probe*>(d.sm().menu_container()->AddChild(std::make_unique<Probe>(x, y, w, h)));
}

TEST_F(ScreenManagerTest, ArrowKeyStartsTheStripAnimationOfTheNewFocus) {
  ui::Control* first = Named(u"main_0");
  ASSERT_NE(first, nullptr);
  first->LoadAttribute(u"al", u"button_focus.png");
  d().sm().OnKey(3);  // down: the right-hand (L) pair
  ASSERT_EQ(d().sm().focused(), first);
  EXPECT_TRUE(first->animation_running());
  d().Settle();  // one frame: shown by the paint, then over
  EXPECT_FALSE(first->animation_running());
}

TEST_F(ScreenManagerTest, LeftFromASoftkeySubMenuReturnsToItsRow) {
  ui::SoftkeyMenu* right = nullptr;
  for (const auto& c : d().sm().current_menu()->children()) {
    if (c->GetType() == ui::kTypeSoftkeyMenu && !static_cast<ui::SoftkeyMenu*>(c.get())->is_left()) {
      right = static_cast<ui::SoftkeyMenu*>(c.get());
    }
  }
  ASSERT_NE(right, nullptr);
  // "Settings" (third row from the top) becomes a sub-menu of one item.
  right->LoadAttribute(u"menuItemTitle2a", u"Help");
  right->LoadAttribute(u"menuItemAction2a", u"JUMP_TO help_menu");
  right->OnAction(ui::kActionMenuShown, ov::String(), 1);
  d().Command(ui::kCommandRightSoftkey);
  ASSERT_TRUE(d().sm().popup_menu_open());
  d().Key(wnd::Key::kUp);  // from New mix (bottom) to Open mix
  d().Key(wnd::Key::kUp);  // to Settings
  d().Key(wnd::Key::kRight);  // into its sub-menu
  d().Key(wnd::Key::kLeft);  // back out: on Settings, not on the top row (Quit)
  d().Key(wnd::Key::kEnter);  // into the sub-menu again
  ASSERT_TRUE(d().sm().popup_menu_open());
  d().Key(wnd::Key::kEnter);  // its only item
  EXPECT_FALSE(d().sm().popup_menu_open());
  EXPECT_EQ(d().Menu(), u"help_menu");
}

TEST_F(ScreenManagerTest, StylusGoesToTheLaterOfTwoOverlappingElements) {
  Probe* under = AddProbe(d(), 0, 200, 100, 40);
  Probe* over = AddProbe(d(), 50, 210, 100, 40);
  d().Tap(70, 220);
  EXPECT_EQ(over->downs, 1);
  EXPECT_EQ(over->ups, 1);
  EXPECT_EQ(under->downs + under->ups, 0);
  d().Tap(20, 220);  // only the first covers this point
  EXPECT_EQ(under->downs, 1);
  EXPECT_EQ(over->downs, 1);
}

TEST_F(ScreenManagerTest, OpenItemGroupCapturesTheStylus) {
  auto group = std::make_unique<ui::ItemGroup>();
  group->LoadAttribute(u"xP", u"0");
  group->LoadAttribute(u"yP", u"200");
  group->LoadAttribute(u"xS", u"80");
  group->LoadAttribute(u"yS", u"40");
  auto* g = static_cast<ui::ItemGroup*>(d().sm().menu_container()->AddChild(std::move(group)));
  Probe* later = AddProbe(d(), 0, 200, 80, 40);  // over the group, later in the list
  g->SetVisible(true);
  g->OnAction(ui::kActionItemGroupOpen, ov::String(), 0);
  EXPECT_EQ(d().sm().stylus_capture(), g);
  // Down and up go to the group alone, not to the element above it (a move
  // goes to the group first, then on as usual).
  d().window().Inject(wnd::Event(wnd::Message::kStylusDown, 0, 40, 220));
  d().window().Inject(wnd::Event(wnd::Message::kStylusMove, 1, 42, 222));
  d().window().Inject(wnd::Event(wnd::Message::kStylusUp, 0, 42, 222));
  d().Settle();
  EXPECT_EQ(later->downs + later->ups, 0);
  // Closing releases it.
  g->OnAction(ui::kActionItemGroupClose, ov::String(), 0);
  EXPECT_EQ(d().sm().stylus_capture(), nullptr);
  d().Tap(40, 220);
  EXPECT_EQ(later->downs, 1);
  // So does leaving the menu with the group open: the next screen's first
  // touch is its own.
  g->OnAction(ui::kActionItemGroupOpen, ov::String(), 0);
  d().Command(ui::kCommandRightSoftkey);
  d().Key(wnd::Key::kUp);
  d().Key(wnd::Key::kUp);
  d().Key(wnd::Key::kEnter);  // "Settings"
  ASSERT_EQ(d().Menu(), u"settings");
  EXPECT_EQ(d().sm().stylus_capture(), nullptr);
  EXPECT_FALSE(g->IsVisible());
  ASSERT_TRUE(d().TapElement(u"help_off"));
  EXPECT_EQ(*d().sm().options().GetOption(shell::UserOptions::kHelpOnSlot), 0u);
}

TEST_F(ScreenManagerTest, SoftkeyPressDelaysTheMenuTimeoutByOneTick) {
  d().sm().StopTimers();  // timer 102 ticks by hand only, however slow the machine
  // Ticks of timer 102 until the settings menu (timeout 2) is left.
  auto ticks_to_leave = [&](bool softkey) {
    if (!d().TapElement(u"main_2")) return -1;
    d().sm().current_menu()->LoadAttribute(u"timeout", u"2");
    for (int tick = 1; tick <= 10; ++tick) {
      d().sm().OnTimer(shell::kTimerIdle);
      if (softkey && tick == 1) d().sm().OnSoftkey(60);  // a code nothing takes
      if (d().Menu() != u"settings") return tick;
    }
    return 0;
  };
  EXPECT_EQ(ticks_to_leave(false), 3);  // the count must exceed the timeout
  EXPECT_EQ(ticks_to_leave(true), 4);   // the tick after the press only re-arms
}

TEST_F(ScreenManagerTest, OptionTwentySevenEnablesOneWizardItem) {
  std::vector<ui::Control*> items;
  for (int i = 0; i <= 8; ++i) {
    auto* c = static_cast<ui::Control*>(d().sm().menu_container()->AddChild(std::make_unique<ui::Control>()));
    c->LoadAttribute(u"action", ov::String::Format(u"MX_WIZARD_SETTING%d", i));
    items.push_back(c);
  }
  for (uint32_t v : {0u, 4u, 8u, 9u}) {
    *d().sm().options().GetOption(27) = v;
    d().sm().RefreshMenuState();
    for (uint32_t i = 0; i <= 8; ++i) EXPECT_EQ(items[i]->IsEnabled(), i == v) << "option " << v << " item " << i;
  }
}

// An element of a given type that writes each code it is sent, after its
// tag, into a shared log.
class Recorder : public ui::PlaceholderControl {
 public:
  Recorder(int32_t type, char tag, std::vector<std::pair<char, int32_t>>* log)
      : ui::PlaceholderControl(type), tag_(tag), log_(log) {}
  int OnAction(int32_t code, const ov::String&, int32_t) override {
    log_->push_back({tag_, code});
    return 0;
  }

 private:
  char tag_;
  std::vector<std::pair<char, int32_t>>* log_;
};

// The project and render codes go to the mixer, followed by the after-mixer
// notice to the current menu; saving and rendering stop the playing mix
// first.
TEST_F(ScreenManagerTest, ProjectAndRenderCodesGoToTheMixerSavesAndRendersAfterAStop) {
  std::vector<std::pair<char, int32_t>> log;
  d().sm().menu_container()->AddChild(std::make_unique<Recorder>(ui::kTypeMixer, 'm', &log));
  d().sm().JumpToMenu(u"settings");
  d().Settle();
  ASSERT_NE(d().sm().CurrentMenu(), d().sm().menu_container());
  d().sm().CurrentMenu()->AddChild(std::make_unique<Recorder>(ui::kTypeMenuItem, 'c', &log));
  using Log = std::vector<std::pair<char, int32_t>>;
  for (int32_t code : {ui::kActionMixSave, ui::kActionRenderMms, ui::kActionRenderEmail, ui::kActionRenderBlog,
                       ui::kActionRenderDevice}) {
    log.clear();
    d().sm().DoAction(code, ov::String(), 1);
    EXPECT_EQ(log, (Log{{'c', ui::kActionPlayStop}, {'m', code}, {'c', ui::kActionAfterMixerCode}})) << code;
  }
  for (int32_t code : {ui::kActionMixClear, ui::kActionMixChanged, ui::kActionMixLoad, ui::kActionCancelRender,
                       ui::kActionRenderDone, ui::kActionRenderFailed}) {
    log.clear();
    d().sm().DoAction(code, ov::String(), 1);
    EXPECT_EQ(log, (Log{{'m', code}, {'c', ui::kActionAfterMixerCode}})) << code;
  }
}

TEST_F(ScreenManagerTest, KeepAwakeHoldsTheDisplayWhileSet) {
  EXPECT_FALSE(d().window().keeping_awake());
  d().sm().SetKeepAwake(true);
  d().sm().OnTimer(shell::kTimerIdle);
  EXPECT_TRUE(d().window().keeping_awake());
  d().sm().SetKeepAwake(false);
  EXPECT_FALSE(d().window().keeping_awake());
}

TEST_F(ScreenManagerTest, FocusedElementIsDrawnFocusedWhereverItOverlaps) {
  Probe* p = AddProbe(d(), 10, 250, 40, 20);
  p->SetVisible(false);
  d().sm().SetFocus(p);
  d().sm().Paint({0, 240, 240, 300});
  EXPECT_EQ(p->draws, std::vector<int>{ui::kDrawFocused});
  p->draws.clear();
  d().sm().Paint({100, 0, 240, 100});  // elsewhere: not drawn
  EXPECT_TRUE(p->draws.empty());
}

TEST_F(ScreenManagerTest, UnreadableBackgroundIsFilledPlainAndNamed) {
  const gfx::Rect screen{0, 0, 240, 320};
  d().sm().Paint(screen);
  const gfx::Bitmap& back = *d().sm().back_buffer()->surface();
  // The default skin's text is dark: the plain fill is light.
  const uint16_t plain = gfx::ColorRefTo565(gfx::Rgb(0xF0, 0xF0, 0xF0));
  ASSERT_NE(back.row(2)[2], plain) << "the default background differs from the plain fill there";
  // A skin package whose "bg.png" is not a picture.
  const ov::String broken = ov::String::FromUtf8Lossy(dir_ + "/broken.pak");
  const char junk[] = "PNG? no";
  ASSERT_TRUE(shell::WritePak(broken, {{u"bg.png", std::vector<uint8_t>(junk, junk + sizeof junk)}}));
  ASSERT_TRUE(shell::SkinPackage().Open(broken));
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(d().TapElement(u"main_2"));
  d().sm().Paint(screen);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(d().SavePng(dir_ + "/settings_without_background.png"));
  // The main menu's pixels do not stay: the screen is filled plain.
  EXPECT_EQ(back.row(2)[2], plain);
  EXPECT_EQ(back.row(317)[237], plain);
  EXPECT_NE(err.find("bg.png"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  shell::SkinPackage().Open(ov::String::FromUtf8Lossy(OVMIX_BIN_DIR "Vex_240_320.pak"));
}

TEST(ShutdownSplash, DrawnOverTheScreenWhenTheManagerGoes) {
  const std::string dir = ovtest::ScratchDir();
  setenv("OVMIX_HEADLESS", "1", 1);
  auto window = wnd::Window::Create(u"splash", 240, 320, shell::ScreenManager::kBarHeight, 1, [](const wnd::Event&) {});
  ASSERT_TRUE(window);
  auto dc = gfx::CreateCompatibleDC(nullptr);
  gfx::HBitmap red = gfx::CreateBitmap565(240, 320);
  dc->SelectBitmap(red);
  gfx::FillRect(dc.get(), {0, 0, 240, 320}, gfx::CreateSolidBrush(gfx::Rgb(255, 0, 0)));
  ASSERT_TRUE(imaging::WritePng(dir + "/bye.png", *red));
  {
    shell::ScreenManager sm(240, 320, ov::String::FromUtf8Lossy(dir + "/user.opt"), window.get());
    sm.texts().shutdown_splash = ov::String::FromUtf8Lossy(dir + "/bye.png");
    EXPECT_EQ(window->surface()->row(160)[120], 0);
  }
  EXPECT_EQ(window->surface()->row(160)[120], 0xF800);
  EXPECT_EQ(window->surface()->row(319)[239], 0xF800);
}

}  // namespace

namespace {

TEST_F(ScreenManagerTest, SettingsShowAndSwitchTheHelpHints) {
  ASSERT_TRUE(d().TapElement(u"main_2"));
  ASSERT_EQ(d().Menu(), u"settings");
  ui::Element* state = d().sm().FindElementByName(nullptr, u"help_state", false);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->text(), ov::String(u"Help hints (1 on, 0 off): 1"));
  const uint32_t shown_before = *d().sm().options().GetOption(41);
  ASSERT_TRUE(d().TapElement(u"help_off"));
  EXPECT_EQ(*d().sm().options().GetOption(shell::UserOptions::kHelpOnSlot), 0u);
  EXPECT_EQ(state->text(), ov::String(u"Help hints (1 on, 0 off): 0"));
  ASSERT_TRUE(d().TapElement(u"help_on"));
  EXPECT_EQ(*d().sm().options().GetOption(shell::UserOptions::kHelpOnSlot), 1u);
  EXPECT_EQ(state->text(), ov::String(u"Help hints (1 on, 0 off): 1"));
  EXPECT_EQ(*d().sm().options().GetOption(41), shown_before);  // switching resets no hint
}

}  // namespace
