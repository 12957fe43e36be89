// Moves YUV samples between packed and planar layouts: packed 4:2:2 inputs of
// the encoders to 4:2:0, planar 4:2:2 to 4:2:0, and 4:2:0 to UYVY, Y41P and
// YUYV. No colour arithmetic; the only arithmetic is chroma averaging in
// gYUV422htoYUV420.
#include <cstring>

#include "imageproc/imageproc.h"
#include "imageproc/pixel_ops.h"

namespace imageproc {
namespace {

// Packed 4:2:2 (two pixels in four bytes) to planar 4:2:0: `groups` pixel
// pairs of each of `rows` rows (even). yAt/uAt/vAt are the byte positions
// inside a group; the chroma of each row pair comes from its upper row.
void Packed422To420(const uint8_t* src, size_t srcStride, size_t groups, size_t rows, int yAt, int uAt, int vAt,
                    uint8_t* y, size_t yStride, uint8_t* u, uint8_t* v, size_t cStride) {
  for (size_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    uint8_t* yr = y + r * yStride;
    for (size_t g = 0; g < groups; ++g) {
      yr[2 * g] = s[4 * g + yAt];
      yr[2 * g + 1] = s[4 * g + yAt + 2];
    }
    if (r & 1) continue;  // the lower row's chroma is dropped
    uint8_t* ur = u + (r / 2) * cStride;
    uint8_t* vr = v + (r / 2) * cStride;
    for (size_t g = 0; g < groups; ++g) {
      ur[g] = s[4 * g + uAt];
      vr[g] = s[4 * g + vAt];
    }
  }
}

// Common start of the packed-to-frame exports: the record's 16-bit fields
// must hold the size and the pairs must be whole; then the size is written
// into the record.
int StartPackedToFrame(const uint8_t* src, YuvFrame* dst, uint32_t width, uint32_t height) {
  if (!src || !HasPlanes(dst)) return kImageprocNoRoom;
  if (((width | height) & 1) || width > 0xFFFF || height > 0xFFFF) return kImageprocBadSize;
  dst->width = static_cast<uint16_t>(width);
  dst->height = static_cast<uint16_t>(height);
  return kImageprocOk;
}

}  // namespace
}  // namespace imageproc

using namespace imageproc;

extern "C" int gUY1VY2ToYUV420(const uint8_t* uyvy, YuvFrame* dst, uint32_t width, uint32_t height) {
  const int status = StartPackedToFrame(uyvy, dst, width, height);
  if (status != kImageprocOk) return status;
  Packed422To420(uyvy, 2 * size_t{width}, width / 2, height, 1, 0, 2, dst->y, width, dst->u, dst->v, width / 2);
  return kImageprocOk;
}

extern "C" int gY1UY2VToYUV420(const uint8_t* yuy2, YuvFrame* dst, uint32_t width, uint32_t height) {
  const int status = StartPackedToFrame(yuy2, dst, width, height);
  if (status != kImageprocOk) return status;
  // This export stores U through the third plane pointer and V through the
  // second; gY1UY2VToYV12 is the other way round.
  Packed422To420(yuy2, 2 * size_t{width}, width / 2, height, 0, 1, 3, dst->y, width, dst->v, dst->u, width / 2);
  return kImageprocOk;
}

extern "C" int gY1UY2VToYV12(const uint8_t* yuy2, YuvFrame* dst, uint32_t width, uint32_t height) {
  const int status = StartPackedToFrame(yuy2, dst, width, height);
  if (status != kImageprocOk) return status;
  Packed422To420(yuy2, 2 * size_t{width}, width / 2, height, 0, 1, 3, dst->y, width, dst->u, dst->v, width / 2);
  return kImageprocOk;
}

extern "C" void gOvYUY2toYUV420(const uint8_t* yuy2, uint8_t* i420, int width, int height) {
  if (!yuy2 || !i420 || width <= 0 || height <= 0) return;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  uint8_t* y = i420;
  uint8_t* u = i420 + w * h;
  uint8_t* v = u + w * h / 4;
  // An odd last row or column is not converted; luma rows stay w apart.
  Packed422To420(yuy2, 2 * w, w / 2, h & ~size_t{1}, 0, 1, 3, y, w, u, v, w / 2);
}

extern "C" int gYUV422toYUV420Ex(const YuvFrame* src422, YuvFrame* dst420) {
  if (!HasPlanes(src422) || !HasPlanes(dst420)) return kImageprocNoRoom;
  if (src422->width != dst420->width || src422->height != dst420->height) return kImageprocBadSize;
  const size_t w = src422->width, h = src422->height, cw = w / 2;
  std::memcpy(dst420->y, src422->y, w * h);
  // Even chroma rows are kept, odd ones dropped.
  for (size_t i = 0; i / 2 < h / 2; i += 2) {
    std::memcpy(dst420->u + (i / 2) * cw, src422->u + i * cw, cw);
    std::memcpy(dst420->v + (i / 2) * cw, src422->v + i * cw, cw);
  }
  return kImageprocOk;
}

extern "C" int gYUV422htoYUV420(const YuvFrame* src422, YuvFrame* dst420) {
  if (!HasPlanes(src422) || !HasPlanes(dst420)) return kImageprocNoRoom;
  const size_t sw = src422->width;
  const size_t w = src422->width & ~1u, h = src422->height & ~1u;
  dst420->width = static_cast<uint16_t>(w);
  dst420->height = static_cast<uint16_t>(h);
  for (size_t r = 0; r < h; ++r) std::memcpy(dst420->y + r * w, src422->y + r * sw, w);
  const size_t cw = sw / 2;
  for (size_t j = 0; j < h / 2; ++j) {
    const uint8_t* u0 = src422->u + 2 * j * cw;
    const uint8_t* v0 = src422->v + 2 * j * cw;
    uint8_t* ud = dst420->u + j * cw;
    uint8_t* vd = dst420->v + j * cw;
    for (size_t i = 0; i < cw; ++i) {
      ud[i] = static_cast<uint8_t>((u0[i] + u0[i + cw]) >> 1);
      vd[i] = static_cast<uint8_t>((v0[i] + v0[i + cw]) >> 1);
    }
  }
  return kImageprocOk;
}

extern "C" int gYUV420toUYVY(const YuvFrame* src, uint8_t* dst, int dstStride, int dstHeight,
                             uint32_t srcX, uint32_t srcY, int dstX, int dstY, int width, int height) {
  if (!HasPlanes(src) || !dst) return kImageprocNoRoom;
  if (dstStride < 0 || dstHeight < 0 || dstX < 0 || dstY < 0 || width < 0 || height < 0)
    return kImageprocBadSize;
  const int64_t sw = src->width, sh = src->height;
  const int64_t sx = srcX & ~1u, sy = srcY & ~1u, dx = dstX & ~1, dy = dstY & ~1;
  int64_t cols = Min<int64_t>(Min<int64_t>(width, sw - sx), dstStride - dx) & ~int64_t{1};
  int64_t rows = Min<int64_t>(Min<int64_t>(height, sh - sy), dstHeight - dy) & ~int64_t{1};
  if (cols <= 0 || rows <= 0) return kImageprocOk;
  const int64_t cw = sw / 2;
  const uint8_t* y = src->y + sy * sw + sx;
  const uint8_t* u = src->u + (sy / 2) * cw + sx / 2;
  const uint8_t* v = src->v + (sy / 2) * cw + sx / 2;
  uint8_t* out = dst + 2 * (dx + dy * int64_t{dstStride});
  for (int64_t r = 0; r < rows; ++r) {
    const uint8_t* yr = y + r * sw;
    // Both rows of a pair take the same chroma row.
    const uint8_t* ur = u + (r / 2) * cw;
    const uint8_t* vr = v + (r / 2) * cw;
    uint8_t* o = out + r * 2 * int64_t{dstStride};
    for (int64_t i = 0; i < cols / 2; ++i) {
      o[4 * i] = ur[i];
      o[4 * i + 1] = yr[2 * i];
      o[4 * i + 2] = vr[i];
      o[4 * i + 3] = yr[2 * i + 1];
    }
  }
  return kImageprocOk;
}

extern "C" int gYUV420toY41P(const YuvFrame* src, uint8_t* dst, int dstWidth) {
  if (!HasPlanes(src) || !dst) return kImageprocNoRoom;
  if (dstWidth < 0) return kImageprocBadSize;
  const size_t sw = src->width, cw = sw / 2;
  // Only whole groups of eight columns are converted.
  const size_t groups = sw / 8;
  const size_t rowBytes = 12 * groups;
  const size_t oddRowAt = (size_t(dstWidth) * 3 / 8) * 4;
  for (size_t k = 0; k < src->height / 2u; ++k) {
    uint8_t* o0 = dst + k * (rowBytes + oddRowAt);
    uint8_t* o1 = o0 + oddRowAt;
    const uint8_t* y0 = src->y + 2 * k * sw;
    const uint8_t* y1 = y0 + sw;
    const uint8_t* u = src->u + k * cw;
    const uint8_t* v = src->v + k * cw;
    for (size_t g = 0; g < groups; ++g) {
      const size_t x = 8 * g;
      const uint8_t* ys[2] = {y0 + x, y1 + x};
      uint8_t* os[2] = {o0 + 12 * g, o1 + 12 * g};
      for (int r = 0; r < 2; ++r) {
        uint8_t* o = os[r];
        const uint8_t* yy = ys[r];
        o[0] = u[x / 2];
        o[1] = yy[0];
        o[2] = v[x / 2];
        o[3] = yy[1];
        o[4] = u[x / 2 + 2];
        o[5] = yy[2];
        o[6] = v[x / 2 + 2];
        o[7] = yy[3];
        std::memcpy(o + 8, yy + 4, 4);
      }
    }
  }
  return kImageprocOk;
}

extern "C" int gYUVPlanartoYUYV(const YuvFrame* src, uint8_t* dst, int width, int height) {
  if (!src || !dst || !src->y || !src->u || !src->v) return kImageprocNoRoom;
  if (width < 0 || height < 0 || width > src->width || height > src->height) return kImageprocBadSize;
  const size_t sw = src->width, cw = sw / 2, ch = src->height / 2u;
  const size_t w = static_cast<size_t>(width) & ~size_t{1}, h = static_cast<size_t>(height);
  if (w == 0 || h == 0 || ch == 0) return kImageprocOk;
  for (size_t r = 0; r < h; ++r) {
    // Chroma repeats vertically; an odd last row takes the next chroma row,
    // or the last one when the plane has no further row.
    const size_t crow = Min(r / 2, ch - 1);
    const uint8_t* yr = src->y + r * sw;
    const uint8_t* ur = src->u + crow * cw;
    const uint8_t* vr = src->v + crow * cw;
    uint8_t* o = dst + r * 2 * w;
    for (size_t i = 0; i < w / 2; ++i) {
      o[4 * i] = yr[2 * i];
      o[4 * i + 1] = ur[i];
      o[4 * i + 2] = yr[2 * i + 1];
      o[4 * i + 3] = vr[i];
    }
  }
  return kImageprocOk;
}
