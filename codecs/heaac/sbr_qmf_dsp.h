#pragma once
// Window kernels of the SBR QMF banks (sbr_qmf.cpp): the polyphase sums of
// the 32-band analysis and of the 64- and 32-band synthesis. The reference is
// sbr_qmf_dsp.cpp; the AVX2 variant gives the same values (exact 64-bit sums).

#include <cstddef>
#include <cstdint>

namespace heaac {

// u[n] = (sum over j < 5 of x[n + 64 j] w[n + 64 j]) >> 20 for n < 64, the
// low 32 bits kept, with w the Q31 analysis window and x[m] =
// delay[(newest + 31 - m) mod 320]: `delay` is the 320-sample line and
// `newest` (a multiple of 32) the start of its newest block.
using SbrAnalysisWindowFn = void (*)(int32_t* u, const int16_t* delay, int newest);

// N output samples (N = 64 or 32) at out, out + stride, ...: each the sum of
// 10 products of the delay line (10 blocks of N values) and the Q15 synthesis
// window taken at block spacing, >> 29, saturated to 16 bits. `newest` (0 to
// 9) is the block that holds the latest transform.
using SbrSynthesisWindowFn = void (*)(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest);

struct SbrQmfDsp {
  SbrAnalysisWindowFn analysis_window;
  SbrSynthesisWindowFn synthesis_window64;
  SbrSynthesisWindowFn synthesis_window32;
};

// Fills every slot with the reference, then with the fastest variant that
// `cpuFlags` (ov::CpuFlags) allows.
void init_sbr_qmf_dsp(SbrQmfDsp& dsp, uint32_t cpuFlags);

void sbr_analysis_window_c(int32_t* u, const int16_t* delay, int newest);
void sbr_synthesis_window64_c(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest);
void sbr_synthesis_window32_c(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest);
void sbr_analysis_window_avx2(int32_t* u, const int16_t* delay, int newest);
void sbr_synthesis_window64_avx2(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest);
void sbr_synthesis_window32_avx2(int16_t* out, ptrdiff_t stride, const int32_t* delay, int newest);

}  // namespace heaac
