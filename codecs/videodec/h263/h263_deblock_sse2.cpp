// SSE2 variants of the Annex J edge filter: all lines of an edge at once in
// 16-bit lanes, equal to the references. A vertical edge's 4 x N samples are
// transposed into four vectors (A, B, C, D of every line) and back.
//
// The reference's steps, per line, as lane arithmetic:
//   delta = (A - 4B + 4C - D) / 8 and (A - D) / 4 truncate toward zero;
//   |d1| = min(|delta|, max(2 STRENGTH - |delta|, 0)) with the sign of delta
//   (|delta| <= STRENGTH keeps delta, below 2 STRENGTH folds it, else 0);
//   d2 = (A - D) / 4 clamped to +-(|d1| >> 1); every sum clipped to 0..255.
#include <emmintrin.h>

#include "codecs/videodec/h263/h263_deblock_dsp.h"
#include "codecs/videodec/h263/h263_deblock_x86.h"

namespace videodec {
namespace {

// x / 2^n truncated toward zero.
template <int kShift>
inline __m128i DivTrunc(__m128i x) {
  const __m128i bias = _mm_and_si128(_mm_srai_epi16(x, 15), _mm_set1_epi16((1 << kShift) - 1));
  return _mm_srai_epi16(_mm_add_epi16(x, bias), kShift);
}

// One group of eight lines, 16-bit samples in; the four filtered samples out.
inline void Filter8(__m128i& a, __m128i& b, __m128i& c, __m128i& d, __m128i twice_strength) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i v = _mm_sub_epi16(_mm_add_epi16(a, _mm_slli_epi16(_mm_sub_epi16(c, b), 2)), d);
  const __m128i delta = DivTrunc<3>(v);
  const __m128i sign = _mm_srai_epi16(delta, 15);
  const __m128i mag = _mm_max_epi16(delta, _mm_sub_epi16(zero, delta));
  const __m128i d1mag = _mm_min_epi16(mag, _mm_max_epi16(_mm_sub_epi16(twice_strength, mag), zero));
  const __m128i d1 = _mm_sub_epi16(_mm_xor_si128(d1mag, sign), sign);
  const __m128i limit = _mm_srai_epi16(d1mag, 1);
  const __m128i d2 = _mm_max_epi16(_mm_min_epi16(DivTrunc<2>(_mm_sub_epi16(a, d)), limit), _mm_sub_epi16(zero, limit));
  const __m128i na = _mm_sub_epi16(a, d2), nb = _mm_add_epi16(b, d1);
  const __m128i nc = _mm_sub_epi16(c, d1), nd = _mm_add_epi16(d, d2);
  a = na;
  b = nb;
  c = nc;
  d = nd;
}

// Sixteen lines held as bytes: filters and clips (the pack saturates to 0..255).
inline void Filter16(__m128i& a, __m128i& b, __m128i& c, __m128i& d, int strength) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i twice = _mm_set1_epi16(static_cast<int16_t>(2 * strength));
  __m128i al = _mm_unpacklo_epi8(a, zero), bl = _mm_unpacklo_epi8(b, zero);
  __m128i cl = _mm_unpacklo_epi8(c, zero), dl = _mm_unpacklo_epi8(d, zero);
  __m128i ah = _mm_unpackhi_epi8(a, zero), bh = _mm_unpackhi_epi8(b, zero);
  __m128i ch = _mm_unpackhi_epi8(c, zero), dh = _mm_unpackhi_epi8(d, zero);
  Filter8(al, bl, cl, dl, twice);
  Filter8(ah, bh, ch, dh, twice);
  a = _mm_packus_epi16(al, ah);
  b = _mm_packus_epi16(bl, bh);
  c = _mm_packus_epi16(cl, ch);
  d = _mm_packus_epi16(dl, dh);
}

template <int kLines>
void HorizontalEdge_sse2(uint8_t* p, ptrdiff_t stride, int strength) {
  __m128i a, b, c, d;
  LoadHorizontal<kLines>(p, stride, a, b, c, d);
  Filter16(a, b, c, d, strength);
  StoreHorizontal<kLines>(p, stride, a, b, c, d);
}

template <int kLines>
void VerticalEdge_sse2(uint8_t* p, ptrdiff_t stride, int strength) {
  __m128i a, b, c, d;
  LoadVertical<kLines>(p, stride, a, b, c, d);
  Filter16(a, b, c, d, strength);
  StoreVertical<kLines>(p, stride, a, b, c, d);
}

}  // namespace

void init_deblock_dsp_sse2(DeblockDsp& dsp) {
  dsp.horizontal8 = HorizontalEdge_sse2<8>;
  dsp.horizontal16 = HorizontalEdge_sse2<16>;
  dsp.vertical8 = VerticalEdge_sse2<8>;
  dsp.vertical16 = VerticalEdge_sse2<16>;
}

}  // namespace videodec
