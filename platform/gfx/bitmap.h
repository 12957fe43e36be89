#pragma once
// Bitmap: an RGB565 pixel surface, top-down, each row ((width + 1) & ~1)
// pixels of 2 bytes (rows start on 4-byte boundaries). Every bitmap of the
// program has this layout: device-independent sections, "compatible" bitmaps
// and the window's back buffer alike.
//
// Thread: a bitmap may be drawn on from any thread; one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/gfx/gfx_types.h"

namespace gfx {

// Largest accepted side and area, so a corrupt or hostile size cannot ask
// for gigabytes: 16384 pixels a side, 64 Mpixel (128 MB) in all.
constexpr int32_t kMaxBitmapSide = 16384;
constexpr int64_t kMaxBitmapPixels = int64_t(64) << 20;

class Bitmap {
 public:
  // Use CreateBitmap565: it checks the size.
  Bitmap(int32_t width, int32_t height);
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // Row length in pixels: ((width + 1) & ~1).
  int32_t stride() const { return stride_; }
  int32_t row_bytes() const { return stride_ * 2; }
  uint16_t* bits() { return pixels_.get(); }
  const uint16_t* bits() const { return pixels_.get(); }
  uint16_t* row(int32_t y) { return pixels_.get() + static_cast<ptrdiff_t>(y) * stride_; }
  const uint16_t* row(int32_t y) const { return pixels_.get() + static_cast<ptrdiff_t>(y) * stride_; }
  Rect bounds() const { return {0, 0, width_, height_}; }

 private:
  int32_t width_;
  int32_t height_;
  int32_t stride_;
  std::unique_ptr<uint16_t[]> pixels_;
};

using HBitmap = std::shared_ptr<Bitmap>;

// A new zero-filled (black) bitmap; null when a side is not positive or the
// size exceeds the limits above, or memory runs out.
HBitmap CreateBitmap565(int32_t width, int32_t height);

// What GetObject reports of a bitmap.
struct BitmapInfo {
  int32_t width = 0;
  int32_t height = 0;
  int32_t width_bytes = 0;  // bytes per row
  int32_t bits_per_pixel = 16;
  void* bits = nullptr;
};
bool GetBitmapInfo(const HBitmap& bitmap, BitmapInfo* info);

}  // namespace gfx
