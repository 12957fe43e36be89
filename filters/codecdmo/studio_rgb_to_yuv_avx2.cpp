// AVX2 row kernel of the video objects' studio-range RGB565 conversion: the
// SSE2 kernel's arithmetic on sixteen pairs (32 pixels of each row) per step.
// The 256-bit packs work within 128-bit halves, so luma and chroma come out
// in half order and are put back in picture order before the stores. Shorter
// tails go to SSE2.
#include <immintrin.h>

#include "filters/codecdmo/codecdmo_tables.h"
#include "filters/codecdmo/studio_rgb_to_yuv.h"

namespace codecdmo {
namespace {

struct Fields {
  __m256i r, g, b;  // sixteen 16-bit lanes each, widened to 0-255
};

inline Fields Widened(__m256i p) {
  const __m256i r = _mm256_srli_epi16(p, 11);
  const __m256i g = _mm256_and_si256(_mm256_srli_epi16(p, 5), _mm256_set1_epi16(63));
  const __m256i b = _mm256_and_si256(p, _mm256_set1_epi16(31));
  return {_mm256_or_si256(_mm256_slli_epi16(r, 3), _mm256_srli_epi16(r, 2)),
          _mm256_or_si256(_mm256_slli_epi16(g, 2), _mm256_srli_epi16(g, 4)),
          _mm256_or_si256(_mm256_slli_epi16(b, 3), _mm256_srli_epi16(b, 2))};
}

inline __m256i Pair(int32_t lo, int32_t hi) {
  return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | static_cast<uint16_t>(lo)));
}

// (a ka + b kb + c kc + offset) >> shift, lane by lane (the unpacks and the
// pack undo each other within each half).
inline __m256i Weighted(__m256i a, __m256i b, __m256i c, int32_t ka, int32_t kb, int32_t kc, int32_t offset,
                        int shift) {
  const __m256i kab = Pair(ka, kb), kc0 = Pair(kc, 0), off = _mm256_set1_epi32(offset);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), kab),
                                                       _mm256_madd_epi16(_mm256_unpacklo_epi16(c, zero), kc0)),
                                      off);
  const __m256i hi = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), kab),
                                                       _mm256_madd_epi16(_mm256_unpackhi_epi16(c, zero), kc0)),
                                      off);
  return _mm256_packs_epi32(_mm256_srai_epi32(lo, shift), _mm256_srai_epi32(hi, shift));
}

inline __m256i Luma(const Fields& f) {
  return Weighted(f.r, f.g, f.b, kStudioYR, kStudioYG, kStudioYB, kStudioYOffset, 14);
}

// Block sums of 32 pixels' fields in two rows: 16 sums, in the order
// [0-3, 8-11 | 4-7, 12-15].
inline __m256i BlockSums(__m256i top0, __m256i bottom0, __m256i top1, __m256i bottom1) {
  const __m256i one = _mm256_set1_epi16(1);
  return _mm256_packs_epi32(_mm256_madd_epi16(_mm256_add_epi16(top0, bottom0), one),
                            _mm256_madd_epi16(_mm256_add_epi16(top1, bottom1), one));
}

// 32 luma bytes in picture order from the 16-bit luma of pixels 0-15 and 16-31.
inline void StoreLuma(uint8_t* y, __m256i lo, __m256i hi) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8));
}

}  // namespace

void studio_rgb565_row2_avx2(uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v, const uint16_t* s0,
                             const uint16_t* s1, ptrdiff_t pairs) {
  // After the pack of Cb and Cr: dwords Cb 0-3, 8-11, Cr 0-3, 8-11 | Cb 4-7,
  // 12-15, Cr 4-7, 12-15; this order gives Cb 0-15 | Cr 0-15.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  ptrdiff_t i = 0;
  for (; i + 16 <= pairs; i += 16) {
    const Fields a0 = Widened(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s0 + 2 * i)));
    const Fields a1 = Widened(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s0 + 2 * i + 16)));
    const Fields b0 = Widened(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s1 + 2 * i)));
    const Fields b1 = Widened(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s1 + 2 * i + 16)));
    StoreLuma(y0 + 2 * i, Luma(a0), Luma(a1));
    StoreLuma(y1 + 2 * i, Luma(b0), Luma(b1));
    const __m256i sr = BlockSums(a0.r, b0.r, a1.r, b1.r);
    const __m256i sg = BlockSums(a0.g, b0.g, a1.g, b1.g);
    const __m256i sb = BlockSums(a0.b, b0.b, a1.b, b1.b);
    const __m256i cb = Weighted(sr, sg, sb, kStudioUR, kStudioUG, kStudioUB, kStudioCOffset, 16);
    const __m256i cr = Weighted(sr, sg, sb, kStudioVR, kStudioVG, kStudioVB, kStudioCOffset, 16);
    const __m256i both = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(cb, cr), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i), _mm256_castsi256_si128(both));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), _mm256_extracti128_si256(both, 1));
  }
  studio_rgb565_row2_sse2(y0 + 2 * i, y1 + 2 * i, u + i, v + i, s0 + 2 * i, s1 + 2 * i, pairs - i);
}

}  // namespace codecdmo
