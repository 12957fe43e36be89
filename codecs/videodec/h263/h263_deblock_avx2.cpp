// AVX2 variants of the Annex J edge filter, equal to the references: the
// steps of the SSE2 variants (h263_deblock_sse2.cpp), with the sixteen lines
// of a luma edge in one register of 16-bit lanes and the eight lines of a
// chroma edge in one of eight, so no lane is filtered for nothing.
#include <immintrin.h>

#include "codecs/videodec/h263/h263_deblock_dsp.h"
#include "codecs/videodec/h263/h263_deblock_x86.h"

namespace videodec {
namespace {

// The lane operations on both register widths.
inline __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
inline __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
inline __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
inline __m128i Min(__m128i a, __m128i b) { return _mm_min_epi16(a, b); }
inline __m256i Min(__m256i a, __m256i b) { return _mm256_min_epi16(a, b); }
inline __m128i Max(__m128i a, __m128i b) { return _mm_max_epi16(a, b); }
inline __m256i Max(__m256i a, __m256i b) { return _mm256_max_epi16(a, b); }
inline __m128i Abs(__m128i a) { return _mm_abs_epi16(a); }
inline __m256i Abs(__m256i a) { return _mm256_abs_epi16(a); }
inline __m128i Sign(__m128i magnitude, __m128i of) { return _mm_sign_epi16(magnitude, of); }
inline __m256i Sign(__m256i magnitude, __m256i of) { return _mm256_sign_epi16(magnitude, of); }
template <int kShift> inline __m128i Sra(__m128i a) { return _mm_srai_epi16(a, kShift); }
template <int kShift> inline __m256i Sra(__m256i a) { return _mm256_srai_epi16(a, kShift); }
template <int kShift> inline __m128i Sll(__m128i a) { return _mm_slli_epi16(a, kShift); }
template <int kShift> inline __m256i Sll(__m256i a) { return _mm256_slli_epi16(a, kShift); }
inline __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
inline __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
template <typename V> V Splat(int16_t v);
template <> inline __m128i Splat<__m128i>(int16_t v) { return _mm_set1_epi16(v); }
template <> inline __m256i Splat<__m256i>(int16_t v) { return _mm256_set1_epi16(v); }

// x / 2^n truncated toward zero.
template <int kShift, typename V>
inline V DivTrunc(V x) {
  return Sra<kShift>(Add(x, And(Sra<15>(x), Splat<V>((1 << kShift) - 1))));
}

// Every line at once, 16-bit samples in; the four filtered samples out (not
// yet clipped). delta is 0 where d1 is 0, so the sign taken from delta gives
// d1 its sign.
template <typename V>
inline void Filter(V& a, V& b, V& c, V& d, int strength) {
  const V zero = Splat<V>(0);
  const V delta = DivTrunc<3>(Sub(Add(a, Sll<2>(Sub(c, b))), d));
  const V mag = Abs(delta);
  const V d1mag = Min(mag, Max(Sub(Splat<V>(static_cast<int16_t>(2 * strength)), mag), zero));
  const V d1 = Sign(d1mag, delta);
  const V limit = Sra<1>(d1mag);
  const V d2 = Max(Min(DivTrunc<2>(Sub(a, d)), limit), Sub(zero, limit));
  a = Sub(a, d2);
  b = Add(b, d1);
  c = Sub(c, d1);
  d = Add(d, d2);
}

// Sixteen lines held as bytes: filtered and clipped (the pack saturates to
// 0..255).
inline void Filter16(__m128i& a, __m128i& b, __m128i& c, __m128i& d, int strength) {
  __m256i wa = _mm256_cvtepu8_epi16(a), wb = _mm256_cvtepu8_epi16(b);
  __m256i wc = _mm256_cvtepu8_epi16(c), wd = _mm256_cvtepu8_epi16(d);
  Filter(wa, wb, wc, wd, strength);
  // packus interleaves the halves of its two sources; the permute restores
  // the order: a in the low half, b in the high.
  const __m256i ab = _mm256_permute4x64_epi64(_mm256_packus_epi16(wa, wb), 0xd8);
  const __m256i cd = _mm256_permute4x64_epi64(_mm256_packus_epi16(wc, wd), 0xd8);
  a = _mm256_castsi256_si128(ab);
  b = _mm256_extracti128_si256(ab, 1);
  c = _mm256_castsi256_si128(cd);
  d = _mm256_extracti128_si256(cd, 1);
}

// Eight lines held in the low bytes.
inline void Filter8(__m128i& a, __m128i& b, __m128i& c, __m128i& d, int strength) {
  __m128i wa = _mm_cvtepu8_epi16(a), wb = _mm_cvtepu8_epi16(b);
  __m128i wc = _mm_cvtepu8_epi16(c), wd = _mm_cvtepu8_epi16(d);
  Filter(wa, wb, wc, wd, strength);
  const __m128i ab = _mm_packus_epi16(wa, wb), cd = _mm_packus_epi16(wc, wd);
  a = ab;
  b = _mm_srli_si128(ab, 8);
  c = cd;
  d = _mm_srli_si128(cd, 8);
}

template <int kLines>
inline void FilterLines(__m128i& a, __m128i& b, __m128i& c, __m128i& d, int strength) {
  if (kLines == 16) {
    Filter16(a, b, c, d, strength);
  } else {
    Filter8(a, b, c, d, strength);
  }
}

template <int kLines>
void HorizontalEdge_avx2(uint8_t* p, ptrdiff_t stride, int strength) {
  __m128i a, b, c, d;
  LoadHorizontal<kLines>(p, stride, a, b, c, d);
  FilterLines<kLines>(a, b, c, d, strength);
  StoreHorizontal<kLines>(p, stride, a, b, c, d);
}

template <int kLines>
void VerticalEdge_avx2(uint8_t* p, ptrdiff_t stride, int strength) {
  __m128i a, b, c, d;
  LoadVertical<kLines>(p, stride, a, b, c, d);
  FilterLines<kLines>(a, b, c, d, strength);
  StoreVertical<kLines>(p, stride, a, b, c, d);
}

}  // namespace

void init_deblock_dsp_avx2(DeblockDsp& dsp) {
  dsp.horizontal8 = HorizontalEdge_avx2<8>;
  dsp.horizontal16 = HorizontalEdge_avx2<16>;
  dsp.vertical8 = VerticalEdge_avx2<8>;
  dsp.vertical16 = VerticalEdge_avx2<16>;
}

}  // namespace videodec
