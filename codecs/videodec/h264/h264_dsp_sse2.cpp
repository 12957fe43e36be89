// SSE2 variants of the H.264 pixel kernels, equal to the C++ references of
// h264_dsp.cpp. Loads never reach past the samples the references read: the
// picture planes have no padding, so a 4-wide block is read with 4-byte loads.
#include <emmintrin.h>

#include <cstring>

#include "codecs/videodec/h264/h264_dsp.h"
#include "codecs/videodec/h264/h264_dsp_x86.h"

namespace videodec {
namespace h264 {
namespace {

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

// One row of half samples b (tap 1) or h (tap = stride), rounded and clipped.
inline __m128i HalfRow(const uint8_t* src, ptrdiff_t tap, int w) {
  __m128i lo, hi;
  TapRow(src, tap, w, lo, hi);
  return Round5(lo, hi);
}

// Centre half samples j: horizontal sums kept at 16 bits, then the vertical
// filter in 32-bit lanes.
void HalfHV(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
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
  for (int y = 0; y < h; ++y, dst += ds) {
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

// Row kernels of the luma interpolation for LumaMcRows.
struct LumaRowsSse2 {
  static __m128i HalfRow(const uint8_t* src, ptrdiff_t tap, int w) { return h264::HalfRow(src, tap, w); }
  static void HalfHV(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h) {
    h264::HalfHV(dst, ds, src, ss, w, h);
  }
};

}  // namespace

void LumaMc_sse2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  LumaMcRows<LumaRowsSse2>(dst, ds, src, ss, w, h, fx, fy);
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

void LumaEdge_sse2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                   const int8_t* tc0) {
  if (len != 16 || (step != 1 && stride != 1)) {
    LumaEdge_c(pix, step, stride, len, alpha, beta, bs, tc0);
    return;
  }
  if (EdgeIsOff(bs, alpha, beta)) return;
  const __m128i zero = _mm_setzero_si128();
  const __m128i bs16 = Spread4(bs), tc16 = Spread4(tc0);  // tc0 is never negative
  __m128i rows[8];
  LoadLumaEdge(pix, step, stride, rows);
  // Lines 0-7 and 8-15 in 16-bit lanes.
  auto lines = [&](bool high) {
    auto u = [&](int k) { return high ? _mm_unpackhi_epi8(rows[k], zero) : _mm_unpacklo_epi8(rows[k], zero); };
    return EdgeLines<V128>{u(0), u(1), u(2), u(3), u(4), u(5), u(6), u(7)};
  };
  EdgeLines<V128> lo = lines(false), hi = lines(true);
  FilterLumaLines<V128>(lo, alpha, beta, _mm_unpacklo_epi8(bs16, zero), _mm_unpacklo_epi8(tc16, zero));
  FilterLumaLines<V128>(hi, alpha, beta, _mm_unpackhi_epi8(bs16, zero), _mm_unpackhi_epi8(tc16, zero));
  rows[1] = _mm_packus_epi16(lo.p2, hi.p2);
  rows[2] = _mm_packus_epi16(lo.p1, hi.p1);
  rows[3] = _mm_packus_epi16(lo.p0, hi.p0);
  rows[4] = _mm_packus_epi16(lo.q0, hi.q0);
  rows[5] = _mm_packus_epi16(lo.q1, hi.q1);
  rows[6] = _mm_packus_epi16(lo.q2, hi.q2);
  StoreLumaEdge(pix, step, stride, rows);
}

void ChromaEdge_sse2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                     const int8_t* tc0) {
  if (len != 8 || (step != 1 && stride != 1)) {
    ChromaEdge_c(pix, step, stride, len, alpha, beta, bs, tc0);
    return;
  }
  if (EdgeIsOff(bs, alpha, beta)) return;
  const __m128i zero = _mm_setzero_si128();
  __m128i p1, p0, q0, q1;
  LoadChromaEdge(pix, step, stride, p1, p0, q0, q1);
  if (FilterChromaLines<V128>(p1, p0, q0, q1, alpha, beta, _mm_unpacklo_epi8(Spread2(bs), zero),
                              _mm_unpacklo_epi8(Spread2(tc0), zero)))
    StoreChromaEdge(pix, step, stride, p0, q0);
}

void LumaColumnEdges_sse2(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges) {
  FilterLumaColumnEdges<LumaEdge_sse2>(pix, stride, edges);
}

}  // namespace h264
}  // namespace videodec
