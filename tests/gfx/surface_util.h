#pragma once
// Helpers of the drawing tests: surfaces to draw on, ink measurements, and
// saving a surface as PNG in the test's scratch folder for a person to look at.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/gfx/dc.h"
#include "platform/imaging/image.h"
#include "tests/support/test_paths.h"

namespace ovtest {

struct Canvas {
  std::unique_ptr<gfx::DeviceContext> dc;
  gfx::HBitmap bitmap;
  gfx::HDC get() const { return dc.get(); }
};

inline Canvas MakeCanvas(int32_t w, int32_t h, gfx::COLORREF fill) {
  Canvas c;
  c.dc = gfx::CreateCompatibleDC(nullptr);
  c.bitmap = gfx::CreateBitmap565(w, h);
  c.dc->SelectBitmap(c.bitmap);
  gfx::FillRect(c.get(), {0, 0, w, h}, gfx::CreateSolidBrush(fill));
  return c;
}

// Bounding box of the pixels that differ from background (empty when none),
// and their count.
inline gfx::Rect InkBox(const gfx::Bitmap& b, gfx::COLORREF background, int* count = nullptr) {
  const uint16_t bg = gfx::ColorRefTo565(background);
  gfx::Rect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  int n = 0;
  for (int32_t y = 0; y < b.height(); ++y) {
    for (int32_t x = 0; x < b.width(); ++x) {
      if (b.row(y)[x] == bg) continue;
      ++n;
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x + 1);
      box.bottom = std::max(box.bottom, y + 1);
    }
  }
  if (count) *count = n;
  return n ? box : gfx::Rect{};
}

// Writes the surface to ScratchDir()/<name>.png (call ScratchDir once per test).
inline void SaveSurface(const std::string& dir, const std::string& name, const gfx::Bitmap& b) {
  EXPECT_TRUE(imaging::WritePng(dir + "/" + name + ".png", b)) << name;
}

}  // namespace ovtest
