// Reference window kernels of the SBR QMF banks (ISO/IEC 14496-3 4.6.18.4.1
// and 4.6.18.4.2, low-power form): plain 64-bit multiply-adds.
#include "codecs/heaac/sbr_qmf_dsp.h"

#include "codecs/heaac/sbr_tables.h"
#include "platform/cpu/cpu.h"

namespace heaac {
namespace {

inline int16_t Sat16(int64_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

// Sample n reads an even-aged block at |n - N/2| and an odd-aged one at
// N/2 + n (n < N/2), nothing (n = N/2) or -(3N/2 - n) (n > N/2); samples n
// and N - n read the same two values. The window steps through c[] by 64 / N.
template <int N>
void SynthesisWindow(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest) {
  constexpr int step = 64 / N;
  const int32_t* even[5];
  const int32_t* odd[5];
  for (int i = 0; i < 5; ++i) {
    even[i] = delay + ((newest - 2 * i + 20) % 10) * N;
    odd[i] = delay + ((newest - 2 * i - 1 + 20) % 10) * N;
  }
  const int16_t* w = kSbrQmfWindowSynthesis;
  int64_t acc[N];
  for (int n = 1; n < N / 2; ++n) {
    int64_t lo = 0, hi = 0;
    for (int i = 0; i < 5; ++i) {
      const int64_t e = even[i][N / 2 - n], o = odd[i][N / 2 + n];
      const int base = step * 2 * N * i;
      lo += e * w[base + step * n] + o * w[base + step * (N + n)];
      hi += e * w[base + step * (N - n)] - o * w[base + step * (2 * N - n)];
    }
    acc[n] = lo;
    acc[N - n] = hi;
  }
  acc[0] = 0;
  acc[N / 2] = 0;
  for (int i = 0; i < 5; ++i) {
    const int base = step * 2 * N * i;
    acc[0] += static_cast<int64_t>(even[i][N / 2]) * w[base] + static_cast<int64_t>(odd[i][N / 2]) * w[base + step * N];
    acc[N / 2] += static_cast<int64_t>(even[i][0]) * w[base + step * (N / 2)];
  }
  for (int n = 0; n < N; ++n) out[n * stride] = Sat16(acc[n] >> 29);
}

}  // namespace

void sbr_analysis_window_c(int32_t* u, const int16_t* delay, int newest) {
  // The line newest first, then the 5 taps 64 apart.
  int16_t x[320];
  const int head = newest + 32;  // samples at newest + 31 down to 0, then from 319
  for (int n = 0; n < head; ++n) x[n] = delay[head - 1 - n];
  for (int n = head; n < 320; ++n) x[n] = delay[320 + head - 1 - n];
  for (int n = 0; n < 64; ++n) {
    int64_t a = 0;
    for (int j = 0; j < 5; ++j) a += static_cast<int64_t>(x[n + 64 * j]) * kSbrQmfWindowAnalysis[n + 64 * j];
    u[n] = static_cast<int32_t>(a >> 20);
  }
}

void sbr_synthesis_window64_c(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest) {
  SynthesisWindow<64>(out, stride, delay, newest);
}

void sbr_synthesis_window32_c(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest) {
  SynthesisWindow<32>(out, stride, delay, newest);
}

void init_sbr_qmf_dsp(SbrQmfDsp& dsp, uint32_t cpuFlags) {
  dsp.analysis_window = sbr_analysis_window_c;
  dsp.synthesis_window64 = sbr_synthesis_window64_c;
  dsp.synthesis_window32 = sbr_synthesis_window32_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuAvx2) {
    dsp.analysis_window = sbr_analysis_window_avx2;
    dsp.synthesis_window64 = sbr_synthesis_window64_avx2;
    dsp.synthesis_window32 = sbr_synthesis_window32_avx2;
  }
#else
  (void)cpuFlags;
#endif
}

}  // namespace heaac
