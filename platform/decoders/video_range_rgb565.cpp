#include "platform/decoders/video_range_rgb565.h"

#include <algorithm>
#include <cstring>

namespace decoders {

namespace {

// BT.601 video range in 8.8 fixed point: 255/219 for luma; 1.596, 0.813,
// 0.391 and 2.018 (each times 255/224) for the chroma terms.
constexpr int kY = 298;
constexpr int kRv = 409;
constexpr int kGu = 100;
constexpr int kGv = 208;
constexpr int kBu = 516;

int Clamp8(int v) { return std::clamp(v, 0, 255); }

}  // namespace

uint16_t VideoRangeToRgb565(int y, int u, int v) {
  const int c = (y - 16) * kY + 128;
  const int d = u - 128, e = v - 128;
  const int r = Clamp8((c + kRv * e) >> 8);
  const int g = Clamp8((c - kGu * d - kGv * e) >> 8);
  const int b = Clamp8((c + kBu * d) >> 8);
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

void I420ToRgb565BottomUp(const uint8_t* y, ptrdiff_t y_stride, const uint8_t* u, ptrdiff_t u_stride,
                          const uint8_t* v, ptrdiff_t v_stride, int w, int h, uint8_t* out, int out_w, int out_h) {
  std::memset(out, 0, size_t(out_w) * 2 * size_t(out_h));
  for (int row = 0; row < h; ++row) {
    uint8_t* dst = out + size_t(out_h - 1 - row) * size_t(out_w) * 2;
    const uint8_t* ys = y + row * y_stride;
    const uint8_t* us = u + (row / 2) * u_stride;
    const uint8_t* vs = v + (row / 2) * v_stride;
    for (int x = 0; x < w; ++x) {
      const uint16_t p = VideoRangeToRgb565(ys[x], us[x / 2], vs[x / 2]);
      dst[2 * x] = static_cast<uint8_t>(p);
      dst[2 * x + 1] = static_cast<uint8_t>(p >> 8);
    }
  }
}

}  // namespace decoders
