// SSE2 variants of the half-sample kernels, equal to the references: 16, 8 or
// 4 samples per step. With rounding control 1 the two-sample average is
// PAVGB less the lost odd bit, (a + b) >> 1 = pavgb(a, b) - ((a ^ b) & 1); the
// four-sample average is summed in 16-bit lanes.
#include <emmintrin.h>

#include <cstring>

#include "codecs/videodec/common/mc.h"

namespace videodec {
namespace {

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline void Store8(uint8_t* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
inline void Store4(uint8_t* p, __m128i v) {
  const int32_t w = _mm_cvtsi128_si32(v);
  std::memcpy(p, &w, 4);
}

// (a + b + 1 - rc) >> 1; `odd_mask` is 1 in every byte when rc is 1, else 0.
inline __m128i Average2(__m128i a, __m128i b, __m128i odd_mask) {
  return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), odd_mask));
}

// (a + b + c + d + 2 - rc) >> 2 per byte; `round` holds 2 - rc in 16-bit lanes.
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d, __m128i round) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                             _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
  __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                             _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
  lo = _mm_srli_epi16(_mm_add_epi16(lo, round), 2);
  hi = _mm_srli_epi16(_mm_add_epi16(hi, round), 2);
  return _mm_packus_epi16(lo, hi);
}

// Runs `op(dst + x, src + x, load, store)` over each row in steps of 16, 8
// and 4 samples.
template <typename Op>
inline void ForEachStep(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                        Op op) {
  for (int y = 0; y < h; ++y, dst += dst_stride, src += src_stride) {
    int x = 0;
    for (; x + 16 <= w; x += 16) op(dst + x, src + x, Load16, Store16);
    for (; x + 8 <= w; x += 8) op(dst + x, src + x, Load8, Store8);
    for (; x < w; x += 4) op(dst + x, src + x, Load4, Store4);
  }
}

// A copy of small rows in registers: the library's memcpy call per row costs
// more than the copy.
void PutFull_sse2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                  int /*rc*/) {
  ForEachStep(dst, dst_stride, src, src_stride, w, h,
              [](uint8_t* d, const uint8_t* s, auto load, auto store) { store(d, load(s)); });
}

void PutHalfX_sse2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                   int rc) {
  const __m128i odd = _mm_set1_epi8(static_cast<char>(rc));
  ForEachStep(dst, dst_stride, src, src_stride, w, h, [odd](uint8_t* d, const uint8_t* s, auto load, auto store) {
    store(d, Average2(load(s), load(s + 1), odd));
  });
}

void PutHalfY_sse2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                   int rc) {
  const __m128i odd = _mm_set1_epi8(static_cast<char>(rc));
  ForEachStep(dst, dst_stride, src, src_stride, w, h,
              [odd, src_stride](uint8_t* d, const uint8_t* s, auto load, auto store) {
                store(d, Average2(load(s), load(s + src_stride), odd));
              });
}

void PutHalfXY_sse2(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int w, int h,
                    int rc) {
  const __m128i round = _mm_set1_epi16(static_cast<int16_t>(2 - rc));
  ForEachStep(dst, dst_stride, src, src_stride, w, h,
              [round, src_stride](uint8_t* d, const uint8_t* s, auto load, auto store) {
                store(d, Average4(load(s), load(s + 1), load(s + src_stride), load(s + src_stride + 1), round));
              });
}

}  // namespace

void init_mc_dsp_sse2(McDsp& dsp) {
  dsp.put[kMcFull] = PutFull_sse2;
  dsp.put[kMcHalfX] = PutHalfX_sse2;
  dsp.put[kMcHalfY] = PutHalfY_sse2;
  dsp.put[kMcHalfXY] = PutHalfXY_sse2;
}

}  // namespace videodec
