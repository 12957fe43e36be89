#include "platform/gfx/bitmap.h"

#include <cstring>
#include <new>

namespace gfx {

Rect IntersectRects(const Rect& a, const Rect& b) {
  Rect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
         a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  if (r.IsEmpty()) return {};
  return r;
}

bool PointInRect(const Rect& r, int32_t x, int32_t y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

Bitmap::Bitmap(int32_t width, int32_t height)
    : width_(width), height_(height), stride_((width + 1) & ~1) {
  const size_t count = static_cast<size_t>(stride_) * static_cast<size_t>(height_);
  pixels_.reset(new uint16_t[count]);
  std::memset(pixels_.get(), 0, count * sizeof(uint16_t));
}

HBitmap CreateBitmap565(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide) return nullptr;
  if (static_cast<int64_t>(width) * height > kMaxBitmapPixels) return nullptr;
  try {
    return std::make_shared<Bitmap>(width, height);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool GetBitmapInfo(const HBitmap& bitmap, BitmapInfo* info) {
  if (!bitmap || !info) return false;
  info->width = bitmap->width();
  info->height = bitmap->height();
  info->width_bytes = bitmap->row_bytes();
  info->bits_per_pixel = 16;
  info->bits = bitmap->bits();
  return true;
}

}  // namespace gfx
