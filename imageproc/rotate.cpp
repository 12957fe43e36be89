// Rotation and mirroring: 4:2:0, 4:2:2 and luma-only frames, RGB565 windows
// (as RGB565 or widened to BGR24) and mirrors of RGB565 and planar YUV. Pure
// sample moves, except the ordered dither of the widening to 24 bits.
#include <cstring>
#include <initializer_list>

#include "imageproc/imageproc.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/rotate_dsp.h"
#include "platform/cpu/cpu.h"

namespace imageproc {
namespace {

// Writes n samples read from `s` in reverse order at o.
template <typename T>
inline void CopyReversed(const T* s, T* o, int64_t n) {
  int64_t x = 0;
  if constexpr (sizeof(T) == 1) {
    for (; x + 8 <= n; x += 8) {
      uint64_t v;
      std::memcpy(&v, s + x, 8);
      v = __builtin_bswap64(v);
      std::memcpy(o + n - 8 - x, &v, 8);
    }
  }
  for (; x < n; ++x) o[n - 1 - x] = s[x];
}

// Quarter turns: bands of eight source rows; each source column of a band
// becomes eight neighbouring output samples, forwards when dy is 1. When dy
// is -1 the band is read from its last row upwards, which writes the same
// eight samples forwards from the other end. Bytes go through the transpose
// kernel.
template <typename T>
void TurnQuarter(const T* src, ptrdiff_t srcStride, T* dst, const Landing& at, int64_t rows, int64_t cols) {
  RotateDsp dsp;
  if constexpr (sizeof(T) == 1) init_rotate_dsp(dsp, ov::GetCpuFlags());
  int64_t y0 = 0;
  for (; y0 + 8 <= rows; y0 += 8) {
    const bool down = at.dy == 1;
    const T* first = down ? src + y0 * srcStride : src + (y0 + 7) * srcStride;
    const ptrdiff_t step = down ? srcStride : -srcStride;
    T* o = dst + at.At(y0, 0) - (down ? 0 : 7);
    if constexpr (sizeof(T) == 1) {
      dsp.transpose_band8(o, at.dx, first, step, cols);
    } else {
      for (int64_t x = 0; x < cols; ++x) {
        for (int k = 0; k < 8; ++k) o[x * at.dx + k] = first[k * step + x];
      }
    }
  }
  for (; y0 < rows; ++y0) {
    const T* s = src + y0 * srcStride;
    for (int64_t x = 0; x < cols; ++x) dst[at.At(y0, x)] = s[x];
  }
}

// Moves a rows x cols window (rows srcStride samples apart) to where `at`
// says: whole rows copied or reversed, or turned a quarter.
template <typename T>
void MoveWindow(const T* src, ptrdiff_t srcStride, T* dst, const Landing& at, int64_t rows, int64_t cols) {
  if (rows <= 0 || cols <= 0) return;
  if (at.dx == 1) {
    for (int64_t y = 0; y < rows; ++y)
      std::memcpy(dst + at.At(y, 0), src + y * srcStride, static_cast<size_t>(cols) * sizeof(T));
  } else if (at.dx == -1) {
    for (int64_t y = 0; y < rows; ++y) CopyReversed(src + y * srcStride, dst + at.At(y, cols - 1), cols);
  } else {
    TurnQuarter(src, srcStride, dst, at, rows, cols);
  }
}

// A whole w x h plane turned by `type` into a tightly packed output plane.
void RotatePlane(const uint8_t* src, uint8_t* dst, int64_t w, int64_t h, int type) {
  const int64_t outStride = (type & 1) ? h : w;
  MoveWindow(src, w, dst, TurnLanding(type, outStride, 1, 0, 0, h, w), h, w);
}

// Exchanges each sample with its mirror position, reading both before writing
// either, so src and dst may be the same plane. type 1: upside down, 2: half
// turn, anything else: left to right.
template <typename T>
void MirrorPlane(const T* src, T* dst, int64_t cols, int64_t rows, int type) {
  if (cols <= 0 || rows <= 0) return;
  auto exchange = [&](int64_t p, int64_t q) {
    const T a = src[p], b = src[q];
    dst[p] = b;
    dst[q] = a;
  };
  if (type == 1) {
    for (int64_t i = 0; i < (rows + 1) / 2; ++i) {
      for (int64_t j = 0; j < cols; ++j) exchange(i * cols + j, (rows - 1 - i) * cols + j);
    }
  } else if (type == 2) {
    const int64_t n = rows * cols;
    for (int64_t k = 0; k < (n + 1) / 2; ++k) exchange(k, n - 1 - k);
  } else {
    for (int64_t i = 0; i < rows; ++i) {
      for (int64_t j = 0; j < (cols + 1) / 2; ++j) exchange(i * cols + j, i * cols + cols - 1 - j);
    }
  }
}

bool AnyNegative(std::initializer_list<int> values) {
  for (int v : values) {
    if (v < 0) return true;
  }
  return false;
}

// The window of the RGB565 rotations: positions clamped to the pictures, then
// the window clipped to both. False for a bad argument.
bool RgbWindow(int srcStride, int srcHeight, int& srcX, int& srcY, int width, int height, int& dstX, int& dstY,
               int dstW, int dstHeight, int type, int64_t* rows, int64_t* cols) {
  if (AnyNegative({srcStride, srcHeight, srcX, srcY, width, height, dstX, dstY, dstW, dstHeight})) return false;
  srcX = Min(srcX, srcStride);
  srcY = Min(srcY, srcHeight);
  dstX = Min(dstX, dstW);
  dstY = Min(dstY, dstHeight);
  ClipWindow(type, srcStride, srcHeight, srcX, srcY, width, height, dstW, dstHeight, dstX, dstY, cols, rows);
  return true;
}

}  // namespace
}  // namespace imageproc

using namespace imageproc;

extern "C" void gRotateFrame(const YuvFrame* src, YuvFrame* dst, int type) {
  if (!HasPlanes(src) || !HasPlanes(dst) || type < 0 || type > 3) return;
  const int64_t w = src->width, h = src->height;
  RotatePlane(src->y, dst->y, w, h, type);
  RotatePlane(src->u, dst->u, w / 2, h / 2, type);
  RotatePlane(src->v, dst->v, w / 2, h / 2, type);
}

extern "C" void gRotateMonochromeFrame(const YuvFrame* src, uint8_t** dst, int type) {
  if (!src || !src->y || !dst || !*dst || type < 0 || type > 3) return;
  RotatePlane(src->y, *dst, src->width, src->height, type);
}

extern "C" void gRotate422Frame(const YuvFrame* src422, YuvFrame* dst422, int type) {
  if (!HasPlanes(src422) || !HasPlanes(dst422) || type < 0 || type > 3) return;
  const int64_t w = src422->width, h = src422->height, cw = w / 2;
  RotatePlane(src422->y, dst422->y, w, h, type);
  const uint8_t* srcPlanes[2] = {src422->u, src422->v};
  uint8_t* dstPlanes[2] = {dst422->u, dst422->v};
  for (int p = 0; p < 2; ++p) {
    const uint8_t* s = srcPlanes[p];
    uint8_t* o = dstPlanes[p];
    if (type == 0) {
      std::memcpy(o, s, static_cast<size_t>(cw * h));
    } else if (type == 2) {
      const int64_t n = cw * h;  // the plane reversed as a whole
      for (int64_t k = 0; k < n; ++k) o[n - 1 - k] = s[k];
    } else {
      // The turned frame is h wide and w high: chroma planes h/2 wide and w
      // high. Only even source chroma rows are used, each sample filling two
      // output rows; type 3 counts the rows from the bottom.
      const int64_t ocw = h / 2;
      for (int64_t m = 0; m < h / 2; ++m) {
        const uint8_t* row = s + 2 * m * cw;
        for (int64_t i = 0; i < cw; ++i) {
          if (type == 1) {
            o[2 * i * ocw + ocw - 1 - m] = row[i];
            o[(2 * i + 1) * ocw + ocw - 1 - m] = row[i];
          } else {
            o[(w - 1 - 2 * i) * ocw + m] = row[i];
            o[(w - 2 - 2 * i) * ocw + m] = row[i];
          }
        }
      }
    }
  }
}

extern "C" int gRotateRGB16(const int16_t* src, int16_t* dst, int srcStride, int srcHeight, int srcX, int srcY,
                            int width, int height, int dstX, int dstY, int dstStride, int dstHeight, int type) {
  if (!src || !dst || type < 0 || type > 3) return kImageprocBadSize;
  int64_t rows = 0, cols = 0;
  if (!RgbWindow(srcStride, srcHeight, srcX, srcY, width, height, dstX, dstY, dstStride, dstHeight, type, &rows,
                 &cols))
    return kImageprocBadSize;
  if (rows <= 0 || cols <= 0) return kImageprocOk;
  MoveWindow(src + int64_t{srcY} * srcStride + srcX, srcStride, dst,
             TurnLanding(type, dstStride, 1, dstX, dstY, rows, cols), rows, cols);
  return kImageprocOk;
}

extern "C" int gRotateRGB16toBGR24(const uint16_t* src, uint8_t* dst, int srcStride, int srcHeight, int srcX,
                                   int srcY, int width, int height, int dstX, int dstY, int dstHeight,
                                   int dstStrideBytes, int type) {
  if (!src || !dst || type < 0 || type > 3) return kImageprocBadSize;
  if (dstStrideBytes < 0) return kImageprocBadSize;
  const int dstW = dstStrideBytes / 3;
  int64_t rows = 0, cols = 0;
  if (!RgbWindow(srcStride, srcHeight, srcX, srcY, width, height, dstX, dstY, dstW, dstHeight, type, &rows, &cols))
    return kImageprocBadSize;
  if (rows <= 0 || cols <= 0) return kImageprocOk;
  const Landing at = TurnLanding(type, dstStrideBytes, 3, dstX, dstY, rows, cols);
  // Ordered dither by window row and column parity: added to blue and red,
  // and to green (whose field has one bit more).
  static constexpr uint8_t kRb[2][2] = {{0, 4}, {6, 2}};
  static constexpr uint8_t kG[2][2] = {{0, 2}, {3, 1}};
  for (int64_t y = 0; y < rows; ++y) {
    const uint16_t* s = src + (int64_t{srcY} + y) * srcStride + srcX;
    for (int64_t x = 0; x < cols; ++x) {
      const uint16_t p = s[x];
      uint8_t* o = dst + at.At(y, x);
      const int d = kRb[y & 1][x & 1], dg = kG[y & 1][x & 1];
      o[0] = static_cast<uint8_t>(((p & 31) << 3) + d);
      o[1] = static_cast<uint8_t>((((p >> 5) & 63) << 2) + dg);
      o[2] = static_cast<uint8_t>(((p >> 11) << 3) + d);
    }
  }
  return kImageprocOk;
}

extern "C" int gMirrorImageRGB565(const int16_t* src, int16_t* dst, int width, int height, int type) {
  if (width < 0 || height < 0) return kImageprocBadSize;
  if (!src || !dst) return kImageprocNoRoom;
  MirrorPlane(src, dst, width, height, type);
  return kImageprocOk;
}

extern "C" int gMirrorImageYUV(YuvFrameExt* src, YuvFrameExt* dst, uint32_t chromaMode, int type,
                               int toDestination) {
  if (chromaMode > 1) return kImageprocBadSize;
  if (!src || !src->y || !src->u || !src->v) return kImageprocNoRoom;
  YuvFrameExt* out = src;
  if ((toDestination & 0xFF) == 1) {
    if (!dst || !dst->y || !dst->u || !dst->v) return kImageprocNoRoom;
    dst->width = src->width;
    dst->height = src->height;
    dst->extra = src->extra;
    out = dst;
  }
  const int64_t w = src->width, h = src->height;
  const int64_t ch = chromaMode == 0 ? h / 2 : h;
  MirrorPlane(src->y, out->y, w, h, type);
  MirrorPlane(src->u, out->u, w / 2, ch, type);
  MirrorPlane(src->v, out->v, w / 2, ch, type);
  return kImageprocOk;
}
