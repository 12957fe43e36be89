// SSE2 versions of the AAC filterbank kernels, equal to the C++ references in
// aac_dsp.cpp. SSE2 multiplies only unsigned 32-bit lanes, so each signed
// product is the unsigned one less the sign corrections in its high half; a
// rounded Q31 result is bits 31..62 of the 64-bit sum, which a logical shift
// reaches as well as an arithmetic one.
#include <emmintrin.h>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_dsp.h"

namespace heaac {
namespace {

// Signed products of the even 32-bit lanes, as 64-bit lanes.
inline __m128i MulSigned(__m128i a, __m128i b) {
  const __m128i u = _mm_mul_epu32(a, b);
  const __m128i fix = _mm_add_epi32(_mm_and_si128(_mm_srai_epi32(a, 31), b), _mm_and_si128(_mm_srai_epi32(b, 31), a));
  return _mm_sub_epi64(u, _mm_slli_epi64(fix, 32));
}

// Two complex values x (c - js) when `conj`, else x (c + js).
template <bool conj>
inline __m128i CMul2(__m128i v, __m128i tw) {
  const __m128i half = _mm_set1_epi64x(int64_t{1} << 30);
  const __m128i lowMask = _mm_set1_epi64x(0xFFFFFFFF);
  const __m128i im = _mm_srli_epi64(v, 32);
  const __m128i s = _mm_srli_epi64(tw, 32);
  __m128i re64, im64;
  if (conj) {
    re64 = _mm_add_epi64(MulSigned(v, tw), MulSigned(im, s));
    im64 = _mm_sub_epi64(MulSigned(im, tw), MulSigned(v, s));
  } else {
    re64 = _mm_sub_epi64(MulSigned(v, tw), MulSigned(im, s));
    im64 = _mm_add_epi64(MulSigned(v, s), MulSigned(im, tw));
  }
  const __m128i re = _mm_and_si128(_mm_srli_epi64(_mm_add_epi64(re64, half), 31), lowMask);
  const __m128i imHigh = _mm_andnot_si128(lowMask, _mm_slli_epi64(_mm_add_epi64(im64, half), 1));
  return _mm_or_si128(re, imHigh);
}

// Arithmetic shift right of 64-bit lanes by n (1..63) through the flipped
// sign bit.
inline __m128i Sra64(__m128i x, int n) {
  const __m128i sign = _mm_set1_epi64x(INT64_MIN);
  const __m128i back = _mm_set1_epi64x(static_cast<int64_t>(uint64_t{1} << (63 - n)));
  return _mm_sub_epi64(_mm_srli_epi64(_mm_xor_si128(x, sign), n), back);
}

// Two windowed values in 64-bit lanes from y[0..1], w[0..1].
inline __m128i Window2(const int32_t* y, const int32_t* w, int shift) {
  const __m128i yv = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), _mm_setzero_si128());
  const __m128i wv = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w)), _mm_setzero_si128());
  const __m128i round = _mm_set1_epi64x(int64_t{1} << (shift - 1));
  return Sra64(_mm_add_epi64(MulSigned(yv, wv), round), shift);
}

}  // namespace

void PreTwiddle_sse2(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n) {
  const __m128i lowMask = _mm_set1_epi64x(0xFFFFFFFF);
  for (int k = 0; k < n / 2; k += 2) {
    // Real parts in[n - 1 - 2k - 2i] (odd positions of the reversed block),
    // imaginary parts in[2k + 2i] (even positions, moved up).
    const __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * k));
    const __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 4 - 2 * k));
    const __m128i v = _mm_or_si128(_mm_and_si128(_mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 1, 2, 3)), lowMask),
                                   _mm_slli_epi64(even, 32));
    const __m128i p = CMul2<false>(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw + 2 * k)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k]), p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k + 1]), _mm_unpackhi_epi64(p, p));
  }
}

void FftPass_sse2(int32_t* data, int points, int len, const int32_t* tw) {
  const int half = len >> 1;
  for (int i = 0; i < points; i += len) {
    int32_t* p = data + 2 * i;
    int32_t* q = p + 2 * half;
    for (int k = 0; k < half; k += 2) {
      const __m128i t = CMul2<true>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2 * k)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw + 2 * k)));
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * k), _mm_add_epi32(a, t));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 2 * k), _mm_sub_epi32(a, t));
    }
  }
}

void PostTwiddle_sse2(const int32_t* in, const int32_t* tw, int32_t* out, int q) {
  // k = 0, 1 read in[0], in[q - 1].
  const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * (q - 2)));
  const __m128i first = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)),
                                           _mm_unpackhi_epi64(last, last));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   CMul2<false>(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw))));
  for (int k = 2; k < q; k += 2) {
    // in[q - k - 1 .. q - k], swapped
    const __m128i v = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * (q - k - 1))),
                                        _MM_SHUFFLE(1, 0, 3, 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k),
                     CMul2<false>(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw + 2 * k))));
  }
}

void WindowLong_sse2(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                     int16_t* pcm, int stride) {
  const int shift = 31 + bits - kOverlapFracBits;
  const __m128i half = _mm_set1_epi64x(int64_t{1} << (kOverlapFracBits - 1));
  const __m128i floor = _mm_set1_epi16(-32767);
  // The sum stays below 2^44 in magnitude (overlap values below 2^43), so
  // the sample fits in 32 bits before its clamp to 16.
  auto sample2 = [&](int n) {
    const __m128i v = Window2(y + n, rise + n, shift);
    const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(overlap + n));
    const __m128i s = _mm_srli_epi64(_mm_add_epi64(_mm_add_epi64(o, v), half), kOverlapFracBits);
    return _mm_shuffle_epi32(s, _MM_SHUFFLE(3, 1, 2, 0));  // samples in lanes 0 and 1
  };
  for (int n = 0; n < 1024; n += 8) {
    const __m128i a = _mm_unpacklo_epi64(sample2(n), sample2(n + 2));
    const __m128i b = _mm_unpacklo_epi64(sample2(n + 4), sample2(n + 6));
    const __m128i s = _mm_max_epi16(_mm_packs_epi32(a, b), floor);
    if (stride == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + n), s);
    } else if (n + 8 == 1024) {
      // The last block: the right channel's samples end the buffer, so the
      // word after them is not there to be kept.
      alignas(16) int16_t last[8];
      _mm_store_si128(reinterpret_cast<__m128i*>(last), s);
      for (int i = 0; i < 8; ++i) pcm[2 * (n + i)] = last[i];
    } else {
      // Even words from the samples, odd ones (the other channel) kept.
      const __m128i other = _mm_set1_epi32(static_cast<int32_t>(0xFFFF0000u));
      auto* at = reinterpret_cast<__m128i*>(pcm + 2 * n);
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), other), _mm_unpacklo_epi16(s, zero)));
      _mm_storeu_si128(at + 1, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at + 1), other), _mm_unpackhi_epi16(s, zero)));
    }
  }
  for (int n = 0; n < 1024; n += 2) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(overlap + n), Window2(y + 1024 + n, fall + n, shift));
  }
}

}  // namespace heaac
