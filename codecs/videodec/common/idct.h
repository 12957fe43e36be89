#pragma once
// Scaled 8x8 inverse transform of the H.263 and MPEG-4 decoders, and the
// partial transforms that error concealment works with.
//
// Input blocks hold 64 prescaled coefficients in natural order: a dequantised
// coefficient F at (u, v) is stored as (F x kIdctScale[u * 8 + v]) >> 12
// (transform_tables.h). A DC-only block reconstructs to (stored + 32) >> 6.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace videodec {

// Transforms `block` and stores the result clipped to 0..255 (intra).
using IdctPutFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const int16_t* block);
// Transforms `block` and adds the result to dst with clipping (inter residual).
using IdctAddFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const int16_t* block);
// Transforms `block` in place into a 16-bit residual (saturated).
using IdctFn = void (*)(int16_t* block);

struct IdctDsp {
  IdctPutFn idct_put;
  IdctAddFn idct_add;
  IdctPutFn idct_dc_put;  // only block[0] is read
  IdctAddFn idct_dc_add;  // only block[0] is read
  IdctFn idct;
};

// Clears a block of 64 coefficients before its events are stored. Cleared in
// two halves: GCC turns one 128-byte memset into a `rep stos`, whose start-up
// costs several times the eight vector stores of two 64-byte ones.
inline void ClearBlock(int16_t* block) {
  std::memset(block, 0, 32 * sizeof(int16_t));
  std::memset(block + 32, 0, 32 * sizeof(int16_t));
}

// Fills `dsp` with the reference kernels, then lets the instruction-set
// versions that `cpu_flags` allows override them.
void init_idct_dsp(IdctDsp& dsp, uint32_t cpu_flags);

// Sets idct_put and idct_add to their SSE2 variants (idct_sse2.cpp), equal to
// the references for every block.
void init_idct_dsp_sse2(IdctDsp& dsp);
// The same with the AVX2 variants (idct_avx2.cpp).
void init_idct_dsp_avx2(IdctDsp& dsp);

// Error concealment: the six lowest-frequency coefficients (0,0), (0,1), (0,2),
// (1,0), (1,1), (2,0) of an 8x8 block of samples (row-major, `stride`), in the
// same prescaled domain as the inverse transform's input, stored at their
// natural positions of `coeffs` (the other 58 entries are left alone).
void ForwardDctLowFrequency(const uint8_t* src, ptrdiff_t stride, int16_t* coeffs);
// Inverse of a block whose only coefficients are the six low frequencies
// (natural positions of `coeffs`, unscaled as ForwardDctLowFrequency leaves
// them): rescales, transforms and stores clipped samples into dst.
void InverseDctLowFrequency(const int16_t* coeffs, uint8_t* dst, ptrdiff_t stride);

}  // namespace videodec
