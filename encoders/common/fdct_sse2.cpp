// SSE2 variants of the fused forward DCT and quantisation, equal to the
// references in fdct.cpp for every block of samples (0..255) or residuals
// (-255..255). Both passes run on eight 16-bit lanes (fdct_sse2_passes.h).
#include <emmintrin.h>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/fdct.h"
#include "encoders/common/fdct_sse2_passes.h"

namespace venc {
namespace {

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
  ForwardTransform<N>(block, r);
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
