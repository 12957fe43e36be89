#pragma once
// PlaceholderControl: a plain Control that answers the element type of a
// class not built yet (the mix screens, sliders, value pickers, browsers,
// sequences), so that skins naming those keywords load and their items can
// be found by type. Draws and acts as a menu item.

#include "ui/control.h"

namespace ui {

class PlaceholderControl : public Control {
 public:
  explicit PlaceholderControl(int32_t type) { type_ = type; }
};

}  // namespace ui
