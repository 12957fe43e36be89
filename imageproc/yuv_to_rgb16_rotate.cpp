// Planar and packed YUV to 16-bit RGB, converting a window of the source,
// turning it by a rotation type and placing it inside a larger destination in
// one pass.
#include <cstring>
#include <initializer_list>
#include <utility>

#include "imageproc/imageproc.h"
#include "imageproc/pixel_ops.h"

namespace imageproc {
namespace {

// Landing of the bottom-up family: type 0 writes the window bottom-up, so on a
// bottom-up destination it is upright.
Landing BottomUpLanding(int type, int64_t s, int64_t dstX, int64_t dstY, int64_t rows, int64_t cols) {
  switch (type) {
    case 0: return {(dstY + rows - 1) * s + dstX, 1, -s};
    case 1: return {dstY * s + dstX, s, 1};
    case 2: return {dstY * s + dstX + cols - 1, -1, s};
    default: return {(dstY + cols - 1) * s + dstX + rows - 1, -s, -1};
  }
}

using TermsFn = ChromaTerms (*)(int, int);

// The bottom-up family over 4:2:0 or planar 4:2:2: counts rounded down to
// even, 2x2 blocks with the ordered dither. With type 0 an odd column count
// repeats the last converted column and an odd row count the last converted
// row; the other types leave the odd remainder untouched.
void BottomUpWorker(const YuvFrame& f, int16_t* dst, int64_t srcX, int64_t srcY, int64_t width,
                    int64_t height, int64_t dstX, int64_t dstY, int64_t stride, int64_t dstHeight,
                    int type, bool chroma422, TermsFn terms) {
  int64_t cols = 0, rows = 0;
  ClipWindow(type, f.width, f.height, srcX, srcY, width, height, stride, dstHeight, dstX, dstY, &cols,
             &rows);
  const int64_t c2 = cols & ~int64_t{1}, r2 = rows & ~int64_t{1};
  if (c2 <= 0 || r2 <= 0) return;
  const Landing at = type == 0 ? BottomUpLanding(0, stride, dstX, dstY, rows, cols)
                               : BottomUpLanding(type, stride, dstX, dstY, r2, c2);
  const int64_t sw = f.width, cw = sw / 2;
  for (int64_t y = 0; y < r2; y += 2) {
    const uint8_t* l0 = f.y + (srcY + y) * sw + srcX;
    const uint8_t* l1 = l0 + sw;
    const int64_t crow0 = chroma422 ? srcY + y : srcY / 2 + y / 2;
    const int64_t crow1 = chroma422 ? crow0 + 1 : crow0;
    for (int64_t x = 0; x < c2; x += 2) {
      const int64_t ci = srcX / 2 + x / 2;
      const ChromaTerms t0 = terms(f.u[crow0 * cw + ci], f.v[crow0 * cw + ci]);
      const ChromaTerms t1 = terms(f.u[crow1 * cw + ci], f.v[crow1 * cw + ci]);
      dst[at.At(y, x)] = static_cast<int16_t>(ToRgb565(l0[x], t0, kBlockDither[0][0]));
      dst[at.At(y, x + 1)] = static_cast<int16_t>(ToRgb565(l0[x + 1], t0, kBlockDither[0][1]));
      dst[at.At(y + 1, x)] = static_cast<int16_t>(ToRgb565(l1[x], t1, kBlockDither[1][0]));
      dst[at.At(y + 1, x + 1)] = static_cast<int16_t>(ToRgb565(l1[x + 1], t1, kBlockDither[1][1]));
    }
  }
  if (type != 0) return;
  if (cols & 1) {
    for (int64_t y = 0; y < r2; ++y) dst[at.At(y, c2)] = dst[at.At(y, c2 - 1)];
  }
  if (rows & 1) {
    for (int64_t x = 0; x < cols; ++x) dst[at.At(r2, x)] = dst[at.At(r2 - 1, x)];
  }
}

bool AnyNegative(std::initializer_list<int> values) {
  for (int v : values) {
    if (v < 0) return true;
  }
  return false;
}

}  // namespace
}  // namespace imageproc

using namespace imageproc;

extern "C" int gYUV420toRGB16Rotate(const YuvFrame* src, int16_t* dst, int dstStride, int dstHeight,
                                    int dstX, int dstY, int srcX, int srcY, int width, int height,
                                    int type) {
  if (!HasPlanes(src) || !dst || type < 0 || type > 3) return kImageprocBadSize;
  if (AnyNegative({dstStride, dstHeight, dstX, dstY, srcX, srcY, width, height})) return kImageprocBadSize;
  const int64_t sw = src->width, sh = src->height, cw = sw / 2, ch = sh / 2;
  if (cw == 0 || ch == 0) return kImageprocOk;  // no chroma sample to convert with
  const int64_t sx = srcX & ~1, sy = srcY & ~1;
  int64_t cols = 0, rows = 0;
  ClipWindow(type, sw, sh, sx, sy, width, height, dstStride, dstHeight, dstX, dstY, &cols, &rows);
  if (cols <= 0 || rows <= 0) return kImageprocOk;
  const Landing at = TurnLanding(type, dstStride, 1, dstX, dstY, rows, cols);
  for (int64_t y = 0; y < rows; ++y) {
    const uint8_t* l = src->y + (sy + y) * sw + sx;
    // An odd frame height leaves its last luma row without a chroma row of its
    // own: it shares the one above.
    const int64_t crow = Min((sy + y) / 2, ch - 1);
    for (int64_t x = 0; x < cols; ++x) {
      const int64_t ci = Min((sx + x) / 2, cw - 1);
      Dither d = kBlockDither[y & 1][x & 1];
      // An odd last column is converted alone: upper pixel with the top-left,
      // lower pixel with the top-right offsets.
      if ((cols & 1) && x == cols - 1) d = kBlockDither[0][y & 1];
      dst[at.At(y, x)] =
          static_cast<int16_t>(ToRgb565(l[x], Bt709(src->u[crow * cw + ci], src->v[crow * cw + ci]), d));
    }
  }
  return kImageprocOk;
}

extern "C" int gYUV420toBGR565TopDown_Rotate(const YuvFrame* src, int16_t* dst, int srcX, int srcY,
                                             int width, int height, int dstX, int dstY, int dstStride,
                                             int dstHeight, uint32_t type) {
  const int rot = static_cast<int>(type & 0xFF);
  if (!HasPlanes(src) || !dst || rot > 3) return kImageprocBadSize;
  // Positions and sizes are 16-bit; the window starts on an even pixel.
  BottomUpWorker(*src, dst, srcX & 0xFFFE, srcY & 0xFFFE, width & 0xFFFF, height & 0xFFFF, dstX & 0xFFFF,
                 dstY & 0xFFFF, dstStride & 0xFFFF, dstHeight & 0xFFFF, rot, false, ShiftApprox);
  return kImageprocOk;
}

extern "C" int gYUV422HPlanartoBGR565TopDown_Rotate(const YuvFrame* src422, int16_t* dst, int srcX, int srcY,
                                                    int width, int height, int dstX, int dstY,
                                                    int dstStride, int dstHeight, uint32_t type) {
  const int rot = static_cast<int>(type & 0xFF);
  if (!HasPlanes(src422) || !dst || rot > 3) return kImageprocBadSize;
  int64_t stride = dstStride & 0xFFFF, rowsOut = dstHeight & 0xFFFF;
  // With a quarter turn the destination rows are dstHeight pixels long.
  if (rot == 1 || rot == 3) std::swap(stride, rowsOut);
  BottomUpWorker(*src422, dst, srcX & 0xFFFF, srcY & 0xFFFF, width & 0xFFFF, height & 0xFFFF,
                 dstX & 0xFFFF, dstY & 0xFFFF, stride, rowsOut, rot, true, Bt601);
  return kImageprocOk;
}

extern "C" int gYUV422toRGB16Rotate(const YuvFrame* src422, int16_t* dst, int dstStride, int dstHeight,
                                    int dstX, int dstY, int srcX, int srcY, int width, int height,
                                    int type) {
  if (!HasPlanes(src422) || !dst || type < 0 || type > 3) return kImageprocBadSize;
  if (AnyNegative({dstStride, dstHeight, dstX, dstY, srcX, srcY, width, height})) return kImageprocBadSize;
  const int64_t sw = src422->width, cw = sw / 2;
  const int64_t sx = srcX & ~1, sy = srcY & ~1;
  int64_t cols = 0, rows = 0;
  ClipWindow(type, sw, src422->height, sx, sy, width & ~1, height & ~1, dstStride, dstHeight, dstX, dstY,
             &cols, &rows);
  // Pixel pairs and row pairs: an odd remainder left by an edge is not
  // converted.
  cols &= ~int64_t{1};
  rows &= ~int64_t{1};
  if (cols <= 0 || rows <= 0) return kImageprocOk;
  const Landing at = TurnLanding(type, dstStride, 1, dstX, dstY, rows, cols);
  for (int64_t y = 0; y < rows; ++y) {
    const uint8_t* l = src422->y + (sy + y) * sw + sx;
    const uint8_t* u = src422->u + (sy + y) * cw + sx / 2;
    const uint8_t* v = src422->v + (sy + y) * cw + sx / 2;
    for (int64_t x = 0; x < cols; x += 2) {
      const ChromaTerms t = Bt709(u[x / 2], v[x / 2]);
      // Every row takes the top-row offsets.
      dst[at.At(y, x)] = static_cast<int16_t>(ToRgb565(l[x], t, kBlockDither[0][0]));
      dst[at.At(y, x + 1)] = static_cast<int16_t>(ToRgb565(l[x + 1], t, kBlockDither[0][1]));
    }
  }
  return kImageprocOk;
}

extern "C" int gVYUYtoRGB565(const YuvFrame* packed, int16_t* dst, int srcX, int srcY, int width, int height,
                             int dstX, int dstY, int dstStride, int dstHeight, uint32_t flag) {
  if (!packed || !packed->y || !dst) return kImageprocNoRoom;
  if ((flag & 0xFF) > 1) return kImageprocBadFlag;
  if (AnyNegative({srcX, srcY, width, height, dstX, dstY, dstStride, dstHeight})) return kImageprocBadSize;
  const bool topDown = (flag & 0xFF) == 1;
  // Rows hold whole groups only: (width / 2) x 4 bytes.
  const int64_t groupsPerRow = packed->width / 2, rowBytes = groupsPerRow * 4;
  const int64_t sw = groupsPerRow * 2;
  const int64_t sx = srcX & ~1;  // a window starts on a whole group
  const int64_t cols = Min(Min<int64_t>(width, sw - sx), int64_t{dstStride} - dstX);
  const int64_t rows = Min(Min<int64_t>(height, int64_t{packed->height} - srcY), int64_t{dstHeight} - dstY);
  if (cols <= 0 || rows <= 0) return kImageprocOk;
  const int64_t s = dstStride;
  const Landing at = topDown ? Landing{int64_t{dstY} * s + dstX, 1, s}
                             : Landing{(int64_t{dstHeight} - 1 - dstY) * s + dstX, 1, -s};
  const uint8_t* base = packed->y + int64_t{srcY} * rowBytes + 2 * sx;
  // Rows and columns go in pairs; a lone last row or column (one that has no
  // partner) is converted, an odd one after a pair repeats its neighbour.
  const int64_t r2 = rows == 1 ? 1 : rows & ~int64_t{1};
  const int64_t c2 = cols == 1 ? 1 : cols & ~int64_t{1};
  for (int64_t y = 0; y < r2; ++y) {
    const uint8_t* g = base + y * rowBytes;
    for (int64_t x = 0; x < c2; x += 2) {
      const uint8_t* q = g + 2 * x;  // V, Y0, U, Y1
      const ChromaTerms t = Bt709Packed(q[2], q[0]);
      dst[at.At(y, x)] = static_cast<int16_t>(ToRgb565(q[1], t, kBlockDither[y & 1][0]));
      if (x + 1 < cols) {
        dst[at.At(y, x + 1)] = static_cast<int16_t>(ToRgb565(q[3], t, kBlockDither[y & 1][1]));
      }
    }
    if ((cols & 1) && cols > 1) dst[at.At(y, cols - 1)] = dst[at.At(y, cols - 2)];
  }
  if ((rows & 1) && rows > 1) {
    for (int64_t x = 0; x < cols; ++x) dst[at.At(rows - 1, x)] = dst[at.At(rows - 2, x)];
  }
  return kImageprocOk;
}
