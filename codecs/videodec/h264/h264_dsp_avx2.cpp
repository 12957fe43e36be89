// AVX2 variants: the luma edge filter with all 16 lines of an edge in the
// 16-bit lanes of one register, the luma interpolation of 16-wide blocks a
// whole row at a time and of 8-wide blocks two rows at a time, the
// horizontal 6-tap filter and the chroma interpolation as multiply-adds of
// byte pairs. Equal to the C++ references of h264_dsp.cpp; like the SSE2
// variants, loads never reach past the samples the references read.
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

// The 6-tap filter as three multiply-adds of byte pairs: (e, f) by (1, -5),
// (g, h) by (20, 20), (i, j) by (-5, 1). Each pair's sum and the total stay
// within 16 bits (-2550 .. 10710), so nothing saturates.
inline __m256i Tap6Pairs(__m256i ef, __m256i gh, __m256i ij) {
  const __m256i k_ef = _mm256_set1_epi16(int16_t(0xFB01)), k_gh = _mm256_set1_epi16(0x1414);
  const __m256i k_ij = _mm256_set1_epi16(int16_t(0x01FB));
  return _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(ef, k_ef), _mm256_maddubs_epi16(gh, k_gh)),
                          _mm256_maddubs_epi16(ij, k_ij));
}

// Byte shuffles that gather, for each of eight outputs per 128-bit lane, the
// pair of samples at offsets first and first + 1 from the output (first: -2,
// 0 or 2). `wide`: one row of 16 outputs, the low lane holding the samples
// from offset -2, the high lane those from offset 3; otherwise two rows of 8,
// each lane holding its row's samples -2 .. 5 then 3 .. 10.
struct PairShuffle {
  int8_t b[32];
};
constexpr PairShuffle MakePairShuffle(int first, bool wide) {
  PairShuffle m{};
  for (int lane = 0; lane < 2; ++lane)
    for (int i = 0; i < 8; ++i)
      for (int k = 0; k < 2; ++k) {
        const int o = i + first + k;  // offset from the lane's first output
        const int idx = wide ? (lane == 0 ? o + 2 : o + 5) : (o <= 5 ? o + 2 : o + 5);
        m.b[lane * 16 + i * 2 + k] = int8_t(idx);
      }
  return m;
}
constexpr PairShuffle kPairs16[3] = {MakePairShuffle(-2, true), MakePairShuffle(0, true), MakePairShuffle(2, true)};
constexpr PairShuffle kPairs8[3] = {MakePairShuffle(-2, false), MakePairShuffle(0, false),
                                    MakePairShuffle(2, false)};

inline __m256i LoadShuffle(const PairShuffle& m) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.b));
}
inline __m256i HorizontalTaps(__m256i x, const PairShuffle* m) {
  return Tap6Pairs(_mm256_shuffle_epi8(x, LoadShuffle(m[0])), _mm256_shuffle_epi8(x, LoadShuffle(m[1])),
                   _mm256_shuffle_epi8(x, LoadShuffle(m[2])));
}
inline __m256i Join(__m128i lo, __m128i hi) { return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1); }

// Unrounded horizontal 6-tap sums of 16 samples of one row (samples -2 .. 18).
inline __m256i HorizontalTaps16(const uint8_t* src) {
  return HorizontalTaps(Join(Load16(src - 2), Load16(src + 3)), kPairs16);
}
// The same for 8 samples of rows src (low lane) and src + ss (high lane).
inline __m256i HorizontalTaps8x2(const uint8_t* src, ptrdiff_t ss) {
  return HorizontalTaps(Join(_mm_unpacklo_epi64(Load8(src - 2), Load8(src + 3)),
                             _mm_unpacklo_epi64(Load8(src + ss - 2), Load8(src + ss + 3))),
                        kPairs8);
}
// Unrounded vertical 6-tap sums of 8 samples of rows src (low lane) and
// src + ss (high lane), from rows -2 .. 4 interleaved in pairs.
inline __m256i VerticalTaps8x2(const uint8_t* src, ptrdiff_t ss) {
  __m128i r[7];
  for (int k = 0; k < 7; ++k) r[k] = Load8(src + (k - 2) * ss);
  auto pairs = [&](int k) { return Join(_mm_unpacklo_epi8(r[k], r[k + 1]), _mm_unpacklo_epi8(r[k + 1], r[k + 2])); };
  return Tap6Pairs(pairs(0), pairs(2), pairs(4));
}

// (v + 16) >> 5 clipped to bytes: each lane's 8 results in its low 8 bytes.
inline __m256i Round5x2(__m256i v) {
  const __m256i r = _mm256_srai_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(16)), 5);
  return _mm256_packus_epi16(r, r);
}
inline __m256i Load8x2(const uint8_t* p, ptrdiff_t s) { return Join(Load8(p), Load8(p + s)); }
inline void Store8x2(uint8_t* p, ptrdiff_t s, __m256i v) {
  Store8(p, _mm256_castsi256_si128(v));
  Store8(p + s, _mm256_extracti128_si256(v, 1));
}

// The vertical 6-tap filter of rows a .. f of horizontal sums, in 32-bit
// lanes, rounded and shifted by 10: the 16-bit results in order within each
// 128-bit half (samples 0-3 from the low unpacks, 4-7 from the high ones).
inline __m256i CentreTaps(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
  const __m256i k1 = _mm256_set1_epi16(1), k5 = _mm256_set1_epi16(-5), k20 = _mm256_set1_epi16(20);
  const __m256i k512 = _mm256_set1_epi32(512);
  __m256i lo = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, f), k1),
                                                 _mm256_madd_epi16(_mm256_unpacklo_epi16(b, e), k5)),
                                _mm256_madd_epi16(_mm256_unpacklo_epi16(c, d), k20));
  __m256i hi = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, f), k1),
                                                 _mm256_madd_epi16(_mm256_unpackhi_epi16(b, e), k5)),
                                _mm256_madd_epi16(_mm256_unpackhi_epi16(c, d), k20));
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, k512), 10);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, k512), 10);
  return _mm256_packs_epi32(lo, hi);
}

// Centre half samples j of an 8-wide block, two rows at a time: horizontal
// sums of rows -2 .. h + 2 kept at 16 bits, then the vertical filter in
// 32-bit lanes.
void HalfHV8(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h) {
  alignas(32) int16_t tmp[22 * 8];
  const uint8_t* s = src - 2 * ss;
  for (int y = 0; y < h + 5; y += 2, s += 2 * ss) {
    // The odd last row pairs with itself: no row past the margin is read.
    const ptrdiff_t next = y + 1 < h + 5 ? ss : 0;
    _mm256_store_si256(reinterpret_cast<__m256i*>(tmp + y * 8), HorizontalTaps8x2(s, next));
  }
  for (int y = 0; y < h; y += 2, dst += 2 * ds) {
    auto row = [&](int k) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tmp + (y + k) * 8)); };
    const __m256i v = CentreTaps(row(0), row(1), row(2), row(3), row(4), row(5));
    Store8x2(dst, ds, _mm256_packus_epi16(v, v));
  }
}

// Half samples b (horizontal) or h (vertical) of rows src and src + ss.
inline __m256i HalfH8x2(const uint8_t* src, ptrdiff_t ss) { return Round5x2(HorizontalTaps8x2(src, ss)); }
inline __m256i HalfV8x2(const uint8_t* src, ptrdiff_t ss) { return Round5x2(VerticalTaps8x2(src, ss)); }

// Luma interpolation of an 8-wide block (h even), the cases of LumaMcRows
// two rows at a time.
void LumaMc8(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h, int fx, int fy) {
  if (fx == 2 && fy == 2) {
    HalfHV8(dst, ds, src, ss, h);
    return;
  }
  if (fy == 0 || fx == 0) {
    // b or h alone (phase 2), else averaged with the nearer full sample.
    const bool horizontal = fy == 0;
    const int phase = horizontal ? fx : fy;
    const uint8_t* full = src + (phase == 3 ? (horizontal ? 1 : ss) : 0);
    for (int y = 0; y < h; y += 2) {
      const uint8_t* s = src + y * ss;
      __m256i v = horizontal ? HalfH8x2(s, ss) : HalfV8x2(s, ss);
      if (phase != 2) v = _mm256_avg_epu8(v, Load8x2(full + y * ss, ss));
      Store8x2(dst + y * ds, ds, v);
    }
    return;
  }
  if (fx == 2 || fy == 2) {
    // j averaged with the nearer b (fy odd) or h (fx odd) sample.
    alignas(16) uint8_t j[16 * 8];
    HalfHV8(j, 8, src, ss, h);
    for (int y = 0; y < h; y += 2) {
      const __m256i near = fx == 2 ? HalfH8x2(src + (y + (fy == 3)) * ss, ss)
                                   : HalfV8x2(src + y * ss + (fx == 3), ss);
      Store8x2(dst + y * ds, ds, _mm256_avg_epu8(Load8x2(j + y * 8, 8), near));
    }
    return;
  }
  // Diagonal quarter positions: mean of a horizontal and a vertical half sample.
  const uint8_t* hs = src + (fy == 3 ? ss : 0);
  const uint8_t* vs = src + (fx == 3 ? 1 : 0);
  for (int y = 0; y < h; y += 2)
    Store8x2(dst + y * ds, ds, _mm256_avg_epu8(HalfH8x2(hs + y * ss, ss), HalfV8x2(vs + y * ss, ss)));
}

// a - 5b + 20c + 20d - 5e + f of 16-bit lanes.
inline __m256i Tap6Lanes(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
  const __m256i cd = _mm256_add_epi16(c, d), be = _mm256_add_epi16(b, e);
  return _mm256_add_epi16(_mm256_add_epi16(a, f),
                          _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(_mm256_slli_epi16(cd, 2), cd), 2),
                                           _mm256_add_epi16(_mm256_slli_epi16(be, 2), be)));
}

// Unrounded 6-tap sums of 16 samples along `tap` (1 or the stride).
inline __m256i TapRow16(const uint8_t* src, ptrdiff_t tap) {
  if (tap == 1) return HorizontalTaps16(src);
  return Tap6Lanes(Load16Wide(src - 2 * tap), Load16Wide(src - tap), Load16Wide(src), Load16Wide(src + tap),
                   Load16Wide(src + 2 * tap), Load16Wide(src + 3 * tap));
}

// Half samples h of a 16-wide block row after row, each source row loaded
// and widened once: the five rows above the next one's last tap are kept.
class VerticalHalves16 {
 public:
  VerticalHalves16(const uint8_t* src, ptrdiff_t ss) : next_(src + 3 * ss), ss_(ss) {
    for (int k = 0; k < 5; ++k) r_[k] = Load16Wide(src + (k - 2) * ss);
  }
  __m128i Next() {
    const __m256i r5 = Load16Wide(next_);
    next_ += ss_;
    const __m256i sum = Tap6Lanes(r_[0], r_[1], r_[2], r_[3], r_[4], r5);
    r_[0] = r_[1], r_[1] = r_[2], r_[2] = r_[3], r_[3] = r_[4], r_[4] = r5;
    return Narrow(_mm256_srai_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(16)), 5));
  }

 private:
  __m256i r_[5];
  const uint8_t* next_;
  ptrdiff_t ss_;
};

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
  for (int y = 0; y < h; ++y, dst += ds) {
    auto row = [&](int k) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(tmp + (y + k) * 16)); };
    Store16(dst, Narrow(CentreTaps(row(0), row(1), row(2), row(3), row(4), row(5))));
  }
}

// Row kernels of 16-wide blocks for LumaMcRows.
struct LumaRowsAvx2 {
  static __m128i HalfRow(const uint8_t* src, ptrdiff_t tap, int) { return HalfRow16(src, tap); }
  static void HalfHV(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int, int h) {
    HalfHV16(dst, ds, src, ss, h);
  }
};

inline void Transpose4x4x2(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
  const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
  const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
  a = _mm256_unpacklo_epi64(t0, t2);
  b = _mm256_unpackhi_epi64(t0, t2);
  c = _mm256_unpacklo_epi64(t1, t3);
  d = _mm256_unpackhi_epi64(t1, t3);
}

// One 1-D pass of 8.5.12.2 in 32-bit lanes, as the SSE2 variant's.
inline void Butterfly2(__m256i& x0, __m256i& x1, __m256i& x2, __m256i& x3) {
  const __m256i e = _mm256_add_epi32(x0, x2), f = _mm256_sub_epi32(x0, x2);
  const __m256i g = _mm256_sub_epi32(_mm256_srai_epi32(x1, 1), x3);
  const __m256i h = _mm256_add_epi32(x1, _mm256_srai_epi32(x3, 1));
  x0 = _mm256_add_epi32(e, h);
  x1 = _mm256_add_epi32(f, g);
  x2 = _mm256_sub_epi32(f, g);
  x3 = _mm256_sub_epi32(e, h);
}

}  // namespace

// The left block in the low 128-bit half of each register, the right one in
// the high half.
void Idct4x4Add2_avx2(uint8_t* dst, ptrdiff_t stride, int16_t* c) {
  const __m128i a01 = Load16(reinterpret_cast<const uint8_t*>(c));
  const __m128i a23 = Load16(reinterpret_cast<const uint8_t*>(c + 8));
  const __m128i b01 = Load16(reinterpret_cast<const uint8_t*>(c + 16));
  const __m128i b23 = Load16(reinterpret_cast<const uint8_t*>(c + 24));
  const __m256i zero = _mm256_setzero_si256();
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(c), zero);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(c + 16), zero);
  __m256i r0 = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(a01, b01));
  __m256i r1 = _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(a01, b01));
  __m256i r2 = _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(a23, b23));
  __m256i r3 = _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(a23, b23));
  Transpose4x4x2(r0, r1, r2, r3);  // columns: one lane per row
  Butterfly2(r0, r1, r2, r3);      // row transforms
  Transpose4x4x2(r0, r1, r2, r3);  // rows of the intermediate: one lane per column
  Butterfly2(r0, r1, r2, r3);      // column transforms
  const __m256i k32 = _mm256_set1_epi32(32);
  r0 = _mm256_srai_epi32(_mm256_add_epi32(r0, k32), 6);
  r1 = _mm256_srai_epi32(_mm256_add_epi32(r1, k32), 6);
  r2 = _mm256_srai_epi32(_mm256_add_epi32(r2, k32), 6);
  r3 = _mm256_srai_epi32(_mm256_add_epi32(r3, k32), 6);
  // Rows 0-1 and 2-3 of each block as 16-bit values.
  const __m256i add01 = _mm256_packs_epi32(r0, r1), add23 = _mm256_packs_epi32(r2, r3);
  // Each row's 8 samples are the left block's 4 then the right block's 4.
  const __m128i s0 = Load8(dst), s1 = Load8(dst + stride), s2 = Load8(dst + 2 * stride), s3 = Load8(dst + 3 * stride);
  const __m256i px01 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi32(s0, s1));  // left rows 0-1, right rows 0-1
  const __m256i px23 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi32(s2, s3));
  const __m256i out = _mm256_packus_epi16(_mm256_adds_epi16(px01, add01), _mm256_adds_epi16(px23, add23));
  // out: the left block's rows 0-3 in the low half, the right block's in the high half.
  const __m128i left = _mm256_castsi256_si128(out), right = _mm256_extracti128_si256(out, 1);
  const __m128i rows01 = _mm_unpacklo_epi32(left, right), rows23 = _mm_unpackhi_epi32(left, right);
  Store8(dst, rows01);
  Store8(dst + stride, _mm_srli_si128(rows01, 8));
  Store8(dst + 2 * stride, rows23);
  Store8(dst + 3 * stride, _mm_srli_si128(rows23, 8));
}

namespace {

// The cases of LumaMcRows for 16-wide blocks that take vertical half
// samples h, which come from VerticalHalves16.
void LumaMc16Vertical(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int h, int fx, int fy) {
  if (fx == 0) {
    // h alone (phase 2), else averaged with the nearer full sample.
    VerticalHalves16 v(src, ss);
    const uint8_t* full = src + (fy == 3 ? ss : 0);
    for (int y = 0; y < h; ++y, dst += ds) {
      __m128i out = v.Next();
      if (fy != 2) out = _mm_avg_epu8(out, Load16(full + y * ss));
      Store16(dst, out);
    }
    return;
  }
  if (fy == 2) {
    // j averaged with the nearer h sample.
    alignas(16) uint8_t j[16 * 16];
    HalfHV16(j, 16, src, ss, h);
    VerticalHalves16 v(src + (fx == 3 ? 1 : 0), ss);
    for (int y = 0; y < h; ++y, dst += ds) Store16(dst, _mm_avg_epu8(Load16(j + y * 16), v.Next()));
    return;
  }
  // Diagonal quarter positions: mean of a horizontal and a vertical half sample.
  const uint8_t* hs = src + (fy == 3 ? ss : 0);
  VerticalHalves16 v(src + (fx == 3 ? 1 : 0), ss);
  for (int y = 0; y < h; ++y, dst += ds) Store16(dst, _mm_avg_epu8(HalfRow16(hs + y * ss, 1), v.Next()));
}

}  // namespace

void LumaMc_avx2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (w == 16) {
    // Every phase with a vertical half sample h: fy not 0, fx not 2.
    if (fy != 0 && fx != 2) LumaMc16Vertical(dst, ds, src, ss, h, fx, fy);
    else LumaMcRows<LumaRowsAvx2>(dst, ds, src, ss, w, h, fx, fy);
  } else if (w == 8 && (h & 1) == 0 && (fx | fy) != 0) {
    LumaMc8(dst, ds, src, ss, h, fx, fy);
  } else {
    LumaMc_sse2(dst, ds, src, ss, w, h, fx, fy);
  }
}

// Pairs (A, B) of each row weighted by one multiply-add and pairs (C, D) of
// the row below by another: each weight is at most 64 and the two of a pair
// sum to at most 64, so no 16-bit sum saturates.
// The weights of pairs (A, B) and (C, D) as the bytes of 16-bit lanes.
inline int16_t ChromaWeightsAB(int fx, int fy) { return int16_t((fx * (8 - fy)) << 8 | ((8 - fx) * (8 - fy))); }
inline int16_t ChromaWeightsCD(int fx, int fy) { return int16_t((fx * fy) << 8 | ((8 - fx) * fy)); }

void ChromaMc_avx2(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (w < 4 || (fx | fy) == 0) {
    ChromaMc_sse2(dst, ds, src, ss, w, h, fx, fy);
    return;
  }
  const __m128i wab = _mm_set1_epi16(ChromaWeightsAB(fx, fy));
  const __m128i wcd = _mm_set1_epi16(ChromaWeightsCD(fx, fy));
  const __m128i k32 = _mm_set1_epi16(32);
  auto blend = [&](__m128i top, __m128i bot) {
    const __m128i v = _mm_add_epi16(_mm_add_epi16(_mm_maddubs_epi16(top, wab), _mm_maddubs_epi16(bot, wcd)), k32);
    return _mm_packus_epi16(_mm_srli_epi16(v, 6), v);
  };
  if (w == 8) {
    auto pairs = [](const uint8_t* p) { return _mm_unpacklo_epi8(Load8(p), Load8(p + 1)); };
    __m128i top = pairs(src);
    for (int y = 0; y < h; ++y, dst += ds) {
      src += ss;
      const __m128i bot = pairs(src);
      Store8(dst, blend(top, bot));
      top = bot;
    }
    return;
  }
  // Four wide: two rows to a register.
  auto pairs = [](const uint8_t* p) { return _mm_unpacklo_epi8(Load4(p), Load4(p + 1)); };
  __m128i prev = pairs(src);
  for (int y = 0; y < h; y += 2, dst += 2 * ds) {
    const __m128i mid = pairs(src + ss);
    src += 2 * ss;
    const __m128i low = h - y > 1 ? pairs(src) : mid;
    const __m128i out = blend(_mm_unpacklo_epi64(prev, mid), _mm_unpacklo_epi64(mid, low));
    Store4(dst, out);
    if (h - y > 1) Store4(dst + ds, _mm_srli_si128(out, 4));
    prev = low;
  }
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

void LumaColumnEdges_avx2(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges) {
  FilterLumaColumnEdges<LumaEdge_avx2>(pix, stride, edges);
}

// Cb in the low 128-bit half, Cr in the high one, each as ChromaMc_avx2
// takes it.
void ChromaMc2_avx2(uint8_t* dst_cb, uint8_t* dst_cr, ptrdiff_t ds, const uint8_t* src_cb, const uint8_t* src_cr,
                    ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (w < 4 || (fx | fy) == 0) {
    ChromaMc_sse2(dst_cb, ds, src_cb, ss, w, h, fx, fy);
    ChromaMc_sse2(dst_cr, ds, src_cr, ss, w, h, fx, fy);
    return;
  }
  const __m256i wab = _mm256_set1_epi16(ChromaWeightsAB(fx, fy));
  const __m256i wcd = _mm256_set1_epi16(ChromaWeightsCD(fx, fy));
  const __m256i k32 = _mm256_set1_epi16(32);
  auto blend = [&](__m256i top, __m256i bot) {
    const __m256i v =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(top, wab), _mm256_maddubs_epi16(bot, wcd)), k32);
    return _mm256_packus_epi16(_mm256_srli_epi16(v, 6), v);
  };
  if (w == 8) {
    auto pairs = [](const uint8_t* p) { return _mm_unpacklo_epi8(Load8(p), Load8(p + 1)); };
    __m256i top = Join(pairs(src_cb), pairs(src_cr));
    for (int y = 0; y < h; ++y, dst_cb += ds, dst_cr += ds) {
      src_cb += ss;
      src_cr += ss;
      const __m256i bot = Join(pairs(src_cb), pairs(src_cr));
      const __m256i out = blend(top, bot);
      Store8(dst_cb, _mm256_castsi256_si128(out));
      Store8(dst_cr, _mm256_extracti128_si256(out, 1));
      top = bot;
    }
    return;
  }
  // Four wide: two rows of each plane to a register.
  auto pairs = [](const uint8_t* p) { return _mm_unpacklo_epi8(Load4(p), Load4(p + 1)); };
  __m128i prev_cb = pairs(src_cb), prev_cr = pairs(src_cr);
  for (int y = 0; y < h; y += 2, dst_cb += 2 * ds, dst_cr += 2 * ds) {
    const __m128i mid_cb = pairs(src_cb + ss), mid_cr = pairs(src_cr + ss);
    src_cb += 2 * ss;
    src_cr += 2 * ss;
    const bool two = h - y > 1;
    const __m128i low_cb = two ? pairs(src_cb) : mid_cb, low_cr = two ? pairs(src_cr) : mid_cr;
    const __m256i out = blend(Join(_mm_unpacklo_epi64(prev_cb, mid_cb), _mm_unpacklo_epi64(prev_cr, mid_cr)),
                              Join(_mm_unpacklo_epi64(mid_cb, low_cb), _mm_unpacklo_epi64(mid_cr, low_cr)));
    const __m128i out_cb = _mm256_castsi256_si128(out), out_cr = _mm256_extracti128_si256(out, 1);
    Store4(dst_cb, out_cb);
    Store4(dst_cr, out_cr);
    if (two) {
      Store4(dst_cb + ds, _mm_srli_si128(out_cb, 4));
      Store4(dst_cr + ds, _mm_srli_si128(out_cr, 4));
    }
    prev_cb = low_cb;
    prev_cr = low_cr;
  }
}

// Cb in the low 128-bit half, Cr in the high one: the 8 lines of each plane
// in one register per sample name.
void ChromaEdges_avx2(uint8_t* cb, uint8_t* cr, ptrdiff_t step, ptrdiff_t stride, int alpha, int beta,
                      const uint8_t* bs, const int8_t* tc0) {
  if (step != 1 && stride != 1) {
    ChromaEdge_c(cb, step, stride, 8, alpha, beta, bs, tc0);
    ChromaEdge_c(cr, step, stride, 8, alpha, beta, bs, tc0);
    return;
  }
  if (EdgeIsOff(bs, alpha, beta)) return;
  __m128i b[4], r[4];
  LoadChromaEdge(cb, step, stride, b[0], b[1], b[2], b[3]);
  LoadChromaEdge(cr, step, stride, r[0], r[1], r[2], r[3]);
  __m256i p0 = Join(b[1], r[1]), q0 = Join(b[2], r[2]);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bs16 = _mm_unpacklo_epi8(Spread2(bs), zero), tc16 = _mm_unpacklo_epi8(Spread2(tc0), zero);
  if (FilterChromaLines<V256>(Join(b[0], r[0]), p0, q0, Join(b[3], r[3]), alpha, beta, Join(bs16, bs16),
                              Join(tc16, tc16))) {
    StoreChromaEdge(cb, step, stride, _mm256_castsi256_si128(p0), _mm256_castsi256_si128(q0));
    StoreChromaEdge(cr, step, stride, _mm256_extracti128_si256(p0, 1), _mm256_extracti128_si256(q0, 1));
  }
}

namespace {

// One macroblock's blocks as three pairs of registers of eight 32-bit
// lanes, blocks 0-7 and 8-15 in decoding order: vectors, TotalCoeff and the
// reference of each block's quadrant.
struct MotionLanes {
  __m256i mv[2], nnz[2], ref[2];
};
inline MotionLanes LoadMotion(const BlockMotion& m) {
  MotionLanes l;
  const __m128i ref4 = Load4(reinterpret_cast<const uint8_t*>(m.ref));
  for (int h = 0; h < 2; ++h) {
    l.mv[h] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.mv[8 * h]));
    l.nnz[h] = _mm256_cvtepu8_epi32(Load8(m.nnz + 8 * h));
    const __m128i quads = _mm_setr_epi8(char(2 * h), char(2 * h), char(2 * h), char(2 * h), char(2 * h + 1),
                                        char(2 * h + 1), char(2 * h + 1), char(2 * h + 1), 0, 0, 0, 0, 0, 0, 0, 0);
    l.ref[h] = _mm256_cvtepi8_epi32(_mm_shuffle_epi8(ref4, quads));
  }
  return l;
}

// Per lane: the blocks of two edges' q or p sides, in segment order.
struct SideLanes {
  __m256i mv, nnz, ref;
};

// Columns: the lanes of [column 0 | column 2] and [column 1 | column 3].
inline void Columns(const MotionLanes& m, SideLanes& c02, SideLanes& c13) {
  const __m256i order = _mm256_setr_epi32(0, 2, 1, 3, 4, 6, 5, 7);
  auto split = [&](const __m256i v[2], __m256i& even, __m256i& odd) {
    const __m256i a = _mm256_permutevar8x32_epi32(v[0], order), b = _mm256_permutevar8x32_epi32(v[1], order);
    even = _mm256_unpacklo_epi64(a, b);
    odd = _mm256_unpackhi_epi64(a, b);
  };
  split(m.mv, c02.mv, c13.mv);
  split(m.nnz, c02.nnz, c13.nnz);
  split(m.ref, c02.ref, c13.ref);
}
// Rows: the lanes of [row 0 | row 1] and [row 2 | row 3].
inline void Rows(const MotionLanes& m, SideLanes& r01, SideLanes& r23) {
  const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  auto perm = [&](__m256i v) { return _mm256_permutevar8x32_epi32(v, order); };
  r01 = SideLanes{perm(m.mv[0]), perm(m.nnz[0]), perm(m.ref[0])};
  r23 = SideLanes{perm(m.mv[1]), perm(m.nnz[1]), perm(m.ref[1])};
}
// [high half of a | low half of b].
inline __m256i HighLow(__m256i a, __m256i b) { return _mm256_permute2x128_si256(a, b, 0x21); }
inline SideLanes HighLow(const SideLanes& a, const SideLanes& b) {
  return SideLanes{HighLow(a.mv, b.mv), HighLow(a.nnz, b.nnz), HighLow(a.ref, b.ref)};
}

// bS of the segments in each lane, then each half's four as bytes of one word.
inline void Strengths(const SideLanes& q, const SideLanes& p, uint32_t& low, uint32_t& high) {
  const __m256i zero = _mm256_setzero_si256();
  // Vector differences saturate, so a difference beyond 16 bits still counts.
  const __m256i d = _mm256_subs_epi16(q.mv, p.mv);
  const __m256i far = _mm256_or_si256(_mm256_cmpgt_epi16(d, _mm256_set1_epi16(3)),
                                      _mm256_cmpgt_epi16(_mm256_set1_epi16(-3), d));
  const __m256i still = _mm256_and_si256(_mm256_cmpeq_epi32(far, zero), _mm256_cmpeq_epi32(q.ref, p.ref));
  const __m256i coded = _mm256_cmpeq_epi32(_mm256_or_si256(q.nnz, p.nnz), zero);  // all ones: neither coded
  const __m256i bs = _mm256_blendv_epi8(_mm256_set1_epi32(2), _mm256_andnot_si256(still, _mm256_set1_epi32(1)), coded);
  const __m256i bytes = _mm256_shuffle_epi8(bs, _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                                 -1, -1, 0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1,
                                                                 -1, -1, -1, -1));
  low = uint32_t(_mm256_cvtsi256_si32(bytes));
  high = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
}

}  // namespace

void InterStrengths_avx2(const BlockMotion& q, const BlockMotion& left, const BlockMotion& top, uint32_t bs[2][4]) {
  const MotionLanes mq = LoadMotion(q), ml = LoadMotion(left), mt = LoadMotion(top);
  SideLanes c02, c13, l02, l13;
  Columns(mq, c02, c13);
  Columns(ml, l02, l13);
  // Vertical edges 0 and 2 (q: columns 0 and 2; p: the left neighbour's
  // column 3 and column 1), then 1 and 3 (p: columns 0 and 2).
  Strengths(c02, HighLow(l13, c13), bs[0][0], bs[0][2]);
  Strengths(c13, c02, bs[0][1], bs[0][3]);
  SideLanes r01, r23, t01, t23;
  Rows(mq, r01, r23);
  Rows(mt, t01, t23);
  // Horizontal edges 0 and 1 (p: the upper neighbour's row 3 and row 0),
  // then 2 and 3 (p: rows 1 and 2).
  Strengths(r01, HighLow(t23, r01), bs[1][0], bs[1][1]);
  Strengths(r23, HighLow(r01, r23), bs[1][2], bs[1][3]);
}

}  // namespace h264
}  // namespace videodec
