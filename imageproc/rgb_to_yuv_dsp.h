#pragma once
// Row kernels of the RGB565 to YUV 4:2:0 converters (rgb_to_yuv.cpp). The
// reference, with the Q14 tables, is rgb_to_yuv_dsp.cpp; the SSE2 variant
// gives the same bytes.

#include <cstddef>
#include <cstdint>

namespace imageproc {

// Converts `pairs` pixel pairs of two RGB565 rows: the luma of s0 to y0 and
// of s1 to y1, and the chroma of each pair's first pixel of s0 to u and v
// (one sample per pair). RGB565 to YUV tables of imageproc_tables.h.
using Rgb565ToYuvRow2Fn = void (*)(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                                   const uint16_t* s1, ptrdiff_t pairs);

struct RgbToYuvDsp {
  Rgb565ToYuvRow2Fn rgb565_row2;
};

// Fills every slot with the reference, then with the fastest variant that
// `cpuFlags` (ov::CpuFlags) allows.
void init_rgb_to_yuv_dsp(RgbToYuvDsp& dsp, uint32_t cpuFlags);

void rgb565_row2_c(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0, const uint16_t* s1,
                   ptrdiff_t pairs);
void rgb565_row2_sse2(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0, const uint16_t* s1,
                      ptrdiff_t pairs);

}  // namespace imageproc
