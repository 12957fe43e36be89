// SSE2 row kernels of the RGB565 to YUV converters: the same bytes as the
// table reference. Each table is linear (entry i is i x step), so a sum of
// three entries is a sum of three products, formed exactly in 32 bits with
// pmaddwd. Steps above 32767 are split: 40092 G = 20046 (2G), 57344 B =
// 28672 (2B), 57344 R = 28672 (2R).
#include <emmintrin.h>

#include "imageproc/rgb_to_yuv_dsp.h"

namespace imageproc {
namespace {

struct Fields {
  __m128i r, g, b;  // eight 16-bit lanes each
};

inline Fields Split(__m128i p) {
  return {_mm_srli_epi16(p, 11), _mm_and_si128(_mm_srli_epi16(p, 5), _mm_set1_epi16(63)),
          _mm_and_si128(p, _mm_set1_epi16(31))};
}

// (a x ka + b x kb + c x kc) >> 14 + offset for eight pixels, as 16-bit lanes.
inline __m128i Weighted(__m128i a, __m128i b, __m128i c, int16_t ka, int16_t kb, int16_t kc, int16_t offset) {
  const __m128i kab = _mm_set1_epi32((static_cast<uint16_t>(kb) << 16) | static_cast<uint16_t>(ka));
  const __m128i kc0 = _mm_set1_epi32(static_cast<uint16_t>(kc));
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), kab),
                                   _mm_madd_epi16(_mm_unpacklo_epi16(c, zero), kc0));
  const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), kab),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(c, zero), kc0));
  return _mm_add_epi16(_mm_packs_epi32(_mm_srai_epi32(lo, 14), _mm_srai_epi32(hi, 14)), _mm_set1_epi16(offset));
}

inline __m128i Luma(__m128i p) {
  const Fields f = Split(p);
  return Weighted(f.r, _mm_add_epi16(f.g, f.g), f.b, 23840, 20046, 8096, 16);
}

}  // namespace

void rgb565_row2_sse2(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0, const uint16_t* s1,
                      ptrdiff_t pairs) {
  ptrdiff_t i = 0;
  // Eight pairs (sixteen pixels of each row) per step.
  for (; i + 8 <= pairs; i += 8) {
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + 2 * i));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + 2 * i + 8));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + 2 * i));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + 2 * i + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + 2 * i), _mm_packus_epi16(Luma(a0), Luma(a1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + 2 * i), _mm_packus_epi16(Luma(b0), Luma(b1)));
    // The first pixel of each pair: the even 16-bit lanes, gathered into one
    // register (shift the odd lanes out, then pack).
    const __m128i even = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a0, 16), 16),
                                         _mm_srai_epi32(_mm_slli_epi32(a1, 16), 16));
    const Fields f = Split(even);
    const __m128i cb = Weighted(f.r, f.g, _mm_add_epi16(f.b, f.b), -13184, -22116, 28672, 128);
    const __m128i cr = Weighted(_mm_add_epi16(f.r, f.r), f.g, f.b, 28672, -26028, -5272, 128);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), _mm_packus_epi16(cb, cb));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), _mm_packus_epi16(cr, cr));
  }
  rgb565_row2_c(y0 + 2 * i, y1 + 2 * i, u + i, v + i, s0 + 2 * i, s1 + 2 * i, pairs - i);
}

}  // namespace imageproc
