#pragma once
// What the list widgets (folder browser, clip order list) share: their
// skin attributes (row height, text indent, selected-row icons, the scroll
// bar's name), the row font DrawTextEllipsis draws with, the selected-row
// icon, the scroll bar look-up, and the short name a row shows for a path.
//
// Thread: UI thread only.

#include <algorithm>

#include "ui/control.h"
#include "ui/text_drawing.h"

namespace ui {

class ScrollBar;

// The font of an element's rows, made on first use and kept.
class ListTextFont : public TextFontState {
 public:
  ov::String face = u"Tahoma";
  int32_t height = 14;
  bool antialias = false;
  int32_t line_size = 10;

  ov::String FontFaceName() const override { return face; }
  int32_t FontHeight() const override { return height; }
  bool FontAntialiased() const override { return antialias; }
  int32_t LineSize() const override { return line_size; }
  gfx::HFont& CachedFont() override { return font; }

  // A changed face, height or antialias drops the made font.
  void Set(const ov::String& new_face, int32_t new_height, bool new_antialias) {
    if (new_face == face && new_height == height && new_antialias == antialias) return;
    face = new_face;
    height = new_height;
    antialias = new_antialias;
    font.reset();
  }

 private:
  gfx::HFont font;
};

// The part of path between its last folder separator ("\" or "/") and its
// last "." when it has both; else the whole path.
inline ov::String ShownFileName(const ov::String& path) {
  const int slash = std::max(path.ReverseFind(u'\\'), path.ReverseFind(u'/'));
  const int dot = path.ReverseFind(u'.');
  if (slash < 0 || dot < 0) return path;
  if (dot <= slash) return path.Mid(slash + 1);
  return path.Mid(slash + 1, dot - slash - 1);
}

class ListControl : public Control {
 public:
  ~ListControl() override;
  // "lineSize", "textIndent", "preTextAdditionalSpacing", "myScrollBar",
  // "focusSelectedIcon", "idleSelectedIcon"; the rest go to Control.
  void LoadAttribute(const ov::String& name, const ov::String& value) override;

  int32_t row_height() const { return row_height_; }

 protected:
  // The selected row's icon at (x_, y): the focus icon in the focused state,
  // else the idle one, loaded on first use; at most max_height high.
  void DrawSelectedIcon(gfx::HDC dc, int state, int32_t y, int32_t max_height);
  // The scroll bar named by "myScrollBar" in the list's menu, or null.
  void FindScrollBar();

  int32_t row_height_ = 10;
  int32_t text_indent_ = 0;
  int32_t pre_text_spacing_ = 0;  // kept from the skin; drawing does not use it
  SkinImage idle_selected_icon_, focus_selected_icon_;
  ov::String scroll_bar_name_;
  ScrollBar* scroll_bar_ = nullptr;
  ListTextFont font_;
};

}  // namespace ui
