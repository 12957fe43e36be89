// ScreenManager: stylus, soft-key and keyboard input, the soft-key bar's
// popup menu and moving the focus by keys.
#include "shell/screen_manager.h"

#include "ui/softkey_menu.h"

namespace shell {
namespace {

using ui::Element;
using ui::Menu;

}  // namespace

void ScreenManager::RouteStylusDown(int32_t x, int32_t y) {
  if (y >= height_) {
    OnSoftkeyButton(x < width_ / 2 ? ui::kCommandLeftSoftkey : ui::kCommandRightSoftkey);
    return;
  }
  if (popup_open_) {
    // A tap on the open soft-key menu chooses a row; anywhere else closes it.
    const std::vector<ui::MenuBarItem*> rows = PopupRows();
    const int32_t menu_w = width_ * 2 / 3;
    const int32_t top = height_ - static_cast<int32_t>(rows.size()) * kPopupRow - 2;
    if (x >= width_ - menu_w && y >= top) {
      popup_row_ = (y - top) / kPopupRow;
      OnKey(4);
    } else {
      popup_open_ = false;
      popup_path_.clear();
      InvalidateAll();
    }
    return;
  }
  if (capture_) {
    capture_->OnStylusDown(x, y);
    return;
  }
  stylus_down_ = false;
  if (IsPopupType(focused_) && focused_->IsVisible()) {
    focused_->OnStylusDown(x, y);
    InvalidateAll();
    return;
  }
  if (open_item_group_ && open_item_group_->IsVisible()) {
    open_item_group_->OnStylusDown(x, y);
    InvalidateAll();
    return;
  }
  if (focused_) focused_->OnAction(ui::kActionFocusLost, ov::String(), 0);
  if (Element* hit = ElementAtPoint(x, y)) {
    hit->OnStylusDown(x, y);
    stylus_down_ = true;
  }
  InvalidateAll();
}

void ScreenManager::RouteStylusMove(int32_t x, int32_t y) {
  if (capture_) capture_->OnStylusMove(x, y);
  if (pressed_ && pressed_->OnStylusMove(x, y)) return;
  if (!current_) return;
  const auto& children = current_->children();
  for (size_t i = children.size(); i-- > 0;) {
    Element* e = children[i].get();
    if (e->CanTakeFocus() && e->ContainsPoint(x, y)) {
      stylus_down_ = false;
      if (e->OnStylusMove(x, y)) break;
    }
  }
}

void ScreenManager::RouteStylusUp(int32_t x, int32_t y) {
  if (y >= height_ || popup_open_) return;
  if (pressed_) pressed_->OnStylusUp(x, y);
  if (capture_) {
    capture_->OnStylusUp(x, y);
    RefreshMenuState();
    return;
  }
  stylus_down_ = false;
  if (IsPopupType(focused_) && focused_->IsVisible()) {
    focused_->OnStylusUp(x, y);
    pressed_ = nullptr;
    return;
  }
  Element* hit = ElementAtPoint(x, y);
  if (!hit) {
    pressed_ = nullptr;
    return;
  }
  focused_ = nullptr;
  focus_position_ = -1;
  hit->OnStylusUp(x, y);
  pressed_ = nullptr;
  RefreshMenuState();
  InvalidateAll();
}

void ScreenManager::RouteDoubleTap(int32_t x, int32_t y) {
  if (IsPopupType(focused_) && focused_->IsVisible()) {
    focused_->OnStylusDoubleTap(x, y);
    return;
  }
  if (Element* hit = ElementAtPoint(x, y)) {
    hit->OnStylusDoubleTap(x, y);
    InvalidateAll();
  }
}

void ScreenManager::OnSoftkey(int32_t code) {
  idle_armed_ = false;
  bool taken = false;
  if (focused_ && focused_->IsFocusable()) taken = focused_->OnDirectionKey(code);
  if (!taken && current_) {
    const auto& children = current_->children();
    for (size_t i = 0; i < children.size() && !taken; ++i) taken = children[i]->OnDirectionKey(code);
  }
  TickElements();
}

std::vector<ui::MenuBarItem*> ScreenManager::PopupRows() {
  std::vector<ui::MenuBarItem*> rows;
  std::vector<ui::MenuBarItem>* list = &menu_bar_.right.popup;
  if (!popup_path_.empty() && popup_path_[0] < static_cast<int>(list->size())) list = &(*list)[popup_path_[0]].sub;
  for (ui::MenuBarItem& i : *list) rows.push_back(&i);
  return rows;
}

void ScreenManager::OnSoftkeyButton(uint32_t command) {
  if (command == ui::kCommandLeftSoftkey) {
    popup_open_ = false;
    popup_path_.clear();
    if (menu_bar_.left.state & ui::kButtonEnabled) OnSoftkey(44);
  } else if (command == ui::kCommandRightSoftkey) {
    if (popup_open_) {
      popup_open_ = false;
      popup_path_.clear();
    } else if (!menu_bar_.right.popup.empty()) {
      if (menu_bar_.right.state & ui::kButtonEnabled) {
        popup_open_ = true;
        popup_path_.clear();
        popup_row_ = static_cast<int>(menu_bar_.right.popup.size()) - 1;
      }
    } else if (menu_bar_.right.state & ui::kButtonEnabled) {
      OnSoftkey(45);
    }
  }
  InvalidateAll();
}

void ScreenManager::MoveFocus(int32_t code) {
  if (!current_) return;
  const int32_t nav = current_->manual_nav();
  const bool vertical = code == 2 || code == 3;
  // manualNav 2 allows only up and down, 4 only left and right; other values
  // (the default 1, and 6) allow both.
  if ((nav == 2 && !vertical) || (nav == 4 && vertical)) return;
  const auto& children = current_->children();
  const int n = static_cast<int>(children.size());
  if (n == 0) return;
  const bool forward = code == 1 || code == 3;
  int start = focus_position_;
  for (int step = 1; step <= n; ++step) {
    int i;
    if (start < 0) i = forward ? step - 1 : n - step;
    else i = ((forward ? start + step : start - step) % n + n) % n;
    Element* e = children[i].get();
    if (!e->CanTakeFocus() || IsPopupType(e) || e->GetType() == ui::kTypeItemGroup) continue;
    if (focused_) {
      focused_->StopAnimation();
      focused_->OnAction(ui::kActionFocusLost, ov::String(), 0);
    }
    focused_ = e;
    focus_position_ = i;
    // Focus gained resets a control's frames and stops its animation, so the
    // animation starts after it.
    e->OnAction(ui::kActionFocusGained, ov::String(), 0);
    if (code == 0 || code == 2) e->StartAnimationLeft();
    else e->StartAnimationRight();
    TriggerSequences(forward ? ui::kTriggerSelectionRight : ui::kTriggerSelectionLeft);
    TriggerSequences(ui::kTriggerSelection);
    RefreshMenuState();
    InvalidateAll();
    return;
  }
}

void ScreenManager::OnKey(int32_t code) {
  idle_armed_ = false;
  if (popup_open_) {
    std::vector<ui::MenuBarItem*> rows = PopupRows();
    const int n = static_cast<int>(rows.size());
    if (n == 0) {
      popup_open_ = false;
      InvalidateAll();
      return;
    }
    if (code == 2 || code == 3) {
      for (int step = 1; step <= n; ++step) {
        const int i = ((popup_row_ + (code == 3 ? step : -step)) % n + n) % n;
        if (!rows[i]->separator && rows[i]->enabled) {
          popup_row_ = i;
          break;
        }
      }
    } else if (code == 0 && !popup_path_.empty()) {
      // Back to the parent list, on the row of the sub-menu just left.
      popup_row_ = popup_path_[0];
      popup_path_.clear();
    } else if (code == 4 || code == 1) {
      if (popup_row_ >= 0 && popup_row_ < n) {
        ui::MenuBarItem* item = rows[popup_row_];
        if (!item->sub.empty() && popup_path_.empty()) {
          popup_path_.push_back(popup_row_);
          popup_row_ = 0;
        } else if (code == 4 && !item->separator && item->enabled && item->id != 0) {
          popup_open_ = false;
          popup_path_.clear();
          // The menu leaves the screen before its command runs: a command
          // that opens a modal dialog would otherwise show it over the menu.
          Paint({0, 0, width_, height_ + kBarHeight});
          OnSoftkey(static_cast<int32_t>(item->id) - 39960);
        }
      }
    }
    InvalidateAll();
    return;
  }
  // Enter on an open drop-down chooses its current item the way a tap
  // does (closing it first unless it is persistent).
  if (code == 4 && focused_ && focused_->GetType() == ui::kTypeDropDownMenu && focused_->IsVisible() &&
      focused_->GetSelectedChild()) {
    focused_->OnAction(ui::kActionActivate, ov::String(), 0);
    InvalidateAll();
    return;
  }
  if (focused_ && focused_->OnDirectionKey(code)) {
    InvalidateAll();
    return;
  }
  // A digit the focus does not take is offered to every element of the menu
  // in list order, as a soft key is: elements answer their own keys without
  // the focus (the mixer's channel panels, a channel's quick-assign key).
  // An open popup keeps them all.
  if (code >= 5) {
    if (!current_ || (IsPopupType(focused_) && focused_->IsVisible())) return;
    const auto& children = current_->children();
    for (size_t i = 0; i < children.size(); ++i) {
      if (children[i].get() != focused_ && children[i]->OnDirectionKey(code)) {
        InvalidateAll();
        return;
      }
    }
    return;
  }
  if (code == 4) {
    if (focused_ && focused_->CanTakeFocus()) {
      focused_->OnAction(ui::kActionActivate, ov::String(), 0);
      InvalidateAll();
    }
    return;
  }
  if (code <= 3) MoveFocus(code);
}

}  // namespace shell
