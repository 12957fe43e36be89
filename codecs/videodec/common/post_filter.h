#pragma once
// Display-only post filter of the H.263 and MPEG-4 decoders: it smooths block
// edges of a picture copy that is handed out, never a reference picture.
//
// Strength by decoder and level (QUANT is the macroblock's quantiser):
//   H.263  level 1: simple edge filter, s = (QUANT x 5) >> 2, filtered when s > 4
//          level 2: adaptive filter,    s = QUANT,            filtered when QUANT >= 5
//          other levels: off
//   MPEG-4 level 0: off; level 1: simple edge filter; other levels: adaptive
//          filter; s = (QUANT x 5) >> 2, filtered when s >= 5
// The adaptive filter derives from the deblocking filter of ISO/IEC 14496-2
// Annex F.

#include <cstddef>
#include <cstdint>

#include "codecs/videodec/common/video_decoder.h"

namespace videodec {

enum class PostFilterCodec { kH263, kMpeg4 };

// Filters `picture` in place (luma stride = width, chroma stride = width / 2).
// The quantiser of macroblock i (raster order) is the byte at
// quant + i * record_stride, so a decoder passes the QUANT field of its own
// macroblock records. Allocates nothing.
void PostFilter(const DecodedPicture& picture, const uint8_t* quant, ptrdiff_t record_stride, uint32_t level,
                PostFilterCodec codec);

// The edge filters, on one line of pixels across an edge. `p` points at the
// first pixel after the edge (C, or p4); `step` is the distance between
// neighbouring pixels of the line.
// Simple edge filter: A, B | C, D.
void SimpleEdgeFilterLine(uint8_t* p, ptrdiff_t step, int strength);
// Adaptive filter: p0..p3 | p4..p7.
void AdaptiveEdgeFilterLine(uint8_t* p, ptrdiff_t step, int strength);

}  // namespace videodec
