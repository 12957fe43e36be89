#pragma once
// ScrolledList: the walk and the scrolling of a browser's list, one copy for
// the media browser and the effect browser. The rows are a linked list of
// which a predicate says which are shown (the browsers' kind and date
// filters); the view is three positions in it: the top (the first row
// drawn), the selection, and the bottom (the last row the latest paint drew;
// none until a paint, and forgotten when the view moves past it).
//
// Every walk passes over hidden rows. A position on a hidden row (a filter
// set after the top or the selection was placed) stands for the first shown
// row at or after it, the row a paint draws there; so the next step, scroll
// or index goes on from what the user sees.
//
// Thread: UI thread only.

#include <cstdint>
#include <functional>
#include <iterator>

namespace screens {

// The three positions of a list's view.
template <typename Position>
struct ListView {
  Position top, selected, bottom;
};

// The rows a page of a list shows, a part row counted (the scroll bar's page).
inline int32_t ScrollPage(int32_t height, int32_t row_height) { return (height + row_height - 1) / row_height; }

template <typename List>
class ScrolledList {
 public:
  using Position = typename List::iterator;
  using Row = typename List::value_type;
  using Shows = std::function<bool(const Row&)>;
  using View = ListView<Position>;

  ScrolledList(List& list, Shows shows) : list_(&list), shows_(std::move(shows)) {}

  Position None() const { return list_->end(); }
  // The first shown row at or after p; none when there is none.
  Position First(Position p) const {
    while (p != list_->end() && !shows_(*p)) ++p;
    return p;
  }
  // The shown row after the row p stands for; none at the end.
  Position Next(Position p) const {
    p = First(p);
    return p == list_->end() ? p : First(std::next(p));
  }
  // The shown row before the row p stands for, which is the last shown row
  // before p itself (the last shown row for none); none at the head.
  Position Previous(Position p) const {
    while (p != list_->begin()) {
      if (shows_(*--p)) return p;
    }
    return list_->end();
  }
  // n shown rows on from the row p stands for, back for n < 0; p itself
  // when the list runs out first.
  Position Step(Position p, int32_t n) const {
    Position q = p;
    for (; n > 0; --n) {
      q = Next(q);
      if (q == list_->end()) return p;
    }
    for (; n < 0; ++n) {
      q = Previous(q);
      if (q == list_->end()) return p;
    }
    return q;
  }
  // The number of shown rows before p, the index of the row it stands for;
  // 0 for none.
  int32_t IndexOf(Position p) const {
    if (p == list_->end()) return 0;
    int32_t index = 0;
    for (Position q = list_->begin(); q != p && q != list_->end(); ++q) index += shows_(*q) ? 1 : 0;
    return index;
  }
  // The shown row `row` rows below the top (where a tap lands); none past
  // the end of the list or for a negative row.
  Position RowAt(Position top, int32_t row) const {
    if (row < 0) return list_->end();
    Position p = First(top);
    for (; row > 0 && p != list_->end(); --row) p = Next(p);
    return p;
  }

  // One row back: nothing and false without a selection, at the head or
  // with no shown row before it. A selection on the top row takes the top
  // back by row_steps rows, so the selection stays in view.
  bool SelectPrevious(View* v, int32_t row_steps) const {
    if (v->selected == list_->end() || v->selected == list_->begin()) return false;
    const Position previous = Previous(v->selected);
    if (previous == list_->end()) return false;
    if (First(v->selected) == First(v->top)) v->top = Step(v->top, -row_steps);
    v->selected = previous;
    return true;
  }
  // One row on: nothing and false before a paint has set the bottom, without
  // a selection or with no shown row after it. A selection on the bottom row
  // forgets the bottom (the next paint sets it again; until then no further
  // step) and takes the top on by row_steps rows; *scrolled tells so.
  bool SelectNext(View* v, int32_t row_steps, bool* scrolled) const {
    *scrolled = false;
    if (v->bottom == list_->end() || v->selected == list_->end()) return false;
    const Position next = Next(v->selected);
    if (next == list_->end()) return false;
    if (First(v->selected) == v->bottom) {
      v->bottom = list_->end();
      v->top = Step(v->top, row_steps);
      *scrolled = true;
    }
    v->selected = next;
    return true;
  }
  // The top one row back when there is one; false only without a top.
  bool ScrollUp(View* v) const {
    if (v->top == list_->end()) return false;
    v->top = Step(v->top, -1);
    return true;
  }
  // The top one row on, only while more shown rows stand from the top on
  // (itself included) than the height holds whole rows: the last page stays
  // full. False when it did not move.
  bool ScrollDown(View* v, int32_t height, int32_t row_height) const {
    if (v->top == list_->end() || row_height <= 0) return false;
    const int32_t rows = height / row_height;
    int32_t standing = 0;
    for (Position p = First(v->top); p != list_->end() && standing <= rows; p = Next(p)) ++standing;
    if (standing <= rows) return false;
    v->top = Step(v->top, 1);
    return true;
  }
  // The selection after a filter or a paint: onto the first shown row at or
  // after it; with a filter in force and no such row, the top's row. True
  // when it fell back on the top (the caller repaints).
  bool FollowFilter(View* v, bool filtered) const {
    if (v->selected != list_->end()) v->selected = First(v->selected);
    if (!filtered || v->selected != list_->end()) return false;
    v->selected = First(v->top);
    return true;
  }
  // The paint's walk: for each shown row from the top while its offset
  // (0, row_height, ...) is less than the height, the row becomes the
  // bottom and draw(row, offset) runs; a false from draw ends the walk.
  template <typename Draw>
  void ForEachRowInView(View* v, int32_t height, int32_t row_height, Draw draw) const {
    if (row_height <= 0) return;
    Position p = First(v->top);
    for (int32_t offset = 0; offset < height && p != list_->end(); offset += row_height, p = Next(p)) {
      v->bottom = p;
      if (!draw(p, offset)) return;
    }
  }

 private:
  List* list_;
  Shows shows_;
};

}  // namespace screens
