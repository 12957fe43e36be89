#pragma once
// The row and column passes of the forward DCT on eight 16-bit lanes, shared
// by the SSE2 and AVX2 variants (fdct_sse2.cpp, fdct_avx2.cpp). Over the
// kernels' input range (samples 0..255, residuals -255..255) every
// intermediate value of the reference fits 16 bits (the largest, the column
// DC and twice the column pass's cos(pi/4) operand, reach 32640), so 16-bit
// sums are exact, and each (x * t) >> 16 of the reference is the high half
// of a 16 x 16-bit product: _mm_mulhi_epi16 for the constants below 32768,
// and x + mulhi(x, t - 65536) for tan(3pi/16) x 65536 = 43789.
//
// Everything here has internal linkage: each file compiled for its own
// instruction set gets its own copy.

#include <emmintrin.h>

#include <cstdint>

#include "encoders/common/transpose_sse2.h"

namespace venc {
namespace {

constexpr int16_t kT1 = 13036;
constexpr int16_t kT2 = 27145;
constexpr int16_t kT3Low = 43789 - 65536;
constexpr int16_t kK = 23170;

inline __m128i MulHi(__m128i x, int16_t c) { return _mm_mulhi_epi16(x, _mm_set1_epi16(c)); }
// (x * 43789) >> 16.
inline __m128i MulT3(__m128i x) { return _mm_add_epi16(x, MulHi(x, kT3Low)); }
inline __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }

// The reference's row pass with one row per lane: x[k] holds sample k of
// each row and becomes coefficient k.
// Only the first kKeep coefficients of each row are made (the reduced
// transforms keep fewer columns); the others are left 0.
template <int kKeep>
[[gnu::always_inline]] inline void RowPass(__m128i x[8]) {
  const __m128i s07 = Add(x[0], x[7]), d07 = Sub(x[0], x[7]);
  const __m128i s16 = Add(x[1], x[6]), d16 = Sub(x[1], x[6]);
  const __m128i s25 = Add(x[2], x[5]), d25 = Sub(x[2], x[5]);
  const __m128i s34 = Add(x[3], x[4]), d34 = Sub(x[3], x[4]);
  const __m128i t0 = Add(s07, s34), t1 = Add(s16, s25);
  const __m128i a = _mm_slli_epi16(Sub(s07, s34), 1), b = _mm_slli_epi16(Sub(s16, s25), 1);
  // (2 d16 K -+ d25 2K) >> 15 = (4 (d16 -+ d25) x K) >> 16.
  const __m128i f = MulHi(_mm_slli_epi16(Sub(d16, d25), 2), kK);
  const __m128i h = MulHi(_mm_slli_epi16(Add(d16, d25), 2), kK);
  const __m128i g = _mm_slli_epi16(d34, 1), e = _mm_slli_epi16(d07, 1);
  const __m128i eh = Add(e, h), gf = Add(g, f), ehd = Sub(e, h), gfd = Sub(g, f);
  const __m128i zero = _mm_setzero_si128();
  x[0] = _mm_slli_epi16(Add(t0, t1), 1);
  x[4] = kKeep > 4 ? _mm_slli_epi16(Sub(t0, t1), 1) : zero;
  x[2] = kKeep > 2 ? Add(a, MulHi(b, kT2)) : zero;
  x[6] = kKeep > 6 ? Sub(MulHi(a, kT2), b) : zero;
  x[1] = Add(eh, MulHi(gf, kT1));
  x[7] = kKeep > 7 ? Sub(MulHi(eh, kT1), gf) : zero;
  x[5] = kKeep > 5 ? Add(gfd, MulT3(ehd)) : zero;
  x[3] = kKeep > 3 ? Sub(ehd, MulT3(gfd)) : zero;
}

// The reference's column pass, one column per lane: r[k] holds row k and
// becomes the coefficients of vertical frequency k.
[[gnu::always_inline]] inline void ColumnPass(__m128i r[8]) {
  const __m128i u = Add(r[0], r[7]), v = Add(r[3], r[4]), w = Add(r[1], r[6]), A = Add(r[2], r[5]);
  const __m128i p = Sub(r[0], r[7]), q = Sub(r[3], r[4]);
  // (X K) >> 15 = (2X K) >> 16.
  const __m128i C = MulHi(_mm_slli_epi16(Sub(Sub(Add(r[1], r[5]), r[6]), r[2]), 1), kK);
  const __m128i D = MulHi(_mm_slli_epi16(Sub(Sub(Add(r[1], r[2]), r[6]), r[5]), 1), kK);
  const __m128i uv = Add(u, v), wa = Add(w, A), uvd = Sub(u, v), wad = Sub(w, A);
  const __m128i pd = Add(p, D), qc = Add(q, C), pdd = Sub(p, D), qcd = Sub(q, C);
  r[0] = Add(uv, wa);
  r[4] = Sub(uv, wa);
  r[2] = Add(uvd, MulHi(wad, kT2));
  r[6] = Sub(MulHi(uvd, kT2), wad);
  r[1] = Add(pd, MulHi(qc, kT1));
  r[7] = Sub(Sub(MulHi(pd, kT1), q), C);
  r[3] = Sub(pdd, MulT3(qcd));
  r[5] = Sub(Add(q, MulT3(pdd)), C);
}

// Loads the block and runs both passes: r[k] holds the coefficients of
// vertical frequency k, lane j horizontal frequency j (those from N on 0).
template <int N>
[[gnu::always_inline]] inline void ForwardTransform(const int16_t* block, __m128i r[8]) {
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  Transpose8x8Epi16(r);
  RowPass<N>(r);
  Transpose8x8Epi16(r);
  ColumnPass(r);
}

}  // namespace
}  // namespace venc
