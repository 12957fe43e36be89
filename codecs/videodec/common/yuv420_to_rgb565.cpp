#include "codecs/videodec/common/yuv420_to_rgb565.h"

#include <cstddef>

namespace videodec {
namespace {

// ITU-R BT.601 chroma terms in 14-bit fixed point (1.402, 0.344, 0.714, 1.772
// times 16384). The shifts are arithmetic: they round toward minus infinity.
constexpr int kCrToR = 22970;
constexpr int kCbToG = 5638;
constexpr int kCrToG = 11700;
constexpr int kCbToB = 29032;

// 2x2 ordered-dither offsets added before truncation to 5/6/5 bits, by
// position in the block: [row of the pair][column of the pair].
struct Dither {
  int r, g, b;
};
constexpr Dither kDither[2][2] = {
    {{2, 3, 0}, {6, 0, 4}},
    {{4, 1, 6}, {0, 2, 2}},
};

inline int Clip255(int x) { return x < 0 ? 0 : (x > 255 ? 255 : x); }

inline uint16_t Pixel(int y, int r, int g, int b, const Dither& d) {
  const int red = Clip255(y + r + d.r);
  const int green = Clip255(y - g + d.g);
  const int blue = Clip255(y + b + d.b);
  return static_cast<uint16_t>(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

// Pixels per chunk of the row loop.
constexpr int kChunk = 256;

// RGB565 of n pixels from luma and per-pixel chroma terms (dither included).
inline void PackRow(const uint8_t* y, const int16_t* tr, const int16_t* tg, const int16_t* tb, uint16_t* dst,
                    int n) {
  // 16-bit arithmetic throughout (|terms| < 256), so eight pixels fit one
  // 128-bit vector.
  for (int i = 0; i < n; ++i) {
    const int16_t yy = y[i];
    int16_t red = static_cast<int16_t>(yy + tr[i]);
    int16_t green = static_cast<int16_t>(yy + tg[i]);
    int16_t blue = static_cast<int16_t>(yy + tb[i]);
    red = red < 0 ? int16_t{0} : (red > 255 ? int16_t{255} : red);
    green = green < 0 ? int16_t{0} : (green > 255 ? int16_t{255} : green);
    blue = blue < 0 ? int16_t{0} : (blue > 255 ? int16_t{255} : blue);
    dst[i] = static_cast<uint16_t>(((red & 0xF8) << 8) | ((green & 0xFC) << 3) | (blue >> 3));
  }
}

}  // namespace

void ConvertYUV420toRGB565TopDown(const YuvFrame* src, uint16_t* dst, uint16_t width, uint16_t height,
                                  int32_t top_down) {
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

  for (int r = 0; r < even_h; r += 2) {
    const uint8_t* y0 = src->y + r * y_stride;
    const uint8_t* y1 = y0 + y_stride;
    const uint8_t* u = src->u + (r / 2) * c_stride;
    const uint8_t* v = src->v + (r / 2) * c_stride;
    uint16_t* d0 = row(r);
    uint16_t* d1 = row(r + 1);
    // In chunks: the chroma terms of each pixel, dither included, go into
    // small arrays first so that the per-pixel loop is plain element-wise
    // arithmetic the compiler can vectorise. Same results as pixel by pixel.
    for (int c0 = 0; c0 < even_w; c0 += kChunk) {
      const int n = even_w - c0 < kChunk ? even_w - c0 : kChunk;
      int16_t tr[kChunk], tg[kChunk], tb[kChunk], br[kChunk], bgc[kChunk], bbc[kChunk];
      for (int i = 0; i < n; i += 2) {
        const int cb = u[(c0 + i) / 2] - 128;
        const int cr = v[(c0 + i) / 2] - 128;
        const int rr = (kCrToR * cr) >> 14;
        const int gg = (kCbToG * cb + kCrToG * cr) >> 14;
        const int bb = (kCbToB * cb) >> 14;
        for (int k = 0; k < 2; ++k) {
          tr[i + k] = static_cast<int16_t>(rr + kDither[0][k].r);
          tg[i + k] = static_cast<int16_t>(kDither[0][k].g - gg);
          tb[i + k] = static_cast<int16_t>(bb + kDither[0][k].b);
          br[i + k] = static_cast<int16_t>(rr + kDither[1][k].r);
          bgc[i + k] = static_cast<int16_t>(kDither[1][k].g - gg);
          bbc[i + k] = static_cast<int16_t>(bb + kDither[1][k].b);
        }
      }
      PackRow(y0 + c0, tr, tg, tb, d0 + c0, n);
      PackRow(y1 + c0, br, bgc, bbc, d1 + c0, n);
    }
    if (w & 1) {
      if (w == 1) {
        // No pair to copy from: the single column converts with the block's
        // left-hand dither.
        const int cb = u[0] - 128;
        const int cr = v[0] - 128;
        const int rr = (kCrToR * cr) >> 14;
        const int gg = (kCbToG * cb + kCrToG * cr) >> 14;
        const int bb = (kCbToB * cb) >> 14;
        d0[0] = Pixel(y0[0], rr, gg, bb, kDither[0][0]);
        d1[0] = Pixel(y1[0], rr, gg, bb, kDither[1][0]);
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
      for (int c = 0; c < w; ++c) {
        const int cb = src->u[c / 2] - 128;
        const int cr = src->v[c / 2] - 128;
        const int rr = (kCrToR * cr) >> 14;
        const int gg = (kCbToG * cb + kCrToG * cr) >> 14;
        const int bb = (kCbToB * cb) >> 14;
        d[c] = Pixel(y0[c], rr, gg, bb, kDither[0][c & 1]);
      }
    }
  }
}

}  // namespace videodec
