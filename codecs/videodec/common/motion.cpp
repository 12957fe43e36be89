#include "codecs/videodec/common/motion.h"

#include <algorithm>
#include <cstring>

namespace videodec {

void PredictBlock(const McDsp& dsp, uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* plane, int plane_w,
                  int plane_h, int x, int y, int w, int h, int mvx, int mvy, int rc) {
  const int ix = x + (mvx >> 1);
  const int iy = y + (mvy >> 1);
  const int pos = ((mvy & 1) << 1) | (mvx & 1);
  const int need_w = w + (mvx & 1);
  const int need_h = h + (mvy & 1);
  if (ix >= 0 && iy >= 0 && ix + need_w <= plane_w && iy + need_h <= plane_h) {
    dsp.put[pos](dst, dst_stride, plane + static_cast<ptrdiff_t>(iy) * plane_w + ix, plane_w, w, h, rc);
    return;
  }
  // Edge: build the clamped reference area, then predict from it. Rows whose
  // columns all lie inside (a vector past the top or bottom only) are copied
  // whole.
  uint8_t area[17 * 17];
  const bool columns_inside = ix >= 0 && ix + need_w <= plane_w;
  for (int r = 0; r < need_h; ++r) {
    const int sy = std::clamp(iy + r, 0, plane_h - 1);
    const uint8_t* row = plane + static_cast<ptrdiff_t>(sy) * plane_w;
    uint8_t* out = area + r * 17;
    if (columns_inside) {
      std::memcpy(out, row + ix, static_cast<size_t>(need_w));
      continue;
    }
    for (int c = 0; c < need_w; ++c) out[c] = row[std::clamp(ix + c, 0, plane_w - 1)];
  }
  dsp.put[pos](dst, dst_stride, area, 17, w, h, rc);
}

void PredictMacroblock(const McDsp& dsp, const DecodedPicture& ref, const DecodedPicture& cur, int mb_x,
                       int mb_y, const MotionVector* mv, bool four_mv, int rc) {
  const int w = ref.width;
  const int h = ref.height;
  const int cw = w / 2;
  const int ch = h / 2;
  const int x = mb_x * 16;
  const int y = mb_y * 16;
  uint8_t* dy = cur.y + static_cast<ptrdiff_t>(y) * w + x;
  int cmx, cmy;
  if (!four_mv) {
    PredictBlock(dsp, dy, w, ref.y, w, h, x, y, 16, 16, mv[0].x, mv[0].y, rc);
    cmx = ChromaVectorOneMv(mv[0].x);
    cmy = ChromaVectorOneMv(mv[0].y);
  } else {
    int sx = 0, sy = 0;
    for (int b = 0; b < 4; ++b) {
      const int bx = x + (b & 1) * 8;
      const int by = y + (b >> 1) * 8;
      PredictBlock(dsp, cur.y + static_cast<ptrdiff_t>(by) * w + bx, w, ref.y, w, h, bx, by, 8, 8, mv[b].x,
                   mv[b].y, rc);
      sx += mv[b].x;
      sy += mv[b].y;
    }
    cmx = ChromaVectorFourMv(sx);
    cmy = ChromaVectorFourMv(sy);
  }
  const ptrdiff_t coff = static_cast<ptrdiff_t>(y / 2) * cw + x / 2;
  PredictBlock(dsp, cur.u + coff, cw, ref.u, cw, ch, x / 2, y / 2, 8, 8, cmx, cmy, rc);
  PredictBlock(dsp, cur.v + coff, cw, ref.v, cw, ch, x / 2, y / 2, 8, 8, cmx, cmy, rc);
}

void CopyMacroblock(const DecodedPicture& ref, const DecodedPicture& cur, int mb_x, int mb_y) {
  const int w = ref.width;
  const int cw = w / 2;
  const ptrdiff_t yoff = static_cast<ptrdiff_t>(mb_y) * 16 * w + mb_x * 16;
  for (int r = 0; r < 16; ++r) std::memcpy(cur.y + yoff + r * w, ref.y + yoff + r * w, 16);
  const ptrdiff_t coff = static_cast<ptrdiff_t>(mb_y) * 8 * cw + mb_x * 8;
  for (int r = 0; r < 8; ++r) {
    std::memcpy(cur.u + coff + r * cw, ref.u + coff + r * cw, 8);
    std::memcpy(cur.v + coff + r * cw, ref.v + coff + r * cw, 8);
  }
}

MotionVector MedianPredictor(const MotionVector* left, const MotionVector* above, const MotionVector* above_right) {
  const MotionVector* c[3] = {left, above, above_right};
  int available = 0;
  const MotionVector* only = nullptr;
  for (const MotionVector* v : c) {
    if (v) {
      ++available;
      only = v;
    }
  }
  if (available == 0) return MotionVector{0, 0};
  if (available == 1) return *only;
  const MotionVector zero{0, 0};
  const MotionVector& a = left ? *left : zero;
  const MotionVector& b = above ? *above : zero;
  const MotionVector& d = above_right ? *above_right : zero;
  return MotionVector{static_cast<int16_t>(Median3(a.x, b.x, d.x)), static_cast<int16_t>(Median3(a.y, b.y, d.y))};
}

}  // namespace videodec
