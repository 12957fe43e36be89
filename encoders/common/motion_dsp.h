#pragma once
// Block-matching and motion-compensation kernels of the encoders (the kernel
// family "motion").
//
// Matching costs cover half of a 16x16 block in a checkerboard pattern
// (even rows: even columns, odd rows: odd columns; 128 samples) and double
// the sum, so every cost is on the scale of a full 16x16 SAD. The largest
// cost is 2 x 128 x 255 = 65280: 65535 never comes out of a measurement.
//
// Half-sample interpolation uses rounding type 0 of ISO/IEC 14496-2 7.6.2
// (the same as ITU-T H.263 6.1.2): (a + b + 1) >> 1 and
// (a + b + c + d + 2) >> 2.

#include <cstddef>
#include <cstdint>

namespace venc {

inline constexpr uint32_t kSadOutside = 65535;

// (cur, ref, stride): cost of the 16x16 block at `ref` against `cur`; both
// planes share one stride. The half-sample forms interpolate from `ref`
// (the block's integer position) and its right and lower neighbours.
using BlockCostFn = uint32_t (*)(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride);
// (cur, refs, n, stride, costs): the cost of each of `n` (1..4) reference
// positions; the current block is read once.
using MultiCostFn = void (*)(const uint8_t* cur, const uint8_t* const* refs, int n, ptrdiff_t stride,
                             uint32_t* costs);
// (cur, stride): intra cost of a 16x16 block, 2 x the sum over the checkerboard
// of |sample - mean|, mean the truncated average of the same samples.
using IntraCostFn = uint32_t (*)(const uint8_t* cur, ptrdiff_t stride);
// (ref, cur, residual, stride): one 8x8 block; residual[64] = cur - prediction,
// the prediction is written over `cur`; returns the sum of |residual|.
using PredictBlockFn = int32_t (*)(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride);

struct MotionDsp {
  BlockCostFn sad16;
  MultiCostFn sad16xn;
  BlockCostFn sadHalfH;
  BlockCostFn sadHalfV;
  BlockCostFn sadHalfHV;
  IntraCostFn intraDeviation16;
  // Indexed by the half-sample bits (vx & 1) + 2 x (vy & 1): copy, H, V, HV.
  PredictBlockFn predict[4];
};

void init_motion_dsp(MotionDsp& dsp, uint32_t cpuFlags);

// SSE2 variants (motion_dsp_sse2.cpp), equal to the references.
uint32_t Sad16_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride);
void Sad16xn_sse2(const uint8_t* cur, const uint8_t* const* refs, int n, ptrdiff_t stride, uint32_t* costs);
uint32_t SadHalfH_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride);
uint32_t SadHalfV_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride);
uint32_t SadHalfHV_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride);
uint32_t IntraDeviation16_sse2(const uint8_t* cur, ptrdiff_t stride);
int32_t PredictBlockCopy_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride);
int32_t PredictBlockH_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride);
int32_t PredictBlockV_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride);
int32_t PredictBlockHV_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride);

// Sets the matching costs and predictions to their AVX2 variants
// (motion_dsp_avx2.cpp), equal to the references.
void init_motion_dsp_avx2(MotionDsp& dsp);

}  // namespace venc
