#include "engine/mix_dsp.h"

#include <algorithm>

#include "platform/cpu/cpu.h"

namespace engine {

void MixResample_c(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                   const uint32_t* carry, uint32_t gain, uint32_t master, bool add) {
  for (uint32_t j = 0; j < frames; ++j) {
    uint32_t t = phase + j * step + (carry ? carry[j] : 0);
    const int16_t* prev = src + 2 * (t >> 16);
    const int16_t* cur = prev + 2;
    uint32_t frac = t & 0xFFFF;
    for (int side = 0; side < 2; ++side) {
      int64_t s = prev[side] + ((static_cast<int64_t>(cur[side] - prev[side]) * frac) >> 16);
      s = ((s * gain) >> 16) * master >> 16;
      int32_t v = static_cast<int32_t>(s) + (add ? dst[2 * j + side] : 0);
      dst[2 * j + side] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
  }
}

void init_mix_dsp(MixDsp& dsp, uint32_t cpuFlags) {
  dsp.resample = MixResample_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) dsp.resample = MixResample_sse2;
  if (cpuFlags & ov::kCpuAvx2) dsp.resample = MixResample_avx2;
#else
  (void)cpuFlags;
#endif
}

}  // namespace engine
