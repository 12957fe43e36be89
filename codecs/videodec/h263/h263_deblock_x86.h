#pragma once
// The sample moves shared by the SSE2 and AVX2 Annex J edge filters
// (h263_deblock_sse2.cpp, h263_deblock_avx2.cpp): the lines of an edge loaded
// as four byte vectors A, B, C, D (line i in byte i) and stored back. Internal
// linkage: each file compiled for its own instruction set gets its own copy.

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace videodec {
namespace {

template <int kLines>
inline __m128i LoadLines(const uint8_t* p) {
  if (kLines == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int kLines>
inline void StoreLines(uint8_t* p, __m128i v) {
  if (kLines == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

// A horizontal edge: the rows p - 2 stride .. p + stride.
template <int kLines>
inline void LoadHorizontal(const uint8_t* p, ptrdiff_t stride, __m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  a = LoadLines<kLines>(p - 2 * stride);
  b = LoadLines<kLines>(p - stride);
  c = LoadLines<kLines>(p);
  d = LoadLines<kLines>(p + stride);
}

template <int kLines>
inline void StoreHorizontal(uint8_t* p, ptrdiff_t stride, __m128i a, __m128i b, __m128i c, __m128i d) {
  StoreLines<kLines>(p - 2 * stride, a);
  StoreLines<kLines>(p - stride, b);
  StoreLines<kLines>(p, c);
  StoreLines<kLines>(p + stride, d);
}

inline __m128i Load4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

inline void Store4(uint8_t* p, __m128i v) {
  const int32_t w = _mm_cvtsi128_si32(v);
  std::memcpy(p, &w, 4);
}

// A vertical edge: the four samples p[r * stride - 2 .. + 1] of each row r,
// transposed into A, B, C, D.
template <int kLines>
inline void LoadVertical(const uint8_t* p, ptrdiff_t stride, __m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  // Four rows per vector.
  __m128i rows[4];
  for (int g = 0; g < 4; ++g) {
    if (g * 4 >= kLines) {
      rows[g] = _mm_setzero_si128();
      continue;
    }
    const uint8_t* q = p + 4 * g * stride - 2;
    rows[g] = _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load4(q), Load4(q + stride)),
                                 _mm_unpacklo_epi32(Load4(q + 2 * stride), Load4(q + 3 * stride)));
  }
  // Byte transpose: A, B, C, D of lines 0..15.
  const __m128i t0 = _mm_unpacklo_epi8(rows[0], rows[1]), t1 = _mm_unpackhi_epi8(rows[0], rows[1]);
  const __m128i t2 = _mm_unpacklo_epi8(rows[2], rows[3]), t3 = _mm_unpackhi_epi8(rows[2], rows[3]);
  const __m128i u0 = _mm_unpacklo_epi8(t0, t1), u1 = _mm_unpackhi_epi8(t0, t1);
  const __m128i u2 = _mm_unpacklo_epi8(t2, t3), u3 = _mm_unpackhi_epi8(t2, t3);
  const __m128i w0 = _mm_unpacklo_epi8(u0, u1), w1 = _mm_unpackhi_epi8(u0, u1);
  const __m128i w2 = _mm_unpacklo_epi8(u2, u3), w3 = _mm_unpackhi_epi8(u2, u3);
  a = _mm_unpacklo_epi64(w0, w2);
  b = _mm_unpackhi_epi64(w0, w2);
  c = _mm_unpacklo_epi64(w1, w3);
  d = _mm_unpackhi_epi64(w1, w3);
}

template <int kLines>
inline void StoreVertical(uint8_t* p, ptrdiff_t stride, __m128i a, __m128i b, __m128i c, __m128i d) {
  // Back to rows of four samples.
  const __m128i ab0 = _mm_unpacklo_epi8(a, b), ab1 = _mm_unpackhi_epi8(a, b);
  const __m128i cd0 = _mm_unpacklo_epi8(c, d), cd1 = _mm_unpackhi_epi8(c, d);
  __m128i out[4] = {_mm_unpacklo_epi16(ab0, cd0), _mm_unpackhi_epi16(ab0, cd0), _mm_unpacklo_epi16(ab1, cd1),
                    _mm_unpackhi_epi16(ab1, cd1)};
  for (int r = 0; r < kLines; ++r) {
    Store4(p + r * stride - 2, out[r / 4]);
    out[r / 4] = _mm_srli_si128(out[r / 4], 4);
  }
}

}  // namespace
}  // namespace videodec
