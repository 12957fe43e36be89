#include <emmintrin.h>

#include <cstring>

#include "engine/mix_dsp.h"

namespace engine {

namespace {

// floor(v * m / 65536) for 32-bit lanes holding 16-bit values and m <= 65536:
// m is split into its high and low bytes so both products fit in 32 bits.
inline __m128i MulShift16(__m128i v, __m128i mh, __m128i ml) {
  __m128i a = _mm_madd_epi16(v, mh);
  __m128i b = _mm_madd_epi16(v, ml);
  return _mm_srai_epi32(_mm_add_epi32(a, _mm_srai_epi32(b, 8)), 8);
}

// Interpolates four samples: pairs holds (cur, prev) 16-bit pairs, fh and fl
// the fraction's bytes as (f, -f) pairs, prev32 the previous samples.
inline __m128i Lerp(__m128i pairs, __m128i fh, __m128i fl, __m128i prev32) {
  __m128i a = _mm_madd_epi16(pairs, fh);
  __m128i b = _mm_madd_epi16(pairs, fl);
  return _mm_add_epi32(prev32, _mm_srai_epi32(_mm_add_epi32(a, _mm_srai_epi32(b, 8)), 8));
}

inline uint32_t LoadFrame(const int16_t* src, uint32_t index) {
  uint32_t v;
  std::memcpy(&v, src + 2 * index, 4);
  return v;
}

// (f, -f) in each 32-bit lane's halves.
inline __m128i SignPair(__m128i f) {
  return _mm_or_si128(f, _mm_slli_epi32(_mm_sub_epi32(_mm_setzero_si128(), f), 16));
}

}  // namespace

void MixResample_sse2(int16_t* dst, const int16_t* src, uint32_t frames, uint32_t phase, uint32_t step,
                      const uint32_t* carry, uint32_t gain, uint32_t master, bool add) {
  const __m128i gh = _mm_set1_epi32(static_cast<int32_t>(gain >> 8));
  const __m128i gl = _mm_set1_epi32(static_cast<int32_t>(gain & 255));
  const __m128i mh = _mm_set1_epi32(static_cast<int32_t>(master >> 8));
  const __m128i ml = _mm_set1_epi32(static_cast<int32_t>(master & 255));
  const __m128i low16 = _mm_set1_epi32(0xFFFF);
  const __m128i byte = _mm_set1_epi32(0xFF);
  uint32_t j = 0;
  for (; j + 4 <= frames; j += 4) {
    uint32_t t0 = phase + j * step, t1 = t0 + step, t2 = t1 + step, t3 = t2 + step;
    if (carry) t0 += carry[j], t1 += carry[j + 1], t2 += carry[j + 2], t3 += carry[j + 3];
    __m128i prev, cur;
    if (step == 0x10000 && !carry) {
      // Equal rates: four consecutive source frames.
      const int16_t* p = src + 2 * (t0 >> 16);
      prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    } else {
      prev =
          _mm_set_epi32(static_cast<int32_t>(LoadFrame(src, t3 >> 16)), static_cast<int32_t>(LoadFrame(src, t2 >> 16)),
                        static_cast<int32_t>(LoadFrame(src, t1 >> 16)), static_cast<int32_t>(LoadFrame(src, t0 >> 16)));
      cur = _mm_set_epi32(
          static_cast<int32_t>(LoadFrame(src, (t3 >> 16) + 1)), static_cast<int32_t>(LoadFrame(src, (t2 >> 16) + 1)),
          static_cast<int32_t>(LoadFrame(src, (t1 >> 16) + 1)), static_cast<int32_t>(LoadFrame(src, (t0 >> 16) + 1)));
    }
    __m128i f = _mm_and_si128(_mm_set_epi32(static_cast<int32_t>(t3), static_cast<int32_t>(t2),
                                            static_cast<int32_t>(t1), static_cast<int32_t>(t0)),
                              low16);
    __m128i fh = SignPair(_mm_srli_epi32(f, 8));
    __m128i fl = SignPair(_mm_and_si128(f, byte));
    // Samples 0-3 (frames 0 and 1) and 4-7 (frames 2 and 3).
    __m128i fhLo = _mm_unpacklo_epi32(fh, fh), fhHi = _mm_unpackhi_epi32(fh, fh);
    __m128i flLo = _mm_unpacklo_epi32(fl, fl), flHi = _mm_unpackhi_epi32(fl, fl);
    __m128i prevLo = _mm_srai_epi32(_mm_unpacklo_epi16(prev, prev), 16);
    __m128i prevHi = _mm_srai_epi32(_mm_unpackhi_epi16(prev, prev), 16);
    __m128i lo = Lerp(_mm_unpacklo_epi16(cur, prev), fhLo, flLo, prevLo);
    __m128i hi = Lerp(_mm_unpackhi_epi16(cur, prev), fhHi, flHi, prevHi);
    lo = MulShift16(MulShift16(lo, gh, gl), mh, ml);
    hi = MulShift16(MulShift16(hi, gh, gl), mh, ml);
    int16_t* d = dst + 2 * j;
    if (add) {
      __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
      lo = _mm_add_epi32(lo, _mm_srai_epi32(_mm_unpacklo_epi16(o, o), 16));
      hi = _mm_add_epi32(hi, _mm_srai_epi32(_mm_unpackhi_epi16(o, o), 16));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packs_epi32(lo, hi));
  }
  if (j < frames)
    MixResample_c(dst + 2 * j, src, frames - j, phase + j * step, step, carry ? carry + j : nullptr, gain, master, add);
}

}  // namespace engine
