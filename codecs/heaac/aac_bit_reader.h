#pragma once
// MSB-first bit reader over one buffer. Bits past the buffer's end read as 0:
// the reader never touches memory outside [start, start + length); parsers
// that loop over variable-length codes stop when the byte index passes the
// length.

#include <cstdint>
#include <cstring>

namespace heaac {

struct AacBitReader {
  const uint8_t* start;
  uint32_t byteIndex;   // next unread byte
  uint32_t bitIndex;    // 0 = most significant bit of that byte, up to 7
  uint32_t bitsConsumed;  // since the reader was started
  uint32_t length;      // buffer length in bytes
  uint32_t spare;       // always 0
};

void AacStartBitReader(AacBitReader* r, const uint8_t* buffer, uint32_t length);

// Next n bits (0..32) without advancing.
inline uint32_t AacShowBits(const AacBitReader* r, int n) {
  if (n == 0) return 0;
  uint64_t acc = 0;
  const uint32_t pos = r->byteIndex;
  if (pos + 8 <= r->length && pos + 8 > pos) {
    // Fast path: one big-endian 64-bit load.
    std::memcpy(&acc, r->start + pos, 8);
    acc = __builtin_bswap64(acc);
    return static_cast<uint32_t>((acc << r->bitIndex) >> (64 - n));
  }
  if (pos + 5 <= r->length) {
    const uint8_t* p = r->start + pos;
    acc = (uint64_t{p[0]} << 32) | (uint64_t{p[1]} << 24) | (uint64_t{p[2]} << 16) | (uint64_t{p[3]} << 8) | p[4];
  } else {
    for (uint32_t i = 0; i < 5; ++i) {
      acc <<= 8;
      if (pos + i < r->length) acc |= r->start[pos + i];
    }
  }
  acc <<= 24 + r->bitIndex;  // first wanted bit at bit 63
  return static_cast<uint32_t>(acc >> (64 - n));
}

inline void AacSkipBits(AacBitReader* r, uint32_t n) {
  uint32_t bits = r->bitIndex + n;
  r->byteIndex += bits >> 3;
  r->bitIndex = bits & 7;
  r->bitsConsumed += n;
}

inline uint32_t AacGetBits(AacBitReader* r, int n) {
  uint32_t v = AacShowBits(r, n);
  AacSkipBits(r, static_cast<uint32_t>(n));
  return v;
}

inline void AacByteAlign(AacBitReader* r) {
  if (r->bitIndex != 0) {
    r->bitsConsumed += 8 - r->bitIndex;
    r->byteIndex += 1;
    r->bitIndex = 0;
  }
}

// Bytes consumed as reported to callers: a partly read byte counts.
inline uint32_t AacBytesUsed(const AacBitReader* r) { return r->byteIndex + (r->bitIndex != 0 ? 1 : 0); }

// True once the reader has moved past the end of its buffer.
inline bool AacReaderOverrun(const AacBitReader* r) {
  return r->byteIndex > r->length || (r->byteIndex == r->length && r->bitIndex != 0);
}

}  // namespace heaac
