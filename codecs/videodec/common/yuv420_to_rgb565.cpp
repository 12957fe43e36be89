#include "codecs/videodec/common/yuv420_to_rgb565.h"

#include <cstddef>

#include "codecs/videodec/common/yuv420_to_rgb565_dsp.h"
#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

inline int Clip255(int x) { return x < 0 ? 0 : (x > 255 ? 255 : x); }

inline uint16_t Pack(int y, int r, int g, int b, const Rgb565Dither& d) {
  const int red = Clip255(y + r + d.r);
  const int green = Clip255(y - g + d.g);
  const int blue = Clip255(y + b + d.b);
  return static_cast<uint16_t>(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

// One pixel the way the row kernels make it, for the picture edges that no
// pair covers.
struct FullRange {
  static uint16_t Pixel(int y, int cb, int cr, const Rgb565Dither& d) {
    cb -= 128;
    cr -= 128;
    return Pack(y, (kCrToR * cr) >> 14, (kCbToG * cb + kCrToG * cr) >> 14, (kCbToB * cb) >> 14, d);
  }
};
struct StudioRange {
  static uint16_t Pixel(int y, int cb, int cr, const Rgb565Dither& d) {
    cb -= 128;
    cr -= 128;
    return Pack(((y - 16) * kStudioY) >> 14, (kStudioCrToR * cr) >> 14,
                (kStudioCbToG * cb + kStudioCrToG * cr) >> 14, (kStudioCbToB * cb) >> 14, d);
  }
};

template <typename Range>
void Convert(const YuvFrame* src, uint16_t* dst, uint16_t width, uint16_t height, int32_t top_down,
             Yuv420ToRgb565Row2Fn Yuv420ToRgb565Dsp::*kernel) {
  if (!src || !dst || !src->y || !src->u || !src->v || width == 0 || height == 0) return;
  const ptrdiff_t y_stride = src->width;
  const ptrdiff_t c_stride = src->width / 2;
  // The destination's layout follows the requested size; what is read never
  // leaves the frame, even when a caller asks for more than the frame holds
  // (a container that claims a larger picture than its stream carries).
  const ptrdiff_t dst_pitch = (width + 1) & ~1;
  const int w = width < src->width ? width : src->width;
  const int h = height < src->height ? height : src->height;
  if (w == 0 || h == 0) return;
  // Destination row of picture row r.
  auto row = [&](int r) -> uint16_t* {
    return dst + (top_down ? r : height - 1 - r) * dst_pitch;
  };
  const int even_w = w & ~1;
  const int even_h = h & ~1;
  Yuv420ToRgb565Dsp dsp;
  init_yuv420_to_rgb565_dsp(dsp, ov::GetCpuFlags());

  for (int r = 0; r < even_h; r += 2) {
    const uint8_t* y0 = src->y + r * y_stride;
    const uint8_t* y1 = y0 + y_stride;
    const uint8_t* u = src->u + (r / 2) * c_stride;
    const uint8_t* v = src->v + (r / 2) * c_stride;
    uint16_t* d0 = row(r);
    uint16_t* d1 = row(r + 1);
    (dsp.*kernel)(y0, y1, u, v, d0, d1, even_w / 2);
    if (w & 1) {
      if (w == 1) {
        // No pair to copy from: the single column converts with the block's
        // left-hand dither.
        d0[0] = Range::Pixel(y0[0], u[0], v[0], kRgb565Dither[0][0]);
        d1[0] = Range::Pixel(y1[0], u[0], v[0], kRgb565Dither[1][0]);
      } else {
        d0[w - 1] = d0[w - 2];
        d1[w - 1] = d1[w - 2];
      }
    }
  }

  if (h & 1) {
    const int r = h - 1;
    uint16_t* d = row(r);
    if (r > 0) {
      const uint16_t* above = row(r - 1);
      for (int c = 0; c < w; ++c) d[c] = above[c];
    } else {
      // A picture of one row: convert it with the top-row dither.
      const uint8_t* y0 = src->y;
      for (int c = 0; c < w; ++c) d[c] = Range::Pixel(y0[c], src->u[c / 2], src->v[c / 2], kRgb565Dither[0][c & 1]);
    }
  }
}

}  // namespace

void ConvertYUV420toRGB565TopDown(const YuvFrame* src, uint16_t* dst, uint16_t width, uint16_t height,
                                  int32_t top_down) {
  Convert<FullRange>(src, dst, width, height, top_down, &Yuv420ToRgb565Dsp::row2);
}

void ConvertStudioYUV420toRGB565TopDown(const YuvFrame* src, uint16_t* dst, uint16_t width, uint16_t height,
                                        int32_t top_down) {
  Convert<StudioRange>(src, dst, width, height, top_down, &Yuv420ToRgb565Dsp::studio_row2);
}

}  // namespace videodec
