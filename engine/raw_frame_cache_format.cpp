#include "engine/raw_frame_cache_format.h"

namespace engine {

namespace {

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void RawFrameHeader::Serialize(uint8_t out[kRawHeaderBytes]) const {
  const uint32_t fields[8] = {headerSize, width, height, bytesPerPixel, frameDuration, hasColourKey, colourKey, isMask};
  for (int i = 0; i < 8; ++i) PutU32(out + 4 * i, fields[i]);
}

bool RawFrameHeader::Parse(const uint8_t in[kRawHeaderBytes]) {
  headerSize = GetU32(in);
  width = GetU32(in + 4);
  height = GetU32(in + 8);
  bytesPerPixel = GetU32(in + 12);
  frameDuration = GetU32(in + 16);
  hasColourKey = GetU32(in + 20);
  colourKey = GetU32(in + 24);
  isMask = GetU32(in + 28);
  if (headerSize != kRawHeaderBytes || bytesPerPixel != kRawBytesPerPixel) return false;
  if (width == 0 || height == 0 || width > kRawMaxSide || height > kRawMaxSide) return false;
  return frameDuration != 0;
}

void ReduceToMask(uint16_t* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i) pixels[i] = pixels[i] > kMaskThreshold ? 0xFFFF : 0x0000;
}

size_t EncodeMaskRuns(const uint16_t* pixels, size_t count, uint8_t* out) {
  if (count == 0) return 0;
  size_t n = 0;
  uint8_t value = pixels[0] != 0 ? 0x80 : 0x00;
  uint8_t length = 1;
  for (size_t i = 1; i < count; ++i) {
    const uint8_t v = pixels[i] != 0 ? 0x80 : 0x00;
    if (v == value && length < 127) {
      ++length;
    } else {
      out[n++] = uint8_t(value | length);
      value = v;
      length = 1;
    }
  }
  out[n++] = uint8_t(value | length);
  return n;
}

bool DecodeMaskRuns(const uint8_t* runs, size_t size, uint16_t* pixels, size_t count, size_t* used) {
  size_t filled = 0;
  size_t i = 0;
  while (filled < count && i < size) {
    const uint8_t b = runs[i++];
    size_t length = b & 0x7F;
    if (length == 0) continue;
    if (length > count - filled) length = count - filled;
    const uint16_t v = (b & 0x80) ? 0xFFFF : 0x0000;
    for (size_t k = 0; k < length; ++k) pixels[filled++] = v;
  }
  if (used) *used = i;
  return filled == count;
}

}  // namespace engine
