// AVX2 row kernel of the YUV 4:2:0 to RGB565 conversion: the SSE2 kernel's
// arithmetic on sixteen chroma pairs (32 pixels of each row) per step. The
// 256-bit unpacks work within 128-bit halves, so the terms and the luma are
// both in the order [0-7 | 16-23], [8-15 | 24-31]; the packed words are put
// back in picture order before the stores. Shorter tails go to SSE2.
#include <immintrin.h>

#include "codecs/videodec/common/yuv420_to_rgb565_dsp.h"

namespace videodec {
namespace {

inline __m256i PairConst(int even, int odd) { return _mm256_set1_epi32((odd << 16) | even); }

struct Terms {
  __m256i r, g, b;
};

// Luma in 16-bit lanes, in the unpack order [0-7 | 16-23] and [8-15 | 24-31].
inline void Store32Words(__m256i ylo, __m256i yhi, const Terms& lo, const Terms& hi, uint16_t* d) {
  const __m256i red = _mm256_packus_epi16(_mm256_add_epi16(ylo, lo.r), _mm256_add_epi16(yhi, hi.r));
  const __m256i green = _mm256_packus_epi16(_mm256_add_epi16(ylo, lo.g), _mm256_add_epi16(yhi, hi.g));
  const __m256i blue = _mm256_packus_epi16(_mm256_add_epi16(ylo, lo.b), _mm256_add_epi16(yhi, hi.b));
  const __m256i high = _mm256_or_si256(_mm256_and_si256(red, _mm256_set1_epi8(static_cast<char>(0xF8))),
                                       _mm256_and_si256(_mm256_srli_epi16(green, 5), _mm256_set1_epi8(0x07)));
  const __m256i low =
      _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(green, 3), _mm256_set1_epi8(static_cast<char>(0xE0))),
                      _mm256_and_si256(_mm256_srli_epi16(blue, 3), _mm256_set1_epi8(0x1F)));
  const __m256i a = _mm256_unpacklo_epi8(low, high);  // pixels 0-7 | 16-23
  const __m256i b = _mm256_unpackhi_epi8(low, high);  // pixels 8-15 | 24-31
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_permute2x128_si256(a, b, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16), _mm256_permute2x128_si256(a, b, 0x31));
}

// Thirty-two pixels of luma, stretched in studio range as in the SSE2 kernel.
template <bool kStudio>
inline void Store32(const uint8_t* y, const Terms& lo, const Terms& hi, uint16_t* d) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  __m256i ylo = _mm256_unpacklo_epi8(luma, zero), yhi = _mm256_unpackhi_epi8(luma, zero);
  if constexpr (kStudio) {
    const __m256i bias = _mm256_set1_epi16(16), k = _mm256_set1_epi16(kStudioY);
    ylo = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(ylo, bias), 2), k);
    yhi = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(yhi, bias), 2), k);
  }
  Store32Words(ylo, yhi, lo, hi, d);
}

// Both ranges' row pair, as in the SSE2 kernel.
template <bool kStudio>
void Row2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint16_t* d0, uint16_t* d1,
          ptrdiff_t pairs) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i kr = _mm256_set1_epi16(kStudio ? kStudioCrToR : kCrToR);
  const __m256i kb = _mm256_set1_epi16(kStudio ? kStudioCbToB - 32768 : kCbToB);
  const __m256i kg = kStudio ? _mm256_set1_epi32((kStudioCrToG << 16) | kStudioCbToG)
                             : _mm256_set1_epi32((kCrToG << 16) | kCbToG);
  const auto& t = kRgb565Dither[0];
  const auto& b = kRgb565Dither[1];
  const __m256i dr0 = PairConst(t[0].r, t[1].r), dg0 = PairConst(t[0].g, t[1].g), db0 = PairConst(t[0].b, t[1].b);
  const __m256i dr1 = PairConst(b[0].r, b[1].r), dg1 = PairConst(b[0].g, b[1].g), db1 = PairConst(b[0].b, b[1].b);
  ptrdiff_t i = 0;
  for (; i + 16 <= pairs; i += 16) {
    // Widening keeps the sixteen chroma samples in order across the halves.
    const __m256i cb = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i))), bias);
    const __m256i cr = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i))), bias);
    const __m256i rr = _mm256_mulhi_epi16(_mm256_slli_epi16(cr, 2), kr);
    __m256i bb = _mm256_mulhi_epi16(_mm256_slli_epi16(cb, 2), kb);
    if constexpr (kStudio) bb = _mm256_add_epi16(_mm256_add_epi16(cb, cb), bb);
    const __m256i glo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cb, cr), kg), 14);
    const __m256i ghi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cb, cr), kg), 14);
    const __m256i gg = _mm256_packs_epi32(glo, ghi);  // chroma order again (unpack and pack undo each other)
    // Chroma 0-3 | 8-11 (pixels 0-7 | 16-23) and 4-7 | 12-15 (pixels 8-15 | 24-31).
    const __m256i rlo = _mm256_unpacklo_epi16(rr, rr), rhi = _mm256_unpackhi_epi16(rr, rr);
    const __m256i glo2 = _mm256_unpacklo_epi16(gg, gg), ghi2 = _mm256_unpackhi_epi16(gg, gg);
    const __m256i blo = _mm256_unpacklo_epi16(bb, bb), bhi = _mm256_unpackhi_epi16(bb, bb);
    Store32<kStudio>(y0 + 2 * i,
                     {_mm256_add_epi16(rlo, dr0), _mm256_sub_epi16(dg0, glo2), _mm256_add_epi16(blo, db0)},
                     {_mm256_add_epi16(rhi, dr0), _mm256_sub_epi16(dg0, ghi2), _mm256_add_epi16(bhi, db0)},
                     d0 + 2 * i);
    Store32<kStudio>(y1 + 2 * i,
                     {_mm256_add_epi16(rlo, dr1), _mm256_sub_epi16(dg1, glo2), _mm256_add_epi16(blo, db1)},
                     {_mm256_add_epi16(rhi, dr1), _mm256_sub_epi16(dg1, ghi2), _mm256_add_epi16(bhi, db1)},
                     d1 + 2 * i);
  }
  const auto tail = kStudio ? studio_yuv420_to_rgb565_row2_sse2 : yuv420_to_rgb565_row2_sse2;
  tail(y0 + 2 * i, y1 + 2 * i, u + i, v + i, d0 + 2 * i, d1 + 2 * i, pairs - i);
}

}  // namespace

void yuv420_to_rgb565_row2_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  Row2<false>(y0, y1, u, v, d0, d1, pairs);
}

void studio_yuv420_to_rgb565_row2_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                       uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  Row2<true>(y0, y1, u, v, d0, d1, pairs);
}

}  // namespace videodec
