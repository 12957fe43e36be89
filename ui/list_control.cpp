#include "ui/list_control.h"

#include "ui/menu.h"
#include "ui/scroll_bar.h"
#include "ui/ui_host.h"

namespace ui {

ListControl::~ListControl() {
  idle_selected_icon_.Release();
  focus_selected_icon_.Release();
}

void ListControl::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"lineSize")) {
    row_height_ = ParseCoordinate(value);
  } else if (NameIs(name, u"textIndent")) {
    text_indent_ = ParseCoordinate(value);
  } else if (NameIs(name, u"preTextAdditionalSpacing")) {
    pre_text_spacing_ = ParseCoordinate(value);
  } else if (NameIs(name, u"myScrollBar")) {
    scroll_bar_name_ = value;
  } else if (NameIs(name, u"focusSelectedIcon")) {
    focus_selected_icon_.name = value;
  } else if (NameIs(name, u"idleSelectedIcon")) {
    idle_selected_icon_.name = value;
  } else {
    Control::LoadAttribute(name, value);
  }
}

void ListControl::DrawSelectedIcon(gfx::HDC dc, int state, int32_t y, int32_t max_height) {
  SkinImage& icon = state == kDrawFocused ? focus_selected_icon_ : idle_selected_icon_;
  if (!icon.loaded && !icon.name.IsEmpty()) LoadSkinImage(dc, &icon, icon.name, true);
  if (!icon.dc) return;
  const int32_t h = std::min(icon.height, max_height);
  gfx::TransparentImage(dc, x_, y, icon.width, h, icon.dc.get(), 0, 0, icon.width, h, transparent_colour_);
}

void ListControl::FindScrollBar() {
  Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
  Element* bar = scroll_bar_name_.IsEmpty() || !Host() ? nullptr
                                                       : Host()->FindElementByName(menu, scroll_bar_name_, false);
  scroll_bar_ = bar && bar->GetType() == kTypeScrollBar ? static_cast<ScrollBar*>(bar) : nullptr;
}

}  // namespace ui
