// AVX2 variants: the luma edge filter with all 16 lines of an edge in the
// 16-bit lanes of one register, and the luma interpolation of 16-wide blocks
// a whole row at a time, where SSE2 takes two passes. Equal to the C++
// references of h264_dsp.cpp.
#include <immintrin.h>

#include "codecs/videodec/h264/h264_dsp.h"
#include "codecs/videodec/h264/h264_dsp_x86.h"

namespace videodec {
namespace h264 {
namespace {

// 16-bit lane operations of one AVX2 register.
struct V256 {
  using T = __m256i;
  static T Set(int v) { return _mm256_set1_epi16(int16_t(v)); }
  static T Zero() { return _mm256_setzero_si256(); }
  static T Add(T a, T b) { return _mm256_add_epi16(a, b); }
  static T Sub(T a, T b) { return _mm256_sub_epi16(a, b); }
  template <int n>
  static T Shl(T a) { return _mm256_slli_epi16(a, n); }
  template <int n>
  static T Sar(T a) { return _mm256_srai_epi16(a, n); }
  static T Min(T a, T b) { return _mm256_min_epi16(a, b); }
  static T Max(T a, T b) { return _mm256_max_epi16(a, b); }
  static T Lt(T a, T b) { return _mm256_cmpgt_epi16(b, a); }
  static T Eq(T a, T b) { return _mm256_cmpeq_epi16(a, b); }
  static T And(T a, T b) { return _mm256_and_si256(a, b); }
  static T AndNot(T a, T b) { return _mm256_andnot_si256(a, b); }  // ~a & b
  static T Or(T a, T b) { return _mm256_or_si256(a, b); }
  static bool Any(T m) { return _mm256_movemask_epi8(m) != 0; }
};

inline __m256i Widen(__m128i v) { return _mm256_cvtepu8_epi16(v); }
// 16 lanes back to 16 bytes, clipped to 0..255.
inline __m128i Narrow(__m256i v) {
  return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0xD8));
}

inline __m256i Load16Wide(const uint8_t* p) { return Widen(Load16(p)); }

// Unrounded 6-tap sums of 16 samples along `tap` (1 or the stride).
inline __m256i TapRow16(const uint8_t* src, ptrdiff_t tap) {
  const __m256i a = Load16Wide(src - 2 * tap), b = Load16Wide(src - tap), c = Load16Wide(src);
  const __m256i d = Load16Wide(src + tap), e = Load16Wide(src + 2 * tap), f = Load16Wide(src + 3 * tap);
  const __m256i cd = _mm256_add_epi16(c, d), be = _mm256_add_epi16(b, e);
  return _mm256_add_epi16(_mm256_add_epi16(a, f),
                          _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(_mm256_slli_epi16(cd, 2), cd), 2),
                                           _mm256_add_epi16(_mm256_slli_epi16(be, 2), be)));
}

// One row of 16 half samples b or h, rounded and clipped.
inline __m128i HalfRow16(const uint8_t* src, ptrdiff_t tap) {
  return Narrow(_mm256_srai_epi16(_mm256_add_epi16(TapRow16(src, tap), _mm256_set1_epi16(16)), 5));
}

// Centre half samples j of a 16-wide block.
void HalfHV16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h) {
  alignas(32) int16_t tmp[21 * 16];
  const uint8_t* s = src - 2 * ss;
  for (int y = 0; y < h + 5; ++y, s += ss)
    _mm256_store_si256(reinterpret_cast<__m256i*>(tmp + y * 16), TapRow16(s, 1));
  const __m256i k1 = _mm256_set1_epi16(1), k5 = _mm256_set1_epi16(-5), k20 = _mm256_set1_epi16(20);
  const __m256i k512 = _mm256_set1_epi32(512);
  for (int y = 0; y < h; ++y, dst += ds) {
    auto row = [&](int k) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(tmp + (y + k) * 16)); };
    const __m256i a = row(0), b = row(1), c = row(2), d = row(3), e = row(4), f = row(5);
    // Within each 128-bit half: lo = samples 0-3, hi = samples 4-7 of the half.
    __m256i lo = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, f), k1),
                                                   _mm256_madd_epi16(_mm256_unpacklo_epi16(b, e), k5)),
                                  _mm256_madd_epi16(_mm256_unpacklo_epi16(c, d), k20));
    __m256i hi = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, f), k1),
                                                   _mm256_madd_epi16(_mm256_unpackhi_epi16(b, e), k5)),
                                  _mm256_madd_epi16(_mm256_unpackhi_epi16(c, d), k20));
    lo = _mm256_srai_epi32(_mm256_add_epi32(lo, k512), 10);
    hi = _mm256_srai_epi32(_mm256_add_epi32(hi, k512), 10);
    Store16(dst, Narrow(_mm256_packs_epi32(lo, hi)));
  }
}

// Row kernels of 16-wide blocks for LumaMcRows.
struct LumaRowsAvx2 {
  static __m128i HalfRow(const uint8_t* src, ptrdiff_t tap, int) { return HalfRow16(src, tap); }
  static void HalfHV(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int, int h) {
    HalfHV16(dst, ds, src, ss, h);
  }
};

}  // namespace

void LumaMc_avx2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (w != 16) {
    LumaMc_sse2(dst, ds, src, ss, w, h, fx, fy);
    return;
  }
  LumaMcRows<LumaRowsAvx2>(dst, ds, src, ss, w, h, fx, fy);
}

void LumaEdge_avx2(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, int len, int alpha, int beta, const uint8_t* bs,
                   const int8_t* tc0) {
  if (len != 16 || (step != 1 && stride != 1)) {
    LumaEdge_c(pix, step, stride, len, alpha, beta, bs, tc0);
    return;
  }
  if (EdgeIsOff(bs, alpha, beta)) return;
  __m128i rows[8];
  LoadLumaEdge(pix, step, stride, rows);
  EdgeLines<V256> l{Widen(rows[0]), Widen(rows[1]), Widen(rows[2]), Widen(rows[3]),
                    Widen(rows[4]), Widen(rows[5]), Widen(rows[6]), Widen(rows[7])};
  FilterLumaLines<V256>(l, alpha, beta, Widen(Spread4(bs)), Widen(Spread4(tc0)));  // tc0 is never negative
  rows[1] = Narrow(l.p2);
  rows[2] = Narrow(l.p1);
  rows[3] = Narrow(l.p0);
  rows[4] = Narrow(l.q0);
  rows[5] = Narrow(l.q1);
  rows[6] = Narrow(l.q2);
  StoreLumaEdge(pix, step, stride, rows);
}

}  // namespace h264
}  // namespace videodec
