// Real-valued (low-power) SBR QMF banks, ISO/IEC 14496-3 4.6.18.4 and
// 4.6.18.8: a 32-band analysis and a 64- or 32-band synthesis, each a
// windowed polyphase sum and a cosine modulation.
//
// Analysis: X[k] = 2 sum_n u[n] cos(pi (k + 0.5)(2n - 96) / 64), folded to a
// 32-point cosine sum. Synthesis with N bands: v[n] = (1 / 32) sum_k X[k]
// cos(pi (k + 0.5)(2n - N) / 2N), of which only the N values v[N/2 .. 3N/2 - 1]
// are kept: the others follow by symmetry (v[N/2 - j] = v[N/2 + j],
// v[3N/2 + j] = -v[3N/2 - j]).
#include <algorithm>
#include <cmath>
#include <mutex>

#include "codecs/heaac/fx_math.h"
#include "codecs/heaac/sbr.h"
#include "codecs/heaac/sbr_qmf_dsp.h"

namespace heaac {
namespace {

// Odd-half kernels of the split cosine transforms, Q30: for a transform of
// N points, kOdd[N][m][k] = cos(pi (2k + 1)(2m + 1) / 2N), m, k < N / 2.
struct QmfTables {
  // Twiddles of the FFT route to the 32- and 16-point DCT-IV, Q30:
  // pre[n] = e^(-i pi (4n + 1) / 4N), post[k] = e^(-i pi k / N), and the
  // roots of the N/2-point FFT.
  int32_t pre32[16][2], post32[16][2], pre16[8][2], post16[8][2];
  int32_t roots[8][2];  // e^(-2 pi i k / 16)
  int32_t odd64[32][32];
  int32_t odd32[16][16];
  int32_t odd16[8][8];
  int32_t odd8[4][4];
  int32_t odd4[2][2];
  int32_t odd2[1][1];
};

int32_t Q30(double v) { return static_cast<int32_t>(std::floor(v * 1073741824.0 + 0.5)); }

QmfTables gTables;

template <int N>
void FillOdd(int32_t (*table)[N / 2]) {
  const double pi = 3.14159265358979323846;
  for (int m = 0; m < N / 2; ++m) {
    for (int k = 0; k < N / 2; ++k) table[m][k] = Q30(std::cos(pi * (2 * k + 1) * (2 * m + 1) / (2.0 * N)));
  }
}

void BuildTables() {
  const double pi = 3.14159265358979323846;
  for (int n = 0; n < 16; ++n) {
    gTables.pre32[n][0] = Q30(std::cos(pi * (4 * n + 1) / 128.0));
    gTables.pre32[n][1] = Q30(-std::sin(pi * (4 * n + 1) / 128.0));
    gTables.post32[n][0] = Q30(std::cos(pi * n / 32.0));
    gTables.post32[n][1] = Q30(-std::sin(pi * n / 32.0));
  }
  for (int n = 0; n < 8; ++n) {
    gTables.pre16[n][0] = Q30(std::cos(pi * (4 * n + 1) / 64.0));
    gTables.pre16[n][1] = Q30(-std::sin(pi * (4 * n + 1) / 64.0));
    gTables.post16[n][0] = Q30(std::cos(pi * n / 16.0));
    gTables.post16[n][1] = Q30(-std::sin(pi * n / 16.0));
    gTables.roots[n][0] = Q30(std::cos(2 * pi * n / 16.0));
    gTables.roots[n][1] = Q30(-std::sin(2 * pi * n / 16.0));
  }
  FillOdd<64>(gTables.odd64);
  FillOdd<32>(gTables.odd32);
  FillOdd<16>(gTables.odd16);
  FillOdd<8>(gTables.odd8);
  FillOdd<4>(gTables.odd4);
  FillOdd<2>(gTables.odd2);
}

const QmfTables& Tables() {
  static std::once_flag once;
  std::call_once(once, BuildTables);
  return gTables;
}

template <int N>
const int32_t (*OddKernel(const QmfTables& t))[N / 2] {
  if constexpr (N == 64) return t.odd64;
  if constexpr (N == 32) return t.odd32;
  if constexpr (N == 16) return t.odd16;
  if constexpr (N == 8) return t.odd8;
  if constexpr (N == 4) return t.odd4;
  if constexpr (N == 2) return t.odd2;
}

// a x b for complex Q30 b, rounded.
inline void CMulQ30(int64_t ar, int64_t ai, const int32_t* b, int64_t* re, int64_t* im) {
  *re = (ar * b[0] - ai * b[1] + (int64_t{1} << 29)) >> 30;
  *im = (ar * b[1] + ai * b[0] + (int64_t{1} << 29)) >> 30;
}

// y[m] = sum_k x[k] cos(pi (2k + 1)(2m + 1) / 4N) for N = 32 or 16, by an
// N/2-point complex FFT between two twiddle passes; the result keeps the
// direct sum's scale (x 2^30).
template <int N>
void DctIV(const QmfTables& t, const int64_t* x, int64_t* y) {
  constexpr int M = N / 2;
  const int32_t(*pre)[2] = N == 32 ? t.pre32 : t.pre16;
  const int32_t(*post)[2] = N == 32 ? t.post32 : t.post16;
  // Bit-reversed positions of 16 and 8 points.
  static constexpr uint8_t kReversed16[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  static constexpr uint8_t kReversed8[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  const uint8_t* reversed = M == 16 ? kReversed16 : kReversed8;
  int64_t re[M], im[M];
#pragma GCC unroll 16
  for (int n = 0; n < M; ++n) CMulQ30(x[2 * n], x[N - 1 - 2 * n], pre[n], &re[reversed[n]], &im[reversed[n]]);
  // Radix-2 stages. The roots 1 and -i (indices 0 and 4) are exact in Q30,
  // so their rounded products equal the operands: those butterflies add
  // without multiplying.
#pragma GCC unroll 4
  for (int len = 2; len <= M; len <<= 1) {
    const int half = len / 2;
    const int step = 16 / len;
    for (int i = 0; i < M; i += len) {
#pragma GCC unroll 8
      for (int k = 0; k < half; ++k) {
        int64_t tr, ti;
        const int root = k * step;
        if (root == 0) {
          tr = re[i + k + half];
          ti = im[i + k + half];
        } else if (root == 4) {
          tr = im[i + k + half];
          ti = -re[i + k + half];
        } else {
          CMulQ30(re[i + k + half], im[i + k + half], t.roots[root], &tr, &ti);
        }
        re[i + k + half] = re[i + k] - tr;
        im[i + k + half] = im[i + k] - ti;
        re[i + k] += tr;
        im[i + k] += ti;
      }
    }
  }
  for (int k = 0; k < M; ++k) {
    int64_t wr, wi;
    CMulQ30(re[k], im[k], post[k], &wr, &wi);
    y[2 * k] = wr * (int64_t{1} << 30);
    y[N - 1 - 2 * k] = -wi * (int64_t{1} << 30);
  }
}

// out[j] = sum_k in[k] cos(pi (2k + 1) j / 2N) x 2^30 (a DCT-II), by the
// even/odd split: the even outputs are the half-size transform of
// in[k] + in[N-1-k], the odd ones a direct sum over in[k] - in[N-1-k].
template <int N>
void DctII(const QmfTables& t, const int64_t* in, int64_t* out) {
  if constexpr (N == 1) {
    out[0] = in[0] * (int64_t{1} << 30);
  } else {
    int64_t sum[N / 2], diff[N / 2], even[N / 2];
    for (int k = 0; k < N / 2; ++k) {
      sum[k] = in[k] + in[N - 1 - k];
      diff[k] = in[k] - in[N - 1 - k];
    }
    DctII<N / 2>(t, sum, even);
    int64_t odd[N / 2];
    if constexpr (N == 64 || N == 32) {
      DctIV<N / 2>(t, diff, odd);
    } else {
      const int32_t(*kernel)[N / 2] = OddKernel<N>(t);
      for (int m = 0; m < N / 2; ++m) {
        odd[m] = 0;
        for (int k = 0; k < N / 2; ++k) odd[m] += diff[k] * kernel[m][k];
      }
    }
    for (int m = 0; m < N / 2; ++m) {
      out[2 * m] = even[m];
      out[2 * m + 1] = odd[m];
    }
  }
}

// out[k] = sum_j in[j] cos(pi (2k + 1) j / 2N) x 2^30 (a DCT-III), the
// transpose of the split above.
template <int N>
void DctIII(const QmfTables& t, const int64_t* in, int64_t* out) {
  if constexpr (N == 1) {
    out[0] = in[0] * (int64_t{1} << 30);
  } else {
    int64_t evenIn[N / 2], even[N / 2];
    for (int m = 0; m < N / 2; ++m) evenIn[m] = in[2 * m];
    DctIII<N / 2>(t, evenIn, even);
    int64_t oddIn[N / 2], odd[N / 2];
    for (int m = 0; m < N / 2; ++m) oddIn[m] = in[2 * m + 1];
    if constexpr (N == 32) {
      DctIV<16>(t, oddIn, odd);  // the odd kernel is symmetric
    } else {
      const int32_t(*kernel)[N / 2] = OddKernel<N>(t);
      for (int k = 0; k < N / 2; ++k) {
        odd[k] = 0;
        for (int m = 0; m < N / 2; ++m) odd[k] += oddIn[m] * kernel[m][k];
      }
    }
    for (int k = 0; k < N / 2; ++k) {
      out[k] = even[k] + odd[k];
      out[N - 1 - k] = even[k] - odd[k];
    }
  }
}

constexpr int32_t kMaxSample = 1 << 26;

// One synthesis of N bands over the matrix's 32 slots (columns 2..33):
// v[N/2 + j] = sum_k X[k] cos(pi (2k + 1) j / 2N) / 32, scaled by `shift` to
// the delay line's PCM x 2^14, then windowed into N samples.
template <int N>
void Synthesis(SbrChannel* ch, const int32_t* matrix, int16_t* out, int stride, SbrSynthesisWindowFn window,
               int shift) {
  const QmfTables& t = Tables();
  int32_t* delay = ch->synthesisBuffer;
  int pos = ch->synthesisPos;
  for (int s = 0; s < 32; ++s) {
    pos = pos == 9 ? 0 : pos + 1;
    int32_t* x = delay + pos * N;
    int64_t column[N], v[N];
    // Beyond 2^26 a subband sample would clip the output anyway; the bound
    // keeps every sum of the transform within 64 bits.
    for (int k = 0; k < N; ++k) column[k] = std::clamp(matrix[k * kSbrMatrixColumns + s + 2], -kMaxSample, kMaxSample);
    DctII<N>(t, column, v);
    for (int j = 0; j < N; ++j) x[j] = FxSat32(v[j] >> shift);
    window(out + N * s * stride, stride, delay, pos);
  }
  ch->synthesisPos = static_cast<uint8_t>(pos);
}

}  // namespace

void SbrQmfAnalysis(SbrChannel* ch, const int16_t* pcm, int32_t* matrix, int stride) {
  const QmfTables& t = Tables();
  int16_t* buf = ch->analysisBuffer;
  int pos = ch->analysisPos * 32;
  for (int s = 0; s < 32; ++s) {
    for (int i = 0; i < 32; ++i) buf[pos + i] = pcm[(32 * s + i) * stride];
    // u in PCM x 2^11, which keeps the transform's sums within 64 bits.
    int32_t u[64];
    ch->qmfDsp.analysis_window(u, buf, pos);
    int64_t y[32], x[32];
    y[0] = u[48];
    for (int m = 1; m < 16; ++m) y[m] = u[48 + m] + u[48 - m];
    for (int m = 16; m < 32; ++m) y[m] = u[48 - m] - u[m - 16];
    // X = 2 sum y cos, in PCM x 2^kSbrQmfScaleBits.
    DctIII<32>(t, y, x);
    for (int k = 0; k < 32; ++k) {
      matrix[k * kSbrMatrixColumns + s + 8] = FxSat32(x[k] >> (30 + 11 - kSbrQmfScaleBits - 1));
    }
    pos = pos + 32 == 320 ? 0 : pos + 32;
  }
  ch->analysisPos = static_cast<uint8_t>(pos / 32);
}

void SbrQmfSynthesis64(SbrChannel* ch, const int32_t* matrix, int16_t* out, int stride) {
  // v = (1/32) sum X cos, delay line in PCM x 2^14.
  Synthesis<64>(ch, matrix, out, stride, ch->qmfDsp.synthesis_window64, 30 + kSbrQmfScaleBits + 5 - 14);
}

void SbrQmfSynthesis32(SbrChannel* ch, const int32_t* matrix, int16_t* out, int stride) {
  // v = (1/32) sum X cos: the 32-band bank keeps the core rate and level.
  Synthesis<32>(ch, matrix, out, stride, ch->qmfDsp.synthesis_window32, 30 + kSbrQmfScaleBits + 5 - 14);
}

}  // namespace heaac
