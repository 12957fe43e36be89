// Text box layout and editing with a fixed-pitch font, so that line breaks
// follow from the character width; the layout of a proportional font against
// a plain word-by-word layout, and its cost on one long word.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/gfx/measure_count.h"
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

// The lines of the text box's layout as each candidate is measured whole:
// tokens (a word and the spaces after it) are added while the line so far
// plus the token stays narrower than the box; a first token that does not
// fit is cut by characters; a line break ends a line.
// An italic box adds the width of a space to every width it measures (the
// slant of the last letter).
std::vector<TextLine> PlainLayout(gfx::HDC dc, const std::u16string& text, int32_t box, bool italic = false) {
  gfx::Size space;
  EXPECT_TRUE(gfx::GetTextExtentPoint(dc, u" ", &space));
  const int32_t slant = italic ? space.cx : 0;
  auto measure = [&](size_t start, size_t length, int32_t* height) {
    gfx::Size s;
    EXPECT_TRUE(gfx::GetTextExtentPoint(dc, std::u16string_view(text).substr(start, length), &s));
    *height = s.cy;
    return s.cx + slant;
  };
  auto is_break = [](char16_t c) { return c == u'\r' || c == u'\n'; };
  std::vector<TextLine> lines;
  const size_t n = text.size();
  size_t start = 0;
  while (start < n) {
    TextLine line;
    line.index = int32_t(lines.size());
    line.continuation = line.index > 0;
    line.start = int32_t(start);
    size_t pos = start, next = n;
    int tokens = 0;
    for (;;) {
      if (pos >= n) {
        line.break_kind = line.length;
        next = pos;
        break;
      }
      size_t end = pos;
      while (end < n && text[end] != u' ' && !is_break(text[end])) ++end;
      while (end < n && text[end] == u' ') ++end;
      size_t breaks = 0;
      if (end < n && is_break(text[end])) breaks = text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n' ? 2 : 1;
      if (end == pos && breaks == 0) ++end;
      int32_t height = 0;
      const int32_t width = measure(start, end - start, &height);
      if (width >= box && end > pos) {
        if (tokens > 0) {
          line.break_kind = -1;
          next = pos;
          break;
        }
        int32_t count = 0;
        for (size_t k = 1; k <= end - start; ++k) {
          int32_t h = 0;
          const int32_t w = measure(start, k, &h);
          if (w >= box) break;
          count = int32_t(k);
          line.width = w;
          line.height = h;
        }
        if (count == 0) {
          count = 1;
          measure(start, 1, &line.height);
        }
        line.length = count;
        line.break_kind = -1;
        next = start + size_t(count);
        break;
      }
      ++tokens;
      line.length = int32_t(end - start);
      line.width = width;
      line.height = height;
      pos = end;
      if (breaks) {
        line.break_kind = line.length;
        next = pos + breaks;
        break;
      }
    }
    if (line.height == 0) line.height = space.cy;
    lines.push_back(line);
    start = next > start ? next : start + 1;
  }
  return lines;
}

std::string Describe(const std::vector<TextLine>& lines) {
  std::string out;
  for (const TextLine& l : lines) {
    out += "[" + std::to_string(l.index) + " " + std::to_string(l.start) + "+" + std::to_string(l.length) + " k" +
           std::to_string(l.break_kind) + " " + std::to_string(l.width) + "x" + std::to_string(l.height) + " c" +
           std::to_string(l.continuation) + "]";
  }
  return out;
}

// With a proportional font the lines are those of the plain layout, for
// words, runs of spaces, line breaks, words wider than the box after a short
// word or alone, long words that fit, zero-width marks, surrogate pairs and
// a box narrower than a character.
TEST_F(TextBoxTest, LinesMatchThePlainLayout) {
  const std::u16string long_word(40, u'W');
  std::u16string marks;
  for (int i = 0; i < 40; ++i) marks += u"e\u0301\u0301";
  std::u16string pairs;
  for (int i = 0; i < 12; ++i) pairs += u"\U0001F600a";
  // Pairs across the ends of the prefixes the box measures (16 and 32
  // characters from the line start, 16 past the fitted words). The pair is
  // one the font draws narrower (double-struck i) than the missing glyph its
  // first half alone measures as.
  const std::u16string pair = u"\U0001D55A";
  const std::u16string probed = std::u16string(15, u'a') + pair + std::u16string(14, u'b') + pair + u"cccccccc";
  const std::u16string after_word = u"ab " + std::u16string(16, u'd') + pair + u"eeee";
  struct Case {
    std::u16string text;
    int32_t box;
    bool italic = false;
  };
  const Case cases[] = {
      {u"one two three four five six seven", 60},
      {u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ tail", 50},
      {u"a    b     c      d", 20},
      {u"first line\r\nsecond\rthird\nfourth\r\n\r\n", 200},
      {u"ab " + long_word + u" cd", 60},
      {long_word + long_word, 176},
      {u"word              next", 40},
      {u"iiiiiiiiiiiiiiiiiiiiiiii WWWWWWWWWW iiii", 45},
      {marks + u" " + marks, 30},
      {pairs + u" " + pairs, 40},
      {u"abc def", 1},
      // Tokens that end at, and run past, the first prefix measured.
      {u"abcdefghijklmnop\nqrstuvwxyzabcdefghijklmnopqrstuvwxyz0123 end", 600},
      {std::u16string(15, u'x') + u" " + std::u16string(40, u'y') + u"  z " + std::u16string(70, u'w'), 500},
      {probed, 60},
      {probed, 110},
      {probed, 160},
      {probed + u" " + probed, 400},
      {after_word, 60},
      {after_word, 120},
      // An italic box: the slant counts in the words and in a long word's cut.
      {u"one two three four five six seven", 60, true},
      {u"ab " + long_word + u" cd", 60, true},
      {probed, 110, true},
  };
  gfx::LogFont lf;
  lf.height = 14;
  lf.SetFaceName(u"DejaVu Sans");
  struct SlantedBox : TextBox {
    explicit SlantedBox(bool italic) { italic_ = italic; }
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  // A word ending in a pair at a probe's end, alone and after a word, in
  // every box width around its own: it fits exactly when the plain layout
  // fits it (a prefix cut inside the pair would seem wider than the word).
  for (int32_t box = 100; box <= 160; ++box) {
    all.push_back({std::u16string(15, u'a') + pair + u"\nz", box});
    all.push_back({u"ab " + std::u16string(15, u'a') + pair + u"\nz", box});
  }
  for (const Case& c : all) {
    SlantedBox box(c.italic);
    box.LoadAttribute(u"font", u"DejaVu Sans");
    box.LoadAttribute(u"th", u"14");
    box.LoadAttribute(u"xS", ov::String::Format(u"%d", c.box));
    box.OnAction(kActionSetText, ov::String(std::u16string_view(c.text)), 0);
    box.GetTextHeight(dc_.get());
    gfx::LogFont face = lf;
    face.italic = c.italic ? 1 : 0;
    gfx::HFont old = dc_->SelectFont(gfx::CreateFontIndirect(face));
    const std::vector<TextLine> plain = PlainLayout(dc_.get(), c.text, c.box, c.italic);
    dc_->SelectFont(old);
    EXPECT_EQ(Describe(box.lines()), Describe(plain))
        << ov::String(std::u16string_view(c.text)).ToUtf8Lossy() << " in " << c.box << (c.italic ? " italic" : "");
    EXPECT_GT(plain.size(), 1u);
  }
}

// One unbroken word costs what its lines hold: six times the letters take
// at most seven times the characters measured (a layout that measures the
// rest of the word for every line takes about 36 times).
TEST_F(TextBoxTest, ALongWordCostsInProportionToItsLength) {
  uint64_t measured[2] = {};
  size_t lines[2] = {};
  const size_t lengths[2] = {60000, 360000};
  for (int i = 0; i < 2; ++i) {
    TextBox box;
    box.LoadAttribute(u"font", u"DejaVu Sans");
    box.LoadAttribute(u"th", u"14");
    box.LoadAttribute(u"xS", u"176");
    box.OnAction(kActionSetText, ov::String(std::u16string(lengths[i], u'm')), 0);
    auto dc = gfx::CreateCompatibleDC(nullptr);
    const uint64_t before = gfx::MeasuredCharacters();
    box.GetTextHeight(dc.get());
    measured[i] = gfx::MeasuredCharacters() - before;
    lines[i] = box.lines().size();
  }
  ASSERT_GT(measured[0], 0u);
  EXPECT_GE(lines[1], 6 * lines[0] - 6);
  EXPECT_LE(double(measured[1]) / double(measured[0]), 7.0) << measured[0] << " then " << measured[1];
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
