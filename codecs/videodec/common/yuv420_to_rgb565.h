#pragma once
// Planar YUV 4:2:0 to RGB565 conversion of decoded pictures.
//
// This header, yuv420_to_rgb565.cpp and its row kernels (yuv420_to_rgb565_dsp.h)
// depend on nothing but the C++ standard library and platform/cpu, so the
// image library compiles the same sources into itself.

#include <cstdint>

namespace videodec {

// A planar YUV 4:2:0 picture: luma stride = width, chroma stride = width / 2.
// The first five fields of DecodedPicture (video_decoder.h) have this layout.
struct YuvFrame {
  uint8_t* y;
  uint8_t* u;  // Cb
  uint8_t* v;  // Cr
  uint16_t width;
  uint16_t height;
};

// Converts the top-left width x height pixels of `src` into RGB565 (red in bits
// 15..11, green 10..5, blue 4..0) with a fixed 2x2 ordered dither.
//
// `dst` holds ((width + 1) & ~1) x height pixels: a row of odd width carries one
// padding pixel, which is left unwritten. `top_down` non-zero writes the picture's
// top row first; 0 writes it last (bottom-up, as a device-independent bitmap).
// An odd last column repeats the column to its left and an odd last row the row
// above it. Only the frame's own pixels are read: asked for more columns or
// rows than the frame has, the conversion covers the frame's part and leaves
// the rest of `dst` unwritten. Either size being 0 writes nothing. Allocates
// nothing; any thread.
void ConvertYUV420toRGB565TopDown(const YuvFrame* src, uint16_t* dst, uint16_t width, uint16_t height,
                                  int32_t top_down);

// The same conversion for pictures in ITU-R BT.601 studio range (luma 16-235,
// chroma 16-240): luma 16 and below give black, 235 and above white. MPEG-4
// Part 2, H.263 and H.264 video is in studio range unless the stream says
// otherwise (the full-range flag of its video signal type); the conversion
// above is for pictures that say so. Same layout, block order, dither and
// edge rules.
void ConvertStudioYUV420toRGB565TopDown(const YuvFrame* src, uint16_t* dst, uint16_t width, uint16_t height,
                                        int32_t top_down);

}  // namespace videodec
