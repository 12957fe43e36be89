// SSE2 row kernels of the bilinear scalers: the same values as the
// references. Without a byte shuffle the horizontal taps are gathered two
// bytes to a 16-bit lane (left tap low, right tap high; one 16-bit load where
// the taps are neighbours) and weighted in 16-bit lanes; the vertical blend is
// 16-bit arithmetic on sixteen columns a step.
#include <emmintrin.h>

#include <cstring>

#include "imageproc/scale_dsp.h"

namespace imageproc {

void scale_horizontal_sse2(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan) {
  const __m128i low = _mm_set1_epi16(0xFF);
  for (int g = 0; g < plan.groups; ++g) {
    const uint8_t* p = plan.pick[g];
    // Left taps' weights in the low bytes, right ones' in the high.
    const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(plan.weight[g]));
    const __m128i wl = _mm_and_si128(w, low), wr = _mm_srli_epi16(w, 8);
    for (int i = 0; i < rows; ++i) {
      const uint8_t* s = src[i] + plan.base[g];
      __m128i taps;
      if (plan.adjacent[g]) {
        // Both taps of a column in one 16-bit load.
        auto pair = [&](int k) {
          uint16_t v;
          std::memcpy(&v, s + p[2 * k], sizeof v);
          return static_cast<int>(v);
        };
        taps = _mm_cvtsi32_si128(pair(0));
        taps = _mm_insert_epi16(taps, pair(1), 1);
        taps = _mm_insert_epi16(taps, pair(2), 2);
        taps = _mm_insert_epi16(taps, pair(3), 3);
        taps = _mm_insert_epi16(taps, pair(4), 4);
        taps = _mm_insert_epi16(taps, pair(5), 5);
        taps = _mm_insert_epi16(taps, pair(6), 6);
        taps = _mm_insert_epi16(taps, pair(7), 7);
      } else {
        auto pair = [&](int k) { return static_cast<short>(s[p[2 * k]] | (s[p[2 * k + 1]] << 8)); };
        taps = _mm_set_epi16(pair(7), pair(6), pair(5), pair(4), pair(3), pair(2), pair(1), pair(0));
      }
      // Left taps in the low bytes, right ones in the high.
      const __m128i left = _mm_mullo_epi16(_mm_and_si128(taps, low), wl);
      const __m128i right = _mm_mullo_epi16(_mm_srli_epi16(taps, 8), wr);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[i] + 8 * g), _mm_add_epi16(left, right));
    }
  }
}

void scale_vertical_sse2(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n) {
  ptrdiff_t j = 0;
  if (fy == 0) {
    // (8 top) >> 6.
    auto load = [&](ptrdiff_t at) {
      return _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at)), 3);
    };
    if (n < 16) return scale_vertical_c(dst, top, bottom, 0, n);
    for (; j + 16 <= n; j += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), _mm_packus_epi16(load(j), load(j + 8)));
    // The last columns as one more step ending at n, over columns made already.
    if (j < n) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), _mm_packus_epi16(load(n - 16), load(n - 8)));
    return;
  }
  const __m128i wt = _mm_set1_epi16(static_cast<short>(8 - fy)), wb = _mm_set1_epi16(static_cast<short>(fy));
  auto blend = [&](ptrdiff_t at) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at));
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(t, wt), _mm_mullo_epi16(b, wb)), 6);
  };
  if (n < 16) return scale_vertical_c(dst, top, bottom, fy, n);
  for (; j + 16 <= n; j += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), _mm_packus_epi16(blend(j), blend(j + 8)));
  if (j < n) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), _mm_packus_epi16(blend(n - 16), blend(n - 8)));
}

void rgb565_unpack_sse2(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n) {
  const __m128i six = _mm_set1_epi16(63), five = _mm_set1_epi16(31);
  ptrdiff_t j = 0;
  for (; j + 16 <= n; j += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + j), _mm_packus_epi16(_mm_srli_epi16(a, 11), _mm_srli_epi16(c, 11)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + j),
                     _mm_packus_epi16(_mm_and_si128(_mm_srli_epi16(a, 5), six), _mm_and_si128(_mm_srli_epi16(c, 5), six)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + j), _mm_packus_epi16(_mm_and_si128(a, five), _mm_and_si128(c, five)));
  }
  rgb565_unpack_c(r + j, g + j, b + j, src + j, n - j);
}

void rgb565_pack_sse2(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n) {
  const __m128i zero = _mm_setzero_si128();
  ptrdiff_t j = 0;
  for (; j + 16 <= n; j += 16) {
    const __m128i rr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + j));
    const __m128i gg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + j));
    const __m128i bb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j));
    auto join = [&](__m128i r16, __m128i g16, __m128i b16) {
      return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r16, 11), _mm_slli_epi16(g16, 5)), b16);
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j),
                     join(_mm_unpacklo_epi8(rr, zero), _mm_unpacklo_epi8(gg, zero), _mm_unpacklo_epi8(bb, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j + 8),
                     join(_mm_unpackhi_epi8(rr, zero), _mm_unpackhi_epi8(gg, zero), _mm_unpackhi_epi8(bb, zero)));
  }
  rgb565_pack_c(dst + j, r + j, g + j, b + j, n - j);
}

}  // namespace imageproc
