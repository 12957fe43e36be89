// The shell driven headless: navigation, popups, soft keys, the action
// queue and painting, on the packed default skin.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/drop_down_menu.h"
#include "ui/item_group.h"
#include "ui/placeholder_control.h"

namespace {

using ovtest::HeadlessDriver;

class NavigationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_ = std::make_unique<HeadlessDriver>(ovtest::ScratchDir());
    ASSERT_TRUE(driver_->ok());
  }
  void TearDown() override { driver_.reset(); }
  HeadlessDriver& d() { return *driver_; }
  std::unique_ptr<HeadlessDriver> driver_;
};

TEST(NavigationSplash, SplashTimesOutToMainMenu) {
  HeadlessDriver d(ovtest::ScratchDir(), true);
  ASSERT_TRUE(d.ok());
  // The idle timer is driven by hand: the real one would add ticks of its
  // own on a slow machine.
  d.sm().StopTimers();
  EXPECT_EQ(d.Menu(), u"splash_screen");
  // "timeout" 2: left when the idle count exceeds it, at the third tick.
  d.sm().OnTimer(shell::kTimerIdle);
  d.sm().OnTimer(shell::kTimerIdle);
  EXPECT_EQ(d.Menu(), u"splash_screen");
  d.sm().OnTimer(shell::kTimerIdle);
  EXPECT_EQ(d.Menu(), u"main_menu");
  EXPECT_TRUE(d.sm().history().empty());
}

TEST_F(NavigationTest, JumpAndBackFollowTheHistory) {
  EXPECT_EQ(d().Menu(), u"main_menu");
  ASSERT_TRUE(d().TapElement(u"main_0"));
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  d().sm().DoAction(ui::kActionJumpTo, u"save_menu", 1);
  EXPECT_EQ(d().Menu(), u"save_menu");
  EXPECT_EQ(d().sm().history().size(), 2u);
  d().Back();
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  d().Back();
  EXPECT_EQ(d().Menu(), u"main_menu");
  d().Back();  // empty history: nothing happens
  EXPECT_EQ(d().Menu(), u"main_menu");
  // Jumping to the menu container clears the history.
  ASSERT_TRUE(d().TapElement(u"main_2"));
  d().sm().DoAction(ui::kActionJumpTo, u"main_menu", 1);
  EXPECT_EQ(d().Menu(), u"main_menu");
  EXPECT_TRUE(d().sm().history().empty());
}

TEST_F(NavigationTest, KeyboardMovesFocusAndActivates) {
  d().Key(wnd::Key::kDown);
  ASSERT_NE(d().sm().focused(), nullptr);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"main_0"));
  d().Key(wnd::Key::kDown);
  d().Key(wnd::Key::kDown);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"main_2"));
  d().Key(wnd::Key::kUp);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"main_1"));
  d().Key(wnd::Key::kEnter);
  EXPECT_EQ(d().Menu(), u"media_browser");
  d().Back();
  EXPECT_EQ(d().Menu(), u"main_menu");
}

TEST_F(NavigationTest, PopupOpensTakesFocusAndClosesBackToItsMenu) {
  d().Command(ui::kCommandLeftSoftkey);  // "About": SHOW_POPUP about_popup
  ui::Element* popup = d().sm().focused();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->GetType(), ui::kTypePopupMessageBox);
  EXPECT_TRUE(popup->IsVisible());
  EXPECT_EQ(d().sm().history().size(), 1u);
  d().Back();  // Back does nothing while a popup holds the focus
  EXPECT_EQ(d().sm().focused(), popup);
  // The popup's items take the keys: down selects OK, Enter closes.
  d().Key(wnd::Key::kDown);
  d().Key(wnd::Key::kEnter);
  EXPECT_FALSE(popup->IsVisible());
  EXPECT_EQ(d().sm().focused(), nullptr);
  EXPECT_EQ(d().Menu(), u"main_menu");
  EXPECT_TRUE(d().sm().history().empty());
  // SHOW_POPUP naming an element that is no popup opens nothing.
  EXPECT_EQ(d().sm().DoAction(ui::kActionShowPopup, u"main_0", 1), 0);
  EXPECT_EQ(d().sm().focused(), nullptr);
}

TEST_F(NavigationTest, SecondPopupReplacesTheFirstWithoutHistory) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  ASSERT_EQ(d().Menu(), u"mixing_menu");
  const size_t depth = d().sm().history().size();
  d().sm().DoAction(ui::kActionShowPopup, u"DECOMPRESSION_PROGRESS", 1);
  d().sm().DoAction(ui::kActionShowPopup, u"DECOMPRESSION_FAILURE", 1);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"DECOMPRESSION_FAILURE"));
  EXPECT_EQ(d().sm().history().size(), depth + 1);
  // PREVIOUS_MENU with no item chosen in the popup leaves it open; a second
  // open closes it.
  d().sm().DoAction(ui::kActionPreviousMenu, ov::String(), 1);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"DECOMPRESSION_FAILURE"));
  d().sm().OpenPopup(d().sm().focused());
  EXPECT_EQ(d().sm().focused(), nullptr);
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_EQ(d().sm().history().size(), depth);
}

TEST_F(NavigationTest, RightSoftkeyListsItemsInReverseAndRunsThem) {
  d().Command(ui::kCommandRightSoftkey);
  ASSERT_TRUE(d().sm().popup_menu_open());
  const auto& popup = d().sm().GetMenuBar()->right.popup;
  ASSERT_EQ(popup.size(), 5u);
  EXPECT_EQ(popup[0].text, ov::String(u"Quit"));
  EXPECT_TRUE(popup[1].separator);
  EXPECT_EQ(popup[2].text, ov::String(u"Settings"));
  EXPECT_EQ(popup[4].text, ov::String(u"New mix"));
  EXPECT_EQ(popup[4].id, 40006u);
  EXPECT_EQ(popup[0].id, 40009u);
  // Up from the bottom row skips the separator's neighbour order: New mix
  // (bottom) -> Open mix -> Settings.
  d().Key(wnd::Key::kUp);
  d().Key(wnd::Key::kUp);
  d().Key(wnd::Key::kEnter);
  EXPECT_FALSE(d().sm().popup_menu_open());
  EXPECT_EQ(d().Menu(), u"settings");
  EXPECT_EQ(d().sm().GetMenuBar()->left.text, ov::String(u"Back"));
  d().Command(ui::kCommandLeftSoftkey);
  EXPECT_EQ(d().Menu(), u"main_menu");
}

TEST_F(NavigationTest, OptionBindingThroughSetAttribute) {
  ASSERT_TRUE(d().TapElement(u"main_2"));
  ASSERT_EQ(d().Menu(), u"settings");
  d().sm().DoAction(ui::kActionSetAttribute, u" HelpOn=0", 1);
  d().Settle();
  EXPECT_EQ(*d().sm().options().GetOption(45), 0u);
  ui::Element* label = d().sm().FindElementByName(nullptr, u"help_state", false);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), ov::String(u"Help hints (1 on, 0 off): 0"));
  // Malformed parameters change nothing.
  EXPECT_EQ(d().sm().DoAction(ui::kActionSetAttribute, u"=5", 1), 0);
  EXPECT_EQ(d().sm().DoAction(ui::kActionSetAttribute, u"HelpOn", 1), 0);
  EXPECT_EQ(*d().sm().options().GetOption(45), 0u);
}

// An element that notes the thread it is called on.
class Recorder : public ui::PlaceholderControl {
 public:
  Recorder() : ui::PlaceholderControl(ui::kTypeMenuItem) {}
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override {
    if (code == 500) {
      thread = std::this_thread::get_id();
      ++calls;
      return 1;
    }
    return ui::PlaceholderControl::OnAction(code, argument, flag);
  }
  std::thread::id thread;
  int calls = 0;
};

TEST_F(NavigationTest, HelpHintOpensInTheMenuThatRequestsIt) {
  ASSERT_EQ(*d().sm().options().GetOption(45), 1u);  // help on after a first start
  // The idle timer is driven by hand: the real one could show a hint before
  // the focus moves on a slow machine.
  d().sm().StopTimers();
  d().sm().DoAction(ui::kActionJumpTo, u"save_menu", 1);
  ASSERT_EQ(d().Menu(), u"save_menu");
  d().Key(wnd::Key::kDown);  // focus on "Save", bound to MX_SAVE: hint 12
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"save_save"));
  d().sm().OnTimer(shell::kTimerIdle);
  ASSERT_NE(d().sm().focused(), nullptr);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"help12"));
  // HW_DISMISSHELP closes the hint and gives the focus back; it is shown
  // once only.
  d().sm().DoAction(ui::kActionHelpDismiss, ov::String(), 1);
  EXPECT_EQ(d().sm().focused()->title(), ov::String(u"save_save"));
  d().Key(wnd::Key::kDown);
  d().sm().OnTimer(shell::kTimerIdle);
  EXPECT_NE(d().sm().focused()->GetType(), ui::kTypePopupMessageBox);
}

TEST_F(NavigationTest, QueuedActionsRunOnTheUiThreadInOrder) {
  auto* recorder = static_cast<Recorder*>(d().sm().menu_container()->AddChild(std::make_unique<Recorder>()));
  std::thread worker([&] {
    d().sm().QueueAction(recorder, 500, ov::String(), 0);
    d().sm().QueueAction(nullptr, ui::kActionJumpTo, u"help_menu", 1);
  });
  worker.join();
  d().Settle();
  EXPECT_EQ(recorder->calls, 1);
  EXPECT_EQ(recorder->thread, std::this_thread::get_id());
  EXPECT_EQ(d().Menu(), u"help_menu");
  EXPECT_EQ(d().sm().ProcessQueuedActions(), 0);
}

TEST_F(NavigationTest, PartialRepaintMatchesFullRepaintAndCopiesOnlyTheArea) {
  const gfx::Rect full{0, 0, 240, 320};
  d().sm().Paint(full);
  const std::string whole = d().BackBufferHash();
  d().window().TakePresented();
  const gfx::Rect part{30, 70, 150, 130};
  d().sm().Paint(part);
  EXPECT_EQ(d().BackBufferHash(), whole);
  const std::vector<gfx::Rect> presented = d().window().TakePresented();
  ASSERT_EQ(presented.size(), 1u);
  EXPECT_EQ(presented[0], part);
  EXPECT_EQ(d().sm().background_loads(), 1);
}

TEST_F(NavigationTest, DropDownOpensTakesFocusAndClosesOnChoice) {
  auto dd = std::make_unique<ui::DropDownMenu>();
  for (int i = 0; i < 3; ++i) {
    auto item = std::make_unique<ui::Control>();
    item->LoadAttribute(u"xP", ov::String::Format(u"%d", 20));
    item->LoadAttribute(u"yP", ov::String::Format(u"%d", 100 + 30 * i));
    item->LoadAttribute(u"xS", u"100");
    item->LoadAttribute(u"yS", u"25");
    item->LoadAttribute(u"ti", ov::String::Format(u"dd%d", i));
    item->LoadAttribute(u"action", u"SETATTRIBUTE MediaBrowserSort=7");
    dd->AddItem(std::move(item));
  }
  auto* drop = static_cast<ui::DropDownMenu*>(d().sm().menu_container()->AddChild(std::move(dd)));
  EXPECT_FALSE(drop->IsVisible());
  d().sm().OpenPopup(drop);
  EXPECT_EQ(d().sm().focused(), drop);
  EXPECT_TRUE(drop->IsVisible());
  EXPECT_EQ(d().sm().GetMenuBar()->right.state, ui::kButtonGreyed);
  d().Back();  // not while the drop-down holds the focus
  EXPECT_EQ(d().sm().focused(), drop);
  d().Key(wnd::Key::kUp);  // backwards from nothing: the last item
  EXPECT_EQ(drop->current(), 2);
  d().Key(wnd::Key::kDown);  // wraps to the first
  EXPECT_EQ(drop->current(), 0);
  d().Key(wnd::Key::kEnter);
  EXPECT_FALSE(drop->IsVisible());
  EXPECT_EQ(d().sm().focused(), nullptr);
  EXPECT_EQ(*d().sm().options().GetOption(0), 7u);
  EXPECT_EQ(d().sm().GetMenuBar()->right.state, ui::kButtonEnabled);
}

TEST_F(NavigationTest, ItemGroupOpensAtTheStylusAndClosesOnATouchOutside) {
  auto group = std::make_unique<ui::ItemGroup>();
  group->LoadAttribute(u"xP", u"0");
  group->LoadAttribute(u"yP", u"0");
  group->LoadAttribute(u"xS", u"80");
  group->LoadAttribute(u"yS", u"40");
  auto item = std::make_unique<ui::Control>();
  item->LoadAttribute(u"xP", u"0");
  item->LoadAttribute(u"yP", u"0");
  item->LoadAttribute(u"xS", u"80");
  item->LoadAttribute(u"yS", u"40");
  item->LoadAttribute(u"action", u"SETATTRIBUTE MediaBrowserSort=9");
  group->AddItem(std::move(item));
  auto* g = static_cast<ui::ItemGroup*>(d().sm().menu_container()->AddChild(std::move(group)));
  g->SetVisible(false);
  ov::SetTickCountForTesting(500000);
  g->ShowAtPoint(30, 200);
  g->SetVisible(true);
  g->OnAction(ui::kActionItemGroupOpen, ov::String(), 0);
  EXPECT_EQ(g->x(), 34);
  EXPECT_EQ(g->y(), 204);
  // A tap on its item runs it; the group takes the stylus while open.
  d().Tap(g->x() + 40, g->y() + 20);
  EXPECT_EQ(*d().sm().options().GetOption(0), 9u);
  EXPECT_TRUE(g->IsVisible());
  ov::SetTickCountForTesting(501000);
  d().Tap(200, 40);
  EXPECT_FALSE(g->IsVisible());
  EXPECT_EQ(d().Menu(), u"main_menu");
}

TEST_F(NavigationTest, ScreensReachableByStylusAndKeyboardAndLeftWithBack) {
  const char16_t* buttons[] = {u"main_0", u"main_1", u"main_2", u"main_3"};
  const char16_t* screens[] = {u"mixing_menu", u"media_browser", u"settings", u"help_menu"};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(d().TapElement(buttons[i]));
    EXPECT_EQ(d().Menu(), screens[i]);
    d().Back();
    EXPECT_EQ(d().Menu(), u"main_menu");
  }
  // Every screen's left soft key leaves it.
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(d().TapElement(buttons[i]));
    d().Command(ui::kCommandLeftSoftkey);
    EXPECT_EQ(d().Menu(), u"main_menu") << i;
  }
}

}  // namespace

namespace {

// Screens of the default skin as PNGs in the scratch folder, for review and
// for the pictures in docs/.
TEST_F(NavigationTest, OkButtonFollowsShowOkAndItsClickStepsBack) {
  wnd::Window& w = d().window();
  EXPECT_FALSE(w.ok_button_shown());
  EXPECT_EQ(w.style() & wnd::kStyleOkButton, 0u);
  ui::Menu* settings = d().sm().menu_container()->FindMenu(u"settings");
  ASSERT_NE(settings, nullptr);
  settings->LoadAttribute(u"showOk", u"y");
  ASSERT_TRUE(d().TapElement(u"main_2"));
  ASSERT_EQ(d().Menu(), u"settings");
  EXPECT_TRUE(w.ok_button_shown());
  EXPECT_NE(w.style() & wnd::kStyleOkButton, 0u);

  // The click reaches the window procedure as the OK command, which goes
  // back as the Back key does: to a menu without "showOk", the button hidden.
  const gfx::Rect ok = w.ok_button_rect();
  ASSERT_FALSE(ok.IsEmpty());
  d().Tap((ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2);
  EXPECT_EQ(d().Menu(), u"main_menu");
  EXPECT_TRUE(d().sm().history().empty());
  EXPECT_FALSE(w.ok_button_shown());
  EXPECT_EQ(w.style() & wnd::kStyleOkButton, 0u);
  // Only the exact OK word steps back: another command with low word 1 does not.
  ASSERT_TRUE(d().TapElement(u"main_1"));
  d().Command(1);
  EXPECT_EQ(d().Menu(), u"media_browser");
}

TEST(Screenshots, MainMenuAndPopup) {
  const std::string dir = ovtest::ScratchDir();
  HeadlessDriver d(dir);
  ASSERT_TRUE(d.ok());
  const gfx::Rect all{0, 0, 240, 320 + shell::ScreenManager::kBarHeight};
  const gfx::Bitmap& screen = *d.window().surface();
  auto at = [&](int32_t x, int32_t y) { return screen.row(y)[x]; };
  d.sm().Paint(all);
  // Unfocused, the first two buttons wear the same face.
  EXPECT_EQ(at(24, 91), at(24, 133));
  const uint16_t face = at(24, 91);
  d.Key(wnd::Key::kDown);
  d.sm().Paint(all);
  EXPECT_TRUE(d.SavePng(dir + "/main_menu.png"));
  // The focused face differs, the next one is unchanged; the bar carries
  // its labels.
  EXPECT_NE(at(24, 91), face);
  EXPECT_EQ(at(24, 133), face);
  int bar_ink[2] = {0, 0};  // left and right half
  for (int32_t y = 320; y < 320 + shell::ScreenManager::kBarHeight; ++y) {
    for (int32_t x = 0; x < 240; ++x) bar_ink[x / 120] += at(x, y) == gfx::ColorRefTo565(gfx::Rgb(0xF2, 0xF4, 0xF7));
  }
  EXPECT_GT(bar_ink[0], 10);  // "About"
  EXPECT_GT(bar_ink[1], 10);  // "Menu"
  const uint16_t behind_popup = at(120, 150);
  d.Command(ui::kCommandLeftSoftkey);
  d.sm().Paint(all);
  EXPECT_TRUE(d.SavePng(dir + "/popup.png"));
  EXPECT_NE(at(120, 150), behind_popup);  // the popup's panel covers the menu
  d.Key(wnd::Key::kDown);
  d.Key(wnd::Key::kEnter);
  EXPECT_EQ(at(120, 150), behind_popup);  // closed: the menu again
  d.Command(ui::kCommandRightSoftkey);
  d.sm().Paint(all);
  EXPECT_TRUE(d.SavePng(dir + "/softkey_menu.png"));
  // The soft-key menu rises from the bar at the right, its bottom row chosen.
  EXPECT_EQ(at(235, 315), gfx::ColorRefTo565(gfx::Rgb(0x2F, 0x80, 0xED)));
  EXPECT_EQ(at(230, 280), gfx::ColorRefTo565(gfx::Rgb(0xFA, 0xFB, 0xFC)));
  d.Command(ui::kCommandRightSoftkey);
  ASSERT_TRUE(d.TapElement(u"main_2"));
  d.sm().Paint(all);
  EXPECT_TRUE(d.SavePng(dir + "/settings.png"));
}

}  // namespace

namespace {

// A second start finds the lock, signals the running instance and exits 0;
// the first comes to the front, also when the signal came before it listened.
TEST(SingleInstance, SecondStartExitsAndRaisesTheFirst) {
  const std::string data_home = ovtest::ScratchDir();
  HeadlessDriver d(data_home);
  ASSERT_TRUE(d.ok());
  const ov::String lock_path = ov::String::FromUtf8Lossy(data_home + "/ovmix/ovmix.lock");
  ASSERT_TRUE(ov::CreateFolderTree(ov::String::FromUtf8Lossy(data_home + "/ovmix")) ||
              ov::FolderExists(ov::String::FromUtf8Lossy(data_home + "/ovmix")));
  wnd::InstanceLock lock;
  ASSERT_TRUE(lock.Acquire(lock_path));
  wnd::InstanceLock other;
  EXPECT_FALSE(other.Acquire(lock_path));
  // The second start comes while the first is still starting, before it
  // listens: the signal is kept for it.
  const std::string command = "OVMIX_HEADLESS=1 XDG_DATA_HOME='" + data_home + "' '" OVMIX_BIN_DIR "ovmix'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  lock.ListenForOthers();
  // The signal waits in the fifo until the listener reads it, however late
  // its thread runs: the test waits for the raise (a minute at most).
  const auto signalled = std::chrono::steady_clock::now();
  while (d.window().raise_count() == 0 && std::chrono::steady_clock::now() - signalled < std::chrono::minutes(1)) {
    d.window().Pump(10);
  }
  EXPECT_EQ(d.window().raise_count(), 1);
  EXPECT_EQ(d.Menu(), u"main_menu");  // the first keeps running
}

// With no display to open and no headless run asked for, the start fails
// and says why, rather than running unseen with the instance lock held.
// The time limit only ends a program that ran on.
TEST(SingleInstance, AStartWithoutADisplayFailsAndSaysWhy) {
  const std::string data_home = ovtest::ScratchDir();
  const std::string log = data_home + "/start.log";
  const std::string command =
      "env -u OVMIX_HEADLESS -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY=:7777 XDG_DATA_HOME='" + data_home +
      "' timeout 120 '" OVMIX_BIN_DIR "ovmix' 2>'" + log + "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::vector<uint8_t> said = ovtest::ReadFileBytes(log);
  EXPECT_NE(std::string(said.begin(), said.end()).find("cannot start the display: no display could be opened"),
            std::string::npos);
}

}  // namespace

namespace {

TEST(Screenshots, LandscapeSkinLoadsAndPaints) {
  const std::string dir = ovtest::ScratchDir();
  setenv("OVMIX_SCREEN", "320x240", 1);
  {
    HeadlessDriver d(dir);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.window().screen_width(), 320);
    EXPECT_EQ(d.Menu(), u"main_menu");
    d.Key(wnd::Key::kDown);
    d.sm().Paint({0, 0, 320, 240 + shell::ScreenManager::kBarHeight});
    EXPECT_TRUE(d.SavePng(dir + "/landscape_main.png"));
    ASSERT_TRUE(d.TapElement(u"main_2"));
    d.sm().Paint({0, 0, 320, 240 + shell::ScreenManager::kBarHeight});
    EXPECT_TRUE(d.SavePng(dir + "/landscape_settings.png"));
  }
  unsetenv("OVMIX_SCREEN");
}

}  // namespace
