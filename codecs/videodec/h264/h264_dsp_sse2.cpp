// SSE2 variants of the H.264 pixel kernels, equal to the C++ references of
// h264_dsp.cpp. Loads never reach past the samples the references read: the
// picture planes have no padding, so a 4-wide block is read with 4-byte loads.
#include <emmintrin.h>

#include <cstring>

#include "codecs/videodec/h264/h264_dsp.h"

namespace videodec {
namespace h264 {
namespace {

inline __m128i Load4(const uint8_t* p) {
  int v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline void Store4(uint8_t* p, __m128i v) {
  const int x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, 4);
}
inline __m128i Load2(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return _mm_cvtsi32_si128(v);
}
inline void Store2(uint8_t* p, __m128i v) {
  const uint16_t x = uint16_t(_mm_cvtsi128_si32(v));
  std::memcpy(p, &x, 2);
}
inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline void Store8(uint8_t* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Loads w (2, 4, 8 or 16) samples; only the first w bytes are read.
inline __m128i LoadW(const uint8_t* p, int w) {
  switch (w) {
    case 16: return Load16(p);
    case 8: return Load8(p);
    case 4: return Load4(p);
    default: return Load2(p);
  }
}
inline void StoreW(uint8_t* p, __m128i v, int w) {
  switch (w) {
    case 16: Store16(p, v); break;
    case 8: Store8(p, v); break;
    case 4: Store4(p, v); break;
    default: Store2(p, v); break;
  }
}

// ---------------------------------------------------------------------------
// Inverse transform.

inline void Transpose4x4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
  const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
  a = _mm_unpacklo_epi64(t0, t2);
  b = _mm_unpackhi_epi64(t0, t2);
  c = _mm_unpacklo_epi64(t1, t3);
  d = _mm_unpackhi_epi64(t1, t3);
}

// One 1-D pass of 8.5.12.2 over four vectors (32-bit lanes, no overflow for
// any 16-bit input, as in the reference).
inline void Butterfly(__m128i& x0, __m128i& x1, __m128i& x2, __m128i& x3) {
  const __m128i e = _mm_add_epi32(x0, x2), f = _mm_sub_epi32(x0, x2);
  const __m128i g = _mm_sub_epi32(_mm_srai_epi32(x1, 1), x3);
  const __m128i h = _mm_add_epi32(x1, _mm_srai_epi32(x3, 1));
  x0 = _mm_add_epi32(e, h);
  x1 = _mm_add_epi32(f, g);
  x2 = _mm_sub_epi32(f, g);
  x3 = _mm_sub_epi32(e, h);
}

inline __m128i Widen32(__m128i v16) { return _mm_srai_epi32(_mm_unpacklo_epi16(v16, v16), 16); }

}  // namespace

void Idct4x4Add_sse2(uint8_t* dst, ptrdiff_t stride, int16_t* c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  const __m128i c23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c), zero);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c + 8), zero);
  // A block with only its DC coefficient adds (dc + 32) >> 6 everywhere.
  const __m128i ac = _mm_or_si128(_mm_and_si128(c01, _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0)), c23);
  __m128i add_lo, add_hi;  // rows 0-1 and 2-3 as 16-bit values
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(ac, zero)) == 0xFFFF) {
    const int dc = int16_t(_mm_cvtsi128_si32(c01));
    add_lo = add_hi = _mm_set1_epi16(int16_t((dc + 32) >> 6));
  } else {
    __m128i r0 = Widen32(c01), r1 = Widen32(_mm_srli_si128(c01, 8));
    __m128i r2 = Widen32(c23), r3 = Widen32(_mm_srli_si128(c23, 8));
    Transpose4x4(r0, r1, r2, r3);  // columns: one lane per row
    Butterfly(r0, r1, r2, r3);     // row transforms
    Transpose4x4(r0, r1, r2, r3);  // rows of the intermediate: one lane per column
    Butterfly(r0, r1, r2, r3);     // column transforms
    const __m128i k32 = _mm_set1_epi32(32);
    r0 = _mm_srai_epi32(_mm_add_epi32(r0, k32), 6);
    r1 = _mm_srai_epi32(_mm_add_epi32(r1, k32), 6);
    r2 = _mm_srai_epi32(_mm_add_epi32(r2, k32), 6);
    r3 = _mm_srai_epi32(_mm_add_epi32(r3, k32), 6);
    // (x + 32) >> 6 of 32-bit sums of 16-bit inputs stays within 16 bits.
    add_lo = _mm_packs_epi32(r0, r1);
    add_hi = _mm_packs_epi32(r2, r3);
  }
  const __m128i p01 = _mm_unpacklo_epi8(_mm_unpacklo_epi32(Load4(dst), Load4(dst + stride)), zero);
  const __m128i p23 = _mm_unpacklo_epi8(_mm_unpacklo_epi32(Load4(dst + 2 * stride), Load4(dst + 3 * stride)), zero);
  const __m128i o01 = _mm_packus_epi16(_mm_adds_epi16(p01, add_lo), zero);
  const __m128i o23 = _mm_packus_epi16(_mm_adds_epi16(p23, add_hi), zero);
  Store4(dst, o01);
  Store4(dst + stride, _mm_srli_si128(o01, 4));
  Store4(dst + 2 * stride, o23);
  Store4(dst + 3 * stride, _mm_srli_si128(o23, 4));
}

namespace {

// ---------------------------------------------------------------------------
// Luma interpolation.

// 6-tap filter of eight 16-bit lanes: a - 5b + 20c + 20d - 5e + f.
inline __m128i Tap6(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f) {
  const __m128i cd = _mm_add_epi16(c, d), be = _mm_add_epi16(b, e);
  return _mm_add_epi16(_mm_add_epi16(a, f),
                       _mm_sub_epi16(_mm_slli_epi16(_mm_add_epi16(_mm_slli_epi16(cd, 2), cd), 2),
                                     _mm_add_epi16(_mm_slli_epi16(be, 2), be)));
}

// Unrounded 6-tap sums of w samples along `tap` (1: horizontal, stride:
// vertical) of one row, as 16-bit lanes: lo = samples 0-7, hi = 8-15.
inline void TapRow(const uint8_t* src, ptrdiff_t tap, int w, __m128i& lo, __m128i& hi) {
  const __m128i zero = _mm_setzero_si128();
  __m128i v[6];
  for (int k = 0; k < 6; ++k) v[k] = LoadW(src + (k - 2) * tap, w);
  lo = Tap6(_mm_unpacklo_epi8(v[0], zero), _mm_unpacklo_epi8(v[1], zero), _mm_unpacklo_epi8(v[2], zero),
            _mm_unpacklo_epi8(v[3], zero), _mm_unpacklo_epi8(v[4], zero), _mm_unpacklo_epi8(v[5], zero));
  if (w == 16)
    hi = Tap6(_mm_unpackhi_epi8(v[0], zero), _mm_unpackhi_epi8(v[1], zero), _mm_unpackhi_epi8(v[2], zero),
              _mm_unpackhi_epi8(v[3], zero), _mm_unpackhi_epi8(v[4], zero), _mm_unpackhi_epi8(v[5], zero));
  else
    hi = zero;
}

inline __m128i Round5(__m128i lo, __m128i hi) {
  const __m128i k16 = _mm_set1_epi16(16);
  return _mm_packus_epi16(_mm_srai_epi16(_mm_add_epi16(lo, k16), 5), _mm_srai_epi16(_mm_add_epi16(hi, k16), 5));
}

// Half-sample planes into a 16-stride buffer (b, h) as in the reference.
void Half(uint8_t* dst, const uint8_t* src, ptrdiff_t ss, ptrdiff_t tap, int w, int h) {
  for (int y = 0; y < h; ++y, dst += 16, src += ss) {
    __m128i lo, hi;
    TapRow(src, tap, w, lo, hi);
    StoreW(dst, Round5(lo, hi), w);
  }
}

// Centre half samples j: horizontal sums kept at 16 bits, then the vertical
// filter in 32-bit lanes.
void HalfHV(uint8_t* dst, const uint8_t* src, ptrdiff_t ss, int w, int h) {
  alignas(16) int16_t tmp[21 * 16];
  const uint8_t* s = src - 2 * ss;
  for (int y = 0; y < h + 5; ++y, s += ss) {
    __m128i lo, hi;
    TapRow(s, 1, w, lo, hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(tmp + y * 16), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(tmp + y * 16 + 8), hi);
  }
  const __m128i k1 = _mm_set1_epi16(1), k5 = _mm_set1_epi16(-5), k20 = _mm_set1_epi16(20);
  const __m128i k512 = _mm_set1_epi32(512);
  for (int y = 0; y < h; ++y, dst += 16) {
    __m128i out[2];
    for (int half = 0; half < (w == 16 ? 2 : 1); ++half) {
      const int16_t* t = tmp + y * 16 + half * 8;
      auto row = [&](int k) { return _mm_load_si128(reinterpret_cast<const __m128i*>(t + k * 16)); };
      const __m128i a = row(0), b = row(1), c = row(2), d = row(3), e = row(4), f = row(5);
      const __m128i af_lo = _mm_unpacklo_epi16(a, f), af_hi = _mm_unpackhi_epi16(a, f);
      const __m128i be_lo = _mm_unpacklo_epi16(b, e), be_hi = _mm_unpackhi_epi16(b, e);
      const __m128i cd_lo = _mm_unpacklo_epi16(c, d), cd_hi = _mm_unpackhi_epi16(c, d);
      __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(af_lo, k1), _mm_madd_epi16(be_lo, k5)),
                                 _mm_madd_epi16(cd_lo, k20));
      __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(af_hi, k1), _mm_madd_epi16(be_hi, k5)),
                                 _mm_madd_epi16(cd_hi, k20));
      lo = _mm_srai_epi32(_mm_add_epi32(lo, k512), 10);
      hi = _mm_srai_epi32(_mm_add_epi32(hi, k512), 10);
      out[half] = _mm_packs_epi32(lo, hi);
    }
    if (w != 16) out[1] = _mm_setzero_si128();
    StoreW(dst, _mm_packus_epi16(out[0], out[1]), w);
  }
}

}  // namespace

void LumaMc_sse2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (fx == 0 && fy == 0) {
    for (int y = 0; y < h; ++y) StoreW(dst + y * ds, LoadW(src + y * ss, w), w);
    return;
  }
  alignas(16) uint8_t a[16 * 16];
  alignas(16) uint8_t b[16 * 16];
  const uint8_t* q = nullptr;  // second prediction, averaged with the first (a)
  ptrdiff_t qs = 16;
  if (fy == 0) {
    Half(a, src, ss, 1, w, h);
    if (fx != 2) q = src + (fx == 3 ? 1 : 0), qs = ss;
  } else if (fx == 0) {
    Half(a, src, ss, ss, w, h);
    if (fy != 2) q = src + (fy == 3 ? ss : 0), qs = ss;
  } else if (fx == 2 || fy == 2) {
    HalfHV(a, src, ss, w, h);
    if (fx == 2 && fy != 2) Half(b, src + (fy == 3 ? ss : 0), ss, 1, w, h), q = b;
    if (fy == 2 && fx != 2) Half(b, src + (fx == 3 ? 1 : 0), ss, ss, w, h), q = b;
  } else {
    Half(a, src + (fy == 3 ? ss : 0), ss, 1, w, h);
    Half(b, src + (fx == 3 ? 1 : 0), ss, ss, w, h);
    q = b;
  }
  for (int y = 0; y < h; ++y) {
    __m128i v = LoadW(a + y * 16, w);
    if (q) v = _mm_avg_epu8(v, LoadW(q + y * qs, w));
    StoreW(dst + y * ds, v, w);
  }
}

// ---------------------------------------------------------------------------
// Chroma interpolation.

void ChromaMc_sse2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (fx == 0 && fy == 0) {
    for (int y = 0; y < h; ++y) StoreW(dst + y * ds, LoadW(src + y * ss, w), w);
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  // Pairs (A, B) and (C, D) interleaved, weighted by one multiply-add each.
  const __m128i wab = _mm_set1_epi32(int((fx * (8 - fy)) << 16 | ((8 - fx) * (8 - fy))));
  const __m128i wcd = _mm_set1_epi32(int((fx * fy) << 16 | ((8 - fx) * fy)));
  const __m128i k32 = _mm_set1_epi32(32);
  __m128i top = LoadW(src, w), top1 = LoadW(src + 1, w);
  for (int y = 0; y < h; ++y, dst += ds, src += ss) {
    const __m128i bot = LoadW(src + ss, w), bot1 = LoadW(src + ss + 1, w);
    const __m128i ab = _mm_unpacklo_epi8(_mm_unpacklo_epi8(top, top1), zero);  // first 4 pairs
    const __m128i cd = _mm_unpacklo_epi8(_mm_unpacklo_epi8(bot, bot1), zero);
    __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(ab, wab), _mm_madd_epi16(cd, wcd)), k32);
    __m128i hi = zero;
    if (w == 8) {
      const __m128i ab2 = _mm_unpackhi_epi8(_mm_unpacklo_epi8(top, top1), zero);
      const __m128i cd2 = _mm_unpackhi_epi8(_mm_unpacklo_epi8(bot, bot1), zero);
      hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(ab2, wab), _mm_madd_epi16(cd2, wcd)), k32);
      hi = _mm_srai_epi32(hi, 6);
    }
    lo = _mm_srai_epi32(lo, 6);
    const __m128i out = _mm_packus_epi16(_mm_packs_epi32(lo, hi), zero);
    StoreW(dst, out, w);
    top = bot;
    top1 = bot1;
  }
}

namespace {

// ---------------------------------------------------------------------------
// Loop filter. Eight lines at a time in 16-bit lanes: each sample name holds
// one value per line.

inline __m128i AbsDiff16(__m128i a, __m128i b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); }
inline __m128i Clip16(__m128i v, __m128i lo, __m128i hi) { return _mm_min_epi16(_mm_max_epi16(v, lo), hi); }
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

struct LumaLines {
  __m128i p3, p2, p1, p0, q0, q1, q2, q3;
};

// 8.7.2.3 / 8.7.2.4 on eight luma lines; bs and tc0 one 16-bit lane per line.
void FilterLuma8(LumaLines& l, __m128i alpha, __m128i beta, __m128i bs, __m128i tc0) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
  const __m128i apq = AbsDiff16(l.p0, l.q0);
  const __m128i on = _mm_andnot_si128(
      _mm_cmpeq_epi16(bs, zero),
      _mm_and_si128(_mm_cmplt_epi16(apq, alpha),
                    _mm_and_si128(_mm_cmplt_epi16(AbsDiff16(l.p1, l.p0), beta),
                                  _mm_cmplt_epi16(AbsDiff16(l.q1, l.q0), beta))));
  if (_mm_movemask_epi8(on) == 0) return;
  const __m128i ap = _mm_cmplt_epi16(AbsDiff16(l.p2, l.p0), beta);
  const __m128i aq = _mm_cmplt_epi16(AbsDiff16(l.q2, l.q0), beta);
  const __m128i strong_bs = _mm_cmpeq_epi16(bs, four);
  if (_mm_movemask_epi8(strong_bs) == 0) {  // inter edges: the normal filter alone
    const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(tc0, ap), aq);
    const __m128i delta = Clip16(
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(l.q0, l.p0), 2), _mm_sub_epi16(l.p1, l.q1)), four), 3),
        _mm_sub_epi16(zero, tc), tc);
    const __m128i avg = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(l.p0, l.q0), one), 1);
    const __m128i ntc0 = _mm_sub_epi16(zero, tc0);
    const __m128i dp1 = Clip16(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(l.p2, avg), _mm_slli_epi16(l.p1, 1)), 1), ntc0, tc0);
    const __m128i dq1 = Clip16(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(l.q2, avg), _mm_slli_epi16(l.q1, 1)), 1), ntc0, tc0);
    const __m128i don = _mm_and_si128(on, delta);
    l.p0 = _mm_add_epi16(l.p0, don);  // packing to bytes clips to 0..255
    l.q0 = _mm_sub_epi16(l.q0, don);
    l.p1 = _mm_add_epi16(l.p1, _mm_and_si128(_mm_and_si128(on, ap), dp1));
    l.q1 = _mm_add_epi16(l.q1, _mm_and_si128(_mm_and_si128(on, aq), dq1));
    return;
  }
  // Normal filter.
  const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(tc0, ap), aq);
  const __m128i ntc = _mm_sub_epi16(zero, tc);
  const __m128i delta = Clip16(
      _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(l.q0, l.p0), 2), _mm_sub_epi16(l.p1, l.q1)), four), 3),
      ntc, tc);
  const __m128i avg = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(l.p0, l.q0), one), 1);
  const __m128i ntc0 = _mm_sub_epi16(zero, tc0);
  const __m128i n_p1 = _mm_add_epi16(
      l.p1, Clip16(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(l.p2, avg), _mm_slli_epi16(l.p1, 1)), 1), ntc0, tc0));
  const __m128i n_q1 = _mm_add_epi16(
      l.q1, Clip16(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(l.q2, avg), _mm_slli_epi16(l.q1, 1)), 1), ntc0, tc0));
  __m128i n_p0 = _mm_add_epi16(l.p0, delta);
  __m128i n_q0 = _mm_sub_epi16(l.q0, delta);
  n_p0 = Clip16(n_p0, zero, _mm_set1_epi16(255));
  n_q0 = Clip16(n_q0, zero, _mm_set1_epi16(255));
  // Strong filter.
  const __m128i strong = _mm_and_si128(
      strong_bs, _mm_cmplt_epi16(apq, _mm_add_epi16(_mm_srai_epi16(alpha, 2), two)));
  const __m128i sp = _mm_and_si128(strong, ap), sq = _mm_and_si128(strong, aq);
  const __m128i p0q0 = _mm_add_epi16(l.p0, l.q0);
  const __m128i s_p0 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(l.p2, _mm_slli_epi16(_mm_add_epi16(l.p1, p0q0), 1)), l.q1), four), 3);
  const __m128i s_p1 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(l.p2, l.p1), p0q0), two), 2);
  const __m128i s_p2 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(l.p3, 1), _mm_add_epi16(_mm_slli_epi16(l.p2, 1), l.p2)),
                                  _mm_add_epi16(l.p1, p0q0)), four), 3);
  const __m128i w_p0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(l.p1, 1), l.p0), l.q1), two), 2);
  const __m128i s_q0 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(l.q2, _mm_slli_epi16(_mm_add_epi16(l.q1, p0q0), 1)), l.p1), four), 3);
  const __m128i s_q1 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(l.q2, l.q1), p0q0), two), 2);
  const __m128i s_q2 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(l.q3, 1), _mm_add_epi16(_mm_slli_epi16(l.q2, 1), l.q2)),
                                  _mm_add_epi16(l.q1, p0q0)), four), 3);
  const __m128i w_q0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(l.q1, 1), l.q0), l.p1), two), 2);
  // bS 4 lines take the strong results, the others the normal ones.
  const __m128i r_p0 = Select(strong_bs, Select(sp, s_p0, w_p0), n_p0);
  const __m128i r_q0 = Select(strong_bs, Select(sq, s_q0, w_q0), n_q0);
  const __m128i r_p1 = Select(strong_bs, Select(sp, s_p1, l.p1), Select(ap, n_p1, l.p1));
  const __m128i r_q1 = Select(strong_bs, Select(sq, s_q1, l.q1), Select(aq, n_q1, l.q1));
  const __m128i r_p2 = Select(sp, s_p2, l.p2);
  const __m128i r_q2 = Select(sq, s_q2, l.q2);
  l.p0 = Select(on, r_p0, l.p0);
  l.q0 = Select(on, r_q0, l.q0);
  l.p1 = Select(on, r_p1, l.p1);
  l.q1 = Select(on, r_q1, l.q1);
  l.p2 = Select(on, r_p2, l.p2);
  l.q2 = Select(on, r_q2, l.q2);
}

// Four bytes, one per 4-sample segment, spread to one byte per line: each
// repeated four times (luma, 16 lines) or twice (chroma, 8 lines).
inline __m128i Spread4(const void* seg) {
  const __m128i v = Load4(static_cast<const uint8_t*>(seg));
  return _mm_unpacklo_epi16(_mm_unpacklo_epi8(v, v), _mm_unpacklo_epi8(v, v));
}
inline __m128i Spread2(const void* seg) {
  const __m128i v = Load4(static_cast<const uint8_t*>(seg));
  return _mm_unpacklo_epi8(v, v);
}

// Transposes 8 rows of 16 bytes into 16 rows of 8 bytes (out[i] low half = row
// 2i, high half = row 2i + 1), or the other way round.
inline void Transpose8x16(const __m128i in[8], __m128i out[8]) {
  for (int half = 0; half < 2; ++half) {
    __m128i a[4];
    for (int k = 0; k < 4; ++k)
      a[k] = half == 0 ? _mm_unpacklo_epi8(in[2 * k], in[2 * k + 1]) : _mm_unpackhi_epi8(in[2 * k], in[2 * k + 1]);
    const __m128i w0 = _mm_unpacklo_epi16(a[0], a[1]), w1 = _mm_unpackhi_epi16(a[0], a[1]);
    const __m128i w2 = _mm_unpacklo_epi16(a[2], a[3]), w3 = _mm_unpackhi_epi16(a[2], a[3]);
    out[half * 4 + 0] = _mm_unpacklo_epi32(w0, w2);
    out[half * 4 + 1] = _mm_unpackhi_epi32(w0, w2);
    out[half * 4 + 2] = _mm_unpacklo_epi32(w1, w3);
    out[half * 4 + 3] = _mm_unpackhi_epi32(w1, w3);
  }
}

}  // namespace

void LumaEdge_sse2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                   const int8_t* tc0) {
  if (len != 16 || (step != 1 && stride != 1)) {
    LumaEdge_c(pix, step, stride, len, alpha, beta, bs, tc0);
    return;
  }
  uint32_t any;
  std::memcpy(&any, bs, 4);
  if (any == 0 || alpha == 0 || beta == 0) return;
  const __m128i zero = _mm_setzero_si128();
  const __m128i va = _mm_set1_epi16(int16_t(alpha)), vb = _mm_set1_epi16(int16_t(beta));
  // tc0 is never negative: its bytes widen as unsigned.
  const __m128i bs16 = Spread4(bs), tc16 = Spread4(tc0);
  __m128i rows[8];  // p3 .. q3, 16 lines each
  if (stride == 1) {
    for (int k = 0; k < 8; ++k) rows[k] = Load16(pix + (k - 4) * step);
  } else {
    __m128i in[8];
    for (int r = 0; r < 8; ++r)
      in[r] = _mm_unpacklo_epi64(Load8(pix + (2 * r) * stride - 4), Load8(pix + (2 * r + 1) * stride - 4));
    // in[r]: lines 2r and 2r + 1, 8 samples each; two 8x8 transposes give
    // one register per sample name, lines 0-7 low and 8-15 high.
    for (int part = 0; part < 2; ++part) {
      __m128i a[4];
      for (int k = 0; k < 4; ++k) {
        const __m128i v = in[part * 4 + k];  // lines 8part+2k, 8part+2k+1
        a[k] = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 8));
      }
      const __m128i w0 = _mm_unpacklo_epi16(a[0], a[1]), w1 = _mm_unpackhi_epi16(a[0], a[1]);
      const __m128i w2 = _mm_unpacklo_epi16(a[2], a[3]), w3 = _mm_unpackhi_epi16(a[2], a[3]);
      const __m128i c01 = _mm_unpacklo_epi32(w0, w2), c23 = _mm_unpackhi_epi32(w0, w2);
      const __m128i c45 = _mm_unpacklo_epi32(w1, w3), c67 = _mm_unpackhi_epi32(w1, w3);
      // cXY: column X of the 8 lines in the low half, column Y in the high half.
      if (part == 0) {
        rows[0] = c01, rows[1] = c23, rows[2] = c45, rows[3] = c67;
      } else {
        const __m128i o01 = rows[0], o23 = rows[1], o45 = rows[2], o67 = rows[3];
        rows[0] = _mm_unpacklo_epi64(o01, c01);
        rows[1] = _mm_unpackhi_epi64(o01, c01);
        rows[2] = _mm_unpacklo_epi64(o23, c23);
        rows[3] = _mm_unpackhi_epi64(o23, c23);
        rows[4] = _mm_unpacklo_epi64(o45, c45);
        rows[5] = _mm_unpackhi_epi64(o45, c45);
        rows[6] = _mm_unpacklo_epi64(o67, c67);
        rows[7] = _mm_unpackhi_epi64(o67, c67);
      }
    }
  }
  __m128i out_lo[8], out_hi[8];
  for (int half = 0; half < 2; ++half) {
    LumaLines l;
    __m128i* v[8] = {&l.p3, &l.p2, &l.p1, &l.p0, &l.q0, &l.q1, &l.q2, &l.q3};
    for (int k = 0; k < 8; ++k)
      *v[k] = half == 0 ? _mm_unpacklo_epi8(rows[k], zero) : _mm_unpackhi_epi8(rows[k], zero);
    const __m128i vbs = half == 0 ? _mm_unpacklo_epi8(bs16, zero) : _mm_unpackhi_epi8(bs16, zero);
    const __m128i vtc = half == 0 ? _mm_unpacklo_epi8(tc16, zero) : _mm_unpackhi_epi8(tc16, zero);
    FilterLuma8(l, va, vb, vbs, vtc);
    for (int k = 0; k < 8; ++k) (half == 0 ? out_lo : out_hi)[k] = *v[k];
  }
  for (int k = 0; k < 8; ++k) rows[k] = _mm_packus_epi16(out_lo[k], out_hi[k]);
  if (stride == 1) {
    for (int k = 1; k < 7; ++k) Store16(pix + (k - 4) * step, rows[k]);
  } else {
    __m128i out[8];
    Transpose8x16(rows, out);
    // out[0..3]: lines 0-7 (two per register), out[4..7]: lines 8-15.
    for (int i = 0; i < 8; ++i) {
      const int line = (i < 4 ? 0 : 8) + (i & 3) * 2;
      Store8(pix + line * stride - 4, out[i]);
      Store8(pix + (line + 1) * stride - 4, _mm_srli_si128(out[i], 8));
    }
  }
}


void ChromaEdge_sse2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                     const int8_t* tc0) {
  if (len != 8 || (step != 1 && stride != 1)) {
    ChromaEdge_c(pix, step, stride, len, alpha, beta, bs, tc0);
    return;
  }
  uint32_t any;
  std::memcpy(&any, bs, 4);
  if (any == 0 || alpha == 0 || beta == 0) return;
  const __m128i zero = _mm_setzero_si128();
  __m128i p1, p0, q0, q1;
  if (stride == 1) {
    p1 = _mm_unpacklo_epi8(Load8(pix - 2 * step), zero);
    p0 = _mm_unpacklo_epi8(Load8(pix - step), zero);
    q0 = _mm_unpacklo_epi8(Load8(pix), zero);
    q1 = _mm_unpacklo_epi8(Load8(pix + step), zero);
  } else {
    __m128i r[8];
    for (int i = 0; i < 8; ++i) r[i] = Load4(pix + i * stride - 2);
    const __m128i a = _mm_unpacklo_epi8(r[0], r[1]), b = _mm_unpacklo_epi8(r[2], r[3]);
    const __m128i c = _mm_unpacklo_epi8(r[4], r[5]), d = _mm_unpacklo_epi8(r[6], r[7]);
    const __m128i e = _mm_unpacklo_epi16(a, b), f = _mm_unpacklo_epi16(c, d);
    const __m128i g = _mm_unpacklo_epi32(e, f), h = _mm_unpackhi_epi32(e, f);
    p1 = _mm_unpacklo_epi8(g, zero);
    p0 = _mm_unpackhi_epi8(g, zero);
    q0 = _mm_unpacklo_epi8(h, zero);
    q1 = _mm_unpackhi_epi8(h, zero);
  }
  const __m128i vbs = _mm_unpacklo_epi8(Spread2(bs), zero), vtc = _mm_unpacklo_epi8(Spread2(tc0), zero);
  const __m128i two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
  const __m128i on = _mm_andnot_si128(
      _mm_cmpeq_epi16(vbs, zero),
      _mm_and_si128(_mm_cmplt_epi16(AbsDiff16(p0, q0), _mm_set1_epi16(int16_t(alpha))),
                    _mm_and_si128(_mm_cmplt_epi16(AbsDiff16(p1, p0), _mm_set1_epi16(int16_t(beta))),
                                  _mm_cmplt_epi16(AbsDiff16(q1, q0), _mm_set1_epi16(int16_t(beta))))));
  if (_mm_movemask_epi8(on) == 0) return;
  const __m128i strong = _mm_cmpeq_epi16(vbs, four);
  const __m128i tc = _mm_add_epi16(vtc, _mm_set1_epi16(1));
  const __m128i delta = Clip16(
      _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1)), four), 3),
      _mm_sub_epi16(zero, tc), tc);
  const __m128i n_p0 = _mm_add_epi16(p0, delta), n_q0 = _mm_sub_epi16(q0, delta);
  const __m128i s_p0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), p0), q1), two), 2);
  const __m128i s_q0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), q0), p1), two), 2);
  const __m128i r_p0 = Select(on, Select(strong, s_p0, n_p0), p0);
  const __m128i r_q0 = Select(on, Select(strong, s_q0, n_q0), q0);
  if (stride == 1) {
    const __m128i pq = _mm_packus_epi16(r_p0, r_q0);
    Store8(pix - step, pq);
    Store8(pix, _mm_srli_si128(pq, 8));
  } else {
    const __m128i pq = _mm_packus_epi16(r_p0, r_q0);
    const __m128i il = _mm_unpacklo_epi8(pq, _mm_srli_si128(pq, 8));  // line i: p0, q0
    alignas(16) uint16_t pairs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(pairs), il);
    for (int i = 0; i < 8; ++i) std::memcpy(pix + i * stride - 1, &pairs[i], 2);
  }
}

}  // namespace h264
}  // namespace videodec
