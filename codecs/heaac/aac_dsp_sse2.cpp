// SSE2 versions of the AAC filterbank kernels, equal to the C++ references in
// aac_dsp.cpp. SSE2 multiplies only unsigned 32-bit lanes, so signed values
// are biased first: with a' = a + 2^31 (the sign bit flipped),
//   a x c = a' x c' - 2^31 (a' + c') + 2^62,
// and a window value w >= 0 gives a x w = a' x w - 2^31 w. A rounded Q31
// result is bits 31..62 of its 64-bit sum, so the corrections of a product
// are needed modulo 2^32 only and multiples of 2^63 drop out; a logical shift
// reaches those bits as well as an arithmetic one.
#include <emmintrin.h>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_dsp.h"

namespace heaac {
namespace {

// The complex products of two values v = (a, b) and twiddles (c, s), biased:
//   a c - b s = a'c' - b's' - 2^31 (a' + c' - b' - s')
//   a s + b c = a's' + b'c' - 2^31 (a' + c' + b' + s') + 2^63
//   a c + b s = a'c' + b's' - 2^31 (a' + c' + b' + s') + 2^63
//   b c - a s = b'c' - a's' - 2^31 (c' - a' + b' - s')
// each sum of four taken in the low halves of 64-bit lanes, wrapping (what
// the high halves hold lands at bit 63 and above). Rounded to Q31 pairs,
// interleaved like the input.
inline __m128i RoundPair(__m128i re64, __m128i im64, __m128i sumRe, __m128i sumIm) {
  const __m128i half = _mm_set1_epi64x(int64_t{1} << 30);
  const __m128i lowMask = _mm_set1_epi64x(0xFFFFFFFF);
  re64 = _mm_sub_epi64(_mm_add_epi64(re64, half), _mm_slli_epi64(sumRe, 31));
  im64 = _mm_sub_epi64(_mm_add_epi64(im64, half), _mm_slli_epi64(sumIm, 31));
  const __m128i re = _mm_and_si128(_mm_srli_epi64(re64, 31), lowMask);
  const __m128i imHigh = _mm_andnot_si128(lowMask, _mm_slli_epi64(im64, 1));
  return _mm_or_si128(re, imHigh);
}

// Two complex values x (c + js).
inline __m128i CMul2(__m128i v, __m128i tw) {
  const __m128i flip = _mm_set1_epi32(INT32_MIN);
  const __m128i vb = _mm_xor_si128(v, flip);
  const __m128i tb = _mm_xor_si128(tw, flip);
  const __m128i vh = _mm_srli_epi64(vb, 32);
  const __m128i th = _mm_srli_epi64(tb, 32);
  const __m128i x = _mm_add_epi32(vb, tb);  // (a' + c', b' + s')
  const __m128i xh = _mm_srli_epi64(x, 32);
  return RoundPair(_mm_sub_epi64(_mm_mul_epu32(vb, tb), _mm_mul_epu32(vh, th)),
                   _mm_add_epi64(_mm_mul_epu32(vb, th), _mm_mul_epu32(vh, tb)), _mm_sub_epi32(x, xh),
                   _mm_add_epi32(x, xh));
}

// The twiddle side of two products x (c - js), made once for every group of
// an FFT pass: the biased (c', s') pairs, s' alone, and c' + s', c' - s',
// each in the even lanes.
struct ConjTwiddles {
  __m128i tb, th, sum, diff;
};

inline ConjTwiddles PrepareConj(__m128i tw) {
  ConjTwiddles t;
  t.tb = _mm_xor_si128(tw, _mm_set1_epi32(INT32_MIN));
  t.th = _mm_srli_epi64(t.tb, 32);
  t.sum = _mm_add_epi32(t.tb, t.th);
  t.diff = _mm_sub_epi32(t.tb, t.th);
  return t;
}

// Two complex values x (c - js); the sums of four are (a' + b') + (c' + s')
// and (b' - a') + (c' - s').
inline __m128i CMul2Conj(__m128i v, const ConjTwiddles& t) {
  const __m128i vb = _mm_xor_si128(v, _mm_set1_epi32(INT32_MIN));
  const __m128i vh = _mm_srli_epi64(vb, 32);
  return RoundPair(_mm_add_epi64(_mm_mul_epu32(vb, t.tb), _mm_mul_epu32(vh, t.th)),
                   _mm_sub_epi64(_mm_mul_epu32(vh, t.tb), _mm_mul_epu32(vb, t.th)),
                   _mm_add_epi32(_mm_add_epi32(vb, vh), t.sum), _mm_add_epi32(_mm_sub_epi32(vh, vb), t.diff));
}

// Four windowed values y x w (0 <= w < 2^31) rounded to the overlap format,
// in 64-bit lanes in their order (values 0, 1 in *lo, 2, 3 in *hi), each
// plus 2^(63 - shift): `bias` is the rounding term plus 2^63, which keeps the
// sum positive so that a logical shift divides it.
inline void Window4(const int32_t* y, const int32_t* w, __m128i bias, int shift, __m128i* lo, __m128i* hi) {
  const __m128i yb = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), _mm_set1_epi32(INT32_MIN));
  const __m128i wv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
  const __m128i wOdd = _mm_srli_epi64(wv, 32);
  const __m128i even =
      _mm_sub_epi64(_mm_add_epi64(_mm_mul_epu32(yb, wv), bias), _mm_srli_epi64(_mm_slli_epi64(wv, 32), 1));
  const __m128i odd = _mm_sub_epi64(_mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(yb, 32), wOdd), bias),
                                    _mm_slli_epi64(wOdd, 31));
  const __m128i e = _mm_srli_epi64(even, shift);
  const __m128i o = _mm_srli_epi64(odd, shift);
  *lo = _mm_unpacklo_epi64(e, o);
  *hi = _mm_unpackhi_epi64(e, o);
}

// The low 32-bit halves of four 64-bit lanes, in order.
inline __m128i Low32(__m128i lo, __m128i hi) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(lo), _mm_castsi128_ps(hi), _MM_SHUFFLE(2, 0, 2, 0)));
}

}  // namespace

bool DequantSmall_sse2(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round) {
  const __m128i above = _mm_set1_epi32(255), below = _mm_set1_epi32(-255);
  __m128i over = _mm_setzero_si128();
  for (int k = 0; k < n; k += 4) {
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + k));
    over = _mm_or_si128(over, _mm_or_si128(_mm_cmpgt_epi32(q, above), _mm_cmplt_epi32(q, below)));
  }
  if (_mm_movemask_epi8(over) != 0) return false;
  const __m128i max = _mm_set1_epi32(INT32_MAX);
  const __m128i lowMask = _mm_set1_epi64x(0xFFFFFFFF);
  const __m128i scaleV = _mm_set1_epi32(scale);
  const __m128i roundV = _mm_set1_epi64x(round);
  const __m128i saturateAbove = _mm_set1_epi32(shift >= 0 && shift < 31 ? INT32_MAX >> shift : 0);
  const __m128i left = _mm_cvtsi32_si128(shift >= 0 && shift < 31 ? shift : 0);
  const int down = shift < 0 ? -shift : 0;
  const __m128i downBy = _mm_cvtsi32_si128(down > 32 ? 0 : down - 1);
  for (int k = 0; k < n; k += 4) {
    auto* at = reinterpret_cast<__m128i*>(v + k);
    const __m128i q = _mm_loadu_si128(at);
    const __m128i sign = _mm_srai_epi32(q, 31);
    // The table entries of the four magnitudes, loaded one by one (no
    // gather); the magnitudes without branches, whose signs would mispredict.
    alignas(16) int32_t a[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), _mm_sub_epi32(_mm_xor_si128(q, sign), sign));
    const __m128i p = _mm_setr_epi32(power[a[0]], power[a[1]], power[a[2]], power[a[3]]);
    __m128i m;
    if (shift >= 31) {
      m = _mm_and_si128(_mm_cmpgt_epi32(p, _mm_setzero_si128()), max);
    } else if (shift >= 0) {
      const __m128i saturate = _mm_cmpgt_epi32(p, saturateAbove);
      m = _mm_or_si128(_mm_and_si128(saturate, max), _mm_andnot_si128(saturate, _mm_sll_epi32(p, left)));
    } else if (down > 32) {
      m = _mm_setzero_si128();
    } else {
      m = _mm_srli_epi32(_mm_add_epi32(_mm_srl_epi32(p, downBy), _mm_set1_epi32(1)), 1);
    }
    // m and scale are both non-negative: unsigned products are the signed ones.
    const __m128i even = _mm_srli_epi64(_mm_add_epi64(_mm_mul_epu32(m, scaleV), roundV), 31);
    const __m128i odd = _mm_slli_epi64(_mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(m, 32), scaleV), roundV), 1);
    const __m128i r = _mm_or_si128(_mm_and_si128(even, lowMask), _mm_andnot_si128(lowMask, odd));
    _mm_storeu_si128(at, _mm_sub_epi32(_mm_xor_si128(r, sign), sign));
  }
  return true;
}

void PreTwiddle_sse2(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n) {
  const __m128i lowMask = _mm_set1_epi64x(0xFFFFFFFF);
  for (int k = 0; k < n / 2; k += 2) {
    // Real parts in[n - 1 - 2k - 2i] (odd positions of the reversed block),
    // imaginary parts in[2k + 2i] (even positions, moved up).
    const __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * k));
    const __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 4 - 2 * k));
    const __m128i v = _mm_or_si128(_mm_and_si128(_mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 1, 2, 3)), lowMask),
                                   _mm_slli_epi64(even, 32));
    const __m128i p = CMul2(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw + 2 * k)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k]), p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * rev[k + 1]), _mm_unpackhi_epi64(p, p));
  }
}

void FftPass_sse2(int32_t* data, int points, int len, const int32_t* tw) {
  // Twiddles outside, groups inside: each twiddle pair is prepared once.
  const int half = len >> 1;
  for (int k = 0; k < half; k += 2) {
    const ConjTwiddles t = PrepareConj(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tw + 2 * k)));
    for (int i = 0; i < points; i += len) {
      int32_t* p = data + 2 * (i + k);
      int32_t* q = p + 2 * half;
      const __m128i x = CMul2Conj(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), t);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_add_epi32(a, x));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_sub_epi32(a, x));
    }
  }
}

void PostTwiddle_sse2(const int32_t* in, const int32_t* tw, int32_t* out, int q) {
  // k = 0, 1 read in[0], in[q - 1].
  const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * (q - 2)));
  const __m128i first = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)),
                                           _mm_unpackhi_epi64(last, last));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   CMul2(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw))));
  for (int k = 2; k < q; k += 2) {
    // in[q - k - 1 .. q - k], swapped
    const __m128i v = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * (q - k - 1))),
                                        _MM_SHUFFLE(1, 0, 3, 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k),
                     CMul2(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tw + 2 * k))));
  }
}

void WindowLong_sse2(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                     int16_t* pcm, int stride) {
  const int shift = 31 + bits - kOverlapFracBits;
  const __m128i bias = _mm_set1_epi64x(static_cast<int64_t>((uint64_t{1} << 63) + (uint64_t{1} << (shift - 1))));
  const __m128i back = _mm_set1_epi64x(static_cast<int64_t>(uint64_t{1} << (63 - shift)));
  // The output's rounding term less the windowed values' bias.
  const __m128i half = _mm_sub_epi64(_mm_set1_epi64x(int64_t{1} << (kOverlapFracBits - 1)), back);
  const __m128i floor = _mm_set1_epi16(-32767);
  // The sum stays below 2^44 in magnitude (overlap values below 2^43), so
  // the sample fits in 32 bits before its clamp to 16.
  auto sample4 = [&](int n) {
    __m128i lo, hi;
    Window4(y + n, rise + n, bias, shift, &lo, &hi);
    const auto* o = reinterpret_cast<const __m128i*>(overlap + n);
    lo = _mm_srli_epi64(_mm_add_epi64(_mm_add_epi64(_mm_loadu_si128(o), lo), half), kOverlapFracBits);
    hi = _mm_srli_epi64(_mm_add_epi64(_mm_add_epi64(_mm_loadu_si128(o + 1), hi), half), kOverlapFracBits);
    return Low32(lo, hi);
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
      const __m128i other = _mm_set1_epi32(static_cast<int32_t>(0xFFFF0000u));
      auto* at = reinterpret_cast<__m128i*>(pcm + 2 * n);
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), other), _mm_unpacklo_epi16(s, zero)));
      _mm_storeu_si128(at + 1, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at + 1), other), _mm_unpackhi_epi16(s, zero)));
    }
  }
  for (int n = 0; n < 1024; n += 4) {
    __m128i lo, hi;
    Window4(y + 1024 + n, fall + n, bias, shift, &lo, &hi);
    auto* o = reinterpret_cast<__m128i*>(overlap + n);
    _mm_storeu_si128(o, _mm_sub_epi64(lo, back));
    _mm_storeu_si128(o + 1, _mm_sub_epi64(hi, back));
  }
}

namespace {

// One group of four complex values (two registers) through the FFT's first
// two stages: from u = (x0, x2), v = (x1, x3) the sums (a, c) and
// differences (b, d), then (a, b) +- (c, -jd).
inline void FirstPasses4(__m128i* lo, __m128i* hi) {
  const __m128i u = _mm_unpacklo_epi64(*lo, *hi), v = _mm_unpackhi_epi64(*lo, *hi);
  const __m128i sum = _mm_add_epi32(u, v), diff = _mm_sub_epi32(u, v);
  const __m128i e = _mm_unpacklo_epi64(sum, diff), f = _mm_unpackhi_epi64(sum, diff);
  // (cr, ci, di, -dr): -jd = di - j dr
  const __m128i flip = _mm_setr_epi32(0, 0, 0, -1);
  const __m128i g = _mm_sub_epi32(_mm_xor_si128(_mm_shuffle_epi32(f, _MM_SHUFFLE(2, 3, 1, 0)), flip), flip);
  *lo = _mm_add_epi32(e, g);
  *hi = _mm_sub_epi32(e, g);
}

// Four outputs of one quarter of the transform's symmetric expansion at
// out: even positions from the forward run fwd[0], fwd[2] (+ or -, kNegFwd),
// odd ones from the backward run back[0], back[-2] (the other sign). Where
// a load of four from fwd or of four ending at back would leave the row,
// kShifted loads them one value lower (fwd) or higher (back).
template <bool kShifted, bool kNegFwd>
inline void Expand4(const int32_t* fwd, const int32_t* back, int32_t* out) {
  const __m128i lowMask = _mm_set1_epi64x(0xFFFFFFFF);
  __m128i f, b;
  if (kShifted) {
    f = _mm_srli_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(fwd - 1)), 32);
    b = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(back - 2)), _MM_SHUFFLE(0, 0, 2, 0));
  } else {
    f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fwd));
    b = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(back - 3)), _MM_SHUFFLE(1, 0, 3, 0));
  }
  if (kNegFwd) {
    f = _mm_sub_epi32(_mm_setzero_si128(), f);
  } else {
    b = _mm_sub_epi32(_mm_setzero_si128(), b);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_and_si128(f, lowMask), _mm_andnot_si128(lowMask, b)));
}

}  // namespace

void FftFirstPasses_sse2(int32_t* data, int points) {
  for (int i = 0; i < points; i += 4) {
    auto* p = reinterpret_cast<__m128i*>(data + 2 * i);
    __m128i lo = _mm_loadu_si128(p), hi = _mm_loadu_si128(p + 1);
    FirstPasses4(&lo, &hi);
    _mm_storeu_si128(p, lo);
    _mm_storeu_si128(p + 1, hi);
  }
}

void ExpandImdct_sse2(const int32_t* row, int32_t* y, int m) {
  const int h = m / 2;
  for (int i = 0; i < h; i += 4) {
    Expand4<true, false>(row + h + 1 + i, row + h - 2 - i, y + i);
    Expand4<false, false>(row + i, row + m - 1 - i, y + h + i);
    Expand4<false, false>(row + h + i, row + h - 1 - i, y + m + i);
    Expand4<false, true>(row + 1 + i, row + m - 2 - i, y + m + h + i);
  }
}

}  // namespace heaac
