#include "encoders/common/motion_dsp.h"

#include "platform/cpu/cpu.h"

namespace venc {
namespace {

inline uint32_t AbsDiff(int a, int b) { return static_cast<uint32_t>(a > b ? a - b : b - a); }

// Sum over the checkerboard of |pred(ref, i) - cur[i]|, doubled.
template <typename Pred>
uint32_t CheckerCost(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride, Pred pred) {
  uint32_t sum = 0;
  for (int j = 0; j < 16; ++j) {
    const uint8_t* c = cur + j * stride;
    const uint8_t* r = ref + j * stride;
    for (int i = j & 1; i < 16; i += 2) sum += AbsDiff(pred(r + i, stride), c[i]);
  }
  return 2 * sum;
}

uint32_t Sad16_c(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t) { return int{p[0]}; });
}

uint32_t SadHalfH_c(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t) { return (p[0] + p[1] + 1) >> 1; });
}

uint32_t SadHalfV_c(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride, [](const uint8_t* p, ptrdiff_t s) { return (p[0] + p[s] + 1) >> 1; });
}

uint32_t SadHalfHV_c(const uint8_t* cur, const uint8_t* ref, ptrdiff_t stride) {
  return CheckerCost(cur, ref, stride,
                     [](const uint8_t* p, ptrdiff_t s) { return (p[0] + p[1] + p[s] + p[s + 1] + 2) >> 2; });
}

void Sad16xn_c(const uint8_t* cur, const uint8_t* const* refs, int n, ptrdiff_t stride, uint32_t* costs) {
  uint32_t sum[4] = {0, 0, 0, 0};
  for (int j = 0; j < 16; ++j) {
    const uint8_t* c = cur + j * stride;
    for (int i = j & 1; i < 16; i += 2)
      for (int k = 0; k < n; ++k) sum[k] += AbsDiff(refs[k][j * stride + i], c[i]);
  }
  for (int k = 0; k < n; ++k) costs[k] = 2 * sum[k];
}

uint32_t IntraDeviation16_c(const uint8_t* cur, ptrdiff_t stride) {
  uint32_t sum = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = j & 1; i < 16; i += 2) sum += cur[j * stride + i];
  const int mean = static_cast<int>(sum >> 7);
  uint32_t dev = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = j & 1; i < 16; i += 2) dev += AbsDiff(cur[j * stride + i], mean);
  return 2 * dev;
}

template <typename Pred>
int32_t PredictWith(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride, Pred pred) {
  int32_t sum = 0;
  for (int j = 0; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) {
      const int p = pred(ref + j * stride + i, stride);
      const int d = cur[j * stride + i] - p;
      residual[8 * j + i] = static_cast<int16_t>(d);
      sum += d < 0 ? -d : d;
      cur[j * stride + i] = static_cast<uint8_t>(p);
    }
  }
  return sum;
}

int32_t PredictBlockCopy_c(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride, [](const uint8_t* p, ptrdiff_t) { return int{p[0]}; });
}

int32_t PredictBlockH_c(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* p, ptrdiff_t) { return (p[0] + p[1] + 1) >> 1; });
}

int32_t PredictBlockV_c(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* p, ptrdiff_t s) { return (p[0] + p[s] + 1) >> 1; });
}

int32_t PredictBlockHV_c(const uint8_t* ref, uint8_t* cur, int16_t* residual, ptrdiff_t stride) {
  return PredictWith(ref, cur, residual, stride,
                     [](const uint8_t* p, ptrdiff_t s) { return (p[0] + p[1] + p[s] + p[s + 1] + 2) >> 2; });
}

}  // namespace

void init_motion_dsp(MotionDsp& dsp, uint32_t cpuFlags) {
  dsp.sad16 = Sad16_c;
  dsp.sad16xn = Sad16xn_c;
  dsp.sadHalfH = SadHalfH_c;
  dsp.sadHalfV = SadHalfV_c;
  dsp.sadHalfHV = SadHalfHV_c;
  dsp.intraDeviation16 = IntraDeviation16_c;
  dsp.predict[0] = PredictBlockCopy_c;
  dsp.predict[1] = PredictBlockH_c;
  dsp.predict[2] = PredictBlockV_c;
  dsp.predict[3] = PredictBlockHV_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) {
    dsp.sad16 = Sad16_sse2;
    dsp.sad16xn = Sad16xn_sse2;
    dsp.sadHalfH = SadHalfH_sse2;
    dsp.sadHalfV = SadHalfV_sse2;
    dsp.sadHalfHV = SadHalfHV_sse2;
    dsp.intraDeviation16 = IntraDeviation16_sse2;
    dsp.predict[0] = PredictBlockCopy_sse2;
    dsp.predict[1] = PredictBlockH_sse2;
    dsp.predict[2] = PredictBlockV_sse2;
    dsp.predict[3] = PredictBlockHV_sse2;
  }
  if (cpuFlags & ov::kCpuAvx2) init_motion_dsp_avx2(dsp);
#else
  (void)cpuFlags;
#endif
}

}  // namespace venc
