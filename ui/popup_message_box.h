#pragma once
// PopupMessageBox: a message box opened by name (SHOW_POPUP, the help hints
// "help%d", the popups other screens name). It behaves as a drop-down menu
// that codes 17 and 19 cannot close.
//
// Thread: UI thread only.

#include "ui/drop_down_menu.h"

namespace ui {

class PopupMessageBox : public DropDownMenu {
 public:
  PopupMessageBox() { type_ = kTypePopupMessageBox; }
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
};

}  // namespace ui
