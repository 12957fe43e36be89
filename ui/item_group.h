#pragma once
// ItemGroup: a small group of items that pops up next to the point the
// stylus touched and closes when the stylus touches outside it. Use it for
// a context menu under the stylus; a PopupMessageBox for a message opened by
// name.
//
// Thread: UI thread only.

#include "ui/drop_down_menu.h"

namespace ui {

class ItemGroup : public DropDownMenu {
 public:
  ItemGroup();
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  // Moves the group and its items next to (x, y), inside the screen.
  virtual void ShowAtPoint(int32_t x, int32_t y);

  uint32_t last_opened() const { return last_opened_; }

 private:
  uint32_t last_opened_ = 0;
};

}  // namespace ui
