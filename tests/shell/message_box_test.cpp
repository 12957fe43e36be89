// The message box drawn in the program's window: answered by keys and taps,
// fitted to both screens whatever its text, laid out again on a turn whose
// kSize waits for its answer; the headless answer and a failed system box
// leave caption and text on stderr.
#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/os/ov_string.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window.h"
#include "tests/shell/sdl_events.h"
#include "tests/support/scoped_env.h"

namespace {

using ovtest::KeyEvent;
using ovtest::MouseEvent;

bool Inside(const gfx::Rect& inner, const gfx::Rect& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom && inner.left < inner.right && inner.top < inner.bottom;
}

// Every rectangle of the box lies inside the screen (and inside the box),
// the buttons below the last line.
void ExpectFitted(const wnd::MessageBoxLayout& l, int32_t w, int32_t h) {
  const gfx::Rect screen{0, 0, w, h};
  EXPECT_TRUE(Inside(l.box, screen)) << l.box.right << "x" << l.box.bottom << " on " << w << "x" << h;
  EXPECT_TRUE(Inside(l.caption_rect, l.box));
  ASSERT_FALSE(l.buttons.empty());
  for (const gfx::Rect& r : l.line_rects) {
    EXPECT_TRUE(Inside(r, l.box));
    EXPECT_LE(r.bottom, l.buttons[0].top);
  }
  for (const gfx::Rect& b : l.buttons) EXPECT_TRUE(Inside(b, l.box));
}

// A line's width in the box's font.
int32_t TextWidth(gfx::HDC dc, const std::u16string& s) {
  gfx::Size size{};
  gfx::GetTextExtentPoint(dc, s, &size);
  return size.cx;
}

class MessageBoxTest : public testing::TestWithParam<gfx::Size> {
 protected:
  void SetUp() override {
    // A window on the offscreen driver, where SDL's own box cannot show;
    // not the headless shortcut: the box runs its loop and reads the
    // events the test queues.
    env_.Set("OVMIX_HEADLESS", "0");
    wnd::Window::UseHeadlessDriver();
    window_ = wnd::Window::Create(u"boxes", GetParam().cx, GetParam().cy, 26, 1,
                                  [this](const wnd::Event& e) { OnEvent(e); });
    ASSERT_TRUE(window_);
    wnd::SetMessageBoxShownHook([this](const wnd::MessageBoxLayout& l) { OnShown(l); });
  }
  void TearDown() override {
    wnd::SetMessageBoxShownHook({});
    window_.reset();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }

  void OnEvent(const wnd::Event& e) {
    // The program's paint, as the shell's: the area is presented, and the
    // box draws itself over it.
    if (e.message == wnd::Message::kPaint) window_->Present(e.rect);
    if (e.message == wnd::Message::kSize) sizes_.push_back({e.x, e.y});
    if (e.message == wnd::Message::kCommand || e.message == wnd::Message::kKey ||
        e.message == wnd::Message::kBackKey || e.message == wnd::Message::kStylusDown) {
      reached_program_ = true;
    }
  }

  // Each time the box is drawn anew: it is checked, and the script's keys
  // and taps for this showing are queued as a user's.
  void OnShown(const wnd::MessageBoxLayout& l) {
    shown_.push_back(l);
    ExpectFitted(l, window_->screen_width(), window_->screen_height());
    // The box is on the surface: its OK (or Yes) button shows the button's
    // blue (0, 0, 176), as the 16-bit surface keeps it.
    const gfx::Rect& b = l.buttons[0];
    auto dc = gfx::CreateWindowDC(window_->surface());
    const gfx::COLORREF c = gfx::GetPixel(dc.get(), b.left + 1, b.top + 1);
    EXPECT_EQ(c & 0xFFFFu, 0u);
    EXPECT_NEAR(double((c >> 16) & 0xFF), 176.0, 8.0);
    for (SDL_Event& s : script_(l)) SDL_PushEvent(&s);
  }

  int Run(const std::u16string& caption, const std::u16string& text, uint32_t buttons,
          std::function<std::vector<SDL_Event>(const wnd::MessageBoxLayout&)> script) {
    script_ = std::move(script);
    shown_.clear();
    sizes_.clear();
    reached_program_ = false;
    return wnd::MessageBox(ov::String(caption), ov::String(text), buttons);
  }

  ovtest::ScopedEnv env_;
  std::unique_ptr<wnd::Window> window_;
  std::function<std::vector<SDL_Event>(const wnd::MessageBoxLayout&)> script_;
  std::vector<wnd::MessageBoxLayout> shown_;
  std::vector<gfx::Size> sizes_;
  bool reached_program_ = false;
};

std::vector<SDL_Event> Keys(std::vector<SDL_Event> keys) { return keys; }

// Nobody to answer: a headless run answers OK or No, and a run whose
// system box cannot show (no window yet) the same; both write caption and
// text to stderr.
TEST(MessageBoxUntold, AnswersByDefaultOnTheRecord) {
  ovtest::ScopedEnv env;
  for (const bool headless : {true, false}) {
    SCOPED_TRACE(headless ? "headless" : "no system box");
    env.Set("OVMIX_HEADLESS", headless ? "1" : "0");
    wnd::FailSystemMessageBoxForTests(!headless);
    ASSERT_EQ(wnd::Window::Main(), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(wnd::MessageBox(u"Save As", u"Default.mix already exists.\nDo you want to replace it?", wnd::kBoxYesNo),
              wnd::kAnswerNo);
    EXPECT_EQ(wnd::MessageBox(u"Open mix", u"The mix cannot be read.", wnd::kBoxOk), wnd::kAnswerOk);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Save As: Default.mix already exists.\nDo you want to replace it?\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("Save As: answered No"), std::string::npos) << err;
    EXPECT_NE(err.find("Open mix: The mix cannot be read.\n"), std::string::npos) << err;
  }
  wnd::FailSystemMessageBoxForTests(false);
}

// Keys and taps answer the box; a key repeat, a tap off the buttons and a
// press released off its button do not; nothing reaches the program.
TEST_P(MessageBoxTest, KeysAndTapsAnswer) {
  auto tap = [](const gfx::Rect& r) {
    return std::vector<SDL_Event>{MouseEvent(true, r.left + 2, r.top + 2), MouseEvent(false, r.left + 2, r.top + 2)};
  };
  const struct {
    const char* name;
    uint32_t buttons;
    std::function<std::vector<SDL_Event>(const wnd::MessageBoxLayout&)> script;
    int answer;
  } cases[] = {
      {"Enter is Yes", wnd::kBoxYesNo, [](auto&) { return Keys({KeyEvent(SDLK_RETURN), KeyEvent(SDLK_F2)}); },
       wnd::kAnswerYes},
      {"keypad Enter is Yes", wnd::kBoxYesNo, [](auto&) { return Keys({KeyEvent(SDLK_KP_ENTER)}); }, wnd::kAnswerYes},
      {"F1 is Yes", wnd::kBoxYesNo, [](auto&) { return Keys({KeyEvent(SDLK_F1)}); }, wnd::kAnswerYes},
      {"F2 is No", wnd::kBoxYesNo, [](auto&) { return Keys({KeyEvent(SDLK_F2), KeyEvent(SDLK_F1)}); },
       wnd::kAnswerNo},
      {"Escape is No", wnd::kBoxYesNo, [](auto&) { return Keys({KeyEvent(SDLK_ESCAPE)}); }, wnd::kAnswerNo},
      {"a held Enter's repeat is not an answer", wnd::kBoxYesNo,
       [](auto&) { return Keys({KeyEvent(SDLK_RETURN, true), KeyEvent(SDLK_F2)}); }, wnd::kAnswerNo},
      {"tap on Yes", wnd::kBoxYesNo, [&](const wnd::MessageBoxLayout& l) { return tap(l.buttons[0]); },
       wnd::kAnswerYes},
      {"tap on No", wnd::kBoxYesNo, [&](const wnd::MessageBoxLayout& l) { return tap(l.buttons[1]); },
       wnd::kAnswerNo},
      {"a press on Yes released on No, then a tap outside", wnd::kBoxYesNo,
       [](const wnd::MessageBoxLayout& l) {
         return Keys({MouseEvent(true, l.buttons[0].left + 2, l.buttons[0].top + 2),
                      MouseEvent(false, l.buttons[1].left + 2, l.buttons[1].top + 2), MouseEvent(true, 0, 0),
                      MouseEvent(false, 0, 0), KeyEvent(SDLK_ESCAPE)});
       },
       wnd::kAnswerNo},
      {"Enter is OK", wnd::kBoxOk, [](auto&) { return Keys({KeyEvent(SDLK_RETURN)}); }, wnd::kAnswerOk},
      {"tap on OK", wnd::kBoxOk, [&](const wnd::MessageBoxLayout& l) { return tap(l.buttons[0]); },
       wnd::kAnswerOk},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(u"Save As", u"Default.mix already exists.\nDo you want to replace it?", c.buttons, c.script),
              c.answer)
        << c.name;
    ASSERT_EQ(shown_.size(), 1u) << c.name;
    EXPECT_EQ(shown_[0].buttons.size(), c.buttons == wnd::kBoxYesNo ? 2u : 1u) << c.name;
    EXPECT_FALSE(reached_program_) << c.name;
  }
}

// The widest and tallest texts fit the screen: wrapped at blanks, a long
// path cut in its middle with "...", the lines that do not fit left out in
// the middle; the end of the text (its question) and the buttons in view.
TEST_P(MessageBoxTest, EveryTextIsFittedToTheScreen) {
  std::u16string deep = u"/home/user/Movies";
  for (int i = 0; i < 120; ++i) deep += u"/holiday-folder-" + std::u16string(1, char16_t(u'a' + i % 26));
  deep += u"/beach.3gp";
  std::u16string tall = u"/home/user";
  for (int i = 0; i < 100; ++i) tall += u"/line\n";
  tall += u"clip.3gp";
  const struct {
    const char* name;
    std::u16string caption, text;
    const char16_t* last_line;  // the text's last line, kept in view
  } cases[] = {
      {"read-only save", u"Save As",
       u"The mix was not saved to \"/home/user/Documents/Zentyr/Default.mix\": access is denied (the file or its "
       u"folder is read-only).",
       nullptr},
      {"long clip path", u"Open mix",
       u"The mix \"Default.mix\" cannot be opened: the file of one of its clips is missing (moved, renamed or "
       u"deleted):\n" + deep,
       nullptr},
      {"path of 100 lines", u"Open mix",
       u"The mix \"Default.mix\" cannot be opened: the file of one of its clips is missing:\n" + tall +
           u"\nReplace it?",
       u"Replace it?"},
      {"long caption", u"Open " + deep, u"Short.", u"Short."},
  };
  auto dc = gfx::CreateWindowDC(window_->surface());
  dc->SelectFont(gfx::GetStockFont());
  std::u16string cut;  // the long clip path's line
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(c.caption, c.text, wnd::kBoxOk, [](auto&) { return Keys({KeyEvent(SDLK_RETURN)}); }),
              wnd::kAnswerOk);
    ASSERT_EQ(shown_.size(), 1u);
    const wnd::MessageBoxLayout& l = shown_[0];
    for (size_t i = 0; i < l.lines.size(); ++i) {
      EXPECT_LE(TextWidth(dc.get(), l.lines[i]), l.line_rects[i].Width()) << ov::String(l.lines[i]).ToUtf8Lossy();
    }
    EXPECT_LE(TextWidth(dc.get(), l.caption), l.caption_rect.Width());
    if (c.last_line) {
      EXPECT_EQ(l.lines.back(), c.last_line);
    }
    if (c.text.size() > deep.size() && c.text.substr(c.text.size() - deep.size()) == deep) cut = l.lines.back();
  }
  // The long path: a line of its own, cut in its middle, its start and its
  // file name kept.
  EXPECT_EQ(cut.rfind(u"/home/user/", 0), 0u) << ov::String(cut).ToUtf8Lossy();
  EXPECT_NE(cut.find(u"..."), std::u16string::npos);
  EXPECT_EQ(cut.size() >= 9 ? cut.substr(cut.size() - 9) : cut, u"beach.3gp");
}

// F5 in the box turns the screen at once and lays the box out again for it,
// still open, fitted to the turned screen; the turn reaches the program
// (kSize) once the box has answered.
TEST_P(MessageBoxTest, ATurnLaysTheBoxOutAgain) {
  const int32_t w = GetParam().cx, h = GetParam().cy;
  std::u16string text = u"This mix is empty.";
  for (int i = 0; i < 40; ++i) text += u" Replace the saved mix with an empty one?";
  EXPECT_EQ(Run(u"Save As", text, wnd::kBoxYesNo,
                [this](auto&) {
                  // First F5; then, on the turned screen, Yes.
                  return Keys({KeyEvent(shown_.size() == 1 ? SDLK_F5 : SDLK_RETURN)});
                }),
            wnd::kAnswerYes);
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(window_->screen_width(), h);
  EXPECT_EQ(window_->screen_height(), w);
  EXPECT_NE(shown_[0].box.Width(), shown_[1].box.Width());
  EXPECT_TRUE(sizes_.empty());
  window_->Pump(0);
  ASSERT_EQ(sizes_.size(), 1u);
  EXPECT_EQ(sizes_[0].cx, h);
  EXPECT_EQ(sizes_[0].cy, w);
}

INSTANTIATE_TEST_SUITE_P(Screens, MessageBoxTest, testing::Values(gfx::Size{240, 320}, gfx::Size{320, 240}),
                         [](const testing::TestParamInfo<gfx::Size>& p) {
                           return std::to_string(p.param.cx) + "x" + std::to_string(p.param.cy);
                         });

}  // namespace
