#include "filters/codecdmo/studio_rgb_to_yuv.h"

#include <cstring>

#include "filters/codecdmo/codecdmo_tables.h"
#include "platform/cpu/cpu.h"

namespace codecdmo {
namespace {

inline int32_t YOf(uint16_t p) {
  const StudioRgb565Tables& t = kStudioRgb565;
  return (t.y[kStudioR + (p >> 11)] + t.y[kStudioG + ((p >> 5) & 63)] + t.y[kStudioB + (p & 31)] + kStudioYOffset) >>
         14;
}
inline int32_t UOf(uint16_t p) {
  const StudioRgb565Tables& t = kStudioRgb565;
  return t.u[kStudioR + (p >> 11)] + t.u[kStudioG + ((p >> 5) & 63)] + t.u[kStudioB + (p & 31)];
}
inline int32_t VOf(uint16_t p) {
  const StudioRgb565Tables& t = kStudioRgb565;
  return t.v[kStudioR + (p >> 11)] + t.v[kStudioG + ((p >> 5) & 63)] + t.v[kStudioB + (p & 31)];
}

// The right-hand margin repeats the last converted sample of each row.
inline void PadRight(uint8_t* row, size_t from, size_t to) {
  if (from > 0 && from < to) std::memset(row + from, row[from - 1], to - from);
}

}  // namespace

void studio_rgb565_row2_c(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                          const uint16_t* s1, ptrdiff_t pairs) {
  for (ptrdiff_t i = 0; i < pairs; ++i) {
    const uint16_t a = s0[2 * i], b = s0[2 * i + 1], c = s1[2 * i], d = s1[2 * i + 1];
    y0[2 * i] = static_cast<uint8_t>(YOf(a));
    y0[2 * i + 1] = static_cast<uint8_t>(YOf(b));
    y1[2 * i] = static_cast<uint8_t>(YOf(c));
    y1[2 * i + 1] = static_cast<uint8_t>(YOf(d));
    u[i] = static_cast<uint8_t>((UOf(a) + UOf(b) + UOf(c) + UOf(d) + kStudioCOffset) >> 16);
    v[i] = static_cast<uint8_t>((VOf(a) + VOf(b) + VOf(c) + VOf(d) + kStudioCOffset) >> 16);
  }
}

void init_studio_rgb_dsp(StudioRgbDsp& dsp, uint32_t cpuFlags) {
  dsp.row2 = studio_rgb565_row2_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) dsp.row2 = studio_rgb565_row2_sse2;
  if (cpuFlags & ov::kCpuAvx2) dsp.row2 = studio_rgb565_row2_avx2;
#else
  (void)cpuFlags;
#endif
}

void StudioRgb565ToYuv420(const uint16_t* rgb565, YuvFrame* dst, uint32_t srcWidth, uint32_t srcHeight) {
  if (!rgb565 || !dst || !dst->y || !dst->u || !dst->v) return;
  const size_t fw = dst->width, fh = dst->height;
  const size_t w2 = srcWidth & ~1u;  // an odd last column is never read
  const size_t h2 = srcHeight & ~1u;
  const bool oddRow = (srcHeight & 1u) != 0;
  if ((fw | fh) & 1 || w2 == 0 || srcHeight == 0 || w2 > fw || h2 + (oddRow ? 2 : 0) > fh) return;
  const size_t cw = fw / 2;
  StudioRgbDsp dsp;
  init_studio_rgb_dsp(dsp, ov::GetCpuFlags());
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
    dsp.row2(y0, y1, u + crow, v + crow, s0, s1, static_cast<ptrdiff_t>(w2 / 2));
    PadRight(y0, w2, fw);
    PadRight(y1, w2, fw);
    PadRight(u + crow, w2 / 2, cw);
    PadRight(v + crow, w2 / 2, cw);
  }
  // Rows above the picture repeat its topmost converted row.
  const size_t top = fh - h2 - (oddRow ? 2 : 0);
  for (size_t r = 0; r < top; ++r) std::memcpy(y + r * fw, y + top * fw, fw);
  for (size_t r = 0; r < top / 2; ++r) {
    std::memcpy(u + r * cw, u + (top / 2) * cw, cw);
    std::memcpy(v + r * cw, v + (top / 2) * cw, cw);
  }
}

}  // namespace codecdmo
