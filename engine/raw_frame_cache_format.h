#pragma once
// The ".raw" frame cache format shared by RawFrameCacheWriter and
// RawFrameCacheSource: a 32-byte header of little-endian u32 fields followed by
// RGB565 frames (rows top to bottom, each row padded to an even pixel count),
// or, for mask caches, by run-length coded masks.
//
// Every field read from a file is checked here before it sizes anything.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

inline constexpr uint32_t kRawHeaderBytes = 32;
inline constexpr uint32_t kRawBytesPerPixel = 2;
// Frame duration of a still item: one frame shown for ever.
inline constexpr uint32_t kRawStillDuration = 0xFFFFFFFFu;
// Largest side a cache may have. Cache items are at most the output size
// (at most VGA here); the bound keeps a damaged header from sizing a buffer
// of gigabytes (4096 x 4096 x 2 = 32 MB per frame at most).
inline constexpr uint32_t kRawMaxSide = 4096;
// A mask pixel is "on" (0xFFFF) when its RGB565 word is above this.
inline constexpr uint16_t kMaskThreshold = 0x7000;

struct RawFrameHeader {
  uint32_t headerSize = kRawHeaderBytes;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bytesPerPixel = kRawBytesPerPixel;
  uint32_t frameDuration = 0;  // ms; kRawStillDuration for a still item
  uint32_t hasColourKey = 0;
  uint32_t colourKey = 0;      // 0x00BBGGRR
  uint32_t isMask = 0;         // 1: frames are run-length coded masks

  // Pixels per stored row: the width rounded up to even.
  uint32_t RowPixels() const { return (width + 1) & ~1u; }
  // Bytes of one uncompressed frame.
  uint32_t FrameBytes() const { return RowPixels() * height * kRawBytesPerPixel; }

  void Serialize(uint8_t out[kRawHeaderBytes]) const;
  // Parses 32 bytes. False (and the header unusable) when a field is outside
  // what this program writes: header size not 32, 2 bytes per pixel, a side
  // of 0 or above kRawMaxSide, a frame duration of 0 (it divides in Seek).
  bool Parse(const uint8_t in[kRawHeaderBytes]);
};

// Reduces RGB565 pixels to mask values in place: words up to kMaskThreshold
// become 0x0000, all others 0xFFFF.
void ReduceToMask(uint16_t* pixels, size_t count);

// Run-length codes `count` mask pixels (each 0x0000 or 0xFFFF) into `out`:
// one byte per run, bit 7 the run's value (1 = 0xFFFF), bits 0-6 its length
// 1..127. Runs continue across row ends. Returns the byte count; `out` must
// hold `count` bytes (the worst case, one byte per pixel).
size_t EncodeMaskRuns(const uint16_t* pixels, size_t count, uint8_t* out);

// Decodes runs into exactly `count` pixels. Bytes with a zero length are
// skipped; a run is cut where the frame fills. `used` gets the bytes consumed.
// False when the data end before the frame is full.
bool DecodeMaskRuns(const uint8_t* runs, size_t size, uint16_t* pixels, size_t count, size_t* used);

}  // namespace engine
