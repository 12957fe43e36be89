#pragma once
// YUV 4:2:0 in ITU-R BT.601 video range (luma 16-235, chroma 16-240), as
// the WMV decoders give it, to RGB565: the decoder objects' own conversion
// (the program's decoders have theirs in codecs/videodec/common).

#include <cstddef>
#include <cstdint>

namespace decoders {

// Converts the w x h picture into the top-left of an out_w x out_h RGB565
// bitmap stored bottom-up (the picture's first row is the bitmap's last),
// rows of out_w pixels, little-endian; what the picture does not cover is
// black. w <= out_w, h <= out_h.
void I420ToRgb565BottomUp(const uint8_t* y, ptrdiff_t y_stride, const uint8_t* u, ptrdiff_t u_stride,
                          const uint8_t* v, ptrdiff_t v_stride, int w, int h, uint8_t* out, int out_w, int out_h);

// One pixel (for tests).
uint16_t VideoRangeToRgb565(int y, int u, int v);

}  // namespace decoders
