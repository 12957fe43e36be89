#include "engine/picture565.h"

#include <algorithm>

#include "platform/picture/fit_rect.h"

namespace engine {

uint16_t ColourRefTo565(uint32_t colour) {
  const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

void FillRect565(const Picture565& dst, int32_t x, int32_t y, int32_t w, int32_t h, uint16_t colour) {
  const int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int32_t x1 = int32_t(std::min<int64_t>(int64_t(x) + w, dst.width));
  const int32_t y1 = int32_t(std::min<int64_t>(int64_t(y) + h, dst.height));
  for (int32_t yy = y0; yy < y1; ++yy) std::fill(dst.Row(yy) + x0, dst.Row(yy) + std::max(x0, x1), colour);
}

void CopyPart565(const Picture565& dst, int32_t x, int32_t y, const Picture565& src, int32_t sx, int32_t sy, int32_t w,
                 int32_t h) {
  // Clip against the source, then the destination.
  if (sx < 0) { x -= sx; w += sx; sx = 0; }
  if (sy < 0) { y -= sy; h += sy; sy = 0; }
  w = std::min(w, src.width - sx);
  h = std::min(h, src.height - sy);
  if (x < 0) { sx -= x; w += x; x = 0; }
  if (y < 0) { sy -= y; h += y; y = 0; }
  w = std::min(w, dst.width - x);
  h = std::min(h, dst.height - y);
  if (w <= 0 || h <= 0) return;
  for (int32_t r = 0; r < h; ++r) std::copy_n(src.Row(sy + r) + sx, w, dst.Row(y + r) + x);
}

void Copy565(const Picture565& dst, int32_t x, int32_t y, const Picture565& src) {
  CopyPart565(dst, x, y, src, 0, 0, src.width, src.height);
}

void CopyKeyed565(const Picture565& dst, int32_t x, int32_t y, const Picture565& src, uint16_t key) {
  for (int32_t r = 0; r < src.height; ++r) {
    const int32_t dy = y + r;
    if (dy < 0 || dy >= dst.height) continue;
    for (int32_t c = 0; c < src.width; ++c) {
      const int32_t dx = x + c;
      if (dx < 0 || dx >= dst.width) continue;
      const uint16_t v = src.Row(r)[c];
      if (v != key) dst.Row(dy)[dx] = v;
    }
  }
}

void Stretch565(const Picture565& dst, int32_t x, int32_t y, int32_t w, int32_t h, const Picture565& src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh) {
  if (w <= 0 || h <= 0 || sw <= 0 || sh == 0 || src.Empty()) return;
  const bool flip = sh < 0;
  const int64_t ah = flip ? -int64_t(sh) : sh;
  const int32_t y0 = std::max(y, 0), y1 = int32_t(std::min<int64_t>(int64_t(y) + h, dst.height));
  const int32_t x0 = std::max(x, 0), x1 = int32_t(std::min<int64_t>(int64_t(x) + w, dst.width));
  for (int32_t dy = y0; dy < y1; ++dy) {
    const int64_t off = (int64_t(dy - y) * ah) / h;
    const int64_t row = flip ? int64_t(sy) - 1 - off : int64_t(sy) + off;
    if (row < 0 || row >= src.height) continue;
    const uint16_t* s = src.Row(int32_t(row));
    uint16_t* d = dst.Row(dy);
    for (int32_t dx = x0; dx < x1; ++dx) {
      const int64_t col = sx + (int64_t(dx - x) * sw) / w;
      if (col >= 0 && col < src.width) d[dx] = s[col];
    }
  }
}

FittedRect FitInFrame(int32_t cropW, int32_t cropH, int32_t frameW, int32_t frameH) {
  FittedRect r;
  picture::FitRect(&r.width, &r.height, cropW, cropH, frameW, frameH);
  if (r.width != frameW) {
    r.x = (frameW - r.width + 1) / 2;
  } else {
    r.y = (frameH - r.height + 1) / 2;
  }
  return r;
}

void DrawThroughWindow(const Picture565& dst, const Picture565& src, int64_t left, int64_t right, int64_t top,
                       int64_t bottom, bool bottomUp) {
  constexpr int64_t kOne = 65536;
  FillRect565(dst, 0, 0, dst.width, dst.height, 0);
  if (src.Empty()) return;
  const int32_t cw = right - left < kOne ? src.width : int32_t(int64_t(src.width) * (right - left) / (256 * kOne));
  const int32_t ch = bottom - top < kOne ? src.height : int32_t(int64_t(src.height) * (bottom - top) / (256 * kOne));
  if (cw <= 0 || ch <= 0) return;
  const int32_t sx = left < kOne ? 0 : int32_t(int64_t(src.width) * left / (256 * kOne));
  const int32_t sy = top < kOne ? 0 : int32_t(int64_t(src.height) * top / (256 * kOne));
  const FittedRect f = FitInFrame(cw, ch, dst.width, dst.height);
  if (bottomUp) {
    // Rows are stored last-first: the window's top is `sy` rows above the end.
    Stretch565(dst, f.x, f.y, f.width, f.height, src, sx, src.height - sy, cw, -ch);
  } else {
    Stretch565(dst, f.x, f.y, f.width, f.height, src, sx, sy, cw, ch);
  }
}

}  // namespace engine
