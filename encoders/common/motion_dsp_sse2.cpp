// SSE2 block-matching costs: a whole 16-pixel row per step, the absolute
// differences masked to the row's half of the checkerboard and summed with
// PSADBW. Exact integer arithmetic, so the results equal the reference.
#include <emmintrin.h>

#include "encoders/common/motion_dsp.h"

namespace venc {
namespace {

// Byte masks of the checkerboard: even rows keep even columns, odd rows odd.
inline __m128i RowMask(int j) {
  return (j & 1) ? _mm_set1_epi16(static_cast<short>(0xFF00)) : _mm_set1_epi16(0x00FF);
}

inline __m128i AbsDiff(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }

inline uint32_t Total(__m128i acc) {
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// (a + b + c + d + 2) >> 2 per byte, in 16-bit lanes.
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                             _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
  __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                             _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
  lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
  hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
  return _mm_packus_epi16(lo, hi);
}

template <typename Pred>
inline uint32_t CheckerCost(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride, Pred pred) {
  __m128i acc = _mm_setzero_si128();
  const __m128i zero = _mm_setzero_si128();
  for (int j = 0; j < 16; ++j) {
    const __m128i d = _mm_and_si128(AbsDiff(Load(cur + j * stride), pred(ref + j * stride, stride)), RowMask(j));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(d, zero));
  }
  return 2 * Total(acc);
}

}  // namespace

uint32_t Sad16_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t) { return Load(p); });
}

// pavgb is (a + b + 1) >> 1, the rounding of the half-sample positions.
uint32_t SadHalfH_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t) { return _mm_avg_epu8(Load(p), Load(p + 1)); });
}

uint32_t SadHalfV_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride,
                     [](const uint8_t* p, ptrdiff_t s) { return _mm_avg_epu8(Load(p), Load(p + s)); });
}

uint32_t SadHalfHV_sse2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t s) {
    return Average4(Load(p), Load(p + 1), Load(p + s), Load(p + s + 1));
  });
}

void Sad16xn_sse2(const uint8_t* cur, const uint8_t* const* refs, int n, ptrdiff_t stride, uint32_t* costs) {
  __m128i acc[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  const __m128i zero = _mm_setzero_si128();
  for (int j = 0; j < 16; ++j) {
    const __m128i c = Load(cur + j * stride);
    const __m128i mask = RowMask(j);
    for (int k = 0; k < n; ++k) {
      const __m128i d = _mm_and_si128(AbsDiff(c, Load(refs[k] + j * stride)), mask);
      acc[k] = _mm_add_epi64(acc[k], _mm_sad_epu8(d, zero));
    }
  }
  for (int k = 0; k < n; ++k) costs[k] = 2 * Total(acc[k]);
}

uint32_t IntraDeviation16_sse2(const uint8_t* cur, ptrdiff_t stride) {
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;
  for (int j = 0; j < 16; ++j) acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_and_si128(Load(cur + j * stride), RowMask(j)), zero));
  const __m128i mean = _mm_set1_epi8(static_cast<char>(Total(acc) >> 7));
  __m128i dev = zero;
  for (int j = 0; j < 16; ++j) {
    const __m128i d = _mm_and_si128(AbsDiff(Load(cur + j * stride), mean), RowMask(j));
    dev = _mm_add_epi64(dev, _mm_sad_epu8(d, zero));
  }
  return 2 * Total(dev);
}


namespace {

inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }

// One 8x8 block: the prediction replaces `cur`, the residual cur - prediction
// goes to `residual`, and PSADBW sums its magnitude.
template <typename Pred>
inline int32_t PredictWith(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride, Pred pred) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sad = zero;
  for (int j = 0; j < 8; ++j) {
    const __m128i p = pred(ref + j * stride, stride);
    __m128i* c = reinterpret_cast<__m128i*>(cur + j * stride);
    const __m128i s = _mm_loadl_epi64(c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(residual + 8 * j),
                     _mm_sub_epi16(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(p, zero)));
    sad = _mm_add_epi64(sad, _mm_sad_epu8(s, p));
    _mm_storel_epi64(c, p);
  }
  return _mm_cvtsi128_si32(sad);
}

}  // namespace

int32_t PredictBlockCopy_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride, [](const uint8_t* r, ptrdiff_t) { return Load8(r); });
}

int32_t PredictBlockH_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* r, ptrdiff_t) { return _mm_avg_epu8(Load8(r), Load8(r + 1)); });
}

int32_t PredictBlockV_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* r, ptrdiff_t s) { return _mm_avg_epu8(Load8(r), Load8(r + s)); });
}

int32_t PredictBlockHV_sse2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride, [](const uint8_t* r, ptrdiff_t s) {
    return Average4(Load8(r), Load8(r + 1), Load8(r + s), Load8(r + s + 1));
  });
}

}  // namespace venc
