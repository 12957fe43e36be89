#include <immintrin.h>

#include "engine/mix_dsp.h"

namespace engine {

namespace {

// floor(v * m / 65536) for 32-bit lanes holding 16-bit values and m <= 65536:
// m is split into its high and low bytes so both products fit in 32 bits.
inline __m256i MulShift16(__m256i v, __m256i mh, __m256i ml) {
  __m256i a = _mm256_madd_epi16(v, mh);
  __m256i b = _mm256_madd_epi16(v, ml);
  return _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_srai_epi32(b, 8)), 8);
}

// Interpolates eight samples: pairs holds (cur, prev) 16-bit pairs, fh and fl
// the fraction's bytes as (f, -f) pairs, prev32 the previous samples.
inline __m256i Lerp(__m256i pairs, __m256i fh, __m256i fl, __m256i prev32) {
  __m256i a = _mm256_madd_epi16(pairs, fh);
  __m256i b = _mm256_madd_epi16(pairs, fl);
  return _mm256_add_epi32(prev32, _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_srai_epi32(b, 8)), 8));
}

// (f, -f) in each 32-bit lane's halves.
inline __m256i SignPair(__m256i f) {
  return _mm256_or_si256(f, _mm256_slli_epi32(_mm256_sub_epi32(_mm256_setzero_si256(), f), 16));
}

}  // namespace

void MixResample_avx2(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                      const uint32_t* carry, uint32_t gain, uint32_t master, bool add) {
  const __m256i gh = _mm256_set1_epi32(static_cast<int32_t>(gain >> 8));
  const __m256i gl = _mm256_set1_epi32(static_cast<int32_t>(gain & 255));
  const __m256i mh = _mm256_set1_epi32(static_cast<int32_t>(master >> 8));
  const __m256i ml = _mm256_set1_epi32(static_cast<int32_t>(master & 255));
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i ramp =
      _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(static_cast<int32_t>(step)));
  const int* frames32 = reinterpret_cast<const int*>(src);
  uint32_t j = 0;
  for (; j + 8 <= frames; j += 8) {
    __m256i t = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(phase + j * step)), ramp);
    if (carry) t = _mm256_add_epi32(t, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(carry + j)));
    __m256i n = _mm256_srli_epi32(t, 16);
    __m256i prev, cur;
    if (step == 0x10000 && !carry) {
      // Equal rates: eight consecutive source frames, no gather needed.
      const int16_t* p = src + 2 * ((phase + j * step) >> 16);
      prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
    } else {
      prev = _mm256_i32gather_epi32(frames32, n, 4);
      cur = _mm256_i32gather_epi32(frames32, _mm256_add_epi32(n, one), 4);
    }
    __m256i f = _mm256_and_si256(t, low16);
    __m256i fh = SignPair(_mm256_srli_epi32(f, 8));
    __m256i fl = SignPair(_mm256_and_si256(f, byte));
    // Per 128-bit lane: samples of frames 0,1 | 4,5 and 2,3 | 6,7.
    __m256i fhLo = _mm256_unpacklo_epi32(fh, fh), fhHi = _mm256_unpackhi_epi32(fh, fh);
    __m256i flLo = _mm256_unpacklo_epi32(fl, fl), flHi = _mm256_unpackhi_epi32(fl, fl);
    __m256i prevLo = _mm256_srai_epi32(_mm256_unpacklo_epi16(prev, prev), 16);
    __m256i prevHi = _mm256_srai_epi32(_mm256_unpackhi_epi16(prev, prev), 16);
    __m256i lo = Lerp(_mm256_unpacklo_epi16(cur, prev), fhLo, flLo, prevLo);
    __m256i hi = Lerp(_mm256_unpackhi_epi16(cur, prev), fhHi, flHi, prevHi);
    lo = MulShift16(MulShift16(lo, gh, gl), mh, ml);
    hi = MulShift16(MulShift16(hi, gh, gl), mh, ml);
    int16_t* d = dst + 2 * j;
    if (add) {
      __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
      lo = _mm256_add_epi32(lo, _mm256_srai_epi32(_mm256_unpacklo_epi16(o, o), 16));
      hi = _mm256_add_epi32(hi, _mm256_srai_epi32(_mm256_unpackhi_epi16(o, o), 16));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_packs_epi32(lo, hi));
  }
  if (j < frames)
    MixResample_sse2(dst + 2 * j, src, frames - j, phase + j * step, step, carry ? carry + j : nullptr, gain, master,
                     add);
}

}  // namespace engine
