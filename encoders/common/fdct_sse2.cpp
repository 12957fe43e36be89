// SSE2 variants of the fused forward DCT and quantisation, equal to the
// references in fdct.cpp for every block of samples (0..255) or residuals
// (-255..255).
//
// Both passes run on eight 16-bit lanes. Over that input range every
// intermediate value of the reference fits 16 bits (the largest, the column
// DC and twice the column pass's cos(pi/4) operand, reach 32640), so 16-bit
// sums are exact, and each (x * t) >> 16 of the reference is the high half
// of a 16 x 16-bit product: _mm_mulhi_epi16 for the constants below 32768,
// and x + mulhi(x, t - 65536) for tan(3pi/16) x 65536 = 43789.
#include <emmintrin.h>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/fdct.h"
#include "encoders/common/transpose_sse2.h"

namespace venc {
namespace {

constexpr int16_t kT1 = 13036;
constexpr int16_t kT2 = 27145;
constexpr int16_t kT3Low = 43789 - 65536;
constexpr int16_t kK = 23170;

inline __m128i MulHi(__m128i x, int16_t c) { return _mm_mulhi_epi16(x, _mm_set1_epi16(c)); }
// (x * 43789) >> 16.
inline __m128i MulT3(__m128i x) { return _mm_add_epi16(x, MulHi(x, kT3Low)); }
inline __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }

// The reference's row pass with one row per lane: x[k] holds sample k of
// each row and becomes coefficient k.
[[gnu::always_inline]] inline void RowPass(__m128i x[8]) {
  const __m128i s07 = Add(x[0], x[7]), d07 = Sub(x[0], x[7]);
  const __m128i s16 = Add(x[1], x[6]), d16 = Sub(x[1], x[6]);
  const __m128i s25 = Add(x[2], x[5]), d25 = Sub(x[2], x[5]);
  const __m128i s34 = Add(x[3], x[4]), d34 = Sub(x[3], x[4]);
  const __m128i t0 = Add(s07, s34), t1 = Add(s16, s25);
  const __m128i a = _mm_slli_epi16(Sub(s07, s34), 1), b = _mm_slli_epi16(Sub(s16, s25), 1);
  // (2 d16 K -+ d25 2K) >> 15 = (4 (d16 -+ d25) x K) >> 16.
  const __m128i f = MulHi(_mm_slli_epi16(Sub(d16, d25), 2), kK);
  const __m128i h = MulHi(_mm_slli_epi16(Add(d16, d25), 2), kK);
  const __m128i g = _mm_slli_epi16(d34, 1), e = _mm_slli_epi16(d07, 1);
  const __m128i eh = Add(e, h), gf = Add(g, f), ehd = Sub(e, h), gfd = Sub(g, f);
  x[0] = _mm_slli_epi16(Add(t0, t1), 1);
  x[4] = _mm_slli_epi16(Sub(t0, t1), 1);
  x[2] = Add(a, MulHi(b, kT2));
  x[6] = Sub(MulHi(a, kT2), b);
  x[1] = Add(eh, MulHi(gf, kT1));
  x[7] = Sub(MulHi(eh, kT1), gf);
  x[5] = Add(gfd, MulT3(ehd));
  x[3] = Sub(ehd, MulT3(gfd));
}

// The reference's column pass, one column per lane: r[k] holds row k and
// becomes the coefficients of vertical frequency k.
[[gnu::always_inline]] inline void ColumnPass(__m128i r[8]) {
  const __m128i u = Add(r[0], r[7]), v = Add(r[3], r[4]), w = Add(r[1], r[6]), A = Add(r[2], r[5]);
  const __m128i p = Sub(r[0], r[7]), q = Sub(r[3], r[4]);
  // (X K) >> 15 = (2X K) >> 16.
  const __m128i C = MulHi(_mm_slli_epi16(Sub(Sub(Add(r[1], r[5]), r[6]), r[2]), 1), kK);
  const __m128i D = MulHi(_mm_slli_epi16(Sub(Sub(Add(r[1], r[2]), r[6]), r[5]), 1), kK);
  const __m128i uv = Add(u, v), wa = Add(w, A), uvd = Sub(u, v), wad = Sub(w, A);
  const __m128i pd = Add(p, D), qc = Add(q, C), pdd = Sub(p, D), qcd = Sub(q, C);
  r[0] = Add(uv, wa);
  r[4] = Sub(uv, wa);
  r[2] = Add(uvd, MulHi(wad, kT2));
  r[6] = Sub(MulHi(uvd, kT2), wad);
  r[1] = Add(pd, MulHi(qc, kT1));
  r[7] = Sub(Sub(MulHi(pd, kT1), q), C);
  r[3] = Sub(pdd, MulT3(qcd));
  r[5] = Sub(Add(q, MulT3(pdd)), C);
}

// Bit k of the result: block[k] != 0.
inline uint64_t NonZeroMask(const __m128i v[8]) {
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int k = 0; k < 8; k += 2) {
    const __m128i isZero = _mm_packs_epi16(_mm_cmpeq_epi16(v[k], zero), _mm_cmpeq_epi16(v[k + 1], zero));
    mask |= uint64_t{static_cast<uint16_t>(~_mm_movemask_epi8(isZero))} << (8 * k);
  }
  return mask;
}

// Baseline x86-64 has no popcnt instruction; the compiler's builtin would be a call.
inline int32_t CountBits(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ULL;
  v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
  v = (v + (v >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<int32_t>((v * 0x0101010101010101ULL) >> 56);
}

inline void Finish(uint64_t mask, int32_t* last, int32_t* count) {
  *count = CountBits(mask);
  *last = mask ? 63 - __builtin_clzll(mask) : -1;
}

template <int N, bool kIntra, bool kClip>
void FdctQuant_sse2(int16_t* block, int qp, int32_t* last, int32_t* count) {
  __m128i r[8];
  for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  Transpose8x8Epi16(r);
  RowPass(r);
  Transpose8x8Epi16(r);
  ColumnPass(r);
  const int16_t dc = static_cast<int16_t>(_mm_cvtsi128_si32(r[0]));
  const __m128i zero = _mm_setzero_si128();
  const __m128i deadZoneLess1 = _mm_set1_epi16(static_cast<int16_t>((kIntra ? 2 * qp : (5 * qp) / 2) - 1));
  const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(kIntra ? 1 : 1 - qp / 2));
  const __m128i recip = _mm_set1_epi16(static_cast<int16_t>(kQuantRecipTable[qp]));
  const __m128i eight = _mm_set1_epi16(8);
  // Columns below N (lanes whose index is under N).
  const __m128i columns =
      _mm_cmplt_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(static_cast<int16_t>(N)));
  for (int k = 0; k < 8; ++k) {
    if (k >= N) {
      r[k] = zero;
      continue;
    }
    const __m128i z = r[k];
    const __m128i neg = _mm_srai_epi16(z, 15);
    const __m128i mag = _mm_sub_epi16(_mm_xor_si128(z, neg), neg);
    const __m128i scale = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kIdctScaleTable + 8 * k));
    // |z| x scale < 2^31: the reference's floor((z x scale) / 2^19) in
    // magnitude is hi >> 3 for z >= 0 and (hi + (lo != 0) + 7) >> 3 below 0.
    const __m128i hi = _mm_mulhi_epu16(mag, scale);
    const __m128i lo = _mm_mullo_epi16(mag, scale);
    const __m128i roundUp = _mm_and_si128(neg, _mm_add_epi16(eight, _mm_cmpeq_epi16(lo, zero)));
    const __m128i m = _mm_srli_epi16(_mm_add_epi16(hi, roundUp), 3);
    __m128i level = _mm_mulhi_epu16(_mm_add_epi16(m, offset), recip);
    level = _mm_and_si128(level, _mm_cmpgt_epi16(m, deadZoneLess1));
    if (kClip) level = _mm_min_epi16(level, _mm_set1_epi16(127));
    if (N < 8) level = _mm_and_si128(level, columns);
    r[k] = _mm_sub_epi16(_mm_xor_si128(level, neg), neg);
  }
  // The intra DC stays unquantised ((z x 32768) >> 19) and is not counted.
  if (kIntra) r[0] = _mm_insert_epi16(r[0], 0, 0);
  Finish(NonZeroMask(r), last, count);
  if (kIntra) r[0] = _mm_insert_epi16(r[0], dc >> 4, 0);
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), r[k]);
}

// DC only: the row pass's coefficient 0 is twice the row's sum, exactly, so
// the column DC is twice the block's sum.
template <bool kClip>
void FdctQuantDc_sse2(int16_t* block, int qp, int32_t* last, int32_t* count) {
  __m128i sum = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  for (int k = 0; k < 8; ++k) {
    sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k)), ones));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), _mm_setzero_si128());
  }
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
  const int32_t z = 2 * _mm_cvtsi128_si32(sum);
  // The reference's quantiser for one coefficient (inter, scale 32768).
  const int64_t product = int64_t{z} * kIdctScaleTable[0];
  const int64_t shifted = product >> 19;
  const int64_t negative = product >> 63;
  const int64_t m = (shifted ^ negative) - negative;
  int64_t level = m >= (5 * qp) / 2 ? (kQuantRecipTable[qp] * (m + 1 - qp / 2)) >> 16 : 0;
  if (kClip) level = level > 127 ? 127 : level;
  const int16_t value = static_cast<int16_t>((level ^ negative) - negative);
  block[0] = value;
  *last = value != 0 ? 0 : -1;
  *count = value != 0 ? 1 : 0;
}

}  // namespace

void init_fdct_dsp_sse2(FdctDsp& dsp) {
  dsp.intra = FdctQuant_sse2<8, true, false>;
  dsp.intraShort = FdctQuant_sse2<8, true, true>;
  dsp.interDc[0] = FdctQuantDc_sse2<false>;
  dsp.interDc[1] = FdctQuantDc_sse2<true>;
  dsp.inter2x2[0] = FdctQuant_sse2<2, false, false>;
  dsp.inter2x2[1] = FdctQuant_sse2<2, false, true>;
  dsp.inter4x4[0] = FdctQuant_sse2<4, false, false>;
  dsp.inter4x4[1] = FdctQuant_sse2<4, false, true>;
  dsp.inter[0] = FdctQuant_sse2<8, false, false>;
  dsp.inter[1] = FdctQuant_sse2<8, false, true>;
}

}  // namespace venc
