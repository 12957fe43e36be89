// BitBlt, StretchBlt, TransparentImage, AlphaBlend and the RGBA blend of the
// picture decoders.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gfx/dc.h"

namespace gfx {

namespace {

// A source surface that may be the destination itself: overlapping copies read
// from a snapshot taken before any pixel is written.
struct SourceView {
  const Bitmap* bitmap = nullptr;
  HBitmap snapshot;
};

SourceView ViewOf(HDC dst, HDC src) {
  SourceView v;
  v.bitmap = src->surface();
  if (v.bitmap && v.bitmap == dst->surface()) {
    v.snapshot = CreateBitmap565(v.bitmap->width(), v.bitmap->height());
    if (v.snapshot) {
      std::memcpy(v.snapshot->bits(), v.bitmap->bits(),
                  static_cast<size_t>(v.bitmap->row_bytes()) * static_cast<size_t>(v.bitmap->height()));
    }
    v.bitmap = v.snapshot.get();
  }
  return v;
}

void FillOp(HDC dst, const Rect& r, uint32_t rop) {
  Bitmap* s = dst->surface();
  dst->ForEachVisible(r, [&](const Rect& part) {
    for (int32_t y = part.top; y < part.bottom; ++y) {
      uint16_t* row = s->row(y);
      for (int32_t x = part.left; x < part.right; ++x) {
        row[x] = rop == kBlackness ? 0 : rop == kWhiteness ? 0xFFFF : static_cast<uint16_t>(~row[x]);
      }
    }
  });
}

// One axis of a stretch: for each destination offset, the source coordinate
// (absolute), or -1 when it falls outside the source surface.
struct Axis {
  int32_t dst_start = 0;  // first destination coordinate
  int32_t length = 0;     // destination extent (> 0)
  std::vector<int32_t> nearest;
  // Bilinear: left sample, right sample and weight of the right one (0-256).
  std::vector<int32_t> lo, hi, frac;
};

// Extents may be negative (mirror, counted from origin backwards). Returns
// false when either extent is 0.
bool MakeAxis(int32_t origin, int32_t extent, int32_t src_origin, int32_t src_extent, int32_t src_limit,
              bool bilinear, Axis* axis) {
  if (extent == 0 || src_extent == 0) return false;
  bool mirror = false;
  int64_t d0 = origin, dn = extent, s0 = src_origin, sn = src_extent;
  if (dn < 0) {
    d0 = d0 + dn + 1;
    dn = -dn;
    mirror = !mirror;
  }
  if (sn < 0) {
    s0 = s0 + sn + 1;
    sn = -sn;
    mirror = !mirror;
  }
  if (dn > kMaxBitmapSide * 4) return false;  // nothing that long can land on a surface
  axis->dst_start = static_cast<int32_t>(d0);
  axis->length = static_cast<int32_t>(dn);
  axis->nearest.resize(static_cast<size_t>(dn));
  // Samples are taken from the part of the source rectangle inside the surface.
  const int64_t valid_lo = std::max<int64_t>(s0, 0), valid_hi = std::min<int64_t>(s0 + sn, src_limit) - 1;
  if (bilinear) {
    axis->lo.resize(static_cast<size_t>(dn));
    axis->hi.resize(static_cast<size_t>(dn));
    axis->frac.resize(static_cast<size_t>(dn));
  }
  for (int64_t i = 0; i < dn; ++i) {
    const int64_t k = mirror ? dn - 1 - i : i;
    int64_t s = s0 + ((2 * k + 1) * sn) / (2 * dn);
    axis->nearest[static_cast<size_t>(i)] = (s < valid_lo || s > valid_hi) ? -1 : static_cast<int32_t>(s);
    if (bilinear) {
      // Centre of destination pixel k in source pixels, 8 fraction bits.
      int64_t pos = ((2 * k + 1) * sn * 256) / (2 * dn) - 128 + s0 * 256;
      // Both neighbours are clamped into the valid source span.
      int64_t lo = pos >> 8, f = pos & 255;
      int64_t hi = lo + 1;
      if (lo < valid_lo) {
        lo = hi = valid_lo;
        f = 0;
      }
      if (lo > valid_hi) {
        lo = valid_hi;
        f = 0;
      }
      if (hi > valid_hi) hi = valid_hi;
      axis->lo[static_cast<size_t>(i)] = static_cast<int32_t>(lo);
      axis->hi[static_cast<size_t>(i)] = static_cast<int32_t>(hi);
      axis->frac[static_cast<size_t>(i)] = static_cast<int32_t>(f);
    }
  }
  return true;
}

inline uint16_t Lerp565(uint16_t a, uint16_t b, int f) {  // f in 0-256
  const int r = ((a >> 11) * (256 - f) + (b >> 11) * f + 128) >> 8;
  const int g = (((a >> 5) & 63) * (256 - f) + ((b >> 5) & 63) * f + 128) >> 8;
  const int bl = ((a & 31) * (256 - f) + (b & 31) * f + 128) >> 8;
  return static_cast<uint16_t>((r << 11) | (g << 5) | bl);
}

inline uint16_t Blend565(uint16_t s, uint16_t d, uint32_t a) {  // a in 0-255
  const uint32_t na = 255 - a;
  const uint32_t r = ((s >> 11) * a + (d >> 11) * na + 127) / 255;
  const uint32_t g = (((s >> 5) & 63) * a + ((d >> 5) & 63) * na + 127) / 255;
  const uint32_t b = ((s & 31) * a + (d & 31) * na + 127) / 255;
  return static_cast<uint16_t>((r << 11) | (g << 5) | b);
}

// Nearest-sample walk over the visible destination; op(dst_pixel&, src_pixel).
template <typename Op>
bool StretchNearest(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy,
                    int32_t sw, int32_t sh, Op op) {
  if (!dst || !src || !dst->surface() || !src->surface()) return false;
  SourceView view = ViewOf(dst, src);
  if (!view.bitmap) return false;
  Axis ax, ay;
  if (!MakeAxis(x, w, sx, sw, view.bitmap->width(), false, &ax) ||
      !MakeAxis(y, h, sy, sh, view.bitmap->height(), false, &ay)) {
    return false;
  }
  Bitmap* out = dst->surface();
  const Rect area{ax.dst_start, ay.dst_start, ax.dst_start + ax.length, ay.dst_start + ay.length};
  dst->ForEachVisible(area, [&](const Rect& part) {
    for (int32_t py = part.top; py < part.bottom; ++py) {
      const int32_t syy = ay.nearest[static_cast<size_t>(py - ay.dst_start)];
      if (syy < 0) continue;
      const uint16_t* srow = view.bitmap->row(syy);
      uint16_t* drow = out->row(py);
      const int32_t* cols = ax.nearest.data() + (part.left - ax.dst_start);
      for (int32_t px = part.left; px < part.right; ++px, ++cols) {
        if (*cols >= 0) op(drow[px], srow[*cols]);
      }
    }
  });
  return true;
}

}  // namespace

bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, uint32_t rop) {
  if (!dst || !dst->surface()) return false;
  if (w <= 0 || h <= 0) return true;
  const Rect area{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, INT32_MAX)),
                  static_cast<int32_t>(std::min<int64_t>(int64_t(y) + h, INT32_MAX))};
  if (rop == kBlackness || rop == kWhiteness || rop == kDstInvert) {
    FillOp(dst, area, rop);
    return true;
  }
  if (rop != kSrcCopy || !src || !src->surface()) return false;
  SourceView view = ViewOf(dst, src);
  if (!view.bitmap) return false;
  // Only the part whose source lies inside the source surface is copied.
  const int64_t ox = int64_t(x) - sx, oy = int64_t(y) - sy;
  const Rect from_source{static_cast<int32_t>(std::clamp<int64_t>(ox, INT32_MIN, INT32_MAX)),
                         static_cast<int32_t>(std::clamp<int64_t>(oy, INT32_MIN, INT32_MAX)),
                         static_cast<int32_t>(std::clamp<int64_t>(ox + view.bitmap->width(), INT32_MIN, INT32_MAX)),
                         static_cast<int32_t>(std::clamp<int64_t>(oy + view.bitmap->height(), INT32_MIN, INT32_MAX))};
  const Rect copy = IntersectRects(area, from_source);
  Bitmap* out = dst->surface();
  dst->ForEachVisible(copy, [&](const Rect& part) {
    for (int32_t py = part.top; py < part.bottom; ++py) {
      const uint16_t* srow = view.bitmap->row(static_cast<int32_t>(py - oy)) + (part.left - ox);
      std::memcpy(out->row(py) + part.left, srow, static_cast<size_t>(part.right - part.left) * 2);
    }
  });
  return true;
}

bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, uint32_t rop) {
  if (!dst || !dst->surface()) return false;
  if (rop == kBlackness || rop == kWhiteness || rop == kDstInvert) {
    int64_t l = x, t = y, r = int64_t(x) + w, b = int64_t(y) + h;
    if (r < l) std::swap(l, r), ++l, ++r;
    if (b < t) std::swap(t, b), ++t, ++b;
    FillOp(dst, {int32_t(std::clamp<int64_t>(l, INT32_MIN, INT32_MAX)), int32_t(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX)),
                 int32_t(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX)), int32_t(std::clamp<int64_t>(b, INT32_MIN, INT32_MAX))},
           rop);
    return true;
  }
  if (rop != kSrcCopy) return false;
  if (w == sw && h == sh && w > 0 && h > 0) return BitBlt(dst, x, y, w, h, src, sx, sy, kSrcCopy);
  const int mode = dst->stretch_mode();
  if (mode != kHalftone && mode != kBilinear) {
    return StretchNearest(dst, x, y, w, h, src, sx, sy, sw, sh, [](uint16_t& d, uint16_t s) { d = s; });
  }
  if (!src || !src->surface()) return false;
  SourceView view = ViewOf(dst, src);
  if (!view.bitmap) return false;
  Axis ax, ay;
  if (!MakeAxis(x, w, sx, sw, view.bitmap->width(), true, &ax) ||
      !MakeAxis(y, h, sy, sh, view.bitmap->height(), true, &ay)) {
    return false;
  }
  Bitmap* out = dst->surface();
  const Rect area{ax.dst_start, ay.dst_start, ax.dst_start + ax.length, ay.dst_start + ay.length};
  dst->ForEachVisible(area, [&](const Rect& part) {
    for (int32_t py = part.top; py < part.bottom; ++py) {
      const size_t iy = static_cast<size_t>(py - ay.dst_start);
      if (ay.nearest[iy] < 0) continue;
      const uint16_t* r0 = view.bitmap->row(ay.lo[iy]);
      const uint16_t* r1 = view.bitmap->row(ay.hi[iy]);
      const int fy = ay.frac[iy];
      uint16_t* drow = out->row(py);
      for (int32_t px = part.left; px < part.right; ++px) {
        const size_t ix = static_cast<size_t>(px - ax.dst_start);
        if (ax.nearest[ix] < 0) continue;
        const int32_t c0 = ax.lo[ix], c1 = ax.hi[ix];
        const int fx = ax.frac[ix];
        drow[px] = Lerp565(Lerp565(r0[c0], r0[c1], fx), Lerp565(r1[c0], r1[c1], fx), fy);
      }
    }
  });
  return true;
}

bool TransparentImage(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy,
                      int32_t sw, int32_t sh, COLORREF key) {
  const uint16_t k = ColorRefTo565(key);
  return StretchNearest(dst, x, y, w, h, src, sx, sy, sw, sh, [k](uint16_t& d, uint16_t s) {
    if (s != k) d = s;
  });
}

bool AlphaBlend(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, uint8_t constant_alpha) {
  if (w < 0 || h < 0 || sw < 0 || sh < 0) return false;  // the platform refuses mirrored blends
  const uint32_t a = constant_alpha;
  return StretchNearest(dst, x, y, w, h, src, sx, sy, sw, sh,
                        [a](uint16_t& d, uint16_t s) { d = Blend565(s, d, a); });
}

bool BlendRgba(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* rgba, ptrdiff_t stride) {
  if (!dst || !dst->surface() || !rgba || w <= 0 || h <= 0) return false;
  Bitmap* out = dst->surface();
  const Rect area{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t(x) + w, INT32_MAX)),
                  static_cast<int32_t>(std::min<int64_t>(int64_t(y) + h, INT32_MAX))};
  dst->ForEachVisible(area, [&](const Rect& part) {
    for (int32_t py = part.top; py < part.bottom; ++py) {
      const uint8_t* s = rgba + (py - y) * stride + (part.left - x) * 4;
      uint16_t* d = out->row(py) + part.left;
      for (int32_t px = part.left; px < part.right; ++px, s += 4, ++d) {
        const uint32_t a = s[3];
        if (a == 255) {
          *d = Rgb888To565(s[0], s[1], s[2]);
        } else if (a != 0) {
          const uint32_t na = 255 - a;
          const uint32_t r = (s[0] * a + Red565(*d) * na + 127) / 255;
          const uint32_t g = (s[1] * a + Green565(*d) * na + 127) / 255;
          const uint32_t b = (s[2] * a + Blue565(*d) * na + 127) / 255;
          *d = Rgb888To565(uint8_t(r), uint8_t(g), uint8_t(b));
        }
      }
    }
  });
  return true;
}

}  // namespace gfx
