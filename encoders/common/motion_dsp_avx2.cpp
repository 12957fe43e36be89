// AVX2 block-matching costs and predictions. The costs take two 16-pixel
// rows per step (the upper row in the low half), both the current rows and
// the prediction masked to the rows' halves of the checkerboard, so that one
// VPSADBW sums the absolute differences of the kept samples (the masked ones
// are 0 on both sides); the predictions take two 8-pixel rows per step.
// Exact integer arithmetic, so the results equal the reference.
#include <immintrin.h>

#include "encoders/common/motion_dsp.h"

namespace venc {
namespace {

// Rows j and j + 1 of the checkerboard for even j: even columns of the upper
// row, odd columns of the lower.
inline __m256i PairMask() {
  return _mm256_setr_epi16(0x00FF, 0x00FF, 0x00FF, 0x00FF, 0x00FF, 0x00FF, 0x00FF, 0x00FF,
                           static_cast<short>(0xFF00), static_cast<short>(0xFF00), static_cast<short>(0xFF00),
                           static_cast<short>(0xFF00), static_cast<short>(0xFF00), static_cast<short>(0xFF00),
                           static_cast<short>(0xFF00), static_cast<short>(0xFF00));
}

// Rows p and p + stride.
inline __m256i Load2(const uint8_t* p, ptrdiff_t stride) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), 1);
}

inline uint32_t Total(__m256i acc) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
}

// (a + b + c + d + 2) >> 2 per byte without widening: x = (a + b + 1) >> 1
// and y = (c + d + 1) >> 1 each round up when their sum is odd, and
// (x + y + 1) >> 1 is one too high exactly when x + y is odd and a + b or
// c + d was.
inline __m256i Average4(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i x = _mm256_avg_epu8(a, b), y = _mm256_avg_epu8(c, d);
  const __m256i odd = _mm256_or_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d));
  const __m256i high = _mm256_and_si256(_mm256_and_si256(_mm256_xor_si256(x, y), odd), _mm256_set1_epi8(1));
  return _mm256_sub_epi8(_mm256_avg_epu8(x, y), high);
}

template <typename Pred>
inline uint32_t CheckerCost(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride, Pred pred) {
  const __m256i mask = PairMask();
  __m256i acc = _mm256_setzero_si256();
  for (int j = 0; j < 16; j += 2) {
    const __m256i c = _mm256_and_si256(Load2(cur + j * stride, stride), mask);
    const __m256i p = _mm256_and_si256(pred(ref + j * stride, stride), mask);
    acc = _mm256_add_epi64(acc, _mm256_sad_epu8(c, p));
  }
  return 2 * Total(acc);
}

uint32_t Sad16_avx2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t s) { return Load2(p, s); });
}

// pavgb is (a + b + 1) >> 1, the rounding of the half-sample positions.
uint32_t SadHalfH_avx2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride,
                     [](const uint8_t* p, ptrdiff_t s) { return _mm256_avg_epu8(Load2(p, s), Load2(p + 1, s)); });
}

uint32_t SadHalfV_avx2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride,
                     [](const uint8_t* p, ptrdiff_t s) { return _mm256_avg_epu8(Load2(p, s), Load2(p + s, s)); });
}

uint32_t SadHalfHV_avx2(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t s) {
    return Average4(Load2(p, s), Load2(p + 1, s), Load2(p + s, s), Load2(p + s + 1, s));
  });
}

void Sad16xn_avx2(const uint8_t* cur, const uint8_t* const* refs, int n, ptrdiff_t stride, uint32_t* costs) {
  const __m256i mask = PairMask();
  __m256i acc[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
  for (int j = 0; j < 16; j += 2) {
    const __m256i c = _mm256_and_si256(Load2(cur + j * stride, stride), mask);
    for (int k = 0; k < n; ++k) {
      const __m256i p = _mm256_and_si256(Load2(refs[k] + j * stride, stride), mask);
      acc[k] = _mm256_add_epi64(acc[k], _mm256_sad_epu8(c, p));
    }
  }
  for (int k = 0; k < n; ++k) costs[k] = 2 * Total(acc[k]);
}

uint32_t IntraDeviation16_avx2(const uint8_t* cur, ptrdiff_t stride) {
  const __m256i mask = PairMask();
  const __m256i zero = _mm256_setzero_si256();
  __m256i rows[8];
  __m256i acc = zero;
  for (int j = 0; j < 8; ++j) {
    rows[j] = _mm256_and_si256(Load2(cur + 2 * j * stride, stride), mask);
    acc = _mm256_add_epi64(acc, _mm256_sad_epu8(rows[j], zero));
  }
  const __m256i mean = _mm256_and_si256(_mm256_set1_epi8(static_cast<char>(Total(acc) >> 7)), mask);
  __m256i dev = zero;
  for (int j = 0; j < 8; ++j) dev = _mm256_add_epi64(dev, _mm256_sad_epu8(rows[j], mean));
  return 2 * Total(dev);
}

// Two 8-pixel rows, p and p + stride, in one register.
inline __m128i Load8x2(const uint8_t* p, ptrdiff_t stride) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + stride)));
}

// Average4 above on 16 bytes.
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i x = _mm_avg_epu8(a, b), y = _mm_avg_epu8(c, d);
  const __m128i odd = _mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
  const __m128i high = _mm_and_si128(_mm_and_si128(_mm_xor_si128(x, y), odd), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(x, y), high);
}

// One 8x8 block two rows a step: the prediction replaces `cur`, the residual
// cur - prediction goes to `residual`, and PSADBW sums its magnitude.
template <typename Pred>
inline int32_t PredictWith(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride, Pred pred) {
  __m128i sad = _mm_setzero_si128();
  for (int j = 0; j < 8; j += 2) {
    const __m128i p = pred(ref + j * stride, stride);
    uint8_t* c = cur + j * stride;
    const __m128i s = Load8x2(c, stride);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(residual + 8 * j),
                        _mm256_sub_epi16(_mm256_cvtepu8_epi16(s), _mm256_cvtepu8_epi16(p)));
    sad = _mm_add_epi64(sad, _mm_sad_epu8(s, p));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(c), p);
    _mm_storeh_pd(reinterpret_cast<double*>(c + stride), _mm_castsi128_pd(p));
  }
  return _mm_cvtsi128_si32(_mm_add_epi64(sad, _mm_srli_si128(sad, 8)));
}

int32_t PredictBlockCopy_avx2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride, [](const uint8_t* r, ptrdiff_t s) { return Load8x2(r, s); });
}

int32_t PredictBlockH_avx2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* r, ptrdiff_t s) { return _mm_avg_epu8(Load8x2(r, s), Load8x2(r + 1, s)); });
}

int32_t PredictBlockV_avx2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* r, ptrdiff_t s) { return _mm_avg_epu8(Load8x2(r, s), Load8x2(r + s, s)); });
}

int32_t PredictBlockHV_avx2(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride, [](const uint8_t* r, ptrdiff_t s) {
    return Average4(Load8x2(r, s), Load8x2(r + 1, s), Load8x2(r + s, s), Load8x2(r + s + 1, s));
  });
}

}  // namespace

void init_motion_dsp_avx2(MotionDsp& dsp) {
  dsp.predict[0] = PredictBlockCopy_avx2;
  dsp.predict[1] = PredictBlockH_avx2;
  dsp.predict[2] = PredictBlockV_avx2;
  dsp.predict[3] = PredictBlockHV_avx2;
  dsp.sad16 = Sad16_avx2;
  dsp.sad16xn = Sad16xn_avx2;
  dsp.sadHalfH = SadHalfH_avx2;
  dsp.sadHalfV = SadHalfV_avx2;
  dsp.sadHalfHV = SadHalfHV_avx2;
  dsp.intraDeviation16 = IntraDeviation16_avx2;
}

}  // namespace venc
