#include "filters/codecdmo/studio_rgb_to_yuv.h"

#include "filters/codecdmo/codecdmo_tables.h"
#include "imageproc/rgb565_bottom_up_walk.h"
#include "platform/cpu/cpu.h"

namespace codecdmo {
namespace {

inline int32_t YOf(uint16_t p) {
  const StudioRgb565Tables& t = kStudioRgb565;
  return (t.y[kStudioR + (p >> 11)] + t.y[kStudioG + ((p >> 5) & 63)] + t.y[kStudioB + (p & 31)] + kStudioYOffset) >>
         15;
}
inline int32_t UOf(uint16_t p) {
  const StudioRgb565Tables& t = kStudioRgb565;
  return t.u[kStudioR + (p >> 11)] + t.u[kStudioG + ((p >> 5) & 63)] + t.u[kStudioB + (p & 31)];
}
inline int32_t VOf(uint16_t p) {
  const StudioRgb565Tables& t = kStudioRgb565;
  return t.v[kStudioR + (p >> 11)] + t.v[kStudioG + ((p >> 5) & 63)] + t.v[kStudioB + (p & 31)];
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
    u[i] = static_cast<uint8_t>((UOf(a) + UOf(b) + UOf(c) + UOf(d) + kStudioCOffset) >> 17);
    v[i] = static_cast<uint8_t>((VOf(a) + VOf(b) + VOf(c) + VOf(d) + kStudioCOffset) >> 17);
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
  StudioRgbDsp dsp;
  init_studio_rgb_dsp(dsp, ov::GetCpuFlags());
  imageproc::WalkRgb565BottomUp(rgb565, dst, srcWidth, srcHeight, dsp.row2);
}

}  // namespace codecdmo
