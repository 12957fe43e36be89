// AVX2 variant of the luma edge filter: all 16 lines of an edge in the 16-bit
// lanes of one register, where SSE2 takes two passes. Equal to the C++
// reference of h264_dsp.cpp.
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

}  // namespace

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
