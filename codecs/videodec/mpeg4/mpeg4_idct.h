#pragma once
// Scaled 8x8 inverse transform over prescaled coefficients (3 fraction bits
// times the AAN scale of each position), writing or adding to 8-bit samples.

#include <cstddef>
#include <cstdint>

namespace videodec {

// Inverse transform of `coef` (raster order); `last` = 0 takes the DC-only
// path. put: store clipped to 0..255; add: add to dst and clip.
void Mpeg4IdctPut(uint8_t* dst, ptrdiff_t stride, const int16_t* coef, int last);
void Mpeg4IdctAdd(uint8_t* dst, ptrdiff_t stride, const int16_t* coef, int last);

}  // namespace videodec
