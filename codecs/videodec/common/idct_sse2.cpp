// SSE2 variants of the inverse transform with put and add, equal to the
// references in idct.cpp for every block of 16-bit coefficients, hostile ones
// included.
//
// Each pass runs eight rows (then eight columns) at once in 32-bit lanes, as
// the reference keeps its sums. From 16-bit coefficients the row pass's values
// stay below 2^18 and the column pass's below 2^23, so every product a x k of
// the reference (64-bit there) is formed exactly as (a >> 15) x k x 2^15 +
// (a & 32767) x k, both halves by _mm_madd_epi16 on lanes whose high half is
// multiplied by 0, and rounded and shifted as the reference does. Lanes that
// hold 16-bit values (the row pass's inputs, and the column pass's whenever
// they fit) take one _mm_madd_epi16 per product.
#include <emmintrin.h>

#include "codecs/videodec/common/idct.h"

namespace videodec {
namespace {

constexpr int32_t kTan1 = 13036;  // tan(pi/16) x 65536
constexpr int32_t kTan2 = 27145;  // tan(pi/8) x 65536
constexpr int32_t kTan3 = 21894;  // tan(3pi/16) x 32768
constexpr int32_t kCos4 = 23170;  // cos(pi/4) x 32768

// Eight 32-bit lanes.
struct Wide {
  __m128i lo, hi;
};

inline Wide operator+(Wide a, Wide b) { return Wide{_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
inline Wide operator-(Wide a, Wide b) { return Wide{_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }

// a x k as A x 2^15 + B.
inline void Split(__m128i a, __m128i k, __m128i* A, __m128i* B) {
  *A = _mm_madd_epi16(_mm_srai_epi32(a, 15), k);
  *B = _mm_madd_epi16(_mm_and_si128(a, _mm_set1_epi32(0x7fff)), k);
}

// (a x k + 2^15) >> 16 = (A >> 1) + (((A & 1) << 15) + B + 2^15) >> 16.
inline __m128i M16(__m128i a, int32_t k) {
  __m128i A, B;
  Split(a, _mm_set1_epi32(k), &A, &B);
  const __m128i odd = _mm_slli_epi32(_mm_and_si128(A, _mm_set1_epi32(1)), 15);
  const __m128i low = _mm_add_epi32(_mm_add_epi32(odd, B), _mm_set1_epi32(32768));
  return _mm_add_epi32(_mm_srai_epi32(A, 1), _mm_srai_epi32(low, 16));
}
inline Wide M16(Wide a, int32_t k) { return Wide{M16(a.lo, k), M16(a.hi, k)}; }

// (a x k + 2^14) >> 15 = A + (B + 2^14) >> 15.
inline __m128i M15(__m128i a, int32_t k) {
  __m128i A, B;
  Split(a, _mm_set1_epi32(k), &A, &B);
  return _mm_add_epi32(A, _mm_srai_epi32(_mm_add_epi32(B, _mm_set1_epi32(16384)), 15));
}
inline Wide M15(Wide a, int32_t k) { return Wide{M15(a.lo, k), M15(a.hi, k)}; }

// The same products for lanes known to hold 16-bit values: one madd each.
inline __m128i M16Narrow(__m128i a, int32_t k) {
  return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(a, _mm_set1_epi32(k)), _mm_set1_epi32(32768)), 16);
}
inline Wide M16Narrow(Wide a, int32_t k) { return Wide{M16Narrow(a.lo, k), M16Narrow(a.hi, k)}; }
inline __m128i M15Narrow(__m128i a, int32_t k) {
  return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(a, _mm_set1_epi32(k)), _mm_set1_epi32(16384)), 15);
}
inline Wide M15Narrow(Wide a, int32_t k) { return Wide{M15Narrow(a.lo, k), M15Narrow(a.hi, k)}; }

// The reference's butterfly on eight lanes (x[0] already biased). With
// kNarrow every x[k] fits 16 bits, so its products need no split; p - r and
// q - s may not, and always take the split form.
template <bool kNarrow>
[[gnu::always_inline]] inline void Butterfly(const Wide x[8], Wide y[8]) {
  auto m16 = [](Wide a, int32_t k) { return kNarrow ? M16Narrow(a, k) : M16(a, k); };
  auto m15 = [](Wide a, int32_t k) { return kNarrow ? M15Narrow(a, k) : M15(a, k); };
  const Wide p = x[1] + m16(x[7], kTan1);
  const Wide q = m16(x[1], kTan1) - x[7];
  const Wide r = x[3] + m15(x[5], kTan3);
  const Wide s = x[5] - m15(x[3], kTan3);
  const Wide e = p + r;
  const Wide f = q + s;
  const Wide g = M15(p - r, kCos4);
  const Wide h = M15(q - s, kCos4);
  const Wide a = x[2] + m16(x[6], kTan2);
  const Wide b = m16(x[2], kTan2) - x[6];
  const Wide c0 = x[0] + x[4] + a;
  const Wide c3 = x[0] + x[4] - a;
  const Wide c1 = x[0] - x[4] + b;
  const Wide c2 = x[0] - x[4] - b;
  const Wide gh = g + h, ghd = g - h;
  y[0] = c0 + e;
  y[7] = c0 - e;
  y[3] = c3 + f;
  y[4] = c3 - f;
  y[1] = c1 + gh;
  y[6] = c1 - gh;
  y[2] = c2 + ghd;
  y[5] = c2 - ghd;
}

// True when every lane of t[1..7] fits 16 bits (t[0] is never multiplied).
inline bool Narrow(const Wide t[8]) {
  __m128i acc = _mm_setzero_si128();
  for (int k = 1; k < 8; ++k) {
    acc = _mm_or_si128(acc, _mm_xor_si128(t[k].lo, _mm_srai_epi32(t[k].lo, 31)));
    acc = _mm_or_si128(acc, _mm_xor_si128(t[k].hi, _mm_srai_epi32(t[k].hi, 31)));
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(acc, 15), _mm_setzero_si128())) == 0xffff;
}

inline void Transpose4x4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
  const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
  a = _mm_unpacklo_epi64(t0, t1);
  b = _mm_unpackhi_epi64(t0, t1);
  c = _mm_unpacklo_epi64(t2, t3);
  d = _mm_unpackhi_epi64(t2, t3);
}

// v[k] lane j -> v[j] lane k, eight by eight 32-bit lanes.
[[gnu::always_inline]] inline void Transpose8x8(Wide v[8]) {
  Transpose4x4(v[0].lo, v[1].lo, v[2].lo, v[3].lo);
  Transpose4x4(v[4].hi, v[5].hi, v[6].hi, v[7].hi);
  Transpose4x4(v[0].hi, v[1].hi, v[2].hi, v[3].hi);
  Transpose4x4(v[4].lo, v[5].lo, v[6].lo, v[7].lo);
  for (int k = 0; k < 4; ++k) {
    const __m128i t = v[k].hi;
    v[k].hi = v[k + 4].lo;
    v[k + 4].lo = t;
  }
}

// Rows then columns of the reference; out[r] holds output row r before >> 6.
[[gnu::always_inline]] inline void Transform(const int16_t* block, Wide out[8]) {
  Wide x[8];
  for (int k = 0; k < 8; ++k) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
    x[k] = Wide{_mm_srai_epi32(_mm_unpacklo_epi16(row, row), 16), _mm_srai_epi32(_mm_unpackhi_epi16(row, row), 16)};
  }
  Transpose8x8(x);  // x[k] lane r: coefficient k of row r
  Wide t[8];
  Butterfly<true>(x, t);  // t[k] lane r: tmp[r][k]
  Transpose8x8(t);        // t[r] lane c
  const __m128i bias = _mm_set1_epi32(32);
  t[0] = Wide{_mm_add_epi32(t[0].lo, bias), _mm_add_epi32(t[0].hi, bias)};
  if (Narrow(t)) {
    Butterfly<true>(t, out);
  } else {
    Butterfly<false>(t, out);
  }
}

// out >> 6, saturated to 16 bits: beyond that range the clip to 0..255
// gives the same sample.
inline __m128i Descale(Wide v) { return _mm_packs_epi32(_mm_srai_epi32(v.lo, 6), _mm_srai_epi32(v.hi, 6)); }

void IdctPut_sse2(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  Wide out[8];
  Transform(block, out);
  for (int r = 0; r < 8; ++r, dst += stride) {
    const __m128i v = Descale(out[r]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
  }
}

void IdctAdd_sse2(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  Wide out[8];
  Transform(block, out);
  const __m128i zero = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r, dst += stride) {
    const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), zero);
    const __m128i v = _mm_adds_epi16(d, Descale(out[r]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
  }
}

}  // namespace

void init_idct_dsp_sse2(IdctDsp& dsp) {
  dsp.idct_put = IdctPut_sse2;
  dsp.idct_add = IdctAdd_sse2;
}

}  // namespace videodec
