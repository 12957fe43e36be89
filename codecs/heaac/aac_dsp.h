#pragma once
// Kernels of the AAC decoder (the kernel family "aac"): inverse quantisation
// of a band, the radix-2 passes of the filterbank's fixed-point FFT, the
// twiddles around it, the transform's output by its symmetries and the long
// window's overlap-add. init_aac_dsp fills
// the table with the C++ references, then lets instruction-set versions
// replace entries when the CPU has them; every version gives the same bits
// as its reference.
//
// Complex values are interleaved (re, im) int32 pairs. Products are Q31,
// each part one 64-bit sum of two products rounded by adding 2^30 before the
// shift by 31; sums wrap as unsigned 32-bit values (see aac_filterbank.cpp).

#include <cstdint>

namespace heaac {

// Inverse quantisation of a band of n values (n a multiple of 4) whose
// magnitudes are all below 256; false, with v untouched, when one is not.
// Each q becomes sign(q) x ((scale x m + round) >> 31), m the magnitude's
// power[|q|] scaled by 2^shift as SmallDequant (aac_fixed.h) does.
using DequantSmallFn = bool (*)(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round);
// One radix-2 pass over `points` complex values in groups of `len` (8 up
// to points): for every group and k < len / 2, with t = q[k] x (c - js)
// (c, s = tw[2k], tw[2k + 1]): p[k] += t, q[k] = p[k] - t, q = p + len / 2.
using FftPassFn = void (*)(int32_t* data, int points, int len, const int32_t* tw);
// The inverse transform's first twiddle over n coefficients (n a multiple of
// 8), into bit-reversed order: for k < n / 2 the complex value
// (in[n - 1 - 2k] + j in[2k]) x (c + js), (c, s) = tw[2k], tw[2k + 1], goes
// to out[2 rev[k]], out[2 rev[k] + 1].
using PreTwiddleFn = void (*)(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n);
// The inverse transform's last twiddle over q complex values (q a multiple
// of 8): out[k] = in[k ? q - k : 0] x (c + js), (c, s) = tw[2k], tw[2k + 1].
// in and out are distinct buffers.
using PostTwiddleFn = void (*)(const int32_t* in, const int32_t* tw, int32_t* out, int q);
// Long-window overlap-add of 1024 samples, transform values in PCM x 2^bits
// (0 <= bits - kLongTransformBits <= kMaxSpectrumExtraBits):
//   pcm[n x stride] = rounded, clamped (overlap[n] + y[n] x rise[n]) in PCM,
//   overlap[n] = y[1024 + n] x fall[n], both in the overlap format.
// stride is 1 or 2 (interleaved stereo); the other channel's samples between
// are left as they are.
using WindowLongFn = void (*)(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                              int16_t* pcm, int stride);
// The FFT's first two radix-2 stages over `points` complex values (a
// multiple of 4), in place: in each group of four values x0..x3, with
// a = x0 + x1, b = x0 - x1, c = x2 + x3, d = x2 - x3, the group becomes
// a + c, b - jd, a - c, b + jd.
using FftFirstPassesFn = void (*)(int32_t* data, int points);
// The 2m outputs of the inverse MDCT from the m values of its core (m 128
// or 1024, h = m / 2), by the transform's sign and mirror symmetries: for
// even i < h,
//   y[i] = row[h + 1 + i],     y[i + 1] = -row[h - 2 - i],
//   y[h + i] = row[i],         y[h + i + 1] = -row[m - 1 - i],
//   y[m + i] = row[h + i],     y[m + i + 1] = -row[h - 1 - i],
//   y[m + h + i] = -row[1 + i], y[m + h + i + 1] = row[m - 2 - i],
// negations wrapping. row and y are distinct buffers.
using ExpandImdctFn = void (*)(const int32_t* row, int32_t* y, int m);

struct AacDsp {
  DequantSmallFn dequantSmall;
  PreTwiddleFn preTwiddle;
  FftFirstPassesFn fftFirstPasses;
  FftPassFn fftPass;
  PostTwiddleFn postTwiddle;
  ExpandImdctFn expandImdct;
  WindowLongFn windowLong;
};

void init_aac_dsp(AacDsp& dsp, uint32_t cpuFlags);

// The references, for the equality tests.
bool DequantSmall_c(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round);
void PreTwiddle_c(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n);
void FftPass_c(int32_t* data, int points, int len, const int32_t* tw);
void PostTwiddle_c(const int32_t* in, const int32_t* tw, int32_t* out, int q);
void WindowLong_c(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                  int16_t* pcm, int stride);
void FftFirstPasses_c(int32_t* data, int points);
void ExpandImdct_c(const int32_t* row, int32_t* y, int m);

// x86-64 variants (aac_dsp_sse2.cpp, aac_dsp_avx2.cpp).
bool DequantSmall_sse2(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round);
void PreTwiddle_sse2(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n);
void FftPass_sse2(int32_t* data, int points, int len, const int32_t* tw);
void PostTwiddle_sse2(const int32_t* in, const int32_t* tw, int32_t* out, int q);
void WindowLong_sse2(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                     int16_t* pcm, int stride);
void FftFirstPasses_sse2(int32_t* data, int points);
void ExpandImdct_sse2(const int32_t* row, int32_t* y, int m);
bool DequantSmall_avx2(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round);
void PreTwiddle_avx2(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n);
void FftPass_avx2(int32_t* data, int points, int len, const int32_t* tw);
void PostTwiddle_avx2(const int32_t* in, const int32_t* tw, int32_t* out, int q);
void WindowLong_avx2(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                     int16_t* pcm, int stride);
void FftFirstPasses_avx2(int32_t* data, int points);
void ExpandImdct_avx2(const int32_t* row, int32_t* y, int m);

}  // namespace heaac
