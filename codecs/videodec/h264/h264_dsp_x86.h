#pragma once
// Shared ground of the x86 variants of the H.264 kernels (h264_dsp_sse2.cpp,
// h264_dsp_avx2.cpp): unaligned loads and stores of 2 to 16 bytes, the case
// analysis of the luma interpolation over row kernels, the gathering of the
// samples around a loop-filter edge into one register per sample name, and
// the edge filters of 8.7.2.3 / 8.7.2.4 written once over a vector type V of
// 16-bit lanes (one line of the edge per lane).
//
// Everything here has internal linkage: each file compiles it with its own
// instruction set, and no copy may stand in for another.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace videodec {
namespace h264 {
namespace {

inline __m128i Load2(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return _mm_cvtsi32_si128(v);
}
inline void Store2(uint8_t* p, __m128i v) {
  const uint16_t x = uint16_t(_mm_cvtsi128_si32(v));
  std::memcpy(p, &x, 2);
}
inline __m128i Load4(const uint8_t* p) {
  int v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline void Store4(uint8_t* p, __m128i v) {
  const int x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, 4);
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

// The 16 lines of a luma edge: rows[k] holds sample p3 + k (p3, p2, p1, p0,
// q0, q1, q2, q3) of every line. `step` crosses the edge; the lines run
// along rows (stride 1) or down columns (step 1, two 8x8 transposes).
inline void LoadLumaEdge(const uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, __m128i rows[8]) {
  if (stride == 1) {
    for (int k = 0; k < 8; ++k) rows[k] = Load16(pix + (k - 4) * step);
    return;
  }
  for (int part = 0; part < 2; ++part) {  // lines 0-7, then 8-15
    __m128i a[4];
    for (int k = 0; k < 4; ++k) {
      const uint8_t* line = pix + (part * 8 + 2 * k) * stride - 4;
      a[k] = _mm_unpacklo_epi8(Load8(line), Load8(line + stride));
    }
    const __m128i w0 = _mm_unpacklo_epi16(a[0], a[1]), w1 = _mm_unpackhi_epi16(a[0], a[1]);
    const __m128i w2 = _mm_unpacklo_epi16(a[2], a[3]), w3 = _mm_unpackhi_epi16(a[2], a[3]);
    // cXY: sample X of the 8 lines in the low half, sample Y in the high half.
    const __m128i c01 = _mm_unpacklo_epi32(w0, w2), c23 = _mm_unpackhi_epi32(w0, w2);
    const __m128i c45 = _mm_unpacklo_epi32(w1, w3), c67 = _mm_unpackhi_epi32(w1, w3);
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

// Writes back p2 .. q2 (p3 and q3 never change; on columns all eight go back,
// p3 and q3 as they were read).
inline void StoreLumaEdge(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, const __m128i rows[8]) {
  if (stride == 1) {
    for (int k = 1; k < 7; ++k) Store16(pix + (k - 4) * step, rows[k]);
    return;
  }
  for (int half = 0; half < 2; ++half) {  // lines 0-7, then 8-15
    __m128i a[4];
    for (int k = 0; k < 4; ++k)
      a[k] = half == 0 ? _mm_unpacklo_epi8(rows[2 * k], rows[2 * k + 1]) : _mm_unpackhi_epi8(rows[2 * k], rows[2 * k + 1]);
    const __m128i w0 = _mm_unpacklo_epi16(a[0], a[1]), w1 = _mm_unpackhi_epi16(a[0], a[1]);
    const __m128i w2 = _mm_unpacklo_epi16(a[2], a[3]), w3 = _mm_unpackhi_epi16(a[2], a[3]);
    const __m128i lines[4] = {_mm_unpacklo_epi32(w0, w2), _mm_unpackhi_epi32(w0, w2), _mm_unpacklo_epi32(w1, w3),
                              _mm_unpackhi_epi32(w1, w3)};
    for (int i = 0; i < 4; ++i) {  // lines 2i and 2i + 1 of this half
      uint8_t* line = pix + (half * 8 + 2 * i) * stride - 4;
      Store8(line, lines[i]);
      Store8(line + stride, _mm_srli_si128(lines[i], 8));
    }
  }
}

// The 8 lines of a chroma edge as 16-bit lanes: p1, p0, q0, q1.
inline void LoadChromaEdge(const uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, __m128i& p1, __m128i& p0,
                           __m128i& q0, __m128i& q1) {
  const __m128i zero = _mm_setzero_si128();
  if (stride == 1) {
    p1 = _mm_unpacklo_epi8(Load8(pix - 2 * step), zero);
    p0 = _mm_unpacklo_epi8(Load8(pix - step), zero);
    q0 = _mm_unpacklo_epi8(Load8(pix), zero);
    q1 = _mm_unpacklo_epi8(Load8(pix + step), zero);
    return;
  }
  __m128i r[8];
  for (int i = 0; i < 8; ++i) r[i] = Load4(pix + i * stride - 2);
  const __m128i a = _mm_unpacklo_epi8(r[0], r[1]), b = _mm_unpacklo_epi8(r[2], r[3]);
  const __m128i c = _mm_unpacklo_epi8(r[4], r[5]), d = _mm_unpacklo_epi8(r[6], r[7]);
  const __m128i e = _mm_unpacklo_epi16(a, b), f = _mm_unpacklo_epi16(c, d);
  const __m128i g = _mm_unpacklo_epi32(e, f), h = _mm_unpackhi_epi32(e, f);  // p1 p0 | q0 q1
  p1 = _mm_unpacklo_epi8(g, zero);
  p0 = _mm_unpackhi_epi8(g, zero);
  q0 = _mm_unpacklo_epi8(h, zero);
  q1 = _mm_unpackhi_epi8(h, zero);
}

// Writes back p0 and q0 (16-bit lanes, clipped to 0..255 by the packing).
inline void StoreChromaEdge(uint8_t* pix, ptrdiff_t step, ptrdiff_t stride, __m128i p0, __m128i q0) {
  const __m128i pq = _mm_packus_epi16(p0, q0);
  if (stride == 1) {
    Store8(pix - step, pq);
    Store8(pix, _mm_srli_si128(pq, 8));
    return;
  }
  alignas(16) uint16_t pairs[8];  // line i: p0, q0
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs), _mm_unpacklo_epi8(pq, _mm_srli_si128(pq, 8)));
  for (int i = 0; i < 8; ++i) std::memcpy(pix + i * stride - 1, &pairs[i], 2);
}

// 16-bit lane operations of one SSE2 register.
struct V128 {
  using T = __m128i;
  static T Set(int v) { return _mm_set1_epi16(int16_t(v)); }
  static T Zero() { return _mm_setzero_si128(); }
  static T Add(T a, T b) { return _mm_add_epi16(a, b); }
  static T Sub(T a, T b) { return _mm_sub_epi16(a, b); }
  template <int n>
  static T Shl(T a) { return _mm_slli_epi16(a, n); }
  template <int n>
  static T Sar(T a) { return _mm_srai_epi16(a, n); }
  static T Min(T a, T b) { return _mm_min_epi16(a, b); }
  static T Max(T a, T b) { return _mm_max_epi16(a, b); }
  static T Lt(T a, T b) { return _mm_cmplt_epi16(a, b); }
  static T Eq(T a, T b) { return _mm_cmpeq_epi16(a, b); }
  static T And(T a, T b) { return _mm_and_si128(a, b); }
  static T AndNot(T a, T b) { return _mm_andnot_si128(a, b); }  // ~a & b
  static T Or(T a, T b) { return _mm_or_si128(a, b); }
  static bool Any(T m) { return _mm_movemask_epi8(m) != 0; }
};

template <class V>
struct EdgeLines {
  typename V::T p3, p2, p1, p0, q0, q1, q2, q3;
};

template <class V>
inline typename V::T AbsDiff(typename V::T a, typename V::T b) {
  return V::Max(V::Sub(a, b), V::Sub(b, a));
}
template <class V>
inline typename V::T Clip(typename V::T v, typename V::T lo, typename V::T hi) {
  return V::Min(V::Max(v, lo), hi);
}
template <class V>
inline typename V::T Select(typename V::T mask, typename V::T a, typename V::T b) {
  return V::Or(V::And(mask, a), V::AndNot(mask, b));
}
// ((q0 - p0) * 4 + (p1 - q1) + 4) >> 3, the normal filter's delta before clipping.
template <class V>
inline typename V::T RawDelta(typename V::T p1, typename V::T p0, typename V::T q0, typename V::T q1) {
  return V::template Sar<3>(V::Add(V::Add(V::template Shl<2>(V::Sub(q0, p0)), V::Sub(p1, q1)), V::Set(4)));
}
// (2a + b + c + 2) >> 2: p0 of the bS 4 filter without the strong condition.
template <class V>
inline typename V::T Weak4(typename V::T a, typename V::T b, typename V::T c) {
  return V::template Sar<2>(V::Add(V::Add(V::Add(V::template Shl<1>(a), b), c), V::Set(2)));
}

// 8.7.2.3 / 8.7.2.4 on the luma lines of l; bs and tc0 hold one lane per line.
// Results may lie outside 0..255 only where the reference clips them; the
// caller's packing to bytes does the same.
template <class V>
inline void FilterLumaLines(EdgeLines<V>& l, int alpha_value, int beta_value, typename V::T bs, typename V::T tc0) {
  using T = typename V::T;
  const T zero = V::Zero(), alpha = V::Set(alpha_value), beta = V::Set(beta_value);
  const T apq = AbsDiff<V>(l.p0, l.q0);
  const T on = V::AndNot(V::Eq(bs, zero), V::And(V::Lt(apq, alpha), V::And(V::Lt(AbsDiff<V>(l.p1, l.p0), beta),
                                                                          V::Lt(AbsDiff<V>(l.q1, l.q0), beta))));
  if (!V::Any(on)) return;
  const T ap = V::Lt(AbsDiff<V>(l.p2, l.p0), beta);
  const T aq = V::Lt(AbsDiff<V>(l.q2, l.q0), beta);
  const T strong_bs = V::Eq(bs, V::Set(4));
  // Normal filter (bS < 4).
  const T tc = V::Sub(V::Sub(tc0, ap), aq);
  const T delta = Clip<V>(RawDelta<V>(l.p1, l.p0, l.q0, l.q1), V::Sub(zero, tc), tc);
  const T avg = V::template Sar<1>(V::Add(V::Add(l.p0, l.q0), V::Set(1)));
  const T ntc0 = V::Sub(zero, tc0);
  const T dp1 = Clip<V>(V::template Sar<1>(V::Sub(V::Add(l.p2, avg), V::template Shl<1>(l.p1))), ntc0, tc0);
  const T dq1 = Clip<V>(V::template Sar<1>(V::Sub(V::Add(l.q2, avg), V::template Shl<1>(l.q1))), ntc0, tc0);
  if (!V::Any(strong_bs)) {  // inter edges: the normal filter alone
    const T don = V::And(on, delta);
    l.p0 = V::Add(l.p0, don);
    l.q0 = V::Sub(l.q0, don);
    l.p1 = V::Add(l.p1, V::And(V::And(on, ap), dp1));
    l.q1 = V::Add(l.q1, V::And(V::And(on, aq), dq1));
    return;
  }
  const T n_p0 = V::Add(l.p0, delta), n_q0 = V::Sub(l.q0, delta);
  const T n_p1 = V::Add(l.p1, dp1), n_q1 = V::Add(l.q1, dq1);
  // Strong filter (bS 4).
  const T strong = V::And(strong_bs, V::Lt(apq, V::Add(V::template Sar<2>(alpha), V::Set(2))));
  const T sp = V::And(strong, ap), sq = V::And(strong, aq);
  const T p0q0 = V::Add(l.p0, l.q0);
  const T four = V::Set(4), two = V::Set(2);
  const T s_p0 = V::template Sar<3>(
      V::Add(V::Add(V::Add(l.p2, V::template Shl<1>(V::Add(l.p1, p0q0))), l.q1), four));
  const T s_p1 = V::template Sar<2>(V::Add(V::Add(V::Add(l.p2, l.p1), p0q0), two));
  const T s_p2 = V::template Sar<3>(V::Add(
      V::Add(V::Add(V::template Shl<1>(l.p3), V::Add(V::template Shl<1>(l.p2), l.p2)), V::Add(l.p1, p0q0)), four));
  const T s_q0 = V::template Sar<3>(
      V::Add(V::Add(V::Add(l.q2, V::template Shl<1>(V::Add(l.q1, p0q0))), l.p1), four));
  const T s_q1 = V::template Sar<2>(V::Add(V::Add(V::Add(l.q2, l.q1), p0q0), two));
  const T s_q2 = V::template Sar<3>(V::Add(
      V::Add(V::Add(V::template Shl<1>(l.q3), V::Add(V::template Shl<1>(l.q2), l.q2)), V::Add(l.q1, p0q0)), four));
  const T w_p0 = Weak4<V>(l.p1, l.p0, l.q1), w_q0 = Weak4<V>(l.q1, l.q0, l.p1);
  // bS 4 lines take the strong results, the others the normal ones.
  const T r_p0 = Select<V>(strong_bs, Select<V>(sp, s_p0, w_p0), n_p0);
  const T r_q0 = Select<V>(strong_bs, Select<V>(sq, s_q0, w_q0), n_q0);
  const T r_p1 = Select<V>(strong_bs, Select<V>(sp, s_p1, l.p1), Select<V>(ap, n_p1, l.p1));
  const T r_q1 = Select<V>(strong_bs, Select<V>(sq, s_q1, l.q1), Select<V>(aq, n_q1, l.q1));
  l.p0 = Select<V>(on, r_p0, l.p0);
  l.q0 = Select<V>(on, r_q0, l.q0);
  l.p1 = Select<V>(on, r_p1, l.p1);
  l.q1 = Select<V>(on, r_q1, l.q1);
  l.p2 = Select<V>(on, Select<V>(sp, s_p2, l.p2), l.p2);
  l.q2 = Select<V>(on, Select<V>(sq, s_q2, l.q2), l.q2);
}

// The chroma filter of 8.7.2.3 / 8.7.2.4 on p0 and q0.
template <class V>
inline bool FilterChromaLines(typename V::T p1, typename V::T& p0, typename V::T& q0, typename V::T q1,
                              int alpha_value, int beta_value, typename V::T bs, typename V::T tc0) {
  using T = typename V::T;
  const T zero = V::Zero(), beta = V::Set(beta_value);
  const T on = V::AndNot(V::Eq(bs, zero),
                         V::And(V::Lt(AbsDiff<V>(p0, q0), V::Set(alpha_value)),
                                V::And(V::Lt(AbsDiff<V>(p1, p0), beta), V::Lt(AbsDiff<V>(q1, q0), beta))));
  if (!V::Any(on)) return false;
  const T strong = V::Eq(bs, V::Set(4));
  const T tc = V::Add(tc0, V::Set(1));
  const T delta = Clip<V>(RawDelta<V>(p1, p0, q0, q1), V::Sub(zero, tc), tc);
  const T r_p0 = Select<V>(strong, Weak4<V>(p1, p0, q1), V::Add(p0, delta));
  const T r_q0 = Select<V>(strong, Weak4<V>(q1, q0, p1), V::Sub(q0, delta));
  p0 = Select<V>(on, r_p0, p0);
  q0 = Select<V>(on, r_q0, q0);
  return true;
}

// Luma interpolation (8.4.2.2.1, Table 8-12) of a w x h block from the row
// kernels of K: K::HalfRow(src, tap, w), one row of half samples b (tap 1)
// or h (tap = stride), and K::HalfHV(dst, ds, src, ss, w, h), the centre
// samples j of the block.
template <class K>
inline void LumaMcRows(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, int fx, int fy) {
  if (fx == 0 && fy == 0) {
    for (int y = 0; y < h; ++y) StoreW(dst + y * ds, LoadW(src + y * ss, w), w);
    return;
  }
  if (fx == 2 && fy == 2) {
    K::HalfHV(dst, ds, src, ss, w, h);
    return;
  }
  if (fy == 0 || fx == 0) {
    // b or h alone (phase 2), else averaged with the nearer full sample.
    const ptrdiff_t tap = fy == 0 ? 1 : ss;
    const int phase = fy == 0 ? fx : fy;
    const uint8_t* full = src + (phase == 3 ? tap : 0);
    for (int y = 0; y < h; ++y) {
      __m128i v = K::HalfRow(src + y * ss, tap, w);
      if (phase != 2) v = _mm_avg_epu8(v, LoadW(full + y * ss, w));
      StoreW(dst + y * ds, v, w);
    }
    return;
  }
  if (fx == 2 || fy == 2) {
    // j averaged with the nearer b (fy odd) or h (fx odd) sample.
    alignas(16) uint8_t j[16 * 16];
    K::HalfHV(j, 16, src, ss, w, h);
    const uint8_t* near = fx == 2 ? src + (fy == 3 ? ss : 0) : src + (fx == 3 ? 1 : 0);
    const ptrdiff_t tap = fx == 2 ? 1 : ss;
    for (int y = 0; y < h; ++y)
      StoreW(dst + y * ds, _mm_avg_epu8(LoadW(j + y * 16, w), K::HalfRow(near + y * ss, tap, w)), w);
    return;
  }
  // Diagonal quarter positions: mean of a horizontal and a vertical half sample.
  const uint8_t* hs = src + (fy == 3 ? ss : 0);
  const uint8_t* vs = src + (fx == 3 ? 1 : 0);
  for (int y = 0; y < h; ++y)
    StoreW(dst + y * ds, _mm_avg_epu8(K::HalfRow(hs + y * ss, 1, w), K::HalfRow(vs + y * ss, ss, w)), w);
}

// Transposes a 16x16 block of bytes held one row per register: four rounds
// that interleave row i with row i + 8.
inline void Transpose16x16(__m128i r[16]) {
  for (int round = 0; round < 4; ++round) {
    __m128i t[16];
    for (int i = 0; i < 8; ++i) {
      t[2 * i] = _mm_unpacklo_epi8(r[i], r[i + 8]);
      t[2 * i + 1] = _mm_unpackhi_epi8(r[i], r[i + 8]);
    }
    for (int i = 0; i < 16; ++i) r[i] = t[i];
  }
}

// The vertical luma edges of a macroblock through a row filter: the block's
// columns (and the eight left of it when edge 0 is filtered) are turned into
// rows of a small buffer, the edges filtered there as rows, and the columns
// written back. Filtering each edge down the columns in place would load
// eight bytes of every line that the previous edge has just stored four
// bytes to the left, which no store can forward to the load.
template <void (*kRowEdge)(uint8_t*, ptrdiff_t, ptrdiff_t, int, int, int, const uint8_t*, const int8_t*)>
inline void FilterLumaColumnEdges(uint8_t* pix, ptrdiff_t stride, const LumaColumnEdges& edges) {
  if ((edges.on & 15) == 0) return;
  alignas(16) uint8_t t[24 * 16];  // row 8 + c: column c of the block, c = -8 .. 15
  __m128i r[16];
  for (int i = 0; i < 16; ++i) r[i] = Load16(pix + i * stride);
  Transpose16x16(r);
  for (int i = 0; i < 16; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(t + (8 + i) * 16), r[i]);
  const bool left = (edges.on & 1) != 0;
  __m128i l[8];
  if (left) {
    LoadLumaEdge(pix - 4, 1, stride, l);
    for (int k = 0; k < 8; ++k) _mm_store_si128(reinterpret_cast<__m128i*>(t + k * 16), l[k]);
  }
  for (int e = 0; e < 4; ++e)
    if (edges.on & (1u << e))
      kRowEdge(t + (8 + 4 * e) * 16, 16, 1, 16, edges.alpha[e], edges.beta[e], edges.bs[e], edges.tc0[e]);
  for (int i = 0; i < 16; ++i) r[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(t + (8 + i) * 16));
  Transpose16x16(r);
  for (int i = 0; i < 16; ++i) Store16(pix + i * stride, r[i]);
  if (left) {
    for (int k = 0; k < 8; ++k) l[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(t + k * 16));
    StoreLumaEdge(pix - 4, 1, stride, l);
  }
}

// True when no line of the edge can be filtered: every bS 0, or a threshold
// of 0 that no sample difference can be below.
inline bool EdgeIsOff(const uint8_t* bs, int alpha, int beta) {
  uint32_t any;
  std::memcpy(&any, bs, 4);
  return any == 0 || alpha == 0 || beta == 0;
}

}  // namespace
}  // namespace h264
}  // namespace videodec
