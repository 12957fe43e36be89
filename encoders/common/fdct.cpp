#include "encoders/common/fdct.h"

#include "encoders/common/encoder_tables.h"

namespace venc {
namespace {

// Tangents of pi/16, 2pi/16, 3pi/16 in units of 1/65536, and cos(pi/4) in
// units of 1/32768 (K) and twice that.
constexpr int32_t kT1 = 13036;
constexpr int32_t kT2 = 27145;
constexpr int32_t kT3 = 43789;
constexpr int32_t kK = 23170;
constexpr int32_t k2K = 46340;

// Row pass of the separable transform, in place, results kept as 16 bits.
inline void FdctRow(int16_t* x) {
  const int32_t s07 = x[0] + x[7], d07 = x[0] - x[7];
  const int32_t s16 = x[1] + x[6], d16 = x[1] - x[6];
  const int32_t s25 = x[2] + x[5], d25 = x[2] - x[5];
  const int32_t s34 = x[3] + x[4], d34 = x[3] - x[4];
  const int32_t y0 = 2 * (s07 + s34) + 2 * (s16 + s25);
  const int32_t y4 = 2 * (s07 + s34) - 2 * (s16 + s25);
  const int32_t a = 2 * (s07 - s34), b = 2 * (s16 - s25);
  const int32_t y2 = a + ((b * kT2) >> 16);
  const int32_t y6 = ((a * kT2) >> 16) - b;
  const int32_t f = (2 * d16 * kK - d25 * k2K) >> 15;
  const int32_t h = (2 * d16 * kK + d25 * k2K) >> 15;
  const int32_t g = 2 * d34, e = 2 * d07;
  const int32_t y1 = e + h + (((g + f) * kT1) >> 16);
  const int32_t y7 = (((e + h) * kT1) >> 16) - g - f;
  const int32_t y5 = (g - f) + (((e - h) * kT3) >> 16);
  const int32_t y3 = (e - h) - (((g - f) * kT3) >> 16);
  x[0] = static_cast<int16_t>(y0);
  x[1] = static_cast<int16_t>(y1);
  x[2] = static_cast<int16_t>(y2);
  x[3] = static_cast<int16_t>(y3);
  x[4] = static_cast<int16_t>(y4);
  x[5] = static_cast<int16_t>(y5);
  x[6] = static_cast<int16_t>(y6);
  x[7] = static_cast<int16_t>(y7);
}

// Column pass of one column: z[k] for the eight output rows, unscaled.
inline void FdctColumn(const int16_t* block, int col, int32_t z[8]) {
  const int32_t r0 = block[col], r1 = block[8 + col], r2 = block[16 + col], r3 = block[24 + col];
  const int32_t r4 = block[32 + col], r5 = block[40 + col], r6 = block[48 + col], r7 = block[56 + col];
  const int32_t u = r0 + r7, v = r3 + r4, w = r1 + r6, A = r2 + r5, p = r0 - r7, q = r3 - r4;
  const int32_t C = ((r1 + r5 - r6 - r2) * kK) >> 15;
  const int32_t D = ((r1 + r2 - r6 - r5) * kK) >> 15;
  z[0] = u + v + w + A;
  z[4] = u + v - w - A;
  z[2] = u - v + (((w - A) * kT2) >> 16);
  z[6] = (((u - v) * kT2) >> 16) + A - w;
  z[1] = p + D + (((q + C) * kT1) >> 16);
  z[7] = (((p + D) * kT1) >> 16) - q - C;
  z[3] = p - D - (((q - C) * kT3) >> 16);
  z[5] = q + (((p - D) * kT3) >> 16) - C;
}

// Quantises the coefficients of rows and columns below N. The scaled product
// is widened to 64 bits: near the extremes of the residual range it does not
// fit 32 bits, and for every block where it fits the result is unchanged.
template <int N, bool kIntra, bool kClip>
void FdctQuant(int16_t* block, int qp, int32_t* last, int32_t* count) {
  for (int row = 0; row < 8; ++row) FdctRow(block + 8 * row);
  // Column pass of the kept columns first, so the block can be overwritten.
  int32_t z[8][8];
  for (int col = 0; col < N; ++col) FdctColumn(block, col, z[col]);
  for (int i = 0; i < 64; ++i) block[i] = 0;
  int32_t lastIndex = -1, nonZero = 0;
  const int64_t recip = kQuantRecipTable[qp];
  const int64_t deadZone = kIntra ? 2 * qp : (5 * qp) / 2;
  const int64_t offset = kIntra ? 1 : 1 - qp / 2;
  for (int k = 0; k < N; ++k) {
    for (int col = 0; col < N; ++col) {
      const int index = 8 * k + col;
      const int64_t product = int64_t{z[col][k]} * kIdctScaleTable[index];
      // A negative product rounds away from zero: the shift floors. The
      // quantiser is written without branches on the level (most levels of
      // a block are zero, unpredictably so).
      const int64_t shifted = product >> 19;
      const int64_t negative = product >> 63;  // 0 or -1
      const int64_t m = (shifted ^ negative) - negative;
      int64_t level = (recip * (m + offset)) >> 16;
      level &= -static_cast<int64_t>(m >= deadZone);
      if (kClip) level = level > 127 ? 127 : level;
      const int16_t value = static_cast<int16_t>((level ^ negative) - negative);
      block[index] = value;
      const bool nz = value != 0;
      lastIndex = nz ? index : lastIndex;
      nonZero += nz;
    }
  }
  if (kIntra) {
    // The DC stays unquantised and is not counted.
    const int64_t product = int64_t{z[0][0]} * kIdctScaleTable[0];
    if (block[0] != 0) {
      --nonZero;
      if (lastIndex == 0) lastIndex = -1;
    }
    block[0] = static_cast<int16_t>(product >> 19);
  }
  *last = lastIndex;
  *count = nonZero;
}

}  // namespace

void init_fdct_dsp(FdctDsp& dsp, uint32_t cpuFlags) {
  dsp.intra = FdctQuant<8, true, false>;
  dsp.intraShort = FdctQuant<8, true, true>;
  dsp.interDc[0] = FdctQuant<1, false, false>;
  dsp.interDc[1] = FdctQuant<1, false, true>;
  dsp.inter2x2[0] = FdctQuant<2, false, false>;
  dsp.inter2x2[1] = FdctQuant<2, false, true>;
  dsp.inter4x4[0] = FdctQuant<4, false, false>;
  dsp.inter4x4[1] = FdctQuant<4, false, true>;
  dsp.inter[0] = FdctQuant<8, false, false>;
  dsp.inter[1] = FdctQuant<8, false, true>;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) init_fdct_dsp_sse2(dsp);
  if (cpuFlags & ov::kCpuAvx2) init_fdct_dsp_avx2(dsp);
#else
  (void)cpuFlags;
#endif
}

}  // namespace venc
