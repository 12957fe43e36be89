#pragma once
// QbtEncodeFrame: a test encoder for ".qbt" frames, the inverse of
// media::QbtDecodeFrame in mode 1 with bit planes only: palette passes are
// skipped (depth nibble 15) and the final list is empty (count 0). Mixed
// children are coded by nibbles where all their own children are mixed, so
// both plane codings occur. Used by "ovtool qbt encode", the tests and the
// benchmark; the program itself never writes ".qbt" files.

#include <cstdint>
#include <string>
#include <vector>

namespace ovtool {

// One coded frame (the bytes that follow the frame's length word) of
// `width` x `height` RGB565 pixels, `pixels` packed row after row. Empty when
// the decoder would refuse the size.
std::vector<uint8_t> QbtEncodeFrame(const uint16_t* pixels, uint32_t width, uint32_t height);

// A whole ".qbt" file: the header (2 bytes per pixel, no colour key) and
// each frame of `frames` (width x height pixels each) with its length word.
std::vector<uint8_t> QbtEncodeFile(const std::vector<std::vector<uint16_t>>& frames, uint32_t width,
                                   uint32_t height, uint32_t frameDurationMs);

}  // namespace ovtool
