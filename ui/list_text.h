#pragma once
// Helpers of the list-like widgets (folder browser, clip order list,
// calendar): the font state DrawTextEllipsis draws with, and the short name
// a list shows for a path.
//
// Thread: UI thread only.

#include <algorithm>

#include "ui/text_drawing.h"

namespace ui {

// The font of an element's list rows, made on first use and kept.
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

}  // namespace ui
