// Planar YUV to interleaved 24-bit RGB, and 4:4:4 to 16-bit RGB, without
// rotation. One set of chroma terms serves each 2x2 block (4:2:0) or pixel
// pair (4:2:2).
#include <cstring>

#include "imageproc/imageproc.h"
#include "imageproc/pixel_ops.h"

using namespace imageproc;

extern "C" void gOvYUV420toRGB888TopDown(const YuvFrame* src, uint8_t* dst, int width, int height,
                                         int topDown) {
  if (!HasPlanes(src) || !dst) return;
  // Output size inside the frame; a pair of rows and columns is needed for a
  // chroma sample to exist.
  if (width < 2 || height < 2 || width > src->width || height > src->height) return;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t sw = src->width, cw = sw / 2;
  const size_t rowBytes = 3 * w;
  auto outRow = [&](size_t r) { return dst + (topDown ? r : h - 1 - r) * rowBytes; };
  for (size_t j = 0; j < h / 2; ++j) {
    const uint8_t* y0 = src->y + 2 * j * sw;
    const uint8_t* y1 = y0 + sw;
    const uint8_t* u = src->u + j * cw;
    const uint8_t* v = src->v + j * cw;
    uint8_t* o0 = outRow(2 * j);
    uint8_t* o1 = outRow(2 * j + 1);
    for (size_t i = 0; i < w / 2; ++i) {
      const ChromaTerms c = Bt601(u[i], v[i]);
      const int ys[4] = {y0[2 * i], y0[2 * i + 1], y1[2 * i], y1[2 * i + 1]};
      uint8_t* os[4] = {o0 + 6 * i, o0 + 6 * i + 3, o1 + 6 * i, o1 + 6 * i + 3};
      for (int k = 0; k < 4; ++k) {
        os[k][0] = static_cast<uint8_t>(Clip255(ys[k] + c.dr));
        os[k][1] = static_cast<uint8_t>(Clip255(ys[k] - c.dg));
        os[k][2] = static_cast<uint8_t>(Clip255(ys[k] + c.db));
      }
    }
    if (w & 1) {  // an odd last column repeats the one before it
      std::memcpy(o0 + 3 * (w - 1), o0 + 3 * (w - 2), 3);
      std::memcpy(o1 + 3 * (w - 1), o1 + 3 * (w - 2), 3);
    }
  }
  if (h & 1) std::memcpy(outRow(h - 1), outRow(h - 2), rowBytes);  // odd last row repeats
}

extern "C" int gYUV420toBGR24(const YuvFrame* src, uint8_t* dst, int dstStride) {
  if (!HasPlanes(src) || !dst) return kImageprocNoRoom;
  if (dstStride < 3 * int{src->width}) return kImageprocBadSize;
  const size_t sw = src->width, cw = sw / 2;
  // Whole 2x2 blocks only: an odd last row or column has no chroma of its own.
  const size_t w = sw & ~size_t{1}, h = src->height & ~1u;
  for (size_t j = 0; j < h / 2; ++j) {
    const uint8_t* y0 = src->y + 2 * j * sw;
    const uint8_t* y1 = y0 + sw;
    const uint8_t* u = src->u + j * cw;
    const uint8_t* v = src->v + j * cw;
    uint8_t* o0 = dst + 2 * j * size_t(dstStride);
    uint8_t* o1 = o0 + dstStride;
    for (size_t i = 0; i < w / 2; ++i) {
      const ChromaTerms c = Bt709Rounded(u[i], v[i]);
      // Odd columns take Y + 1.
      ToBgr24(y0[2 * i], c, kNoDither, o0 + 6 * i);
      ToBgr24(y0[2 * i + 1] + 1, c, kNoDither, o0 + 6 * i + 3);
      ToBgr24(y1[2 * i], c, kNoDither, o1 + 6 * i);
      ToBgr24(y1[2 * i + 1] + 1, c, kNoDither, o1 + 6 * i + 3);
    }
  }
  return kImageprocOk;
}

extern "C" void gYUV422HPlanartoRGB888TopDown(const YuvFrame* src422, uint8_t* dst, int width, int height,
                                              int topDown) {
  if (!HasPlanes(src422) || !dst) return;
  if (width <= 0 || height <= 0 || width > src422->width || height > src422->height || src422->width < 2)
    return;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t sw = src422->width, cw = sw / 2;
  for (size_t r = 0; r < h; ++r) {
    const uint8_t* y = src422->y + r * sw;
    const uint8_t* u = src422->u + r * cw;  // each row has its own chroma row
    const uint8_t* v = src422->v + r * cw;
    uint8_t* o = dst + (topDown ? r : h - 1 - r) * 3 * w;
    for (size_t x = 0; x < w; ++x) {
      // An odd last column shares the chroma of the pair to its left.
      const size_t ci = Min(x / 2, cw - 1);
      ToBgr24(y[x], Bt601(u[ci], v[ci]), kBlockDither[r & 1][x & 1], o + 3 * x);
    }
  }
}

// The same function under its second exported name.
extern "C" void gYUV422HPlanartoBGR888TopDown(const YuvFrame* src422, uint8_t* dst, int width, int height,
                                              int topDown)
    __attribute__((alias("gYUV422HPlanartoRGB888TopDown")));

extern "C" void gYUV444toRGB16(const YuvFrame* src444, int16_t** dst, int width, int height) {
  if (!HasPlanes(src444) || !dst || !*dst) return;
  if (width <= 0 || height <= 0 || width > src444->width || height > src444->height) return;
  int16_t* out = *dst;
  const size_t w = static_cast<size_t>(width), sw = src444->width;
  for (size_t r = 0; r < static_cast<size_t>(height); ++r) {
    const uint8_t* y = src444->y + r * sw;
    const uint8_t* u = src444->u + r * sw;
    const uint8_t* v = src444->v + r * sw;
    int16_t* o = out + r * w;
    for (size_t x = 0; x < w; ++x)
      o[x] = static_cast<int16_t>(ToRgb565(y[x], Bt601Rounded(u[x], v[x]), kNoDither));
  }
}
