#pragma once
// The video objects' own RGB565 to YUV 4:2:0 conversion, into ITU-R BT.601
// studio range: the range and matrix that players read H.263 and MPEG-4
// Part 2 streams in, which carry no colour description at these sizes. Each
// 5- or 6-bit field stands for the 8-bit level that the decoders' dithered
// conversion rounded into it (codecdmo_tables.h), black giving Y 16 and
// white Y 235, and the chroma of a 2x2 block is the mean of its four pixels.
//
// Row kernels: reference studio_rgb_to_yuv.cpp (with the tables of
// codecdmo_tables.h), SSE2 and AVX2 studio_rgb_to_yuv_sse2.cpp and
// studio_rgb_to_yuv_avx2.cpp, the same bytes.

#include <cstddef>
#include <cstdint>

#include "imageproc/imageproc.h"

namespace codecdmo {

// Converts `pairs` pixel pairs of two RGB565 rows: the luma of s0 to y0 and of
// s1 to y1, and the chroma of each 2x2 block (pixels 2i and 2i + 1 of both
// rows) to u[i] and v[i]. s1 may equal s0 (a lone last row).
using StudioRgb565Row2Fn = void (*)(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                                    const uint16_t* s1, ptrdiff_t pairs);

struct StudioRgbDsp {
  StudioRgb565Row2Fn row2;
};

// Fills every slot with the reference, then with the fastest variant that
// `cpuFlags` (ov::CpuFlags) allows.
void init_studio_rgb_dsp(StudioRgbDsp& dsp, uint32_t cpuFlags);

void studio_rgb565_row2_c(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                          const uint16_t* s1, ptrdiff_t pairs);
void studio_rgb565_row2_sse2(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                             const uint16_t* s1, ptrdiff_t pairs);
void studio_rgb565_row2_avx2(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                             const uint16_t* s1, ptrdiff_t pairs);

// Converts a bottom-up RGB565 picture of srcWidth x srcHeight (rows of
// srcWidth pixels) into the 4:2:0 frame `dst`, whose own width and height
// give the output size; the image library's gOvRGB565toYUV420 walk
// (imageproc/rgb565_bottom_up_walk.h: the frame fills from its last row up,
// columns right of the picture repeat its last column, rows above it its top
// row, an odd last row is converted alone and written twice, an odd last
// column is not read). Writes nothing when a pointer is null, the frame is
// odd-sized or cannot hold the picture. Allocates nothing; any thread.
void StudioRgb565ToYuv420(const uint16_t* rgb565, YuvFrame* dst, uint32_t srcWidth, uint32_t srcHeight);

}  // namespace codecdmo
