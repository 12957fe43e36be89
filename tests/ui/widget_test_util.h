#pragma once
// Helpers of the widget tests: placing an element and writing small
// pictures into the test's scratch folder.

#include <string>

#include "platform/imaging/image.h"
#include "tests/gfx/surface_util.h"
#include "ui/element.h"

namespace ovtest {

inline void Place(ui::Element* e, int32_t x, int32_t y, int32_t w, int32_t h) {
  e->LoadAttribute(u"xP", ov::String::Format(u"%d", x));
  e->LoadAttribute(u"yP", ov::String::Format(u"%d", y));
  e->LoadAttribute(u"xS", ov::String::Format(u"%d", w));
  e->LoadAttribute(u"yS", ov::String::Format(u"%d", h));
}

// A picture of vertical bands of the given colours, each band_width wide;
// written as PNG under dir/name (the decoders go by content, not by name).
inline ov::String WriteBands(const std::string& dir, const std::string& name, int32_t band_width, int32_t height,
                             std::initializer_list<gfx::COLORREF> colours) {
  Canvas canvas = MakeCanvas(band_width * static_cast<int32_t>(colours.size()), height, 0);
  int32_t x = 0;
  for (gfx::COLORREF c : colours) {
    gfx::FillRect(canvas.get(), {x, 0, x + band_width, height}, gfx::CreateSolidBrush(c));
    x += band_width;
  }
  const std::string path = dir + "/" + name;
  imaging::WritePng(path, *canvas.bitmap);
  return ov::String::FromUtf8Lossy(path);
}

inline uint16_t PixelAt(const Canvas& c, int32_t x, int32_t y) { return c.bitmap->row(y)[x]; }

}  // namespace ovtest
