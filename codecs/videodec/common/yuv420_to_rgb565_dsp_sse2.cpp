// SSE2 row kernel of the YUV 4:2:0 to RGB565 conversion: the same words as
// the reference. Eight chroma pairs (sixteen pixels of each row) per step, in
// 16-bit lanes. (K x c) >> 14 is the high half of (4c) x K, since 4c fits 16
// bits; the green term, a sum of two products, is formed in 32 bits.
#include <emmintrin.h>

#include "codecs/videodec/common/yuv420_to_rgb565_dsp.h"

namespace videodec {
namespace {

// A dither offset for the even and the odd pixel of a pair, as lanes.
inline __m128i PairConst(int even, int odd) { return _mm_set1_epi32((odd << 16) | even); }

struct Terms {
  __m128i r, g, b;  // per pixel: red and blue added to luma, green term (dither - gg)
};

// Sixteen pixels of RGB565: luma (16-bit lanes, pixels 0-7 and 8-15) plus
// terms, clipped to 0-255 and packed.
inline void Store16Words(__m128i ylo, __m128i yhi, const Terms& lo, const Terms& hi, uint16_t* d) {
  const __m128i red = _mm_packus_epi16(_mm_add_epi16(ylo, lo.r), _mm_add_epi16(yhi, hi.r));
  const __m128i green = _mm_packus_epi16(_mm_add_epi16(ylo, lo.g), _mm_add_epi16(yhi, hi.g));
  const __m128i blue = _mm_packus_epi16(_mm_add_epi16(ylo, lo.b), _mm_add_epi16(yhi, hi.b));
  // High byte rrrrrggg, low byte gggbbbbb.
  const __m128i high = _mm_or_si128(_mm_and_si128(red, _mm_set1_epi8(static_cast<char>(0xF8))),
                                    _mm_and_si128(_mm_srli_epi16(green, 5), _mm_set1_epi8(0x07)));
  const __m128i low = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(green, 3), _mm_set1_epi8(static_cast<char>(0xE0))),
                                   _mm_and_si128(_mm_srli_epi16(blue, 3), _mm_set1_epi8(0x1F)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(low, high));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_unpackhi_epi8(low, high));
}

// Sixteen pixels of luma in 16-bit lanes (pixels 0-7 and 8-15). Studio range
// stretches each sample, (Y - 16) x kStudioY >> 14, as the high half of
// 4 (Y - 16) x kStudioY (4 (Y - 16) lies in -64..956).
template <bool kStudio>
inline void Store16(const uint8_t* y, const Terms& lo, const Terms& hi, uint16_t* d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  __m128i ylo = _mm_unpacklo_epi8(luma, zero), yhi = _mm_unpackhi_epi8(luma, zero);
  if constexpr (kStudio) {
    const __m128i bias = _mm_set1_epi16(16), k = _mm_set1_epi16(kStudioY);
    ylo = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(ylo, bias), 2), k);
    yhi = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(yhi, bias), 2), k);
  }
  Store16Words(ylo, yhi, lo, hi, d);
}

// Both ranges' row pair: they differ in the coefficients, the blue term and
// the luma stretch.
template <bool kStudio>
void Row2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint16_t* d0, uint16_t* d1,
          ptrdiff_t pairs) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i kr = _mm_set1_epi16(kStudio ? kStudioCrToR : kCrToR);
  const __m128i kb = _mm_set1_epi16(kStudio ? kStudioCbToB - 32768 : kCbToB);
  const __m128i kg = kStudio ? _mm_set1_epi32((kStudioCrToG << 16) | kStudioCbToG)
                             : _mm_set1_epi32((kCrToG << 16) | kCbToG);
  const auto& t = kRgb565Dither[0];
  const auto& b = kRgb565Dither[1];
  const __m128i dr0 = PairConst(t[0].r, t[1].r), dg0 = PairConst(t[0].g, t[1].g), db0 = PairConst(t[0].b, t[1].b);
  const __m128i dr1 = PairConst(b[0].r, b[1].r), dg1 = PairConst(b[0].g, b[1].g), db1 = PairConst(b[0].b, b[1].b);
  ptrdiff_t i = 0;
  for (; i + 8 <= pairs; i += 8) {
    const __m128i cb = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + i)), zero), bias);
    const __m128i cr = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i)), zero), bias);
    const __m128i rr = _mm_mulhi_epi16(_mm_slli_epi16(cr, 2), kr);
    __m128i bb = _mm_mulhi_epi16(_mm_slli_epi16(cb, 2), kb);
    // Studio: kStudioCbToB x cb >> 14 = 2 cb + (282 cb >> 14), and 2 cb is whole.
    if constexpr (kStudio) bb = _mm_add_epi16(_mm_add_epi16(cb, cb), bb);
    const __m128i glo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, cr), kg), 14);
    const __m128i ghi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, cr), kg), 14);
    const __m128i gg = _mm_packs_epi32(glo, ghi);
    // Each chroma term serves two neighbouring pixels.
    const __m128i rlo = _mm_unpacklo_epi16(rr, rr), rhi = _mm_unpackhi_epi16(rr, rr);
    const __m128i glo2 = _mm_unpacklo_epi16(gg, gg), ghi2 = _mm_unpackhi_epi16(gg, gg);
    const __m128i blo = _mm_unpacklo_epi16(bb, bb), bhi = _mm_unpackhi_epi16(bb, bb);
    Store16<kStudio>(y0 + 2 * i,
                     {_mm_add_epi16(rlo, dr0), _mm_sub_epi16(dg0, glo2), _mm_add_epi16(blo, db0)},
                     {_mm_add_epi16(rhi, dr0), _mm_sub_epi16(dg0, ghi2), _mm_add_epi16(bhi, db0)}, d0 + 2 * i);
    Store16<kStudio>(y1 + 2 * i,
                     {_mm_add_epi16(rlo, dr1), _mm_sub_epi16(dg1, glo2), _mm_add_epi16(blo, db1)},
                     {_mm_add_epi16(rhi, dr1), _mm_sub_epi16(dg1, ghi2), _mm_add_epi16(bhi, db1)}, d1 + 2 * i);
  }
  const auto tail = kStudio ? studio_yuv420_to_rgb565_row2_c : yuv420_to_rgb565_row2_c;
  tail(y0 + 2 * i, y1 + 2 * i, u + i, v + i, d0 + 2 * i, d1 + 2 * i, pairs - i);
}

}  // namespace

void yuv420_to_rgb565_row2_sse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  Row2<false>(y0, y1, u, v, d0, d1, pairs);
}

void studio_yuv420_to_rgb565_row2_sse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                       uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  Row2<true>(y0, y1, u, v, d0, d1, pairs);
}

}  // namespace videodec
