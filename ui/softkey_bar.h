#pragma once
// The menu bar's model: its two soft-key buttons (commands 40004 left and
// 40005 right) with their texts and states, and the right button's popup
// menu. Soft-key menu elements fill it; the window draws it and turns taps,
// F1/F2 and the popup's choices into commands.
//
// Thread: UI thread only.

#include <cstdint>
#include <vector>

#include "platform/os/ov_string.h"

namespace ui {

enum : uint32_t { kCommandLeftSoftkey = 40004, kCommandRightSoftkey = 40005, kCommandFirstItem = 40006 };
// Button states: enabled, indeterminate (shown greyed).
enum : int { kButtonEnabled = 4, kButtonGreyed = 16 };

struct MenuBarItem {
  ov::String text;
  uint32_t id = 0;  // 0 for separators and sub-menus
  bool separator = false;
  bool enabled = true;
  bool checked = false;
  std::vector<MenuBarItem> sub;  // a sub-menu when not empty
};

struct MenuBarButton {
  ov::String text;
  int state = kButtonEnabled;
  std::vector<MenuBarItem> popup;  // the right button's menu, top to bottom
};

struct MenuBar {
  MenuBarButton left;
  MenuBarButton right;
  // The item with that command, searched through the sub-menus; null when none.
  MenuBarItem* FindCommand(uint32_t id);
};

}  // namespace ui
