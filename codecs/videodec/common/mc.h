#pragma once
// Half-sample motion-compensation kernels of ITU-T H.263 6.1.2 and
// ISO/IEC 14496-2 7.6.2, with rounding control rc (0 or 1):
//   full-sample position: copy
//   horizontal or vertical half: (A + B + 1 - rc) >> 1
//   both half:                   (A + B + C + D + 2 - rc) >> 2
// `src` points at the integer-sample position; a half position reads one more
// column and/or row, which the caller guarantees to be readable.

#include <cstddef>
#include <cstdint>

namespace videodec {

// Predicts a w x h block (w a multiple of 4, h >= 1).
using McPutFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w,
                         int h, int rc);

// Slot index of a half-sample position: (y half << 1) | x half.
enum McPosition { kMcFull = 0, kMcHalfX = 1, kMcHalfY = 2, kMcHalfXY = 3 };

struct McDsp {
  McPutFn put[4];  // by McPosition
};

// Fills `dsp` with the reference kernels, then lets the instruction-set
// versions that `cpu_flags` allows override them.
void init_mc_dsp(McDsp& dsp, uint32_t cpu_flags);

// Sets every slot to its SSE2 variant (mc_sse2.cpp), equal to the references.
void init_mc_dsp_sse2(McDsp& dsp);

}  // namespace videodec
