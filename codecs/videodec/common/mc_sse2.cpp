// SSE2 variants of the half-sample kernels, equal to the references: 16, 8 or
// 4 samples per step. With rounding control 1 the two-sample average is
// PAVGB less the lost odd bit, (a + b) >> 1 = pavgb(a, b) - ((a ^ b) & 1); the
// four-sample average is made of PAVGBs too, corrected where they round up
// twice.
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

// (a + b + c + d + 2) >> 2 per byte without widening: x = (a + b + 1) >> 1
// and y = (c + d + 1) >> 1 each round up when their sum is odd, and
// (x + y + 1) >> 1 is one too high exactly when x + y is odd and a + b or
// c + d was.
inline __m128i Average4Up(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i x = _mm_avg_epu8(a, b), y = _mm_avg_epu8(c, d);
  const __m128i odd = _mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
  const __m128i high = _mm_and_si128(_mm_and_si128(_mm_xor_si128(x, y), odd), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(x, y), high);
}

// (a + b + c + d + 2 - rc) >> 2 per byte; `invert` is all ones when rc is 1,
// else 0. With rc 1 the samples are inverted (255 - v) around the rounding
// above: 255 - ((1020 - s) + 2) >> 2 = (s + 1) >> 2 for the sum s.
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d, __m128i invert) {
  const __m128i v = Average4Up(_mm_xor_si128(a, invert), _mm_xor_si128(b, invert), _mm_xor_si128(c, invert),
                               _mm_xor_si128(d, invert));
  return _mm_xor_si128(v, invert);
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
  const __m128i invert = _mm_set1_epi8(static_cast<char>(rc ? 0xFF : 0));
  ForEachStep(dst, dst_stride, src, src_stride, w, h,
              [invert, src_stride](uint8_t* d, const uint8_t* s, auto load, auto store) {
                store(d, Average4(load(s), load(s + 1), load(s + src_stride), load(s + src_stride + 1), invert));
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
