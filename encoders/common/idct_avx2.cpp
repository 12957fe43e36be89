// AVX2 variants of the inverse DCT with put or add, equal to the references
// in idct.cpp for every block on which the reference's 32-bit arithmetic does
// not overflow.
//
// The arithmetic is that of the SSE2 variants (idct_sse2.cpp): the products
// of the 16-bit inputs by the tangents are high halves of 16 x 16-bit
// products, the sums are kept in 32-bit lanes, and the one product of a
// 32-bit value, (t x 46340) >> 16, is split into t >> 15 and its low 15 bits.
// Here the eight 32-bit lanes of a pass are one register.
#include <immintrin.h>

#include "encoders/common/idct.h"
#include "encoders/common/transpose_sse2.h"

namespace venc {
namespace {

constexpr int16_t kT1 = 13036;
constexpr int16_t kT2 = 27145;
constexpr int16_t kT3Low = 43789 - 65536;
constexpr int32_t kHalfC4 = 23170;  // 46340 / 2

inline __m256i Widen(__m128i x) { return _mm256_cvtepi16_epi32(x); }
inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
inline __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
inline __m128i MulHi(__m128i x, int16_t c) { return _mm_mulhi_epi16(x, _mm_set1_epi16(c)); }

// (t x 46340) >> 16 = (t >> 15) x 23170 + ((t & 32767) x 23170) >> 15; both
// products come from _mm256_madd_epi16 on lanes whose high half is multiplied
// by 0.
inline __m256i MulC4(__m256i t) {
  const __m256i c = _mm256_set1_epi32(kHalfC4);
  const __m256i high = _mm256_madd_epi16(_mm256_srai_epi32(t, 15), c);
  const __m256i low = _mm256_madd_epi16(_mm256_and_si256(t, _mm256_set1_epi32(0x7fff)), c);
  return Add(high, _mm256_srli_epi32(low, 15));
}

// The reference's 8-point butterfly on eight lanes.
[[gnu::always_inline]] inline void Idct8(const __m128i x[8], __m256i y[8]) {
  const __m256i x0 = Widen(x[0]), x1 = Widen(x[1]), x2 = Widen(x[2]), x3 = Widen(x[3]);
  const __m256i x4 = Widen(x[4]), x5 = Widen(x[5]), x6 = Widen(x[6]), x7 = Widen(x[7]);
  const __m256i a0 = Add(x0, x4), a1 = Sub(x0, x4);
  const __m256i b0 = Add(x2, Widen(MulHi(x[6], kT2))), b1 = Sub(Widen(MulHi(x[2], kT2)), x6);
  const __m256i c0 = Add(x1, Widen(MulHi(x[7], kT1))), c1 = Sub(Widen(MulHi(x[1], kT1)), x7);
  const __m256i d0 = Add(x3, Add(x5, Widen(MulHi(x[5], kT3Low))));
  const __m256i d1 = Sub(x5, Add(x3, Widen(MulHi(x[3], kT3Low))));
  const __m256i e0 = MulC4(Sub(c0, d0)), e1 = MulC4(Sub(c1, d1));
  const __m256i ab0 = Add(a0, b0), ab0d = Sub(a0, b0), ab1 = Add(a1, b1), ab1d = Sub(a1, b1);
  const __m256i cd0 = Add(c0, d0), cd1 = Add(c1, d1), ee = Add(e0, e1), eed = Sub(e0, e1);
  y[0] = Add(ab0, cd0);
  y[7] = Sub(ab0, cd0);
  y[1] = Add(ab1, ee);
  y[6] = Sub(ab1, ee);
  y[2] = Add(ab1d, eed);
  y[5] = Sub(ab1d, eed);
  y[3] = Add(ab0d, cd1);
  y[4] = Sub(ab0d, cd1);
}

// Rows a and b as 16-bit lanes, row a in the low half: packed with signed
// saturation, lane order restored.
inline __m256i Pack2(__m256i a, __m256i b) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xd8); }

// The low 16 bits of each lane, as the reference's int16_t store keeps them.
inline __m256i Truncate16(__m256i v) { return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16); }

// (y + 32) >> 6; beyond 16 bits the clip to 0..255 gives the same pixel.
inline __m256i Descale(__m256i v) { return _mm256_srai_epi32(Add(v, _mm256_set1_epi32(32)), 6); }

// Two output rows (row a in the low half of `samples`) stored or added.
template <bool kAdd>
inline void StoreRows(uint8_t* dst, ptrdiff_t stride, __m256i samples) {
  if (kAdd) {
    const __m128i rows = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + stride)));
    samples = _mm256_adds_epi16(_mm256_cvtepu8_epi16(rows), samples);
  }
  const __m256i p = _mm256_packus_epi16(samples, samples);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(p));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm256_extracti128_si256(p, 1));
}

template <bool kAdd>
void IdctBlock_avx2(int16_t* block, int32_t last, uint8_t* dst, ptrdiff_t stride) {
  if (last < 8) {
    // One row: every output row is the row transform, descaled.
    IdctRow(block);
    const __m256i row = Descale(Widen(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block))));
    const __m256i samples = Pack2(row, row);
    for (int k = 0; k < 8; k += 2) StoreRows<kAdd>(dst + k * stride, stride, samples);
    return;
  }
  // Rows past the row of `last` take no part, as in the reference.
  const int rows = (last >> 3) + 1;
  __m128i r[8];
  for (int k = 0; k < 8; ++k)
    r[k] = k < rows ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k)) : _mm_setzero_si128();
  Transpose8x8Epi16(r);
  __m256i y[8];
  Idct8(r, y);
  for (int k = 0; k < 8; k += 2) {
    const __m256i pair = Pack2(Truncate16(y[k]), Truncate16(y[k + 1]));
    r[k] = _mm256_castsi256_si128(pair);
    r[k + 1] = _mm256_extracti128_si256(pair, 1);
  }
  Transpose8x8Epi16(r);
  Idct8(r, y);
  for (int k = 0; k < 8; k += 2) StoreRows<kAdd>(dst + k * stride, stride, Pack2(Descale(y[k]), Descale(y[k + 1])));
}

// Every level of the block at once, eight to a step in 32-bit lanes as the
// reference computes them; zero levels stay zero. All non-zero levels are
// taken, which is what the reference's `count` stops after.
void DequantiseInter_avx2(int16_t* block, int qp, int32_t /*count*/) {
  const __m256i q = _mm256_set1_epi32(qp);
  const __m256i even = _mm256_set1_epi32((qp & 1) == 0 ? 1 : 0);
  const __m256i round = _mm256_set1_epi32(2048);
  for (int k = 0; k < 64; k += 16) {
    // Sixteen zero levels stay zero (the lower rows of the reduced
    // transforms' blocks always are).
    const __m256i levels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + k));
    if (_mm256_testz_si256(levels, levels)) continue;
    __m256i out[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i level = Widen(h ? _mm256_extracti128_si256(levels, 1) : _mm256_castsi256_si128(levels));
      const __m256i scale = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kIdctScaleTable + k + 8 * h)));
      // (2 |level| + 1) qp - (qp even), with the level's sign.
      const __m256i mag = _mm256_abs_epi32(level);
      const __m256i f = Sub(_mm256_mullo_epi32(Add(Add(mag, mag), _mm256_set1_epi32(1)), q), even);
      const __m256i signed_f = _mm256_sign_epi32(f, level);  // 0 where the level is 0
      out[h] = _mm256_srai_epi32(Add(_mm256_mullo_epi32(signed_f, scale), round), 12);
    }
    // The low 16 bits of each, as the reference's int16_t store keeps them.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + k), Pack2(Truncate16(out[0]), Truncate16(out[1])));
  }
}

}  // namespace

void init_idct_dsp_avx2(IdctDsp& dsp) {
  dsp.put = IdctBlock_avx2<false>;
  dsp.add = IdctBlock_avx2<true>;
  dsp.dequantiseInter = DequantiseInter_avx2;
}

}  // namespace venc
