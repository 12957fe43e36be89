#pragma once
// QbtDecodeFrame: the frame coder of ".qbt" animation clips. A frame is a
// bit-plane quadtree over a square of tree size T (the smallest power of two,
// at least 4, covering the picture), with 4 x 4 leaf blocks whose plane bits
// come from a table of 16-bit leaf words, and nested palette passes that map
// pixel values through lists coded as 4-ary trees.
//
// Coded frame (little-endian):
//   0       u32, not used
//   4       N, the number of leaf words
//   8       N leaf words (u16), taken from the last towards the first
//   8 + 2N  start byte: 0 = the nibble stream begins with the low nibble of
//           the next byte, any other value = with its high nibble
//   9 + 2N  the nibble stream (high nibble of a byte before its low nibble)
//
// Every read is bounded by the coded length: a frame that reads past it, takes
// more leaf words than the table holds, declares a palette larger than a
// picture's depth allows, fills more list entries than it declared or maps a
// pixel through an entry it did not fill is a bad frame.
//
// Thread rule: none; the function touches only its arguments.

#include <cstdint>

namespace media {

// Results of QbtDecodeFrame.
inline constexpr int kQbtOk = 0;
inline constexpr int kQbtBadMode = 4;      // mode neither 0 nor 1
inline constexpr int kQbtBadFrame = 5;     // the coded frame breaks a bound
inline constexpr int kQbtBadPicture = 6;   // a size or depth the decoder refuses

// Picture bounds: sizes of 4 x 4 or less leave the tree's children undefined;
// the cap keeps the work buffer (width x height x 4 bytes) within 64 MB.
inline constexpr uint32_t kQbtMaxSide = 4096;
bool QbtPictureSizeOk(uint32_t width, uint32_t height);

// Decodes one coded frame of `codedBytes` bytes into `destination`, which
// holds height rows of ((width + 1) & ~1) RGB565 pixels (only 16 bits per
// pixel is decoded). Mode 1 codes a final palette list (and palette passes
// at node sizes 16, 64, ... below T / 2); mode 0 codes plain values. `flags`
// must be 0. Pixels of the destination outside the picture are left as they are.
int QbtDecodeFrame(uint8_t* destination, uint32_t width, uint32_t height, uint32_t bits, uint32_t mode,
                   uint32_t flags, const uint8_t* coded, uint32_t codedBytes);

}  // namespace media
