#include "ui/item_group.h"

#include "platform/os/thread.h"
#include "ui/popup_message_box.h"
#include "ui/ui_host.h"

namespace ui {

ItemGroup::ItemGroup() {
  type_ = kTypeItemGroup;
  aux_value_ = 0;
}

int ItemGroup::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  // While open, the group holds the stylus: downs, moves and ups all come to
  // it, wherever they land.
  if (code == kActionItemGroupOpen) {
    if (Host()) {
      Host()->SetOpenItemGroup(this);
      Host()->SetStylusCapture(this);
    }
    last_opened_ = ov::GetTickCount();
    return 1;
  }
  if (code == kActionItemGroupClose) {
    if (Host()) {
      Host()->SetOpenItemGroup(nullptr);
      Host()->SetStylusCapture(nullptr);
    }
    return 1;
  }
  return DropDownMenu::OnAction(code, argument, flag);
}

void ItemGroup::Draw(gfx::HDC dc, int state) {
  if (!visible_) return;
  Control::Draw(dc, state);
  for (size_t i = 0; i < items_.size(); ++i) {
    Element* e = items_[i].get();
    if (!e->IsVisible()) continue;
    const int s = !e->IsEnabled() ? kDrawDisabled : (static_cast<int>(i) == current_ ? kDrawFocused : kDrawNormal);
    e->Draw(dc, s);
  }
}

void ItemGroup::OnTick(gfx::Rect* area, uint32_t now) {
  *area = bounds_;
  if (visible_) DropDownMenu::OnTick(area, now);
}

bool ItemGroup::OnDirectionKey(int32_t code) {
  if (!visible_) return false;
  const bool handled = DropDownMenu::OnDirectionKey(code);
  if (handled && Host()) Host()->InvalidateAll();
  return handled;
}

bool ItemGroup::OnStylusDown(int32_t x, int32_t y) {
  if (!ContainsPoint(x, y) && ov::GetTickCount() - last_opened_ > 100) {
    OnAction(kActionItemGroupClose, ov::String(), 0);
    UpdateLayout();
    if (Host()) Host()->InvalidateArea(bounds_);
    SetVisible(false);
  }
  for (auto& i : items_) {
    if (i->CanTakeFocus() && i->ContainsPoint(x, y)) {
      i->OnStylusDown(x, y);
      if (Host()) Host()->InvalidateAll();
      return true;
    }
  }
  return false;
}

bool ItemGroup::OnStylusUp(int32_t x, int32_t y) {
  for (auto& i : items_) {
    if (i->CanTakeFocus() && i->ContainsPoint(x, y)) {
      i->OnStylusUp(x, y);
      if (Host()) Host()->InvalidateAll();
      return true;
    }
  }
  return false;
}

bool ItemGroup::OnStylusMove(int32_t x, int32_t y) {
  for (auto& i : items_) {
    if (i->CanTakeFocus() && i->ContainsPoint(x, y) && i->OnStylusMove(x, y)) return true;
  }
  return false;
}

void ItemGroup::ShowAtPoint(int32_t x, int32_t y) {
  const gfx::Size screen = Host() ? Host()->ScreenSize() : gfx::Size{240, 320};
  const int32_t w = screen.cx;
  const int32_t h = screen.cy;
  const int32_t dx = x - x_;
  const int32_t dy = y - y_;
  const int32_t base = (x_ + x_size_ + dx > w) ? w - x_size_ - x_ : dx;
  int32_t shift_x = (x < w / 2) ? base + 4 : base - 4;
  const int32_t shift_y = (y_ + y_size_ + dy > h) ? h - y_size_ - y_ : dy + 4;
  y_ += shift_y;
  if (aux_value_ != 0) shift_x -= aux_value_;
  x_ += shift_x;
  for (auto& i : items_) {
    i->MoveX(shift_x);
    i->MoveY(shift_y);
  }
}

bool PopupMessageBox::OnDirectionKey(int32_t code) {
  if (!visible_) return false;
  const bool handled = DropDownMenu::OnDirectionKey(code);
  if (handled && Host()) Host()->InvalidateAll();
  return handled;
}

int PopupMessageBox::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  if (code == 17 || code == 19) return 1;
  return DropDownMenu::OnAction(code, argument, flag);
}

}  // namespace ui
