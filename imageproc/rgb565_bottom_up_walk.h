#pragma once
// The frame walk of the bottom-up RGB565 to YUV 4:2:0 conversions, for any
// two-row kernel: gOvRGB565toYUV420 walks with the image library's kernel,
// the video encoder objects with their studio-range one. Header only, so a
// caller of the shared library inlines it beside its own kernel.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imageproc/imageproc.h"

namespace imageproc {

// Converts `pairs` pixel pairs of two RGB565 rows: the luma of s0 to y0 and
// of s1 to y1, one chroma sample per pair to u and v. s1 may equal s0.
using Rgb565Row2Fn = void (*)(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                              const uint16_t* s1, ptrdiff_t pairs);

// Converts a bottom-up RGB565 picture of srcWidth x srcHeight (rows of
// srcWidth pixels) into the 4:2:0 frame `dst`, whose own width and height
// give the output size, two rows at a time with row2. The frame fills from
// its last row up; columns right of the picture repeat its last converted
// column, rows above it its top row; an odd last row is converted alone and
// written twice; an odd last column is not read. Writes nothing when a
// pointer is null, the frame is odd-sized or cannot hold the picture.
inline void WalkRgb565BottomUp(const uint16_t* rgb565, YuvFrame* dst, uint32_t srcWidth, uint32_t srcHeight,
                               Rgb565Row2Fn row2) {
  if (!rgb565 || !dst || !dst->y || !dst->u || !dst->v) return;
  const size_t fw = dst->width, fh = dst->height;
  const size_t w2 = srcWidth & ~1u;  // an odd last column is never read
  const size_t h2 = srcHeight & ~1u;
  const bool oddRow = (srcHeight & 1u) != 0;
  // The frame must hold the converted part; without a converted pixel there
  // is nothing for the margins to repeat.
  if ((fw | fh) & 1 || w2 == 0 || srcHeight == 0 || w2 > fw || h2 + (oddRow ? 2 : 0) > fh) return;
  const size_t cw = fw / 2;
  // The right-hand margin repeats the last converted sample of each row.
  auto padRight = [](uint8_t* row, size_t from, size_t to) {
    if (from > 0 && from < to) std::memset(row + from, row[from - 1], to - from);
  };
  uint8_t* y = dst->y;
  uint8_t* u = dst->u;
  uint8_t* v = dst->v;
  // Source row r lands on frame row fh - 1 - r: the frame fills from the bottom.
  for (size_t j = 0; j < h2 / 2 + (oddRow ? 1 : 0); ++j) {
    const uint16_t* s0 = rgb565 + 2 * j * size_t{srcWidth};
    const bool single = 2 * j + 1 >= srcHeight;
    const uint16_t* s1 = single ? s0 : s0 + srcWidth;
    uint8_t* y0 = y + (fh - 1 - 2 * j) * fw;
    uint8_t* y1 = y0 - fw;
    const size_t crow = (fh / 2 - 1 - j) * cw;
    row2(y0, y1, u + crow, v + crow, s0, s1, static_cast<ptrdiff_t>(w2 / 2));
    padRight(y0, w2, fw);
    padRight(y1, w2, fw);
    padRight(u + crow, w2 / 2, cw);
    padRight(v + crow, w2 / 2, cw);
  }
  // Rows above the picture repeat its topmost converted row.
  const size_t top = fh - h2 - (oddRow ? 2 : 0);
  for (size_t r = 0; r < top; ++r) std::memcpy(y + r * fw, y + top * fw, fw);
  for (size_t r = 0; r < top / 2; ++r) {
    std::memcpy(u + r * cw, u + (top / 2) * cw, cw);
    std::memcpy(v + r * cw, v + (top / 2) * cw, cw);
  }
}

}  // namespace imageproc
