// Text box layout and editing with a fixed-pitch font, so that line breaks
// follow from the character width.
#include <gtest/gtest.h>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "tests/ui/fake_host.h"
#include "ui/text_box.h"

namespace ui {
namespace {

class TextBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dc_ = gfx::CreateCompatibleDC(nullptr);
    bitmap_ = gfx::CreateCompatibleBitmap(dc_.get(), 240, 320);
    dc_->SelectBitmap(bitmap_);
    box_.LoadAttribute(u"font", u"DejaVu Sans Mono");
    box_.LoadAttribute(u"th", u"14");
    box_.LoadAttribute(u"yS", u"200");
    // Character width of the font at this size.
    gfx::LogFont lf;
    lf.height = 14;
    lf.SetFaceName(u"DejaVu Sans Mono");
    gfx::HFont old = dc_->SelectFont(gfx::CreateFontIndirect(lf));
    gfx::Size s;
    ASSERT_TRUE(gfx::GetTextExtentPoint(dc_.get(), u"MMMMMMMMMM", &s));
    char_width_ = s.cx / 10;
    dc_->SelectFont(old);
    ASSERT_GT(char_width_, 0);
  }
  void Layout(const char16_t* text, int chars_wide) {
    // A box chars_wide characters wide plus a little, never a full one more.
    box_.LoadAttribute(u"xS", ov::String::Format(u"%d", chars_wide * char_width_ + char_width_ / 2));
    box_.OnAction(kActionSetText, text, 0);
    box_.GetTextHeight(dc_.get());
  }
  std::vector<std::u16string> Lines() {
    std::vector<std::u16string> out;
    const std::u16string_view t = box_.text().View();
    for (const TextLine& l : box_.lines()) out.emplace_back(t.substr(l.start, l.length));
    return out;
  }
  ovtest::FakeHost host_;
  std::unique_ptr<gfx::DeviceContext> dc_;
  gfx::HBitmap bitmap_;
  TextBox box_;
  int char_width_ = 0;
};

TEST_F(TextBoxTest, WrapsAtWordsBreaksLongWordsAndHonoursLineBreaks) {
  Layout(u"one two three", 8);
  EXPECT_EQ(Lines(), (std::vector<std::u16string>{u"one two ", u"three"}));
  EXPECT_EQ(box_.lines()[0].break_kind, -1);
  Layout(u"abcdefghijkl", 5);
  EXPECT_EQ(Lines(), (std::vector<std::u16string>{u"abcde", u"fghij", u"kl"}));
  Layout(u"a\r\nb\rc\nd", 20);
  EXPECT_EQ(Lines(), (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
  Layout(u"", 20);
  EXPECT_TRUE(box_.lines().empty());
  // A box narrower than one character still advances.
  box_.LoadAttribute(u"xS", u"1");
  box_.OnAction(kActionSetText, u"abc", 0);
  box_.GetTextHeight(dc_.get());
  EXPECT_EQ(box_.lines().size(), 3u);
}

TEST_F(TextBoxTest, PasswordLaysOutStarsAndMaskingSwitches) {
  box_.LoadAttribute(u"password", u"yes");
  Layout(u"ab cd ef", 3);
  // The masked text has no blanks, so it breaks by characters.
  EXPECT_EQ(box_.lines().size(), 3u);
  box_.OnAction(kActionPasswordOff, ov::String(), 0);
  box_.GetTextHeight(dc_.get());
  EXPECT_EQ(Lines(), (std::vector<std::u16string>{u"ab ", u"cd ", u"ef"}));
}

TEST_F(TextBoxTest, EditingMaxCharsAndCaretKeys) {
  box_.LoadAttribute(u"wr", u"yes");
  box_.LoadAttribute(u"maxchars", u"3");
  box_.LoadAttribute(u"attribute", u"VideoTrackTitle");
  Layout(u"", 20);
  box_.OnAction(kActionActivate, ov::String(), 0);
  EXPECT_TRUE(box_.editing());
  box_.OnAction(kActionTypeChars, u"abcd", 0);
  EXPECT_EQ(box_.text(), ov::String(u"abc"));
  box_.OnAction(kActionTypeChars, u".", 0);  // "." is still taken
  EXPECT_EQ(box_.text(), ov::String(u"abc."));
  box_.OnAction(kActionTypeKeys, ov::String(char16_t{0x25}, 1), 0);  // Left
  box_.OnAction(kActionTypeKeys, ov::String(char16_t{0x2E}, 1), 0);  // Delete
  EXPECT_EQ(box_.text(), ov::String(u"ab."));
  EXPECT_EQ(box_.caret(), 2);
  box_.OnAction(kActionTypeKeys, ov::String(char16_t{0x24}, 1), 0);  // Home
  EXPECT_EQ(box_.caret(), 2);
  // Cancel restores the text from when editing began.
  box_.OnAction(kActionCancelEditing, ov::String(), 0);
  EXPECT_FALSE(box_.editing());
  EXPECT_EQ(box_.text(), ov::String(u""));
  // Finishing with no-confirm stores the text into the option.
  box_.LoadAttribute(u"nc", u"yes");
  box_.OnAction(kActionActivate, ov::String(), 0);
  box_.OnAction(kActionTypeChars, u"xy", 0);
  box_.OnAction(kActionFinishEditing, ov::String(), 0);
  ASSERT_EQ(host_.options.size(), 1u);
  EXPECT_EQ(host_.options[0].first, u"VideoTrackTitle");
  EXPECT_EQ(host_.options[0].second, u"xy");
}

// Leftmost and rightmost columns with lit pixels in rows [0, 40).
static std::pair<int, int> InkColumns(const gfx::Bitmap& b) {
  int lo = -1, hi = -1;
  for (int y = 0; y < 40 && y < b.height(); ++y) {
    for (int x = 0; x < b.width(); ++x) {
      if (b.row(y)[x] != 0) {
        if (lo < 0 || x < lo) lo = x;
        if (x > hi) hi = x;
      }
    }
  }
  return {lo, hi};
}

TEST_F(TextBoxTest, AlignmentPlacesTheLine) {
  struct Case {
    const char16_t* attribute;
    int lo_min, lo_max, hi_min, hi_max;
  };
  // A 120-pixel box at x = 0 holding "abc" (about 3 characters wide).
  const int w = 3 * char_width_;
  const Case cases[] = {
      {nullptr, 0, 2, w - 4, w + 1},
      {u"rightJust", 120 - w - 1, 120 - w + 3, 116, 120},
      {u"centered", 60 - w / 2 - 2, 60 - w / 2 + 3, 60 + w / 2 - 4, 60 + w / 2 + 2},
  };
  for (const Case& c : cases) {
    TextBox box;
    box.LoadAttribute(u"font", u"DejaVu Sans Mono");
    box.LoadAttribute(u"th", u"14");
    box.LoadAttribute(u"xS", u"120");
    box.LoadAttribute(u"yS", u"30");
    box.LoadAttribute(u"tic", u"FFFFFF");
    if (c.attribute) box.LoadAttribute(c.attribute, u"yes");
    box.OnAction(kActionSetText, u"abc", 0);
    gfx::FillRect(dc_.get(), {0, 0, 240, 320}, gfx::CreateSolidBrush(0));
    box.Draw(dc_.get(), kDrawNormal);
    const auto [lo, hi] = InkColumns(*bitmap_);
    EXPECT_GE(lo, c.lo_min);
    EXPECT_LE(lo, c.lo_max);
    EXPECT_GE(hi, c.hi_min);
    EXPECT_LE(hi, c.hi_max);
  }
}

TEST_F(TextBoxTest, AngleBoundsAndCaretModes) {
  box_.LoadAttribute(u"xP", u"10");
  box_.LoadAttribute(u"yP", u"100");
  box_.LoadAttribute(u"xS", u"50");
  box_.LoadAttribute(u"yS", u"20");
  box_.LoadAttribute(u"textAngle", u"90");
  box_.UpdateLayout();
  EXPECT_EQ(box_.bounds(), (gfx::Rect{10, 100, 30, 50}));
  // Steady caret: shown after the first key and never flipped by ticks.
  TextBox steady;
  steady.LoadAttribute(u"caret", u"1");
  steady.LoadAttribute(u"wr", u"y");
  steady.OnAction(kActionActivate, ov::String(), 0);
  steady.OnAction(kActionTypeChars, u"a", 0);
  EXPECT_TRUE(steady.caret_phase());
  steady.Draw(dc_.get(), kDrawFocused);
  gfx::Rect r;
  steady.OnTick(&r, 100000);
  EXPECT_TRUE(steady.caret_phase());
}

}  // namespace
}  // namespace ui
