// SSE2 transpose of eight-row bands: the same bytes as rotate_dsp.cpp.
#include <emmintrin.h>

#include "imageproc/rotate_dsp.h"

namespace imageproc {

// Sixteen columns per step: eight 16-byte rows are interleaved bytewise,
// then by 16-bit and 32-bit units, leaving each source column as eight
// neighbouring bytes; the tail goes through the reference.
void transpose_band8_sse2(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                          ptrdiff_t width) {
  ptrdiff_t x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i r[8];
    for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k * srcStride + x));
    // Bytes of row pairs: a01 lo = r0c0 r1c0 r0c1 r1c1 ... (columns 0-7).
    const __m128i a01l = _mm_unpacklo_epi8(r[0], r[1]), a01h = _mm_unpackhi_epi8(r[0], r[1]);
    const __m128i a23l = _mm_unpacklo_epi8(r[2], r[3]), a23h = _mm_unpackhi_epi8(r[2], r[3]);
    const __m128i a45l = _mm_unpacklo_epi8(r[4], r[5]), a45h = _mm_unpackhi_epi8(r[4], r[5]);
    const __m128i a67l = _mm_unpacklo_epi8(r[6], r[7]), a67h = _mm_unpackhi_epi8(r[6], r[7]);
    // Four rows per column: b0 = columns 0-3, b1 = 4-7 (lo), b2, b3 (hi).
    const __m128i b0 = _mm_unpacklo_epi16(a01l, a23l), b1 = _mm_unpackhi_epi16(a01l, a23l);
    const __m128i b2 = _mm_unpacklo_epi16(a01h, a23h), b3 = _mm_unpackhi_epi16(a01h, a23h);
    const __m128i c0 = _mm_unpacklo_epi16(a45l, a67l), c1 = _mm_unpackhi_epi16(a45l, a67l);
    const __m128i c2 = _mm_unpacklo_epi16(a45h, a67h), c3 = _mm_unpackhi_epi16(a45h, a67h);
    // Eight rows per column, two columns per register.
    const __m128i out[8] = {_mm_unpacklo_epi32(b0, c0), _mm_unpackhi_epi32(b0, c0), _mm_unpacklo_epi32(b1, c1),
                            _mm_unpackhi_epi32(b1, c1), _mm_unpacklo_epi32(b2, c2), _mm_unpackhi_epi32(b2, c2),
                            _mm_unpacklo_epi32(b3, c3), _mm_unpackhi_epi32(b3, c3)};
    for (int i = 0; i < 8; ++i) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (x + 2 * i) * dstStride), out[i]);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (x + 2 * i + 1) * dstStride), _mm_unpackhi_epi64(out[i], out[i]));
    }
  }
  transpose_band8_c(dst + x * dstStride, dstStride, src + x, srcStride, width - x);
}

}  // namespace imageproc
