// SSE2 variants of the inverse DCT with put or add, equal to the references
// in idct.cpp for every block on which the reference's 32-bit arithmetic does
// not overflow.
//
// Each pass runs eight rows (then eight columns) at once. The products of the
// 16-bit inputs by the tangents are the high halves of 16 x 16-bit products
// (tan(3pi/16) x 65536 = 43789 as x + mulhi(x, 43789 - 65536)); the sums are
// kept in 32-bit lanes, as the reference keeps them. The one product of a
// 32-bit value, (t x 46340) >> 16, splits t into t >> 15 and its low 15 bits.
#include <emmintrin.h>

#include "encoders/common/idct.h"
#include "encoders/common/transpose_sse2.h"

namespace venc {
namespace {

constexpr int16_t kT1 = 13036;
constexpr int16_t kT2 = 27145;
constexpr int16_t kT3Low = 43789 - 65536;
constexpr int32_t kHalfC4 = 23170;  // 46340 / 2

// Eight 32-bit lanes.
struct Wide {
  __m128i lo, hi;
};

inline Wide Widen(__m128i x) {
  return Wide{_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16), _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16)};
}
inline Wide operator+(Wide a, Wide b) { return Wide{_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
inline Wide operator-(Wide a, Wide b) { return Wide{_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
inline __m128i MulHi(__m128i x, int16_t c) { return _mm_mulhi_epi16(x, _mm_set1_epi16(c)); }

// (t x 46340) >> 16 = (t >> 15) x 23170 + ((t & 32767) x 23170) >> 15; both
// products come from _mm_madd_epi16 on lanes whose high half is multiplied by 0.
inline __m128i MulC4(__m128i t) {
  const __m128i c = _mm_set1_epi32(kHalfC4);
  const __m128i high = _mm_madd_epi16(_mm_srai_epi32(t, 15), c);
  const __m128i low = _mm_madd_epi16(_mm_and_si128(t, _mm_set1_epi32(0x7fff)), c);
  return _mm_add_epi32(high, _mm_srli_epi32(low, 15));
}
inline Wide MulC4(Wide t) { return Wide{MulC4(t.lo), MulC4(t.hi)}; }

// The reference's 8-point butterfly on eight lanes.
[[gnu::always_inline]] inline void Idct8(const __m128i x[8], Wide y[8]) {
  const Wide x0 = Widen(x[0]), x1 = Widen(x[1]), x2 = Widen(x[2]), x3 = Widen(x[3]);
  const Wide x4 = Widen(x[4]), x5 = Widen(x[5]), x6 = Widen(x[6]), x7 = Widen(x[7]);
  const Wide a0 = x0 + x4, a1 = x0 - x4;
  const Wide b0 = x2 + Widen(MulHi(x[6], kT2)), b1 = Widen(MulHi(x[2], kT2)) - x6;
  const Wide c0 = x1 + Widen(MulHi(x[7], kT1)), c1 = Widen(MulHi(x[1], kT1)) - x7;
  const Wide d0 = x3 + (x5 + Widen(MulHi(x[5], kT3Low)));
  const Wide d1 = x5 - (x3 + Widen(MulHi(x[3], kT3Low)));
  const Wide e0 = MulC4(c0 - d0), e1 = MulC4(c1 - d1);
  const Wide ab0 = a0 + b0, ab0d = a0 - b0, ab1 = a1 + b1, ab1d = a1 - b1;
  const Wide cd0 = c0 + d0, cd1 = c1 + d1, ee = e0 + e1, eed = e0 - e1;
  y[0] = ab0 + cd0;
  y[7] = ab0 - cd0;
  y[1] = ab1 + ee;
  y[6] = ab1 - ee;
  y[2] = ab1d + eed;
  y[5] = ab1d - eed;
  y[3] = ab0d + cd1;
  y[4] = ab0d - cd1;
}

// The low 16 bits of each lane, as the reference's int16_t store keeps them.
inline __m128i Truncate16(Wide v) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(v.lo, 16), 16), _mm_srai_epi32(_mm_slli_epi32(v.hi, 16), 16));
}

// (y + 32) >> 6, saturated to 16 bits: beyond that range the clip to 0..255
// gives the same pixel.
inline __m128i Descale(Wide v) {
  const __m128i r = _mm_set1_epi32(32);
  return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(v.lo, r), 6), _mm_srai_epi32(_mm_add_epi32(v.hi, r), 6));
}

template <bool kAdd>
inline void StoreRow(uint8_t* dst, __m128i sample) {
  if (kAdd) {
    const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), _mm_setzero_si128());
    sample = _mm_adds_epi16(d, sample);
  }
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(sample, sample));
}

template <bool kAdd>
void IdctBlock_sse2(int16_t* block, int32_t last, uint8_t* dst, ptrdiff_t stride) {
  if (last < 8) {
    // One row: every output row is the row transform, descaled.
    IdctRow(block);
    const Wide row = Widen(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block)));
    const __m128i sample = Descale(row);
    for (int k = 0; k < 8; ++k) StoreRow<kAdd>(dst + k * stride, sample);
    return;
  }
  // Rows past the row of `last` take no part, as in the reference.
  const int rows = (last >> 3) + 1;
  __m128i r[8];
  for (int k = 0; k < 8; ++k)
    r[k] = k < rows ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k)) : _mm_setzero_si128();
  Transpose8x8Epi16(r);
  Wide y[8];
  Idct8(r, y);
  for (int k = 0; k < 8; ++k) r[k] = Truncate16(y[k]);
  Transpose8x8Epi16(r);
  Idct8(r, y);
  for (int k = 0; k < 8; ++k) StoreRow<kAdd>(dst + k * stride, Descale(y[k]));
}

}  // namespace

void init_idct_dsp_sse2(IdctDsp& dsp) {
  dsp.put = IdctBlock_sse2<false>;
  dsp.add = IdctBlock_sse2<true>;
}

}  // namespace venc
