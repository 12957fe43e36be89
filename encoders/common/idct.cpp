#include "encoders/common/idct.h"

#include "encoders/common/encoder_tables.h"
#include "platform/cpu/cpu.h"

namespace venc {
namespace {

constexpr int32_t kT1 = 13036;
constexpr int32_t kT2 = 27145;
constexpr int32_t kT3 = 43789;
constexpr int32_t kC4 = 46340;

struct Butterfly {
  int32_t y[8];
};

inline Butterfly Idct8(int32_t x0, int32_t x1, int32_t x2, int32_t x3, int32_t x4, int32_t x5,
                       int32_t x6, int32_t x7) {
  const int32_t a0 = x0 + x4, a1 = x0 - x4;
  const int32_t b0 = x2 + ((x6 * kT2) >> 16), b1 = ((x2 * kT2) >> 16) - x6;
  const int32_t c0 = x1 + ((x7 * kT1) >> 16), c1 = ((x1 * kT1) >> 16) - x7;
  const int32_t d0 = x3 + ((x5 * kT3) >> 16), d1 = x5 - ((x3 * kT3) >> 16);
  const int32_t e0 = ((c0 - d0) * kC4) >> 16, e1 = ((c1 - d1) * kC4) >> 16;
  Butterfly o;
  o.y[0] = a0 + b0 + c0 + d0;
  o.y[7] = a0 + b0 - c0 - d0;
  o.y[1] = a1 + b1 + e0 + e1;
  o.y[6] = a1 + b1 - e0 - e1;
  o.y[2] = a1 - b1 + e0 - e1;
  o.y[5] = a1 - b1 - e0 + e1;
  o.y[3] = a0 - b0 + c1 + d1;
  o.y[4] = a0 - b0 - c1 - d1;
  return o;
}

inline uint8_t Clip255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Rows below the row of `last` hold only zeros, whose row transform is zero,
// so only rows 0..last>>3 are transformed; the result equals the full
// two-pass transform.
template <bool kAdd>
void IdctBlock(int16_t* block, int32_t last, uint8_t* dst, ptrdiff_t stride) {
  const int rows = last < 0 ? 1 : (last >> 3) + 1;
  for (int r = 0; r < rows; ++r) IdctRow(block + 8 * r);
  for (int col = 0; col < 8; ++col) {
    int32_t sample[8];
    if (rows == 1) {
      const int32_t v = (block[col] + 32) >> 6;
      for (int k = 0; k < 8; ++k) sample[k] = v;
    } else {
      int32_t x[8] = {};
      for (int r = 0; r < rows; ++r) x[r] = block[8 * r + col];
      const Butterfly o = Idct8(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7]);
      for (int k = 0; k < 8; ++k) sample[k] = (o.y[k] + 32) >> 6;
    }
    for (int k = 0; k < 8; ++k) {
      uint8_t* p = dst + k * stride + col;
      *p = kAdd ? Clip255(*p + sample[k]) : Clip255(sample[k]);
    }
  }
}

}  // namespace

void IdctRow(int16_t* x) {
  const Butterfly o = Idct8(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7]);
  for (int k = 0; k < 8; ++k) x[k] = static_cast<int16_t>(o.y[k]);
}

void init_idct_dsp(IdctDsp& dsp, uint32_t cpuFlags) {
  dsp.put = IdctBlock<false>;
  dsp.add = IdctBlock<true>;
  dsp.dequantiseInter = DequantiseInter;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) init_idct_dsp_sse2(dsp);
  if (cpuFlags & ov::kCpuAvx2) init_idct_dsp_avx2(dsp);
#else
  (void)cpuFlags;
#endif
}

static inline int32_t DequantLevel(int32_t level, int qp) {
  const int32_t mag = level < 0 ? -level : level;
  const int32_t f = (2 * mag + 1) * qp - ((qp & 1) == 0 ? 1 : 0);
  return level < 0 ? -f : f;
}

void DequantiseIntraAc(const int16_t* levels, int qp, int32_t count, int16_t* dst) {
  for (int i = 0; i < 64; ++i) dst[i] = 0;
  int32_t seen = 0;
  for (int pos = 1; pos < 64 && seen < count; ++pos) {
    if (levels[pos] == 0) continue;
    dst[pos] = PrescaleCoefficient(DequantLevel(levels[pos], qp), pos);
    ++seen;
  }
}

void DequantiseInter(int16_t* block, int qp, int32_t count) {
  int32_t seen = 0;
  for (int pos = 0; pos < 64 && seen < count; ++pos) {
    if (block[pos] == 0) continue;
    block[pos] = PrescaleCoefficient(DequantLevel(block[pos], qp), pos);
    ++seen;
  }
}

}  // namespace venc
