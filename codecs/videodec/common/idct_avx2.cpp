// AVX2 variants of the inverse transform with put and add, equal to the
// references in idct.cpp for every block of 16-bit coefficients, hostile ones
// included.
//
// The arithmetic is that of the SSE2 variants (idct_sse2.cpp): each pass runs
// eight rows (then eight columns) at once in 32-bit lanes, every product of
// the reference formed exactly, with one _mm256_madd_epi16 where the lane
// holds a 16-bit value and as (a >> 15) x k x 2^15 + (a & 32767) x k where it
// may not. Here the eight lanes are one register, and the coefficients are
// transposed while still 16 bits wide, so the row pass needs no 32-bit
// transpose in front of it.
#include <immintrin.h>

#include "codecs/videodec/common/idct.h"

namespace videodec {
namespace {

constexpr int32_t kTan1 = 13036;  // tan(pi/16) x 65536
constexpr int32_t kTan2 = 27145;  // tan(pi/8) x 65536
constexpr int32_t kTan3 = 21894;  // tan(3pi/16) x 32768
constexpr int32_t kCos4 = 23170;  // cos(pi/4) x 32768

inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
inline __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }

// a x k as A x 2^15 + B.
inline void Split(__m256i a, __m256i k, __m256i* A, __m256i* B) {
  *A = _mm256_madd_epi16(_mm256_srai_epi32(a, 15), k);
  *B = _mm256_madd_epi16(_mm256_and_si256(a, _mm256_set1_epi32(0x7fff)), k);
}

// (a x k + 2^15) >> 16 = (A >> 1) + (((A & 1) << 15) + B + 2^15) >> 16.
inline __m256i M16(__m256i a, int32_t k) {
  __m256i A, B;
  Split(a, _mm256_set1_epi32(k), &A, &B);
  const __m256i odd = _mm256_slli_epi32(_mm256_and_si256(A, _mm256_set1_epi32(1)), 15);
  const __m256i low = Add(Add(odd, B), _mm256_set1_epi32(32768));
  return Add(_mm256_srai_epi32(A, 1), _mm256_srai_epi32(low, 16));
}

// (a x k + 2^14) >> 15 = A + (B + 2^14) >> 15.
inline __m256i M15(__m256i a, int32_t k) {
  __m256i A, B;
  Split(a, _mm256_set1_epi32(k), &A, &B);
  return Add(A, _mm256_srai_epi32(Add(B, _mm256_set1_epi32(16384)), 15));
}

// The same products for lanes known to hold 16-bit values: one madd each.
inline __m256i M16Narrow(__m256i a, int32_t k) {
  return _mm256_srai_epi32(Add(_mm256_madd_epi16(a, _mm256_set1_epi32(k)), _mm256_set1_epi32(32768)), 16);
}
inline __m256i M15Narrow(__m256i a, int32_t k) {
  return _mm256_srai_epi32(Add(_mm256_madd_epi16(a, _mm256_set1_epi32(k)), _mm256_set1_epi32(16384)), 15);
}

// How wide the inputs x[1..7] of a butterfly are.
enum Width {
  kWide,    // anything: every product in the split form
  kNarrow,  // 16 bits: one madd for each product of an input; p - r and q - s
            // may not fit 16 bits and take the split form
  kSmall,   // -8192..8191: |p - r| and |q - s| stay below 2.87 x 8192, so
            // their products take one madd too
};

// The reference's butterfly on eight lanes (x[0] already biased). With kHalf
// the inputs x[4..7] are zero and left out (the reference's products of 0 are
// 0, its sums unchanged).
template <Width kWidth, bool kHalf>
[[gnu::always_inline]] inline void Butterfly(const __m256i x[8], __m256i y[8]) {
  auto m16 = [](__m256i a, int32_t k) { return kWidth != kWide ? M16Narrow(a, k) : M16(a, k); };
  auto m15 = [](__m256i a, int32_t k) { return kWidth != kWide ? M15Narrow(a, k) : M15(a, k); };
  auto m15d = [](__m256i a, int32_t k) { return kWidth == kSmall ? M15Narrow(a, k) : M15(a, k); };
  __m256i p, q, r, s, a, b, sum04, diff04;
  if constexpr (kHalf) {
    p = x[1];
    q = m16(x[1], kTan1);
    r = x[3];
    s = Sub(_mm256_setzero_si256(), m15(x[3], kTan3));
    a = x[2];
    b = m16(x[2], kTan2);
    sum04 = diff04 = x[0];
  } else {
    p = Add(x[1], m16(x[7], kTan1));
    q = Sub(m16(x[1], kTan1), x[7]);
    r = Add(x[3], m15(x[5], kTan3));
    s = Sub(x[5], m15(x[3], kTan3));
    a = Add(x[2], m16(x[6], kTan2));
    b = Sub(m16(x[2], kTan2), x[6]);
    sum04 = Add(x[0], x[4]);
    diff04 = Sub(x[0], x[4]);
  }
  const __m256i e = Add(p, r);
  const __m256i f = Add(q, s);
  const __m256i g = m15d(Sub(p, r), kCos4);
  const __m256i h = m15d(Sub(q, s), kCos4);
  const __m256i c0 = Add(sum04, a);
  const __m256i c3 = Sub(sum04, a);
  const __m256i c1 = Add(diff04, b);
  const __m256i c2 = Sub(diff04, b);
  const __m256i gh = Add(g, h), ghd = Sub(g, h);
  y[0] = Add(c0, e);
  y[7] = Sub(c0, e);
  y[3] = Add(c3, f);
  y[4] = Sub(c3, f);
  y[1] = Add(c1, gh);
  y[6] = Sub(c1, gh);
  y[2] = Add(c2, ghd);
  y[5] = Sub(c2, ghd);
}

// The width of t[1..7] (t[0] is never multiplied).
inline Width WidthOf(const __m256i t[8]) {
  __m256i acc = _mm256_setzero_si256();
  for (int k = 1; k < 8; ++k) acc = _mm256_or_si256(acc, _mm256_xor_si256(t[k], _mm256_srai_epi32(t[k], 31)));
  if (_mm256_testz_si256(acc, _mm256_set1_epi32(~0x1fff))) return kSmall;
  return _mm256_testz_si256(acc, _mm256_set1_epi32(~0x7fff)) ? kNarrow : kWide;
}

// The butterfly for the width found (kWidth: the widest that can occur),
// with x[4..7] left out when `half`.
template <Width kWidth>
[[gnu::always_inline]] inline void ButterflyOf(Width width, bool half, const __m256i x[8], __m256i y[8]) {
  if (half) {
    switch (width) {
      case kSmall: Butterfly<kSmall, true>(x, y); break;
      case kNarrow: Butterfly<kNarrow, true>(x, y); break;
      default: Butterfly<kWidth, true>(x, y); break;
    }
    return;
  }
  switch (width) {
    case kSmall: Butterfly<kSmall, false>(x, y); break;
    case kNarrow: Butterfly<kNarrow, false>(x, y); break;
    default: Butterfly<kWidth, false>(x, y); break;
  }
}

// v[k] lane j -> v[j] lane k, eight by eight 32-bit lanes.
[[gnu::always_inline]] inline void Transpose8x8(__m256i v[8]) {
  const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]), t1 = _mm256_unpackhi_epi32(v[0], v[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]), t3 = _mm256_unpackhi_epi32(v[2], v[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]), t5 = _mm256_unpackhi_epi32(v[4], v[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]), t7 = _mm256_unpackhi_epi32(v[6], v[7]);
  const __m256i s0 = _mm256_unpacklo_epi64(t0, t2), s1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i s2 = _mm256_unpacklo_epi64(t1, t3), s3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i s4 = _mm256_unpacklo_epi64(t4, t6), s5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i s6 = _mm256_unpacklo_epi64(t5, t7), s7 = _mm256_unpackhi_epi64(t5, t7);
  v[0] = _mm256_permute2x128_si256(s0, s4, 0x20);
  v[1] = _mm256_permute2x128_si256(s1, s5, 0x20);
  v[2] = _mm256_permute2x128_si256(s2, s6, 0x20);
  v[3] = _mm256_permute2x128_si256(s3, s7, 0x20);
  v[4] = _mm256_permute2x128_si256(s0, s4, 0x31);
  v[5] = _mm256_permute2x128_si256(s1, s5, 0x31);
  v[6] = _mm256_permute2x128_si256(s2, s6, 0x31);
  v[7] = _mm256_permute2x128_si256(s3, s7, 0x31);
}

// Rows then columns of the reference; out[r] holds output row r before >> 6.
[[gnu::always_inline]] inline void Transform(const int16_t* block, __m256i out[8]) {
  __m128i r[8];
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  // The 16-bit transpose: c[k] lane r is coefficient k of row r.
  const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
  const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
  const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
  const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
  __m256i x[8];
  x[0] = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(u0, u4));
  x[1] = _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(u0, u4));
  x[2] = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(u1, u5));
  x[3] = _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(u1, u5));
  x[4] = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(u2, u6));
  x[5] = _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(u2, u6));
  x[6] = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(u3, u7));
  x[7] = _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(u3, u7));
  // Columns 4..7 all zero leave x[4..7] zero in the row pass; rows 4..7 all
  // zero leave tmp's rows 4..7, the column pass's x[4..7], zero.
  const __m128i bottom = _mm_or_si128(_mm_or_si128(r[4], r[5]), _mm_or_si128(r[6], r[7]));
  const __m128i all = _mm_or_si128(_mm_or_si128(_mm_or_si128(r[0], r[1]), _mm_or_si128(r[2], r[3])), bottom);
  const bool right_zero = (_mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_setzero_si128())) >> 8) == 0xff;
  const bool bottom_zero = _mm_testz_si128(bottom, bottom) != 0;
  __m256i t[8];
  ButterflyOf<kNarrow>(WidthOf(x), right_zero, x, t);  // t[k] lane r: tmp[r][k]
  Transpose8x8(t);                                     // t[r] lane c
  t[0] = Add(t[0], _mm256_set1_epi32(32));
  ButterflyOf<kWide>(WidthOf(t), bottom_zero, t, out);
}

// Rows r and r + 1 >> 6, saturated to 16 bits (beyond that range the clip to
// 0..255 gives the same sample): row r in the low half, r + 1 in the high.
inline __m256i Descale2(__m256i a, __m256i b) {
  const __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(a, 6), _mm256_srai_epi32(b, 6));
  return _mm256_permute4x64_epi64(v, 0xd8);
}

inline void Store2(uint8_t* dst, ptrdiff_t stride, __m256i v) {
  const __m256i p = _mm256_packus_epi16(v, v);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(p));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm256_extracti128_si256(p, 1));
}

void IdctPut_avx2(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  __m256i out[8];
  Transform(block, out);
  for (int r = 0; r < 8; r += 2, dst += 2 * stride) Store2(dst, stride, Descale2(out[r], out[r + 1]));
}

void IdctAdd_avx2(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  __m256i out[8];
  Transform(block, out);
  for (int r = 0; r < 8; r += 2, dst += 2 * stride) {
    const __m128i rows = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + stride)));
    Store2(dst, stride, _mm256_adds_epi16(_mm256_cvtepu8_epi16(rows), Descale2(out[r], out[r + 1])));
  }
}

}  // namespace

void init_idct_dsp_avx2(IdctDsp& dsp) {
  dsp.idct_put = IdctPut_avx2;
  dsp.idct_add = IdctAdd_avx2;
}

}  // namespace videodec
