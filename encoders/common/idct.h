#pragma once
// Inverse quantisation and inverse DCT of the encoders' reconstruction (the
// kernel family "idct"). The dequantised blocks carry the transform's
// prescale (kIdctScaleTable), so the 8-point passes below need only the three
// tangents and cos(pi/4).

#include <cstddef>
#include <cstdint>

#include "encoders/common/encoder_tables.h"

namespace venc {

// (block, last, dst, stride): transforms the prescaled block (destroyed) and
// stores the clipped pixels (put) or adds them to the prediction in dst (add).
// `last` is the largest raster index of a non-zero level (0 for DC only).
using IdctBlockFn = void (*)(int16_t* block, int32_t last, uint8_t* dst, ptrdiff_t stride);
// (block, qp, count): DequantiseInter below, where `count` is the number of
// non-zero levels in the block, as the forward quantiser counts them.
using DequantiseFn = void (*)(int16_t* block, int qp, int32_t count);

struct IdctDsp {
  IdctBlockFn put;
  IdctBlockFn add;
  DequantiseFn dequantiseInter;
};

void init_idct_dsp(IdctDsp& dsp, uint32_t cpuFlags);

// Fills both slots with their SSE2 variants (idct_sse2.cpp), equal to the
// reference wherever its 32-bit arithmetic does not overflow.
void init_idct_dsp_sse2(IdctDsp& dsp);
// The same with the AVX2 variants (idct_avx2.cpp), and dequantiseInter, equal
// to the reference wherever the reference's 32-bit products do not overflow.
void init_idct_dsp_avx2(IdctDsp& dsp);

// One 8-point row pass in place (16-bit results).
void IdctRow(int16_t* row);

// Dequantises the AC levels of an intra block (positions 1-63, stopping after
// `count` non-zero levels) into `dst`, which is cleared first, with the
// transform prescale. The DC is set by the caller.
void DequantiseIntraAc(const int16_t* levels, int qp, int32_t count, int16_t* dst);
// Dequantises every level of an inter block in place, stopping after `count`
// non-zero levels.
void DequantiseInter(int16_t* block, int qp, int32_t count);
// Prescaled value of one dequantised coefficient F at raster index `pos`
// ((F x kIdctScaleTable[pos] + 2048) >> 12, kept as 16 bits).
inline int16_t PrescaleCoefficient(int32_t f, int pos) {
  return static_cast<int16_t>((f * static_cast<int32_t>(kIdctScaleTable[pos]) + 2048) >> 12);
}

}  // namespace venc
