#include "imageproc/rgb_to_yuv_dsp.h"

#include "imageproc/imageproc_tables.h"
#include "platform/cpu/cpu.h"

namespace imageproc {
namespace {

// Q14 sums of table entries, floored, offset to studio range. The results
// always lie in 16-230 (Y) and 17-236 (U, V): no clipping.
inline uint8_t LumaOf(const int32_t* t, uint16_t p) {
  return static_cast<uint8_t>(((t[kRgbYR + (p >> 11)] + t[kRgbYG + ((p >> 5) & 63)] + t[kRgbYB + (p & 31)]) >> 14) +
                              16);
}
inline uint8_t CbOf(const int32_t* t, uint16_t p) {
  return static_cast<uint8_t>(((t[kRgbUR + (p >> 11)] + t[kRgbUG + ((p >> 5) & 63)] + t[kRgbUB + (p & 31)]) >> 14) +
                              128);
}
inline uint8_t CrOf(const int32_t* t, uint16_t p) {
  return static_cast<uint8_t>(((t[kRgbVR + (p >> 11)] + t[kRgbVG + ((p >> 5) & 63)] + t[kRgbVB + (p & 31)]) >> 14) +
                              128);
}

}  // namespace

void rgb565_row2_c(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0, const uint16_t* s1,
                   ptrdiff_t pairs) {
  const int32_t* t = kRgb565ToYuv.data();
  for (ptrdiff_t i = 0; i < pairs; ++i) {
    y0[2 * i] = LumaOf(t, s0[2 * i]);
    y0[2 * i + 1] = LumaOf(t, s0[2 * i + 1]);
    y1[2 * i] = LumaOf(t, s1[2 * i]);
    y1[2 * i + 1] = LumaOf(t, s1[2 * i + 1]);
    u[i] = CbOf(t, s0[2 * i]);
    v[i] = CrOf(t, s0[2 * i]);
  }
}

void init_rgb_to_yuv_dsp(RgbToYuvDsp& dsp, uint32_t cpuFlags) {
  dsp.rgb565_row2 = rgb565_row2_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) dsp.rgb565_row2 = rgb565_row2_sse2;
#else
  (void)cpuFlags;
#endif
}

}  // namespace imageproc
