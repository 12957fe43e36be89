// The C++ references of the AAC filterbank kernels and the table set-up.
#include "codecs/heaac/aac_dsp.h"

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_fixed.h"
#include "platform/cpu/cpu.h"

namespace heaac {

bool DequantSmall_c(int32_t* v, int n, const int32_t* power, int32_t scale, int shift, int64_t round) {
  uint32_t peak = 0;  // |INT32_MIN| is 2^31 here
  for (int k = 0; k < n; ++k) {
    const uint32_t a = v[k] < 0 ? 0u - static_cast<uint32_t>(v[k]) : static_cast<uint32_t>(v[k]);
    peak = a > peak ? a : peak;
  }
  if (peak >= 256) return false;
  auto dequant = [&](int32_t a) {
    return static_cast<int32_t>((static_cast<int64_t>(scale) * SmallDequant(power[a], shift) + round) >> 31);
  };
  // Most bands hold many more values than magnitudes: each magnitude's value
  // made once, with both signs, and the values looked up.
  constexpr int kLookupPeak = 15;
  if (peak <= kLookupPeak && 2 * (static_cast<int>(peak) + 1) <= n) {
    int32_t value[2 * kLookupPeak + 1];
    for (int a = 0; a <= static_cast<int>(peak); ++a) {
      value[kLookupPeak + a] = dequant(a);
      value[kLookupPeak - a] = -value[kLookupPeak + a];
    }
    for (int k = 0; k < n; ++k) v[k] = value[kLookupPeak + v[k]];
    return true;
  }
  for (int k = 0; k < n; ++k) {
    // Magnitude and sign without branches: signs of noise-like spectra are
    // unpredictable.
    const int32_t sign = v[k] >> 31;
    const int32_t r = dequant((v[k] ^ sign) - sign);
    v[k] = (r ^ sign) - sign;
  }
  return true;
}

void PreTwiddle_c(const int32_t* in, const int32_t* tw, const uint16_t* rev, int32_t* out, int n) {
  for (int k = 0; k < n / 2; ++k) {
    const int j = rev[k];
    CMul(in[n - 1 - 2 * k], in[2 * k], tw[2 * k], tw[2 * k + 1], &out[2 * j], &out[2 * j + 1]);
  }
}

void FftPass_c(int32_t* data, int points, int len, const int32_t* tw) {
  // Twiddles outside, groups inside: each twiddle is loaded once.
  const int half = len >> 1;
  for (int k = 0; k < half; ++k) {
    const int32_t c = tw[2 * k], s = -tw[2 * k + 1];
    for (int i = 0; i < points; i += len) {
      int32_t* p = data + 2 * (i + k);
      int32_t* q = p + 2 * half;
      // b x e^(-j theta) = (br c + bi s) + j (bi c - br s)
      int32_t tr, ti;
      CMul(q[0], q[1], c, s, &tr, &ti);
      const int32_t ar = p[0], ai = p[1];
      p[0] = WAdd(ar, tr);
      p[1] = WAdd(ai, ti);
      q[0] = WSub(ar, tr);
      q[1] = WSub(ai, ti);
    }
  }
}

void PostTwiddle_c(const int32_t* in, const int32_t* tw, int32_t* out, int q) {
  for (int k = 0; k < q; ++k) {
    const int src = k == 0 ? 0 : q - k;
    CMul(in[2 * src], in[2 * src + 1], tw[2 * k], tw[2 * k + 1], &out[2 * k], &out[2 * k + 1]);
  }
}

void FftFirstPasses_c(int32_t* data, int points) {
  for (int i = 0; i < points; i += 4) {
    int32_t* p = data + 2 * i;
    const int32_t ar = WAdd(p[0], p[2]), ai = WAdd(p[1], p[3]);
    const int32_t br = WSub(p[0], p[2]), bi = WSub(p[1], p[3]);
    const int32_t cr = WAdd(p[4], p[6]), ci = WAdd(p[5], p[7]);
    const int32_t dr = WSub(p[4], p[6]), di = WSub(p[5], p[7]);
    p[0] = WAdd(ar, cr);
    p[1] = WAdd(ai, ci);
    p[4] = WSub(ar, cr);
    p[5] = WSub(ai, ci);
    // (dr + j di) x (-j) = di - j dr
    p[2] = WAdd(br, di);
    p[3] = WSub(bi, dr);
    p[6] = WSub(br, di);
    p[7] = WAdd(bi, dr);
  }
}

void ExpandImdct_c(const int32_t* row, int32_t* y, int m) {
  const int h = m / 2;
  for (int i = 0; i < h; i += 2) {
    y[i] = row[h + 1 + i];
    y[i + 1] = WNeg(row[h - 2 - i]);
    y[h + i] = row[i];
    y[h + i + 1] = WNeg(row[m - 1 - i]);
    y[m + i] = row[h + i];
    y[m + i + 1] = WNeg(row[h - 1 - i]);
    y[m + h + i] = WNeg(row[1 + i]);
    y[m + h + i + 1] = row[m - 2 - i];
  }
}

void WindowLong_c(const int32_t* y, const int32_t* rise, const int32_t* fall, int bits, int64_t* overlap,
                  int16_t* pcm, int stride) {
  for (int n = 0; n < 1024; ++n) pcm[n * stride] = ToPcm(overlap[n] + Window(y[n], rise[n], bits));
  for (int n = 0; n < 1024; ++n) overlap[n] = Window(y[1024 + n], fall[n], bits);
}

void init_aac_dsp(AacDsp& dsp, uint32_t cpuFlags) {
  dsp.dequantSmall = DequantSmall_c;
  dsp.preTwiddle = PreTwiddle_c;
  dsp.fftFirstPasses = FftFirstPasses_c;
  dsp.fftPass = FftPass_c;
  dsp.postTwiddle = PostTwiddle_c;
  dsp.expandImdct = ExpandImdct_c;
  dsp.windowLong = WindowLong_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) {
    dsp.dequantSmall = DequantSmall_sse2;
    dsp.preTwiddle = PreTwiddle_sse2;
    dsp.fftFirstPasses = FftFirstPasses_sse2;
    dsp.fftPass = FftPass_sse2;
    dsp.postTwiddle = PostTwiddle_sse2;
    dsp.expandImdct = ExpandImdct_sse2;
    dsp.windowLong = WindowLong_sse2;
  }
  if (cpuFlags & ov::kCpuAvx2) {
    dsp.dequantSmall = DequantSmall_avx2;
    dsp.preTwiddle = PreTwiddle_avx2;
    dsp.fftFirstPasses = FftFirstPasses_avx2;
    dsp.fftPass = FftPass_avx2;
    dsp.postTwiddle = PostTwiddle_avx2;
    dsp.expandImdct = ExpandImdct_avx2;
    dsp.windowLong = WindowLong_avx2;
  }
#else
  (void)cpuFlags;
#endif
}

}  // namespace heaac
