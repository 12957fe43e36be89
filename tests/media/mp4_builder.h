#pragma once
// Hand-made ISO base media files for the reader tests: an "ftyp", an "mdat"
// whose byte i holds i & 0xFF (so a sample's first byte tells where it was
// read), then a "moov" with the given tracks.

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace mediatest {

using Bytes = std::vector<uint8_t>;

struct TrackSpec {
  const char* handler = "soun";
  uint32_t timescale = 1000;
  std::vector<std::pair<uint32_t, uint32_t>> stts;  // count, delta
  std::vector<std::array<uint32_t, 3>> stsc;         // first chunk, samples per chunk, entry
  std::vector<uint32_t> sizes;                       // per sample
  std::vector<uint64_t> chunks;                      // offsets
  bool co64 = false;
  Bytes entry_children;  // boxes inside the sample entry ("damr", "esds", ...)
  std::vector<std::pair<uint32_t, int32_t>> edits;  // "elst": segment duration, media time
};

Bytes Box(const char* type, const Bytes& body);
// The mdat starts at offset 16 and its data at offset 24.
Bytes Movie(const std::vector<TrackSpec>& tracks, uint32_t mdat_bytes);

}  // namespace mediatest
