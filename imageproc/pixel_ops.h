#pragma once
// Pixel arithmetic shared by the conversion families: clipping, the 16-bit
// packing, the ordered dither of 2x2 blocks and the chroma terms of the
// colour matrices. Shifts of negative values are arithmetic (flooring).

#include <cstddef>
#include <cstdint>

#include "imageproc/imageproc.h"

namespace imageproc {

inline int Clip255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Components already clipped to 0-255; keeps the top 5/6/5 bits.
inline uint16_t Pack565(int b, int g, int r) {
  return static_cast<uint16_t>((b >> 3) | ((g & ~3) << 3) | ((r & ~7) << 8));
}

// Added to blue, green and red before clipping, by place in a 2x2 block.
struct Dither {
  int b, g, r;
};
inline constexpr Dither kBlockDither[2][2] = {{{0, 3, 2}, {4, 0, 6}}, {{6, 1, 4}, {2, 2, 0}}};
inline constexpr Dither kNoDither = {0, 0, 0};

// Chroma terms of one chroma pair: B = Y + db, G = Y - dg, R = Y + dr.
struct ChromaTerms {
  int db, dg, dr;
};

// BT.601 full range, Q14, flooring.
inline ChromaTerms Bt601(int u, int v) {
  u -= 128;
  v -= 128;
  return {(29032 * u) >> 14, (5638 * u + 11700 * v) >> 14, (22970 * v) >> 14};
}
// BT.601 full range, Q14, rounded.
inline ChromaTerms Bt601Rounded(int u, int v) {
  u -= 128;
  v -= 128;
  return {(29032 * u + 8192) >> 14, (5638 * u + 11700 * v + 8192) >> 14, (22970 * v + 8192) >> 14};
}
// BT.709 full range, Q14, flooring.
inline ChromaTerms Bt709(int u, int v) {
  u -= 128;
  v -= 128;
  return {(30397 * u) >> 14, (7671 * v + 3072 * u) >> 14, (25802 * v) >> 14};
}
// BT.709 full range, Q14, rounded.
inline ChromaTerms Bt709Rounded(int u, int v) {
  u -= 128;
  v -= 128;
  return {(30397 * u + 8192) >> 14, (7671 * v + 3072 * u + 8192) >> 14, (25802 * v + 8192) >> 14};
}
// BT.709 with the packed converter's own rounding of two weights.
inline ChromaTerms Bt709Packed(int u, int v) {
  u -= 128;
  v -= 128;
  return {(30397 * u) >> 14, (7670 * v + 3072 * u) >> 14, (25801 * v) >> 14};
}
// Shifts and additions only: about 1.875 U, 0.125 U + 0.5 V, 1.5 V.
inline ChromaTerms ShiftApprox(int u, int v) {
  u -= 128;
  v -= 128;
  return {2 * u - (u >> 3), (u >> 3) + (v >> 1), v + (v >> 1)};
}

inline uint16_t ToRgb565(int y, ChromaTerms c, Dither d) {
  return Pack565(Clip255(y + c.db + d.b), Clip255(y - c.dg + d.g), Clip255(y + c.dr + d.r));
}

// Writes blue, green, red.
inline void ToBgr24(int y, ChromaTerms c, Dither d, uint8_t* out) {
  out[0] = static_cast<uint8_t>(Clip255(y + c.db + d.b));
  out[1] = static_cast<uint8_t>(Clip255(y - c.dg + d.g));
  out[2] = static_cast<uint8_t>(Clip255(y + c.dr + d.r));
}

inline bool HasPlanes(const YuvFrame* f) { return f && f->y && f->u && f->v; }

template <typename T>
inline T Min(T a, T b) {
  return a < b ? a : b;
}

// Where window pixel (row y, column x) lands: base + y * dy + x * dx.
struct Landing {
  ptrdiff_t base, dx, dy;
  ptrdiff_t At(ptrdiff_t y, ptrdiff_t x) const { return base + y * dy + x * dx; }
};

// Landing of a window of `rows` x `cols` placed at (dstX, dstY) of a top-down
// destination and turned by `type` as seen on it (1 clockwise). rowStep and
// colStep are the distances of one destination row and one column.
inline Landing TurnLanding(int type, ptrdiff_t rowStep, ptrdiff_t colStep, ptrdiff_t dstX, ptrdiff_t dstY,
                           ptrdiff_t rows, ptrdiff_t cols) {
  switch (type) {
    case 0: return {dstY * rowStep + dstX * colStep, colStep, rowStep};
    case 1: return {dstY * rowStep + (dstX + rows - 1) * colStep, rowStep, -colStep};
    case 2: return {(dstY + rows - 1) * rowStep + (dstX + cols - 1) * colStep, -colStep, -rowStep};
    default: return {(dstY + cols - 1) * rowStep + dstX * colStep, -rowStep, colStep};
  }
}

// Columns and rows of a window at (srcX, srcY) of a srcW x srcH picture that
// fit, clipped to the destination space left from (dstX, dstY) of a dstW x
// dstH destination; a quarter turn exchanges the destination limits.
inline void ClipWindow(int type, int64_t srcW, int64_t srcH, int64_t srcX, int64_t srcY, int64_t width,
                       int64_t height, int64_t dstW, int64_t dstH, int64_t dstX, int64_t dstY, int64_t* cols,
                       int64_t* rows) {
  *cols = Min(width, srcW - srcX);
  *rows = Min(height, srcH - srcY);
  if (type == 0 || type == 2) {
    *cols = Min(*cols, dstW - dstX);
    *rows = Min(*rows, dstH - dstY);
  } else {
    *cols = Min(*cols, dstH - dstY);
    *rows = Min(*rows, dstW - dstX);
  }
}

}  // namespace imageproc
