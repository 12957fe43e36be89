#pragma once
// Row kernels of the YUV 4:2:0 to RGB565 conversion (yuv420_to_rgb565.cpp).
// The reference is yuv420_to_rgb565_dsp.cpp; the SSE2 and AVX2 variants give
// the same words. Like the conversion, these files need nothing but the
// standard library and platform/cpu, so the image library compiles them too.

#include <cstddef>
#include <cstdint>

namespace videodec {

// ITU-R BT.601 chroma terms in 14-bit fixed point (1.402, 0.344, 0.714, 1.772
// times 16384). The shifts are arithmetic: they round toward minus infinity.
inline constexpr int kCrToR = 22970;
inline constexpr int kCbToG = 5638;
inline constexpr int kCrToG = 11700;
inline constexpr int kCbToB = 29032;

// ITU-R BT.601 studio range (luma 16-235, chroma 16-240), the range of MPEG-4
// Part 2, H.263 and H.264 video unless the stream says otherwise: luma is
// first stretched by 255/219 ((Y - 16) x kStudioY >> 14, the constant rounded
// up so that 235 reaches 255), and the chroma terms carry 255/224 (1.596,
// 0.392, 0.813, 2.017 times 16384). kStudioCbToB exceeds 16 bits: the vector
// kernels form it as 2 cb + (282 cb >> 14), the same value.
inline constexpr int kStudioY = 19078;
inline constexpr int kStudioCrToR = 26149;
inline constexpr int kStudioCbToG = 6419;
inline constexpr int kStudioCrToG = 13320;
inline constexpr int kStudioCbToB = 33050;

// 2x2 ordered-dither offsets added before truncation to 5/6/5 bits, by
// position in the block: [row of the pair][column of the pair].
struct Rgb565Dither {
  int r, g, b;
};
inline constexpr Rgb565Dither kRgb565Dither[2][2] = {
    {{2, 3, 0}, {6, 0, 4}},
    {{4, 1, 6}, {0, 2, 2}},
};

// Converts `pairs` pixel pairs of two picture rows that share one chroma row:
// luma y0 to d0 with the top-row dither, y1 to d1 with the bottom-row dither,
// chroma u[i], v[i] for pixels 2i and 2i + 1 of both rows.
using Yuv420ToRgb565Row2Fn = void (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                      uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);

struct Yuv420ToRgb565Dsp {
  Yuv420ToRgb565Row2Fn row2;         // full range
  Yuv420ToRgb565Row2Fn studio_row2;  // studio range
};

// Fills every slot with the reference, then with the fastest variant that
// `cpuFlags` (ov::CpuFlags) allows.
void init_yuv420_to_rgb565_dsp(Yuv420ToRgb565Dsp& dsp, uint32_t cpuFlags);

void yuv420_to_rgb565_row2_c(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                             uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);
void yuv420_to_rgb565_row2_sse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);
void yuv420_to_rgb565_row2_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);
void studio_yuv420_to_rgb565_row2_c(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                    uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);
void studio_yuv420_to_rgb565_row2_sse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                       uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);
void studio_yuv420_to_rgb565_row2_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                       uint16_t* d0, uint16_t* d1, ptrdiff_t pairs);

}  // namespace videodec
