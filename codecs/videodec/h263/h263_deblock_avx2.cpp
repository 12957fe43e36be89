// AVX2 variants of the Annex J edge filter, equal to the references: the
// steps of the SSE2 variants (h263_deblock_sse2.cpp), with the sixteen lines
// of a luma edge in one register of 16-bit lanes and the eight lines of a
// chroma edge in one of eight, so no lane is filtered for nothing.
#include <immintrin.h>

#include <cstring>

#include "codecs/videodec/h263/h263_deblock_dsp.h"

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

template <int kLines>
void HorizontalEdge_avx2(uint8_t* p, ptrdiff_t stride, int strength) {
  __m128i a = LoadLines<kLines>(p - 2 * stride), b = LoadLines<kLines>(p - stride);
  __m128i c = LoadLines<kLines>(p), d = LoadLines<kLines>(p + stride);
  FilterLines<kLines>(a, b, c, d, strength);
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

template <int kLane>
inline void Store4(uint8_t* p, __m128i v) {
  const int32_t w = _mm_extract_epi32(v, kLane);
  std::memcpy(p, &w, 4);
}

template <int kLines>
void VerticalEdge_avx2(uint8_t* p, ptrdiff_t stride, int strength) {
  // Rows r: the four samples p[r * stride - 2 .. + 1]; four rows per vector.
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
  __m128i a = _mm_unpacklo_epi64(w0, w2), b = _mm_unpackhi_epi64(w0, w2);
  __m128i c = _mm_unpacklo_epi64(w1, w3), d = _mm_unpackhi_epi64(w1, w3);
  FilterLines<kLines>(a, b, c, d, strength);
  // Back to rows of four samples.
  const __m128i ab0 = _mm_unpacklo_epi8(a, b), ab1 = _mm_unpackhi_epi8(a, b);
  const __m128i cd0 = _mm_unpacklo_epi8(c, d), cd1 = _mm_unpackhi_epi8(c, d);
  const __m128i out[4] = {_mm_unpacklo_epi16(ab0, cd0), _mm_unpackhi_epi16(ab0, cd0), _mm_unpacklo_epi16(ab1, cd1),
                          _mm_unpackhi_epi16(ab1, cd1)};
  for (int g = 0; g < kLines / 4; ++g) {
    uint8_t* q = p + 4 * g * stride - 2;
    Store4<0>(q, out[g]);
    Store4<1>(q + stride, out[g]);
    Store4<2>(q + 2 * stride, out[g]);
    Store4<3>(q + 3 * stride, out[g]);
  }
}

}  // namespace

void init_deblock_dsp_avx2(DeblockDsp& dsp) {
  dsp.horizontal8 = HorizontalEdge_avx2<8>;
  dsp.horizontal16 = HorizontalEdge_avx2<16>;
  dsp.vertical8 = VerticalEdge_avx2<8>;
  dsp.vertical16 = VerticalEdge_avx2<16>;
}

}  // namespace videodec
