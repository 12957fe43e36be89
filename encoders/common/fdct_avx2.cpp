// AVX2 variants of the fused forward DCT and quantisation, equal to the
// references in fdct.cpp for every block of samples (0..255) or residuals
// (-255..255). The transform is that of the SSE2 variants
// (fdct_sse2_passes.h); the quantiser, the larger part of the work, takes two
// rows of coefficients per step. The DC-only kernels stay those of SSE2.
#include <immintrin.h>

#include "encoders/common/encoder_tables.h"
#include "encoders/common/fdct.h"
#include "encoders/common/fdct_sse2_passes.h"

namespace venc {
namespace {

// Baseline x86-64 has no popcnt instruction and AVX2 does not imply it; the
// compiler's builtin would be a call.
inline int32_t CountBits(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ULL;
  v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
  v = (v + (v >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<int32_t>((v * 0x0101010101010101ULL) >> 56);
}

// Bits 16 j .. 16 j + 15 of the result: block[16 j + i] != 0, from the four
// row pairs.
inline uint64_t NonZeroMask(const __m256i v[4]) {
  const __m256i zero = _mm256_setzero_si256();
  uint64_t mask = 0;
  for (int j = 0; j < 4; j += 2) {
    // Lanes of the pack: rows 2j, 2j + 2 | 2j + 1, 2j + 3; the permute puts
    // them in order.
    const __m256i isZero = _mm256_permute4x64_epi64(
        _mm256_packs_epi16(_mm256_cmpeq_epi16(v[j], zero), _mm256_cmpeq_epi16(v[j + 1], zero)), 0xd8);
    mask |= uint64_t{~static_cast<uint32_t>(_mm256_movemask_epi8(isZero))} << (16 * j);
  }
  return mask;
}

template <int N, bool kIntra, bool kClip>
void FdctQuant_avx2(int16_t* block, int qp, int32_t* last, int32_t* count) {
  __m128i r[8];
  ForwardTransform<N>(block, r);
  const int16_t dc = static_cast<int16_t>(_mm_cvtsi128_si32(r[0]));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i deadZoneLess1 = _mm256_set1_epi16(static_cast<int16_t>((kIntra ? 2 * qp : (5 * qp) / 2) - 1));
  const __m256i offset = _mm256_set1_epi16(static_cast<int16_t>(kIntra ? 1 : 1 - qp / 2));
  const __m256i recip = _mm256_set1_epi16(static_cast<int16_t>(kQuantRecipTable[qp]));
  const __m256i eight = _mm256_set1_epi16(8);
  // Columns below N (lanes whose index within a row is under N).
  const __m256i columns = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>(N)),
                                             _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7));
  __m256i q[4];
  for (int j = 0; j < 4; ++j) {
    if (2 * j >= N) {
      q[j] = zero;
      continue;
    }
    const __m256i z = _mm256_inserti128_si256(_mm256_castsi128_si256(r[2 * j]), r[2 * j + 1], 1);
    const __m256i neg = _mm256_srai_epi16(z, 15);
    const __m256i mag = _mm256_sub_epi16(_mm256_xor_si256(z, neg), neg);
    const __m256i scale = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kIdctScaleTable + 16 * j));
    // |z| x scale < 2^31: the reference's floor((z x scale) / 2^19) in
    // magnitude is hi >> 3 for z >= 0 and (hi + (lo != 0) + 7) >> 3 below 0.
    const __m256i hi = _mm256_mulhi_epu16(mag, scale);
    const __m256i lo = _mm256_mullo_epi16(mag, scale);
    const __m256i roundUp = _mm256_and_si256(neg, _mm256_add_epi16(eight, _mm256_cmpeq_epi16(lo, zero)));
    const __m256i m = _mm256_srli_epi16(_mm256_add_epi16(hi, roundUp), 3);
    __m256i level = _mm256_mulhi_epu16(_mm256_add_epi16(m, offset), recip);
    level = _mm256_and_si256(level, _mm256_cmpgt_epi16(m, deadZoneLess1));
    if (kClip) level = _mm256_min_epi16(level, _mm256_set1_epi16(127));
    if (N < 8) level = _mm256_and_si256(level, columns);
    q[j] = _mm256_sub_epi16(_mm256_xor_si256(level, neg), neg);
  }
  // The intra DC stays unquantised ((z x 32768) >> 19) and is not counted.
  const __m256i dcLane = _mm256_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  if (kIntra) q[0] = _mm256_andnot_si256(dcLane, q[0]);
  const uint64_t mask = NonZeroMask(q);
  *count = CountBits(mask);
  *last = mask ? 63 - __builtin_clzll(mask) : -1;
  if (kIntra) q[0] = _mm256_or_si256(q[0], _mm256_and_si256(dcLane, _mm256_set1_epi16(static_cast<int16_t>(dc >> 4))));
  for (int j = 0; j < 4; ++j) _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 16 * j), q[j]);
}

}  // namespace

void init_fdct_dsp_avx2(FdctDsp& dsp) {
  dsp.intra = FdctQuant_avx2<8, true, false>;
  dsp.intraShort = FdctQuant_avx2<8, true, true>;
  dsp.inter2x2[0] = FdctQuant_avx2<2, false, false>;
  dsp.inter2x2[1] = FdctQuant_avx2<2, false, true>;
  dsp.inter4x4[0] = FdctQuant_avx2<4, false, false>;
  dsp.inter4x4[1] = FdctQuant_avx2<4, false, true>;
  dsp.inter[0] = FdctQuant_avx2<8, false, false>;
  dsp.inter[1] = FdctQuant_avx2<8, false, true>;
}

}  // namespace venc
