#pragma once
// Fixed-point steps shared by the filterbank and the C++ references of its
// kernels (aac_dsp.cpp). Not for the instruction-set files: an inline
// function compiled there with wider instructions could be the copy the
// linker keeps for every caller.

#include <cstdint>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/fx_math.h"

namespace heaac {

inline int32_t WAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t WSub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int32_t WNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }

// (a + jb)(c + js) in Q31, each part from one 64-bit sum of two products,
// rounded: truncated products bias every stage the same way, and the FFT adds
// those biases up into a DC offset of a few hundredths of an LSB.
//
// The two sums come exactly from three products:
//   a c - b s = c (a + b) - b (c + s),  a s + b c = c (a + b) + a (s - c).
// With |c|, |s| < 2^31 (as twiddles are) no product leaves 64 bits.
inline void CMul(int32_t a, int32_t b, int32_t c, int32_t s, int32_t* re, int32_t* im) {
  constexpr int64_t kHalf = int64_t{1} << 30;
  const int64_t common = static_cast<int64_t>(c) * (static_cast<int64_t>(a) + b);
  *re = static_cast<int32_t>((common - static_cast<int64_t>(b) * (static_cast<int64_t>(c) + s) + kHalf) >> 31);
  *im = static_cast<int32_t>((common + static_cast<int64_t>(a) * (static_cast<int64_t>(s) - c) + kHalf) >> 31);
}

inline int16_t ClampPcm(int64_t v) {
  if (v > 32767) return 32767;
  if (v < -32767) return -32767;
  return static_cast<int16_t>(v);
}

// Output sample from an overlap-format value, rounded.
inline int16_t ToPcm(int64_t v) { return ClampPcm((v + (int64_t{1} << (kOverlapFracBits - 1))) >> kOverlapFracBits); }

// A power-table entry p >= 0 scaled by 2^shift for the inverse quantisation:
// saturated when shifted left, rounded when shifted right.
inline int32_t SmallDequant(int32_t p, int shift) {
  if (shift >= 31) return p > 0 ? INT32_MAX : 0;
  if (shift >= 0) {
    const int64_t w = static_cast<int64_t>(p) << shift;
    return w > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w);
  }
  return FxShrRound(p, -shift);
}

// Windowed value y x w (w in Q31) in the overlap format, for transform values
// that carry PCM x 2^bits. |y| < 2^31 and w < 2^31, so the product fits in
// 64 bits, and bits + 31 stays above kOverlapFracBits.
inline int64_t Window(int32_t y, int32_t w, int bits) {
  const int shift = 31 + bits - kOverlapFracBits;
  return (static_cast<int64_t>(y) * w + (int64_t{1} << (shift - 1))) >> shift;
}

}  // namespace heaac
