#pragma once
// ScrollBar: a vertical scroll bar drawn with three solid colours and two
// button images. It scrolls nothing itself: a list element tells it the
// list's size, position and page (SetScrollRange) and receives codes 74 (one
// line up) and 75 (one line down) as the user taps or drags.
//
// Thread: UI thread only.

#include "ui/control.h"

namespace ui {

class ScrollBar : public Control {
 public:
  ScrollBar();
  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void UpdateLayout() override;
  bool OnDirectionKey(int32_t code) override {
    (void)code;
    return false;
  }
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override {
    (void)x;
    (void)y;
    return true;
  }
  bool OnStylusMove(int32_t x, int32_t y) override;

  void SetScrollRange(Element* owner, int32_t last_index, int32_t position, int32_t page);
  gfx::Rect GetThumbRect() const;

 private:
  void Send(int32_t code, int32_t times);

  uint32_t fill_colour_ = 0, line_colour_ = 0, background_colour_ = 0;
  gfx::HBrush fill_, line_, background_;
  int32_t button_size_ = 26;
  int32_t range_ = 0, position_ = 0, page_ = 1;
  Element* owner_ = nullptr;
  int32_t drag_start_y_ = 0, drag_lines_ = 0;
};

}  // namespace ui
