#pragma once
// Impulse-noise filters of the source luma, run in place before a frame is
// coded so that isolated outliers cost no bits. The outermost rows and
// columns stay as they are; chroma is not filtered.

#include <cstddef>
#include <cstdint>

namespace venc {

// Level 1: each interior sample is clamped to the range of its eight
// neighbours.
void PrefilterClampToNeighbours(uint8_t* origin, ptrdiff_t stride, int width, int height);
// Level 2: each interior sample that is the smallest or largest of its 3x3
// neighbourhood (ties included) becomes the neighbourhood's median.
void PrefilterConditionalMedian(uint8_t* origin, ptrdiff_t stride, int width, int height);
// Runs the filter of `level` (0 none, 1, 2) on a plane.
void PrefilterLuma(int level, uint8_t* origin, ptrdiff_t stride, int width, int height);

}  // namespace venc
