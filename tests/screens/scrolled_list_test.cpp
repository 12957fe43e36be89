// The list walk and scrolling the media and effect browsers share, over a
// list of numbers whose odd entries are hidden: the ends for an empty list,
// one row, a page less one, exactly a page, a page and one and more; a
// height holding a part row; positions that stand on hidden rows.
#include "screens/browsers/scrolled_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <list>
#include <vector>

namespace {

using Rows = std::list<int>;
using List = screens::ScrolledList<Rows>;

// 0 .. 2 * shown - 1, the even numbers shown: a hidden row after each one.
struct Numbers {
  explicit Numbers(int shown) : list(rows, [](int n) { return n % 2 == 0; }) {
    for (int n = 0; n < 2 * shown; ++n) rows.push_back(n);
    v.top = v.selected = list.First(rows.begin());
    v.bottom = rows.end();
  }
  List::Position At(int n) { return std::find(rows.begin(), rows.end(), n); }
  int Value(List::Position p) { return p == rows.end() ? -1 : *p; }
  int Index(List::Position p) { return list.IndexOf(p); }
  // A paint of a height of `height` in rows of 40.
  void Paint(int32_t height) {
    list.ForEachRowInView(&v, height, 40, [](List::Position, int32_t) { return true; });
  }

  Rows rows;
  List list;
  List::View v;
};

struct Case {
  int shown;
  int32_t height;   // rows of 40: 120 holds three, 130 three and a part
  int last_top;     // the index of the top scrolled to the end
  int walk_top;     // the top once the selection has stepped to the end
};

class ScrolledListTest : public ::testing::TestWithParam<Case> {};

TEST_P(ScrolledListTest, StepsAndScrollsStopAtTheEndsWithTheSelectionInView) {
  const Case c = GetParam();
  Numbers s(c.shown);
  // Scroll down to the end: the last page stays full.
  int moved = 0;
  while (s.list.ScrollDown(&s.v, c.height, 40)) ++moved;
  EXPECT_EQ(moved, c.last_top);
  EXPECT_EQ(s.Index(s.v.top), c.last_top);
  // Scroll up to the head; only an empty list has no top to move.
  for (int i = 0; i < c.shown + 1; ++i) EXPECT_EQ(s.list.ScrollUp(&s.v), c.shown > 0);
  EXPECT_EQ(s.Index(s.v.top), 0);
  // A tap on each row of the view, and below the last.
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(s.Value(s.list.RowAt(s.v.top, row)), row < c.shown ? 2 * row : -1) << "row " << row;
  }
  EXPECT_EQ(s.list.RowAt(s.v.top, -1), s.rows.end());
  // Before a paint there is no bottom: no step on.
  bool scrolled = false;
  EXPECT_FALSE(s.list.SelectNext(&s.v, 1, &scrolled));
  // Every row on, a paint between steps: each row in order, in view.
  std::vector<int> walked;
  do {
    s.Paint(c.height);
    if (s.v.selected == s.rows.end()) break;
    walked.push_back(*s.v.selected);
    const int at = s.Index(s.v.selected);
    EXPECT_LE(s.Index(s.v.top), at);
    EXPECT_LE(at, s.Index(s.v.bottom));
  } while (s.list.SelectNext(&s.v, 1, &scrolled));
  EXPECT_EQ(walked.size(), size_t(c.shown));
  for (size_t i = 0; i < walked.size(); ++i) EXPECT_EQ(walked[i], int(2 * i));
  // A part row at the bottom is drawn and so the selection's last stop.
  EXPECT_EQ(s.Index(s.v.top), c.walk_top);
  // And back to the first row: the top follows the selection up.
  int back = 0;
  while (s.list.SelectPrevious(&s.v, 1)) {
    ++back;
    EXPECT_LE(s.Index(s.v.top), s.Index(s.v.selected));
  }
  EXPECT_EQ(back, std::max(c.shown - 1, 0));
  EXPECT_EQ(s.Index(s.v.top), 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScrolledListTest,
                         ::testing::Values(Case{0, 120, 0, 0}, Case{1, 120, 0, 0}, Case{2, 120, 0, 0},
                                           Case{3, 120, 0, 0}, Case{4, 120, 1, 1}, Case{9, 120, 6, 6},
                                           Case{3, 130, 0, 0}, Case{4, 130, 1, 0}, Case{9, 130, 6, 5}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return "Shown" + std::to_string(param.param.shown) + "Height" +
                                  std::to_string(param.param.height);
                         });

// A position on a hidden row stands for the shown row after it; none stands
// after the last row.
TEST(ScrolledList, HiddenPositionsStandForTheShownRowAfterThem) {
  Numbers s(4);  // 0 2 4 6 shown, 1 3 5 7 hidden
  const List& l = s.list;
  EXPECT_EQ(s.Value(l.First(s.At(1))), 2);
  EXPECT_EQ(s.Value(l.Next(s.At(1))), 4);
  EXPECT_EQ(s.Value(l.Next(s.At(7))), -1);
  EXPECT_EQ(s.Value(l.Previous(s.At(3))), 2);
  EXPECT_EQ(s.Value(l.Previous(s.At(0))), -1);
  EXPECT_EQ(s.Value(l.Previous(s.rows.end())), 6);
  EXPECT_EQ(s.Value(l.Step(s.At(1), 2)), 6);
  EXPECT_EQ(s.Value(l.Step(s.At(1), 3)), 1);  // runs out: the start itself
  EXPECT_EQ(s.Value(l.Step(s.At(3), -2)), 0);
  EXPECT_EQ(s.Value(l.Step(s.At(3), -3)), 3);
  EXPECT_EQ(s.Index(s.At(3)), 2);
  EXPECT_EQ(s.Index(s.rows.end()), 0);
  // The top on hidden 1 (2 in view): a step back from 2 takes the top to 0,
  // a scroll down moves the view from 2 to 4.
  s.v.top = s.At(1);
  s.v.selected = s.At(2);
  EXPECT_TRUE(s.list.SelectPrevious(&s.v, 1));
  EXPECT_EQ(s.Value(s.v.top), 0);
  s.v.top = s.At(1);
  EXPECT_TRUE(s.list.ScrollDown(&s.v, 80, 40));
  EXPECT_EQ(s.Value(s.v.top), 4);
  EXPECT_FALSE(s.list.ScrollDown(&s.v, 80, 40));
  // A paint from hidden 1 draws 2 4 6 and leaves 6 the bottom.
  s.v.top = s.At(1);
  std::vector<int> drawn;
  s.list.ForEachRowInView(&s.v, 120, 40, [&](List::Position p, int32_t offset) {
    EXPECT_EQ(offset, 40 * int32_t(drawn.size()));
    drawn.push_back(*p);
    return true;
  });
  EXPECT_EQ(drawn, (std::vector<int>{2, 4, 6}));
  EXPECT_EQ(s.Value(s.v.bottom), 6);
  // A filter that hides the selection moves it on; with none after it, back
  // to the top's row under a kind filter, else to none.
  s.v.selected = s.At(5);
  EXPECT_FALSE(s.list.FollowFilter(&s.v, true));
  EXPECT_EQ(s.Value(s.v.selected), 6);
  s.v.selected = s.At(7);
  EXPECT_TRUE(s.list.FollowFilter(&s.v, true));
  EXPECT_EQ(s.Value(s.v.selected), 2);
  s.v.selected = s.At(7);
  EXPECT_FALSE(s.list.FollowFilter(&s.v, false));
  EXPECT_EQ(s.Value(s.v.selected), -1);
}

}  // namespace
