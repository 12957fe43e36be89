// AVX2 versions of the AAC filterbank kernels, equal to the C++ references in
// aac_dsp.cpp. Signed 32 x 32 -> 64-bit products (vpmuldq) take the even
// 32-bit lanes; a rounded Q31 result is bits 31..62 of the 64-bit sum, which
// a logical shift reaches as well as an arithmetic one.
#include <immintrin.h>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_dsp.h"

namespace heaac {
namespace {

// Four complex values x (c - js) when `conj`, else x (c + js); the result
// rounded to Q31 pairs, interleaved like the input.
template <bool conj>
inline __m256i CMul4(__m256i v, __m256i tw) {
  const __m256i half = _mm256_set1_epi64x(int64_t{1} << 30);
  const __m256i im = _mm256_srli_epi64(v, 32);
  const __m256i s = _mm256_srli_epi64(tw, 32);
  __m256i re64, im64;
  if (conj) {
    re64 = _mm256_add_epi64(_mm256_mul_epi32(v, tw), _mm256_mul_epi32(im, s));
    im64 = _mm256_sub_epi64(_mm256_mul_epi32(im, tw), _mm256_mul_epi32(v, s));
  } else {
    re64 = _mm256_sub_epi64(_mm256_mul_epi32(v, tw), _mm256_mul_epi32(im, s));
    im64 = _mm256_add_epi64(_mm256_mul_epi32(v, s), _mm256_mul_epi32(im, tw));
  }
  const __m256i re = _mm256_srli_epi64(_mm256_add_epi64(re64, half), 31);
  const __m256i imHigh = _mm256_slli_epi64(_mm256_add_epi64(im64, half), 1);
  return _mm256_blend_epi32(re, imHigh, 0xAA);
}

// Arithmetic shift right of 64-bit lanes by n (1..63): the sign bit flipped
// makes the value unsigned, and the flip comes back out shifted.
inline __m256i Sra64(__m256i x, int n) {
  const __m256i sign = _mm256_set1_epi64x(INT64_MIN);
  const __m256i back = _mm256_set1_epi64x(static_cast<int64_t>(uint64_t{1} << (63 - n)));
  return _mm256_sub_epi64(_mm256_srli_epi64(_mm256_xor_si256(x, sign), n), back);
}

// Four windowed values (y x w rounded to the overlap format) in 64-bit lanes.
inline __m256i Window4(const int32_t* y, const int32_t* w, int shift) {
  const __m256i yv = _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
  const __m256i wv = _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)));
  const __m256i round = _mm256_set1_epi64x(int64_t{1} << (shift - 1));
  return Sra64(_mm256_add_epi64(_mm256_mul_epi32(yv, wv), round), shift);
}

}  // namespace

bool DequantSmall_avx2(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round) {
  // Four or eight values a step; a band's last four through a mask.
  auto mask = [](int left) { return left >= 8 ? _mm256_set1_epi32(-1) : _mm256_setr_epi32(-1, -1, -1, -1, 0, 0, 0, 0); };
  // The largest magnitude, unsigned: |INT32_MIN| stays 2^31, above any limit.
  __m256i peak8 = _mm256_setzero_si256();
  for (int k = 0; k < n; k += 8) {
    peak8 = _mm256_max_epu32(peak8, _mm256_abs_epi32(_mm256_maskload_epi32(v + k, mask(n - k))));
  }
  __m128i peak4 = _mm_max_epu32(_mm256_castsi256_si128(peak8), _mm256_extracti128_si256(peak8, 1));
  peak4 = _mm_max_epu32(peak4, _mm_shuffle_epi32(peak4, _MM_SHUFFLE(1, 0, 3, 2)));
  peak4 = _mm_max_epu32(peak4, _mm_shuffle_epi32(peak4, _MM_SHUFFLE(2, 3, 0, 1)));
  const uint32_t peak = static_cast<uint32_t>(_mm_cvtsi128_si32(peak4));
  if (peak > 255) return false;
  const __m256i max = _mm256_set1_epi32(INT32_MAX);
  const __m256i scaleV = _mm256_set1_epi32(scale);
  const __m256i roundV = _mm256_set1_epi64x(round);
  const __m256i saturateAbove = _mm256_set1_epi32(shift >= 0 && shift < 31 ? INT32_MAX >> shift : 0);
  const __m128i left = _mm_cvtsi32_si128(shift >= 0 && shift < 31 ? shift : 0);
  const int down = shift < 0 ? -shift : 0;
  const __m128i downBy = _mm_cvtsi32_si128(down > 32 ? 0 : down - 1);
  // The magnitudes' values from their power-table entries p.
  auto dequant = [&](__m256i p) {
    __m256i m;
    if (shift >= 31) {
      m = _mm256_and_si256(_mm256_cmpgt_epi32(p, _mm256_setzero_si256()), max);
    } else if (shift >= 0) {
      m = _mm256_blendv_epi8(_mm256_sll_epi32(p, left), max, _mm256_cmpgt_epi32(p, saturateAbove));
    } else if (down > 32) {
      m = _mm256_setzero_si256();
    } else {
      m = _mm256_srli_epi32(_mm256_add_epi32(_mm256_srl_epi32(p, downBy), _mm256_set1_epi32(1)), 1);
    }
    // m and scale are both non-negative: unsigned products are the signed ones.
    const __m256i even = _mm256_srli_epi64(_mm256_add_epi64(_mm256_mul_epu32(m, scaleV), roundV), 31);
    const __m256i odd = _mm256_slli_epi64(_mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(m, 32), scaleV), roundV), 1);
    return _mm256_blend_epi32(even, odd, 0xAA);
  };
  if (peak < 16 && n >= 16) {
    // Most bands: the values of magnitudes 0..15 made once, in two
    // registers, and each magnitude's value picked by a permute.
    const __m256i low = dequant(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(power)));
    const __m256i high = peak >= 8 ? dequant(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(power + 8))) : low;
    const __m256i seven = _mm256_set1_epi32(7);
    for (int k = 0; k < n; k += 8) {
      const __m256i m8 = mask(n - k);
      const __m256i q = _mm256_maskload_epi32(v + k, m8);
      const __m256i a = _mm256_abs_epi32(q);
      __m256i r = _mm256_permutevar8x32_epi32(low, a);
      if (peak >= 8) r = _mm256_blendv_epi8(r, _mm256_permutevar8x32_epi32(high, a), _mm256_cmpgt_epi32(a, seven));
      _mm256_maskstore_epi32(v + k, m8, _mm256_sign_epi32(r, q));
    }
    return true;
  }
  for (int k = 0; k < n; k += 8) {
    const __m256i m8 = mask(n - k);
    const __m256i q = _mm256_maskload_epi32(v + k, m8);
    const __m256i p = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), power, _mm256_abs_epi32(q), m8, 4);
    _mm256_maskstore_epi32(v + k, m8, _mm256_sign_epi32(dequant(p), q));
  }
  return true;
}

void PreTwiddle_avx2(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n) {
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  for (int k = 0; k < n / 2; k += 4) {
    // Real parts in[n - 1 - 2k - 2i] (odd positions of the reversed block),
    // imaginary parts in[2k + 2i] (even positions, moved up).
    const __m256i even = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * k));
    const __m256i odd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + n - 8 - 2 * k));
    const __m256i v = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(odd, reverse), _mm256_slli_epi64(even, 32), 0xAA);
    const __m256i p = CMul4<false>(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tw + 2 * k)));
    const __m128i lo = _mm256_castsi256_si128(p), hi = _mm256_extracti128_si256(p, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k]), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k + 1]), _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k + 2]), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k + 3]), _mm_unpackhi_epi64(hi, hi));
  }
}

void FftPass_avx2(int32_t* data, int points, int len, const int32_t* tw) {
  const int half = len >> 1;
  for (int i = 0; i < points; i += len) {
    int32_t* p = data + 2 * i;
    int32_t* q = p + 2 * half;
    for (int k = 0; k < half; k += 4) {
      const __m256i t = CMul4<true>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 2 * k)),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tw + 2 * k)));
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * k));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 2 * k), _mm256_add_epi32(a, t));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 2 * k), _mm256_sub_epi32(a, t));
    }
  }
}

void PostTwiddle_avx2(const int32_t* in, const int32_t* tw, int32_t* out, int q) {
  // k = 0..3 read in[0], in[q - 1], in[q - 2], in[q - 3].
  const __m256i last = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * (q - 4)));
  const __m256i first = _mm256_blend_epi32(_mm256_permute4x64_epi64(last, 0x6C),
                                           _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in))),
                                           0x03);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                      CMul4<false>(first, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tw))));
  for (int k = 4; k < q; k += 4) {
    // in[q - k - 3 .. q - k], reversed
    const __m256i v =
        _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * (q - k - 3))), 0x1B);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * k),
                        CMul4<false>(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tw + 2 * k))));
  }
}

void WindowLong_avx2(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                     int16_t* pcm, int stride) {
  const int shift = 31 + bits - kOverlapFracBits;
  const __m256i half = _mm256_set1_epi64x(int64_t{1} << (kOverlapFracBits - 1));
  const __m256i low = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  const __m128i floor = _mm_set1_epi16(-32767);
  // The sum stays below 2^44 in magnitude (overlap values below 2^43), so
  // the sample fits in 32 bits before its clamp to 16.
  auto sample4 = [&](int n) {
    const __m256i v = Window4(y + n, rise + n, shift);
    const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(overlap + n));
    const __m256i s = _mm256_srli_epi64(_mm256_add_epi64(_mm256_add_epi64(o, v), half), kOverlapFracBits);
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(s, low));
  };
  for (int n = 0; n < 1024; n += 8) {
    const __m128i s = _mm_max_epi16(_mm_packs_epi32(sample4(n), sample4(n + 4)), floor);
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
      auto* at = reinterpret_cast<__m256i*>(pcm + 2 * n);
      _mm256_storeu_si256(at, _mm256_blend_epi16(_mm256_loadu_si256(at), _mm256_cvtepu16_epi32(s), 0x55));
    }
  }
  for (int n = 0; n < 1024; n += 4) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(overlap + n), Window4(y + 1024 + n, fall + n, shift));
  }
}

namespace {

// As Expand4 in aac_dsp_sse2.cpp, eight outputs: even positions from
// fwd[0], fwd[2], fwd[4], fwd[6], odd ones from back[0], back[-2], back[-4],
// back[-6].
template <bool kShifted, bool kNegFwd>
inline void Expand8(const int32_t* fwd, const int32_t* back, int32_t* out) {
  __m256i f, b;
  if (kShifted) {
    f = _mm256_srli_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(fwd - 1)), 32);
    b = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(back - 6)),
                                    _mm256_setr_epi32(0, 6, 0, 4, 0, 2, 0, 0));
  } else {
    f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fwd));
    b = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(back - 7)),
                                    _mm256_setr_epi32(0, 7, 0, 5, 0, 3, 0, 1));
  }
  if (kNegFwd) {
    f = _mm256_sub_epi32(_mm256_setzero_si256(), f);
  } else {
    b = _mm256_sub_epi32(_mm256_setzero_si256(), b);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_blend_epi32(f, b, 0xAA));
}

}  // namespace

void FftFirstPasses_avx2(int32_t* data, int points) {
  // Two groups of four a step, one in each 128-bit lane.
  const __m256i flip = _mm256_setr_epi32(0, 0, 0, -1, 0, 0, 0, -1);
  int i = 0;
  for (; i + 8 <= points; i += 8) {
    auto* p = reinterpret_cast<__m256i*>(data + 2 * i);
    const __m256i g0 = _mm256_loadu_si256(p), g1 = _mm256_loadu_si256(p + 1);
    const __m256i lo = _mm256_permute2x128_si256(g0, g1, 0x20), hi = _mm256_permute2x128_si256(g0, g1, 0x31);
    const __m256i u = _mm256_unpacklo_epi64(lo, hi), v = _mm256_unpackhi_epi64(lo, hi);
    const __m256i sum = _mm256_add_epi32(u, v), diff = _mm256_sub_epi32(u, v);
    const __m256i e = _mm256_unpacklo_epi64(sum, diff), f = _mm256_unpackhi_epi64(sum, diff);
    const __m256i g = _mm256_sub_epi32(_mm256_xor_si256(_mm256_shuffle_epi32(f, _MM_SHUFFLE(2, 3, 1, 0)), flip), flip);
    const __m256i outLo = _mm256_add_epi32(e, g), outHi = _mm256_sub_epi32(e, g);
    _mm256_storeu_si256(p, _mm256_permute2x128_si256(outLo, outHi, 0x20));
    _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(outLo, outHi, 0x31));
  }
  if (i < points) FftFirstPasses_sse2(data + 2 * i, points - i);
}

void ExpandImdct_avx2(const int32_t* row, int32_t* y, int m) {
  const int h = m / 2;
  for (int i = 0; i < h; i += 8) {
    Expand8<true, false>(row + h + 1 + i, row + h - 2 - i, y + i);
    Expand8<false, false>(row + i, row + m - 1 - i, y + h + i);
    Expand8<false, false>(row + h + i, row + h - 1 - i, y + m + i);
    Expand8<false, true>(row + 1 + i, row + m - 2 - i, y + m + h + i);
  }
}

}  // namespace heaac
