// An integer hash for the encoder tests' made-up pictures: integer-only, so
// the pictures (and the streams checked bit for bit) are the same on every
// build.
#pragma once

#include <cstdint>

namespace venctest {

inline uint32_t Hash32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace venctest
