#pragma once
// The software wave mixer's inner loop as a kernel family: one voice's
// 16-bit stereo frames resampled by linear interpolation, scaled by the
// voice's gain and the master gain, and stored into or added (with
// saturation) to the mixer's interleaved 16-bit stereo output.
//
// Output frame j reads source frames n and n + 1 with n = T >> 16 and
// interpolates at T & 0xFFFF, where T = phase + j * step + carry[j] (16.16;
// no carry when `carry` is null). The carries are the units a step's
// fraction below 2^-16 has added up to by frame j, so a source position
// stays exact however long a voice plays. Callers keep every T below 2^31
// and gains at most 65536; the SIMD variants are bit-identical to the
// reference.

#include <cstdint>

namespace engine {

using MixResampleFn = void (*)(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                               const uint32_t* carry, uint32_t gain, uint32_t master, bool add);

struct MixDsp {
  MixResampleFn resample;
};

void init_mix_dsp(MixDsp& dsp, uint32_t cpuFlags);

void MixResample_c(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                   const uint32_t* carry, uint32_t gain, uint32_t master, bool add);
void MixResample_sse2(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                      const uint32_t* carry, uint32_t gain, uint32_t master, bool add);
void MixResample_avx2(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                      const uint32_t* carry, uint32_t gain, uint32_t master, bool add);

}  // namespace engine
