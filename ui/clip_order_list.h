#pragma once
// PlaylistOrder ("PlaylistOrder"): the clips of one mix channel, one row
// per clip (the file name without folder and extension). The user moves the
// selection with the direction keys or the stylus, switches into a moving
// mode in which the selection carries its clip, drags a clip to a new place
// (a drop line shows where) or out of the list to delete it, and deletes the
// selected clip with PL_DELETE. A channel always keeps its last clip.
//
// Thread: UI thread only.

#include "ui/list_control.h"

namespace ui {

class ChannelLink;
class DragIcon;

class PlaylistOrder : public ListControl {
 public:
  PlaylistOrder();

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  int MoveSelectionUp();
  int MoveSelectionDown();
  void ScrollDownOne();
  void DeleteSelectedClip();

  int32_t selected() const { return selected_; }
  int32_t first_shown() const { return first_shown_; }
  int32_t last_shown() const { return last_shown_; }
  int32_t drop_row() const { return drop_row_; }
  bool moving() const { return moving_; }
  bool dragging() const { return dragging_; }
  int32_t channel_index() const { return channel_index_; }

 private:
  ChannelLink* Channel() const;
  int32_t ClipCount() const;
  // Rows that fit in the box; 0 without a row height.
  int32_t VisibleRows() const;
  void MoveClip(int32_t from, int32_t to);
  void UpdateMenuItems();
  void UpdateScrollBar();
  void SelectionChanged();

  int32_t channel_index_ = 0;
  Element* mixer_ = nullptr;
  Element* channel_ = nullptr;
  int32_t selected_ = 0, first_shown_ = 0, last_shown_ = 0;
  bool moving_ = false;
  int32_t drop_row_ = -1;
  bool dragging_ = false;
  uint32_t drop_colour_ = 0x0000FF;
  DragIcon* drag_icon_ = nullptr;
  int32_t icon_offset_x_ = 0, icon_offset_y_ = 0;
  ov::String channel_name_;
};

}  // namespace ui
