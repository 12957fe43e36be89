#pragma once
// Fused forward DCT and quantisation of one 8x8 block (the kernel family
// "fdct"). Each kernel transforms the block in place (raster order, index =
// 8 x row + column), quantises it with QP 1-31 and returns the largest raster
// index holding a non-zero level (-1 when none) and the count of non-zero
// levels. Intra kernels leave the DC unquantised and never count it.

#include <cstdint>

#include "platform/cpu/cpu.h"

namespace venc {

using FdctQuantFn = void (*)(int16_t* block, int qp, int32_t* last, int32_t* count);

struct FdctDsp {
  // Intra blocks: all 64 coefficients; MPEG-4 levels are not clipped, the
  // short-header twin clips them to -127..127.
  FdctQuantFn intra;
  FdctQuantFn intraShort;
  // Inter blocks, by growing residual: DC only, the 2x2, 4x4 corner, all 64;
  // [0] MPEG-4, [1] short header (levels clipped to -127..127).
  FdctQuantFn interDc[2];
  FdctQuantFn inter2x2[2];
  FdctQuantFn inter4x4[2];
  FdctQuantFn inter[2];
};

// Whether an inter residual block whose absolute values sum to `sad`
// quantises to zeros at QP q under the inter kernels, so that the transform
// can be left out: no coefficient of the 8x8 DCT exceeds sad / 4, and an
// inter level is non-zero only from 5q / 2 on; the margin of 8 covers the
// integer transform's rounding.
inline bool ResidualQuantisesToZero(int32_t sad, int q) { return sad / 4 + 8 < (5 * q) / 2; }

// Fills every slot with the C++ reference; `cpuFlags` (ov::GetCpuFlags()) selects
// faster variants where they exist.
void init_fdct_dsp(FdctDsp& dsp, uint32_t cpuFlags);

// Fills every slot with its SSE2 variant (fdct_sse2.cpp), equal to the
// reference for samples 0..255 and residuals -255..255.
void init_fdct_dsp_sse2(FdctDsp& dsp);
// Fills the slots past the DC-only ones with their AVX2 variants
// (fdct_avx2.cpp), under the same conditions.
void init_fdct_dsp_avx2(FdctDsp& dsp);

}  // namespace venc
