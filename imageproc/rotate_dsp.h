#pragma once
// Row kernels of the quarter turns (rotate.cpp). The reference is
// rotate_dsp.cpp; the SSE2 variant gives the same bytes.

#include <cstddef>
#include <cstdint>

namespace imageproc {

// Transposes a band of eight source rows (src, src + srcStride, ... src + 7 x
// srcStride; strides may be negative) and `width` columns: source column x
// becomes the eight bytes at dst + x x dstStride, row 0 first.
using TransposeBand8Fn = void (*)(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                                  ptrdiff_t width);

struct RotateDsp {
  TransposeBand8Fn transpose_band8;
};

// Fills every slot with the reference, then with the fastest variant that
// `cpuFlags` (ov::CpuFlags) allows.
void init_rotate_dsp(RotateDsp& dsp, uint32_t cpuFlags);

void transpose_band8_c(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, ptrdiff_t width);
void transpose_band8_sse2(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                          ptrdiff_t width);

}  // namespace imageproc
