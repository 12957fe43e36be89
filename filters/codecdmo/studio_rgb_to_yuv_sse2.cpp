// SSE2 row kernel of the video objects' studio-range RGB565 conversion: the
// same bytes as the table reference. Every table entry is a weight times a
// widened field, so a sum of entries is a sum of products, formed exactly in
// 32 bits with pmaddwd; the chroma's four-pixel sums of widened fields (at
// most 1020) are formed first, two rows added, then pairs of lanes.
#include <emmintrin.h>

#include "filters/codecdmo/codecdmo_tables.h"
#include "filters/codecdmo/studio_rgb_to_yuv.h"

namespace codecdmo {
namespace {

struct Fields {
  __m128i r, g, b;  // eight 16-bit lanes each, widened to 0-255
};

inline Fields Widened(__m128i p) {
  const __m128i r = _mm_srli_epi16(p, 11);
  const __m128i g = _mm_and_si128(_mm_srli_epi16(p, 5), _mm_set1_epi16(63));
  const __m128i b = _mm_and_si128(p, _mm_set1_epi16(31));
  return {_mm_or_si128(_mm_slli_epi16(r, 3), _mm_srli_epi16(r, 2)),
          _mm_or_si128(_mm_slli_epi16(g, 2), _mm_srli_epi16(g, 4)),
          _mm_or_si128(_mm_slli_epi16(b, 3), _mm_srli_epi16(b, 2))};
}

inline __m128i Pair(int32_t lo, int32_t hi) {
  return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | static_cast<uint16_t>(lo)));
}

// (a ka + b kb + c kc + offset) >> shift for eight lanes, as 16-bit lanes.
inline __m128i Weighted(__m128i a, __m128i b, __m128i c, int32_t ka, int32_t kb, int32_t kc, int32_t offset,
                        int shift) {
  const __m128i kab = Pair(ka, kb), kc0 = Pair(kc, 0), off = _mm_set1_epi32(offset);
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), kab),
                                                 _mm_madd_epi16(_mm_unpacklo_epi16(c, zero), kc0)),
                                   off);
  const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), kab),
                                                 _mm_madd_epi16(_mm_unpackhi_epi16(c, zero), kc0)),
                                   off);
  return _mm_packs_epi32(_mm_srai_epi32(lo, shift), _mm_srai_epi32(hi, shift));
}

inline __m128i Luma(const Fields& f) {
  return Weighted(f.r, f.g, f.b, kStudioYR, kStudioYG, kStudioYB, kStudioYOffset, 14);
}

// Sums of neighbouring lanes of two rows' fields: four per register, in
// 16-bit lanes of one register for sixteen pixels.
inline __m128i BlockSums(__m128i top0, __m128i bottom0, __m128i top1, __m128i bottom1) {
  const __m128i one = _mm_set1_epi16(1);
  return _mm_packs_epi32(_mm_madd_epi16(_mm_add_epi16(top0, bottom0), one),
                         _mm_madd_epi16(_mm_add_epi16(top1, bottom1), one));
}

}  // namespace

void studio_rgb565_row2_sse2(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                             const uint16_t* s1, ptrdiff_t pairs) {
  ptrdiff_t i = 0;
  // Eight pairs (sixteen pixels of each row) per step.
  for (; i + 8 <= pairs; i += 8) {
    const Fields a0 = Widened(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + 2 * i)));
    const Fields a1 = Widened(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + 2 * i + 8)));
    const Fields b0 = Widened(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + 2 * i)));
    const Fields b1 = Widened(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + 2 * i + 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + 2 * i), _mm_packus_epi16(Luma(a0), Luma(a1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + 2 * i), _mm_packus_epi16(Luma(b0), Luma(b1)));
    const __m128i sr = BlockSums(a0.r, b0.r, a1.r, b1.r);
    const __m128i sg = BlockSums(a0.g, b0.g, a1.g, b1.g);
    const __m128i sb = BlockSums(a0.b, b0.b, a1.b, b1.b);
    const __m128i cb = Weighted(sr, sg, sb, kStudioUR, kStudioUG, kStudioUB, kStudioCOffset, 16);
    const __m128i cr = Weighted(sr, sg, sb, kStudioVR, kStudioVG, kStudioVB, kStudioCOffset, 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(cb, cb));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), _mm_packus_epi16(cr, cr));
  }
  studio_rgb565_row2_c(y0 + 2 * i, y1 + 2 * i, u + i, v + i, s0 + 2 * i, s1 + 2 * i, pairs - i);
}

}  // namespace codecdmo
