// The text-entry dialog over a headless window: typed text, the soft keys
// pressed and tapped, Back, a turn (F5 and the "Rotation is starting"
// broadcast), the window's timers going on while it is open; the test hook;
// the save dialog asking for the name with it and keeping the overwrite
// question.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/ov_string.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/text_entry.h"
#include "platform/ui/window.h"
#include "screens/mixer/mixer.h"
#include "tests/shell/sdl_events.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"
#include "ui/softkey_bar.h"

namespace {

using ovtest::KeyEvent;
using ovtest::MouseEvent;

SDL_Event TextEvent(const char* utf8) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  std::strncpy(e.text.text, utf8, sizeof(e.text.text) - 1);
  return e;
}

class TextEntryDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    // A window on the offscreen driver, but not the headless shortcut: the
    // dialog runs its loop and reads the events the test queues.
    env_.Set("OVMIX_HEADLESS", "0");
    wnd::Window::UseHeadlessDriver();
    window_ = wnd::Window::Create(u"text entry", 176, 208, 26, 1, [this](const wnd::Event& e) { OnEvent(e); });
    ASSERT_TRUE(window_);
    rotation_ = wnd::Window::RegisterMessage("Rotation is starting");
  }
  void TearDown() override {
    window_.reset();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }

  // The window's handler: the first tick of timer 7 queues the script, as a
  // user typing while the dialog is open; every message is noted.
  void OnEvent(const wnd::Event& e) {
    if (e.message == wnd::Message::kTimer && e.wparam == 7) {
      ++ticks_;
      if (ticks_ == 1) {
        for (SDL_Event& s : script_) SDL_PushEvent(&s);
        if (broadcast_) window_->Broadcast(rotation_);
      }
      // A box that missed its keys would stay open: after about 2 s the
      // turn closes it, and the case fails on its answer.
      if (ticks_ == 400) window_->Broadcast(rotation_);
      return;
    }
    if (e.message == wnd::Message::kCommand || e.message == wnd::Message::kKey ||
        e.message == wnd::Message::kBackKey || e.message == wnd::Message::kStylusDown ||
        e.message == wnd::Message::kStylusUp) {
      seen_.push_back(e);
    }
  }

  // Runs the dialog offering `offered`; the script plays on the timer's first tick.
  bool Run(const ov::String& offered, std::vector<SDL_Event> script, bool broadcast = false) {
    script_ = std::move(script);
    broadcast_ = broadcast;
    ticks_ = 0;
    seen_.clear();
    window_->SetTimer(7, 5);
    wnd::SetupTextEntry(offered, u"Title", u"OK", u"Cancel");
    const bool accepted = wnd::RunTextEntryDialog();
    window_->KillTimer(7);
    return accepted;
  }

  ovtest::ScopedEnv env_;
  std::unique_ptr<wnd::Window> window_;
  uint32_t rotation_ = 0;
  std::vector<SDL_Event> script_;
  bool broadcast_ = false;
  int ticks_ = 0;
  std::vector<wnd::Event> seen_;
};

TEST_F(TextEntryDialogTest, SoftKeysBackAndTurns) {
  const struct {
    const char* name;
    const char16_t* offered;
    std::vector<SDL_Event> script;
    bool broadcast;
    bool accepted;
    const char16_t* text;  // the stored text afterwards
  } cases[] = {
      {"typed and accepted", u"Mix", {TextEvent("ed "), TextEvent("\xC3\xA9t\xC3\xA9"), KeyEvent(SDLK_F1)}, false,
       true, u"Mixed \u00E9t\u00E9"},
      {"Back deletes one character each", u"Default",
       {KeyEvent(SDLK_ESCAPE), KeyEvent(SDLK_BACKSPACE), TextEvent("X"), KeyEvent(SDLK_F1)}, false, true, u"DefauX"},
      {"empty accept", u"ab", {KeyEvent(SDLK_ESCAPE), KeyEvent(SDLK_ESCAPE), KeyEvent(SDLK_ESCAPE), KeyEvent(SDLK_F1)},
       false, true, u""},
      {"cancel keeps the text", u"keep", {TextEvent("lost"), KeyEvent(SDLK_F2), KeyEvent(SDLK_F1)}, false, false,
       u"keep"},
      {"Enter accepts", u"Mix", {TextEvent("ed"), KeyEvent(SDLK_RETURN), KeyEvent(SDLK_F2)}, false, true, u"Mixed"},
      {"keypad Enter accepts", u"Mix", {TextEvent("ed"), KeyEvent(SDLK_KP_ENTER), KeyEvent(SDLK_F2)}, false, true,
       u"Mixed"},
      {"a held Enter's repeats do not accept", u"keep",
       {KeyEvent(SDLK_RETURN, true), KeyEvent(SDLK_KP_ENTER, true), TextEvent("lost"), KeyEvent(SDLK_F2)}, false,
       false, u"keep"},
      {"F5 cancels", u"keep", {TextEvent("lost"), KeyEvent(SDLK_F5), KeyEvent(SDLK_F1)}, false, false, u"keep"},
      {"the rotation broadcast cancels", u"keep", {TextEvent("lost"), KeyEvent(SDLK_F1)}, true, false, u"keep"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.offered, c.script, c.broadcast), c.accepted) << c.name;
    EXPECT_EQ(wnd::TextEntryText().ToUtf8Lossy(), ov::String(c.text).ToUtf8Lossy()) << c.name;
    // The window's timer went on while the box was open, and no key
    // reached the program beneath it.
    EXPECT_GE(ticks_, 1) << c.name;
    EXPECT_TRUE(seen_.empty()) << c.name;
    // What the script left after the box closed reaches the program; an F5
    // in the box comes back as the turn once the caller has its answer.
    seen_.clear();
    window_->Pump(0);
    const bool turned = !seen_.empty() && seen_[0].message == wnd::Message::kKey &&
                        seen_[0].wparam == static_cast<uint32_t>(wnd::Key::kRotate);
    EXPECT_EQ(turned, std::string(c.name) == "F5 cancels") << c.name;
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
}

// The soft keys tapped with the stylus: a press and release inside the
// drawn "OK" accepts, inside "Cancel" cancels; anywhere else, a press that
// leaves its key, or another button changes nothing, and the box stays open
// for what comes next.
TEST_F(TextEntryDialogTest, SoftKeysAreTapped) {
  wnd::SetupTextEntry(u"", u"Title", u"OK", u"Cancel");
  const gfx::Rect ok = wnd::TextEntrySoftKeyRect(true), cancel = wnd::TextEntrySoftKeyRect(false);
  ASSERT_FALSE(ok.IsEmpty());
  ASSERT_FALSE(cancel.IsEmpty());
  ASSERT_LT(ok.right, cancel.left);
  // The corners just inside each key, and points just outside them.
  const int32_t ok_x = ok.left, ok_y = ok.bottom - 1, cancel_x = cancel.right - 1, cancel_y = cancel.top;
  const struct {
    const char* name;
    std::vector<SDL_Event> script;
    bool accepted;
    const char16_t* text;
  } cases[] = {
      {"OK tapped", {TextEvent("b"), MouseEvent(true, ok_x, ok_y), MouseEvent(false, ok.right - 1, ok.top)}, true,
       u"ab"},
      {"Cancel tapped", {TextEvent("b"), MouseEvent(true, cancel_x, cancel_y), MouseEvent(false, cancel_x, cancel_y)},
       false, u"a"},
      // Each tap below misses; the typed "c" then shows the box was still
      // open, and F1 or F2 closes it.
      {"beside OK", {MouseEvent(true, ok.right, ok_y), MouseEvent(false, ok.right, ok_y), TextEvent("c"),
                     KeyEvent(SDLK_F1)}, true, u"ac"},
      {"above Cancel", {MouseEvent(true, cancel_x, cancel.top - 1), MouseEvent(false, cancel_x, cancel.top - 1),
                        TextEvent("c"), KeyEvent(SDLK_F1)}, true, u"ac"},
      {"on the edit line", {MouseEvent(true, 60, ok.top - 10), MouseEvent(false, 60, ok.top - 10), TextEvent("c"),
                            KeyEvent(SDLK_F2)}, false, u"a"},
      {"pressed on OK, released on Cancel", {MouseEvent(true, ok_x, ok_y), MouseEvent(false, cancel_x, cancel_y),
                                             TextEvent("c"), KeyEvent(SDLK_F1)}, true, u"ac"},
      {"released on OK only", {MouseEvent(true, ok.right + 1, ok_y), MouseEvent(false, ok_x, ok_y), TextEvent("c"),
                               KeyEvent(SDLK_F1)}, true, u"ac"},
      {"right button on Cancel", {MouseEvent(true, cancel_x, cancel_y, SDL_BUTTON_RIGHT),
                                  MouseEvent(false, cancel_x, cancel_y, SDL_BUTTON_RIGHT), TextEvent("c"),
                                  KeyEvent(SDLK_F1)}, true, u"ac"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(u"a", c.script), c.accepted) << c.name;
    EXPECT_EQ(wnd::TextEntryText().ToUtf8Lossy(), ov::String(c.text).ToUtf8Lossy()) << c.name;
    // No tap reached the program beneath the box.
    EXPECT_TRUE(seen_.empty()) << c.name;
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
}

TEST_F(TextEntryDialogTest, HookAnswersAndEditTextReturnsTheTypedText) {
  ov::String seen_title;
  wnd::SetTextEntryHook([&](const ov::String& title, ov::String* text) {
    seen_title = title;
    *text = ov::String(u"typed");
    return true;
  });
  ov::String text = u"old";
  EXPECT_TRUE(wnd::EditText(u"Name", &text));
  EXPECT_EQ(text.ToUtf8Lossy(), "typed");
  EXPECT_EQ(seen_title.ToUtf8Lossy(), "Name");
  wnd::SetTextEntryHook([](const ov::String&, ov::String* out) {
    *out = ov::String(u"ignored");
    return false;
  });
  EXPECT_FALSE(wnd::EditText(u"Name", &text));
  EXPECT_EQ(text.ToUtf8Lossy(), "typed");
  wnd::SetTextEntryHook({});
}

TEST(SaveFileName, AsksForTheNameAndKeepsTheOverwriteQuestion) {
  const std::string dir = ovtest::ScratchDir();
  std::ofstream(dir + "/Taken.mix") << "x";
  const ov::String folder = ov::String::FromUtf8Lossy(dir);
  std::vector<std::string> questions;
  int answer = wnd::kAnswerNo;
  wnd::SetMessageBoxHook([&](const ov::String&, const ov::String& text, uint32_t) {
    questions.push_back(text.ToUtf8Lossy());
    return answer;
  });
  std::string typed;
  ov::String offered;
  bool accept = true;
  wnd::SetTextEntryHook([&](const ov::String&, ov::String* text) {
    offered = *text;
    *text = ov::String::FromUtf8Lossy(typed);
    return accept;
  });
  const auto ask = [&](const std::string& name, ov::String* path) {
    typed = name;
    wnd::SaveFileRequest request;
    request.folder = folder;
    request.default_name = u"Default";
    request.default_extension = u"mix";
    return wnd::GetSaveFileName(request, path);
  };
  ov::String path;
  ASSERT_TRUE(ask("Song", &path));
  EXPECT_EQ(offered.ToUtf8Lossy(), "Default");
  EXPECT_EQ(path.ToUtf8Lossy(), dir + "/Song.mix");
  EXPECT_TRUE(questions.empty());
  ASSERT_TRUE(ask("Song.MIX", &path));
  EXPECT_EQ(path.ToUtf8Lossy(), dir + "/Song.MIX");
  EXPECT_FALSE(ask("", &path));

  EXPECT_FALSE(ask("Taken", &path));
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("Taken.mix already exists"), std::string::npos);
  answer = wnd::kAnswerYes;
  ASSERT_TRUE(ask("Taken", &path));
  EXPECT_EQ(path.ToUtf8Lossy(), dir + "/Taken.mix");

  accept = false;
  EXPECT_FALSE(ask("Other", &path));
  wnd::SetTextEntryHook({});
  wnd::SetMessageBoxHook({});
  std::filesystem::remove_all(dir);
}

// The mixer, headless, with its documents in a scratch folder; the text-entry
// hook is cleared and the folder removed afterwards.
class MixerSaveAs : public testing::Test {
 protected:
  void SetUp() override {
    env_.Set("OVMIX_DOCUMENTS", dir_);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    ASSERT_TRUE(driver_->ok());
    ASSERT_TRUE(driver_->TapElement(u"main_0"));
    driver_->Settle();
  }
  void TearDown() override {
    wnd::SetTextEntryHook({});
    driver_.reset();
    std::filesystem::remove_all(dir_);
  }

  const std::string dir_ = ovtest::ScratchDir();
  ovtest::ScopedEnv env_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

// The mixer's Save As, headless: the project lands under the typed name,
// and saving under that name again asks before replacing it.
TEST_F(MixerSaveAs, SavesUnderTheTypedName) {
  ovtest::HeadlessDriver& d = *driver_;
  ov::String offered;
  wnd::SetTextEntryHook([&](const ov::String&, ov::String* text) {
    offered = *text;
    *text = ov::String(u"Holiday");
    return true;
  });
  d.sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  EXPECT_EQ(offered.ToUtf8Lossy(), "Default");
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/Zentyr/Holiday.mix"));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Zentyr/Default.mix"));
  EXPECT_TRUE(d.boxes().empty());
  d.sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  ASSERT_EQ(d.boxes().size(), 1u);
  EXPECT_EQ(d.boxes()[0].buttons, uint32_t(wnd::kBoxYesNo));
  EXPECT_NE(d.boxes()[0].text.find(u"Holiday.mix"), std::u16string::npos);
}

// A Save As whose write fails says so in a box naming the file and the
// cause; a file saved there before stays as it was and no temporary file is
// left. A cancelled name or a No to the question shows nothing more. The
// tests run as root, for whom a read-only folder does not fail: a missing
// folder, a path through a regular file and a file-size limit (standing for
// a full disk) fail instead.
TEST_F(MixerSaveAs, AFailedSaveSaysWhichFileAndWhy) {
  ovtest::HeadlessDriver& d = *driver_;
  std::string typed = "Kept";
  bool accept = true;
  wnd::SetTextEntryHook([&](const ov::String&, ov::String* text) {
    *text = ov::String::FromUtf8Lossy(typed);
    return accept;
  });
  const std::string saves = dir_ + "/Zentyr";
  d.sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  ASSERT_TRUE(d.boxes().empty());
  const std::vector<uint8_t> kept = ovtest::ReadFileBytes(saves + "/Kept.mix");
  ASSERT_FALSE(kept.empty());
  std::ofstream(saves + "/plain.txt") << "x";

  struct rlimit unlimited;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  struct Case {
    std::string name;
    bool full;  // under a file-size limit smaller than the project
    std::string file, cause;
  } cases[] = {
      {"none/Song", false, saves + "/none/Song.mix", "the folder does not exist"},
      {"plain.txt/Song", false, saves + "/plain.txt/Song.mix", "the folder does not exist"},
      {"Kept", true, saves + "/Kept.mix", "the file-size limit is reached"},
  };
  d.AnswerBoxes(wnd::kAnswerYes);  // replacing Kept.mix with this empty mix
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    typed = c.name;
    if (c.full) {
      struct rlimit small = unlimited;
      small.rlim_cur = 16;
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    d.sm().DoAction(ui::kActionMixSave, ov::String(), 1);
    if (c.full) {
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    }
    ASSERT_FALSE(d.boxes().empty());
    const auto& box = d.boxes().back();
    EXPECT_EQ(box.caption, u"Save As");
    EXPECT_EQ(box.buttons, uint32_t(wnd::kBoxOk));
    const std::string text = ov::String(std::u16string_view(box.text)).ToUtf8Lossy();
    EXPECT_NE(text.find("\"" + c.file + "\""), std::string::npos) << text;
    EXPECT_NE(text.find(c.cause), std::string::npos) << text;
  }
  EXPECT_EQ(ovtest::ReadFileBytes(saves + "/Kept.mix"), kept);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(saves)) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Kept.mix", "plain.txt"}));

  // A cancelled name, and a No to replacing the file: no box beyond the question.
  const size_t shown = d.boxes().size();
  accept = false;
  d.sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  EXPECT_EQ(d.boxes().size(), shown);
  accept = true;
  d.AnswerBoxes(wnd::kAnswerNo);
  d.sm().DoAction(ui::kActionMixSave, ov::String(), 1);
  ASSERT_EQ(d.boxes().size(), shown + 1);
  EXPECT_EQ(d.boxes().back().buttons, uint32_t(wnd::kBoxYesNo));
}

// "Save mix" chosen from the soft-key menu: the menu is gone from the
// window, its area repainted, by the time the name is asked.
TEST_F(MixerSaveAs, TheMenuIsGoneBeforeTheNameIsAsked) {
  ovtest::HeadlessDriver& d = *driver_;
  const std::vector<ui::MenuBarItem>& rows = d.sm().GetMenuBar()->right.popup;
  int save = -1;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].text == ov::String(u"Save mix")) save = int(i);
  }
  ASSERT_GE(save, 0);
  // The right half of the screen, where the menu opens.
  const gfx::Bitmap& surface = *d.window().surface();
  const int32_t w = d.sm().ScreenSize().cx, h = d.sm().ScreenSize().cy;
  auto right_half = [&] {
    std::vector<uint16_t> out;
    for (int32_t y = 0; y < h; ++y) out.insert(out.end(), surface.row(y) + w / 2, surface.row(y) + w);
    return out;
  };
  const std::vector<uint16_t> before = right_half();
  d.sm().OnSoftkeyButton(ui::kCommandRightSoftkey);
  d.Settle();
  ASSERT_TRUE(d.sm().popup_menu_open());
  ASSERT_NE(right_half(), before) << "the menu did not show";
  // The menu opens on its last row; Up moves over separators to "Save mix".
  for (int row = int(rows.size()) - 1; row != save;) {
    do row = (row - 1 + int(rows.size())) % int(rows.size());
    while (rows[size_t(row)].separator || !rows[size_t(row)].enabled);
    d.sm().OnKey(2);
  }
  std::vector<uint16_t> asked;
  wnd::SetTextEntryHook([&](const ov::String&, ov::String*) {
    asked = right_half();
    return false;
  });
  d.sm().OnKey(4);
  wnd::SetTextEntryHook({});
  d.Settle();
  EXPECT_FALSE(d.sm().popup_menu_open());
  ASSERT_FALSE(asked.empty()) << "no name was asked";
  EXPECT_EQ(asked, before);
  EXPECT_EQ(right_half(), before);
}

}  // namespace
