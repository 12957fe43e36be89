// Screen rotation, driven headless on the default skin: F5 and the test turn
// swap the screen between 240x320 and 320x240, and what the user sees (the
// menu, an open popup, the history) comes back on the new skin.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/os/archive.h"
#include "platform/os/file.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/placeholder_control.h"

namespace {

using ovtest::HeadlessDriver;

std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }

std::pair<int32_t, int32_t> Size(HeadlessDriver& d) { return {d.window().screen_width(), d.window().screen_height()}; }

// Notes the codes of the actions that stop what runs before a rotation, and
// into *cursor whether the window showed the wait cursor when the first came
// (the recorder goes with the old screens; the flag outlives it).
class StopRecorder : public ui::PlaceholderControl {
 public:
  StopRecorder(const wnd::Window* window = nullptr, bool* cursor = nullptr)
      : ui::PlaceholderControl(ui::kTypeMenuItem), window_(window), cursor_(cursor) {}
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override {
    for (int32_t c : {ui::kActionBeforeRotation, ui::kActionEditorStop, ui::kActionMixStop, ui::kActionPlayStop,
                      ui::kActionCancelDecompress}) {
      if (code == c) codes.push_back(code);
    }
    if (code == ui::kActionBeforeRotation && cursor_) *cursor_ = window_->wait_cursor_shown();
    return ui::PlaceholderControl::OnAction(code, argument, flag);
  }
  std::vector<int32_t> codes;

 private:
  const wnd::Window* window_;
  bool* cursor_;
};

class RotationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = ovtest::ScratchDir();
    driver_ = std::make_unique<HeadlessDriver>(data_);
    ASSERT_TRUE(driver_->ok());
    listener_ = wnd::Window::AddBroadcastListener([this](uint32_t id) {
      if (id == driver_->app().rotation_message()) ++broadcasts_;
    });
  }
  void TearDown() override {
    wnd::Window::RemoveBroadcastListener(listener_);
    driver_.reset();
  }
  HeadlessDriver& d() { return *driver_; }

  std::string data_;
  std::unique_ptr<HeadlessDriver> driver_;
  int listener_ = 0;
  int broadcasts_ = 0;
};

TEST_F(RotationTest, F5TurnsTheScreenAndAnOpenPopupAndTheHistoryComeBack) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  d().sm().DoAction(ui::kActionJumpTo, u"save_menu", 1);
  d().sm().DoAction(ui::kActionJumpTo, u"mixing_menu", 1);
  d().sm().DoAction(ui::kActionShowPopup, u"DECOMPRESSION_FAILURE", 1);
  ASSERT_EQ(Str(d().sm().focused()->title()), u"DECOMPRESSION_FAILURE");
  const size_t depth = d().sm().history().size();
  ASSERT_GE(depth, 3u);

  for (auto expected : {std::make_pair(320, 240), std::make_pair(240, 320)}) {
    d().Key(wnd::Key::kRotate);
    EXPECT_EQ(Size(d()), expected);
    EXPECT_EQ(d().sm().ScreenSize().cx, expected.first);
    EXPECT_EQ(d().sm().back_buffer()->surface()->width(), expected.first);
    EXPECT_EQ(d().window().surface()->height(), expected.second + shell::ScreenManager::kBarHeight);
    EXPECT_EQ(d().Menu(), u"mixing_menu");
    ASSERT_NE(d().sm().focused(), nullptr);
    EXPECT_EQ(Str(d().sm().focused()->title()), u"DECOMPRESSION_FAILURE");
    EXPECT_TRUE(d().sm().focused()->IsVisible());
    EXPECT_EQ(d().sm().history().size(), depth);
    EXPECT_FALSE(d().sm().RotationInProgress());
    EXPECT_FALSE(d().app().rotating());
  }
  EXPECT_EQ(broadcasts_, 2);
  EXPECT_TRUE(d().boxes().empty());
  EXPECT_TRUE(ov::FileExists(ov::String::FromUtf8Lossy(data_ + "/Rotation.ser")));
  // Closing the popup and going back walks the same history as before.
  d().sm().OpenPopup(d().sm().focused());
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  d().Back();
  EXPECT_EQ(d().Menu(), u"save_menu");
  d().Back();
  EXPECT_EQ(d().Menu(), u"mixing_menu");
}

TEST_F(RotationTest, ASettingChangeWithoutASizeChangeChangesNothing) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  const shell::ScreenManager* before = &d().sm();
  const std::string hash = d().SurfaceHash();
  d().window().Inject(wnd::Event(wnd::Message::kSettingChange));
  d().window().Inject(wnd::Event(wnd::Message::kSize, 0, 240, 320));
  d().Settle();
  EXPECT_EQ(&d().sm(), before);
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_EQ(d().SurfaceHash(), hash);
  EXPECT_EQ(broadcasts_, 0);
  EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(data_ + "/Rotation.ser")));
}

// The paint handler takes a new size into its own record and only blackens
// the window; the size message after it must still rotate.
TEST_F(RotationTest, APaintBeforeTheSizeMessageBlackensAndTheTurnStillHappens) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  d().window().Rotate(false);
  {
    // Whatever the surface holds, the paint blackens all of it.
    auto dc = gfx::CreateWindowDC(d().window().surface());
    gfx::FillRect(dc.get(), d().window().surface()->bounds(), gfx::CreateSolidBrush(gfx::Rgb(255, 255, 255)));
  }
  d().Settle();
  const gfx::Bitmap& s = *d().window().surface();
  bool black = true;
  for (int32_t y = 0; y < s.height() && black; ++y) {
    for (int32_t x = 0; x < s.width() && black; ++x) black = s.row(y)[x] == 0;
  }
  EXPECT_TRUE(black);
  EXPECT_EQ(d().sm().ScreenSize().cx, 240);  // not turned yet
  d().window().Inject(wnd::Event(wnd::Message::kSize, 0, 320, 240));
  d().Settle();
  EXPECT_EQ(d().sm().ScreenSize().cx, 320);
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_EQ(broadcasts_, 1);
}

// Before the state is written, live mixing, previews and playback are told
// to stop, and a decompression in progress is cancelled.
TEST_F(RotationTest, StopsWhatRunsAndCancelsAShownDecompression) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  auto* recorder = static_cast<StopRecorder*>(d().sm().current_menu()->AddChild(std::make_unique<StopRecorder>()));
  d().sm().StopForRotation();
  EXPECT_EQ(recorder->codes, (std::vector<int32_t>{10, 231, 99, 114}));
  recorder->codes.clear();
  d().sm().DoAction(ui::kActionShowPopup, u"DECOMPRESSION_PROGRESS", 1);
  d().sm().StopForRotation();
  EXPECT_EQ(recorder->codes, (std::vector<int32_t>{10, 231, 99, 114, 338}));
}

// The wait cursor shows from before the state is written until the new
// screens are up, and not after a rotation that could save nothing.
TEST_F(RotationTest, TheWaitCursorShowsWhileTheScreensAreRebuilt) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  bool cursor_at_stop = false;
  d().sm().current_menu()->AddChild(std::make_unique<StopRecorder>(&d().window(), &cursor_at_stop));
  EXPECT_FALSE(d().window().wait_cursor_shown());
  d().Key(wnd::Key::kRotate);
  ASSERT_EQ(d().sm().ScreenSize().cx, 320);
  EXPECT_TRUE(cursor_at_stop);
  EXPECT_FALSE(d().window().wait_cursor_shown());
  // A folder in the file's place: the next turn can save nothing.
  ASSERT_EQ(std::remove((data_ + "/Rotation.ser").c_str()), 0);
  ASSERT_EQ(mkdir((data_ + "/Rotation.ser").c_str(), 0700), 0);
  d().Key(wnd::Key::kRotate);
  EXPECT_EQ(d().sm().ScreenSize().cx, 320);  // nothing saved: not turned
  EXPECT_FALSE(d().window().wait_cursor_shown());
}

TEST_F(RotationTest, HistoryFocusNamesAreFoundAgainOrReported) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  ov::Archive out;
  out.WriteU32(4);
  out.WriteString(u"main_menu");
  out.WriteString(u"main_2");
  out.WriteString(u"main_menu");
  out.WriteString(u"no_such_element");
  out.WriteString(u"no_such_menu");  // dropped
  out.WriteString(u"---");
  out.WriteString(u"save_menu");
  out.WriteString(u"---");
  ov::Archive in(out.Bytes());
  d().sm().LoadHistory(&in);
  const auto& h = d().sm().history();
  ASSERT_EQ(h.size(), 3u);
  ui::Menu* main_menu = d().sm().menu_container()->FindMenu(u"main_menu");
  EXPECT_EQ(h[0].menu, main_menu);
  EXPECT_EQ(h[0].focus, main_menu->IndexOf(d().sm().FindElementByName(main_menu, u"main_2", false)));
  EXPECT_GE(h[0].focus, 0);
  EXPECT_EQ(h[1].focus, -1);
  EXPECT_EQ(Str(h[2].menu->title()), u"save_menu");
  EXPECT_EQ(h[2].focus, -1);
  ASSERT_EQ(d().boxes().size(), 1u);
  EXPECT_EQ(d().boxes()[0].caption, u"no_such_element");
  EXPECT_EQ(d().boxes()[0].text, u"Error in history!");
  // What SaveHistory writes reads back to the same entries; a count larger
  // than the entries stops at the end of the data.
  ov::Archive again;
  d().sm().SaveHistory(&again);
  std::vector<uint8_t> bytes = again.Bytes();
  bytes[0] = 0xFF;
  ov::Archive back(bytes);
  d().sm().LoadHistory(&back);
  ASSERT_EQ(d().sm().history().size(), 3u);
  EXPECT_EQ(d().sm().history()[0].focus, h[0].focus);
  EXPECT_EQ(d().boxes().size(), 1u);
}

TEST_F(RotationTest, WithoutRotationSerTheOldScreensStay) {
  ASSERT_TRUE(d().TapElement(u"main_0"));
  // A folder in the file's place: it cannot be created.
  ASSERT_EQ(mkdir((data_ + "/Rotation.ser").c_str(), 0700), 0);
  const shell::ScreenManager* before = &d().sm();
  d().Key(wnd::Key::kRotate);
  EXPECT_EQ(&d().sm(), before);
  EXPECT_EQ(d().sm().ScreenSize().cx, 240);
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_FALSE(d().sm().RotationInProgress());
  EXPECT_FALSE(d().app().rotating());
}

TEST(RotationSkin, ASkinMissingForTheNewSizeEndsTheProcess) {
  // An application folder with the portrait package only.
  const std::string dir = ovtest::ScratchDir();
  const std::string app = dir + "/app/";
  ASSERT_EQ(mkdir(app.c_str(), 0700), 0);
  for (const char* name : {"Vex_240_320.pak", "vex_common.pak", "media.pak"}) {
    const std::string from = std::string(OVMIX_BIN_DIR) + name;
    if (ov::FileExists(ov::String::FromUtf8Lossy(from))) {
      const std::vector<uint8_t> bytes = ovtest::ReadFileBytes(from);
      ASSERT_TRUE(ov::WriteWholeFile(ov::String::FromUtf8Lossy(app + name), bytes.data(), bytes.size()));
    }
  }
  HeadlessDriver d(dir + "/data", false, app);
  ASSERT_TRUE(d.ok());
  EXPECT_THROW(d.Key(wnd::Key::kRotate), std::runtime_error);
  ASSERT_FALSE(d.boxes().empty());
  EXPECT_EQ(d.boxes().back().caption, u"XML Manager");
  EXPECT_EQ(d.boxes().back().text, u"Failed parsing XML");
}

}  // namespace
