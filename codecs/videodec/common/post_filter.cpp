#include "codecs/videodec/common/post_filter.h"

#include <algorithm>
#include <cstdlib>

namespace videodec {
namespace {

inline uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

using LineFilter = void (*)(uint8_t* p, ptrdiff_t step, int strength);

// Filters `lines` lines across a horizontal edge just above row pointer `p`.
inline void HorizontalEdge(LineFilter f, uint8_t* p, ptrdiff_t stride, int lines, int s) {
  for (int i = 0; i < lines; ++i) f(p + i, stride, s);
}
// Filters `lines` lines across a vertical edge just left of column pointer `p`.
inline void VerticalEdge(LineFilter f, uint8_t* p, ptrdiff_t stride, int lines, int s) {
  for (int i = 0; i < lines; ++i) f(p + i * stride, 1, s);
}

}  // namespace

void SimpleEdgeFilterLine(uint8_t* p, ptrdiff_t step, int s) {
  const int a = p[-2 * step], b = p[-step], c = p[0], d = p[step];
  const int diff = c - b;
  const int mag = std::abs(diff);
  if (mag < 3 || mag >= s) return;
  // Arithmetic shifts: floor(diff / 8) and floor(diff / 4).
  const int d8 = diff >> 3;
  const int d4 = diff >> 2;
  p[-2 * step] = Clip255(a + d8);
  p[-step] = Clip255(b + d4);
  p[0] = Clip255(c - d4);
  p[step] = Clip255(d - d8);
}

void AdaptiveEdgeFilterLine(uint8_t* p, ptrdiff_t step, int s) {
  uint8_t* base = p - 4 * step;
  int v[8];
  for (int i = 0; i < 8; ++i) v[i] = base[i * step];
  int eq = 0;
  for (int i = 0; i < 7; ++i) eq += std::abs(v[i + 1] - v[i]) <= 2;
  if (eq == 7) return;
  if (eq <= 3) {
    const int a = (2 * (v[2] - v[5]) + 5 * (v[4] - v[3]) + 4) >> 3;
    if (std::abs(a) < s) {
      const int t = (v[3] - v[4]) >> 2;
      base[3 * step] = Clip255(v[3] - t);
      base[4 * step] = Clip255(v[4] + t);
    }
    return;
  }
  const int mx = *std::max_element(v, v + 8);
  const int mn = *std::min_element(v, v + 8);
  const int range = s < 18 ? std::min(2 * s, 20) : 50;
  if (mx - mn >= range) return;
  const int p0 = v[0], p1 = v[1], p2 = v[2], p3 = v[3], p4 = v[4], p5 = v[5], p6 = v[6], p7 = v[7];
  if (s < 18) {
    base[2 * step] = Clip255((4 * p0 + 2 * p1 + 4 * p2 + 2 * p3 + 2 * p4 + p5 + p6 + 8) >> 4);
    base[3 * step] = Clip255((2 * p0 + 2 * p1 + 2 * p2 + 4 * p3 + 2 * p4 + 2 * p5 + p6 + p7 + 8) >> 4);
    base[4 * step] = Clip255((p0 + p1 + 2 * p2 + 2 * p3 + 4 * p4 + 2 * p5 + 2 * p6 + 2 * p7 + 8) >> 4);
    base[5 * step] = Clip255((p1 + p2 + 2 * p3 + 2 * p4 + 4 * p5 + 2 * p6 + 4 * p7 + 8) >> 4);
  } else {
    base[1 * step] = Clip255((2 * p0 + 2 * p1 + p2 + p3 + p4 + p5 + 4) >> 3);
    base[2 * step] = Clip255((p0 + 2 * p1 + 2 * p2 + p3 + p4 + p5 + 4) >> 3);
    base[3 * step] = Clip255((p0 + 3 * p1 + 3 * p2 + 2 * p3 + 3 * p4 + 3 * p5 + p6 + 8) >> 4);
    base[4 * step] = Clip255((p1 + 3 * p2 + 3 * p3 + 2 * p4 + 3 * p5 + 3 * p6 + p7 + 8) >> 4);
    base[5 * step] = Clip255((p2 + p3 + p4 + 2 * p5 + 2 * p6 + p7 + 4) >> 3);
    base[6 * step] = Clip255((p2 + p3 + p4 + p5 + 2 * p6 + 2 * p7 + 4) >> 3);
  }
}

void PostFilter(const DecodedPicture& picture, const uint8_t* quant, ptrdiff_t record_stride, uint32_t level,
                PostFilterCodec codec) {
  if (!picture.y || !quant || picture.width < 16 || picture.height < 16) return;
  LineFilter filter;
  if (codec == PostFilterCodec::kH263) {
    if (level == 1) filter = SimpleEdgeFilterLine;
    else if (level == 2) filter = AdaptiveEdgeFilterLine;
    else return;
  } else {
    if (level == 0) return;
    filter = level == 1 ? SimpleEdgeFilterLine : AdaptiveEdgeFilterLine;
  }
  const int mb_w = picture.width / 16;
  const int mb_h = picture.height / 16;
  const ptrdiff_t ys = picture.width;
  const ptrdiff_t cs = picture.width / 2;
  for (int my = 0; my < mb_h; ++my) {
    for (int mx = 0; mx < mb_w; ++mx) {
      const int q = quant[(my * mb_w + mx) * record_stride];
      int s;
      bool on;
      if (codec == PostFilterCodec::kH263 && level == 2) {
        s = q;
        on = q >= 5;
      } else {
        s = (q * 5) >> 2;
        on = codec == PostFilterCodec::kH263 ? s > 4 : s >= 5;
      }
      if (!on) continue;
      const bool last_row = my == mb_h - 1;
      const bool last_col = mx == mb_w - 1;
      uint8_t* y0 = picture.y + my * 16 * ys + mx * 16;
      HorizontalEdge(filter, y0 + 8 * ys, ys, 16, s);
      if (!last_row) HorizontalEdge(filter, y0 + 16 * ys, ys, 16, s);
      VerticalEdge(filter, y0 + 8, ys, 16, s);
      if (!last_col) VerticalEdge(filter, y0 + 16, ys, 16, s);
      if (!last_row && !last_col) {
        for (uint8_t* plane : {picture.u, picture.v}) {
          uint8_t* c0 = plane + my * 8 * cs + mx * 8;
          HorizontalEdge(filter, c0 + 8 * cs, cs, 8, s);
          VerticalEdge(filter, c0 + 8, cs, 8, s);
        }
      }
    }
  }
}

}  // namespace videodec
