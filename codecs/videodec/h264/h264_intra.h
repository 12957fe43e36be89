#pragma once
// Intra prediction of ITU-T H.264 8.3 over an unpadded plane. Callers pass
// which neighbours may be used; samples of missing neighbours are never read.

#include <cstdint>

namespace videodec {
namespace h264 {

// 8.3.1.2: 4x4 luma block at d; top[0..7] (top-right filled in by the
// caller), tl the top-left sample, l[0..3] the left column.
void PredIntra4x4(uint8_t* d, int stride, int mode, const int* top, int tl, const int* l,
                  bool have_top, bool have_left);
// 8.3.3: 16x16 luma, modes 0 vertical, 1 horizontal, 2 DC, 3 plane.
void PredIntra16(uint8_t* d, int stride, int mode, bool top, bool left, bool top_left);
// 8.3.4: 8x8 chroma, modes 0 DC, 1 horizontal, 2 vertical, 3 plane.
void PredChroma(uint8_t* d, int stride, int mode, bool top, bool left, bool top_left);

}  // namespace h264
}  // namespace videodec
