// Real-valued (low-power) SBR QMF banks, ISO/IEC 14496-3 4.6.18.4 and
// 4.6.18.8: a 32-band analysis and a 64- or 32-band synthesis, each a
// windowed polyphase sum and a cosine modulation.
//
// Analysis: X[k] = 2 sum_n u[n] cos(pi (k + 0.5)(2n - 96) / 64), folded to a
// 32-point cosine sum. Synthesis with N bands: v[n] = (1 / 32) sum_k X[k]
// cos(pi (k + 0.5)(2n - N) / 2N), of which only the N values v[N/2 .. 3N/2 - 1]
// are kept: the others follow by symmetry (v[N/2 - j] = v[N/2 + j],
// v[3N/2 + j] = -v[3N/2 - j]).
#include <cmath>
#include <mutex>

#include "codecs/heaac/fx_math.h"
#include "codecs/heaac/sbr.h"
#include "codecs/heaac/sbr_tables.h"

namespace heaac {
namespace {

struct QmfTables {
  int32_t analysisCos[32][32];  // cos(pi (k + 0.5) m / 32), Q30, [k][m]
  int32_t synthesis64Cos[64][64];  // [j][k]: v[32 + j], Q30
  int32_t synthesis32Cos[32][32];  // [j][k]: v[16 + j], Q30
  // Where sample n of a 64-band slot finds its two windowed values: the
  // stored index in an even-aged and an odd-aged block, and the sign of the
  // second (0 where it is zero).
  uint8_t index64Even[64];
  uint8_t index64Odd[64];
  int8_t sign64Odd[64];
  uint8_t index32Even[32];
  uint8_t index32Odd[32];
  int8_t sign32Odd[32];
};

int32_t Q30(double v) { return static_cast<int32_t>(std::floor(v * 1073741824.0 + 0.5)); }

void MapSymmetry(int n, uint8_t* even, uint8_t* odd, int8_t* sign) {
  const int half = n / 2;
  for (int i = 0; i < n; ++i) {
    even[i] = static_cast<uint8_t>(i >= half ? i - half : half - i);
    if (i < half) {
      odd[i] = static_cast<uint8_t>(half + i);
      sign[i] = 1;
    } else if (i == half) {
      odd[i] = 0;
      sign[i] = 0;
    } else {
      odd[i] = static_cast<uint8_t>(3 * half - i);
      sign[i] = -1;
    }
  }
}

QmfTables gTables;

void BuildTables() {
  const double pi = 3.14159265358979323846;
  for (int k = 0; k < 32; ++k) {
    for (int m = 0; m < 32; ++m) gTables.analysisCos[k][m] = Q30(std::cos(pi * (k + 0.5) * m / 32.0));
  }
  for (int j = 0; j < 64; ++j) {
    for (int k = 0; k < 64; ++k) gTables.synthesis64Cos[j][k] = Q30(std::cos(pi * (k + 0.5) * (2.0 * j) / 128.0));
  }
  for (int j = 0; j < 32; ++j) {
    for (int k = 0; k < 32; ++k) gTables.synthesis32Cos[j][k] = Q30(std::cos(pi * (k + 0.5) * (2.0 * j) / 64.0));
  }
  MapSymmetry(64, gTables.index64Even, gTables.index64Odd, gTables.sign64Odd);
  MapSymmetry(32, gTables.index32Even, gTables.index32Odd, gTables.sign32Odd);
}

const QmfTables& Tables() {
  static std::once_flag once;
  std::call_once(once, BuildTables);
  return gTables;
}

inline int16_t Sat16(int64_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

// One synthesis of N bands over the matrix's 32 slots (columns 2..33).
// `cosines` is [N][N] (v[N/2 + j] from X[k]); `shift` scales the sum to the
// delay line's PCM x 2^14; `window` steps through c[] by `step`.
template <int N>
void Synthesis(int32_t* delay, const int32_t* matrix, int16_t* out, int stride, uint8_t* position,
               const int32_t (*cosines)[N], int shift, const uint8_t* evenIndex, const uint8_t* oddIndex,
               const int8_t* oddSign) {
  const int step = 64 / N;
  int pos = *position;
  for (int s = 0; s < 32; ++s) {
    pos = pos == 9 ? 0 : pos + 1;
    int32_t* x = delay + pos * N;
    int32_t column[N];
    for (int k = 0; k < N; ++k) column[k] = matrix[k * kSbrMatrixColumns + s + 2];
    for (int j = 0; j < N; ++j) {
      const int32_t* c = cosines[j];
      int64_t acc = 0;
      for (int k = 0; k < N; ++k) acc += static_cast<int64_t>(column[k]) * c[k];
      x[j] = FxSat32(acc >> shift);
    }
    for (int n = 0; n < N; ++n) {
      int64_t acc = 0;
      for (int i = 0; i < 5; ++i) {
        const int32_t* even = delay + ((pos - 2 * i + 20) % 10) * N;
        const int32_t* odd = delay + ((pos - 2 * i - 1 + 20) % 10) * N;
        acc += static_cast<int64_t>(even[evenIndex[n]]) * kSbrQmfWindowSynthesis[step * (2 * N * i + n)];
        acc += static_cast<int64_t>(oddSign[n] * odd[oddIndex[n]]) * kSbrQmfWindowSynthesis[step * (2 * N * i + N + n)];
      }
      out[(N * s + n) * stride] = Sat16(acc >> 29);
    }
  }
  *position = static_cast<uint8_t>(pos);
}

}  // namespace

void SbrQmfAnalysis(SbrChannel* ch, const int16_t* pcm, int32_t* matrix, int stride) {
  const QmfTables& t = Tables();
  int16_t* buf = ch->analysisBuffer;
  int pos = ch->analysisPos * 32;
  for (int s = 0; s < 32; ++s) {
    for (int i = 0; i < 32; ++i) buf[pos + i] = pcm[(32 * s + i) * stride];
    // x[n] (n = 0 newest) is buf[(pos + 31 - n) mod 320]; u in PCM x 2^12.
    int32_t u[64];
    for (int n = 0; n < 64; ++n) {
      int64_t acc = 0;
      for (int j = 0; j < 5; ++j) {
        const int m = n + 64 * j;
        acc += static_cast<int64_t>(buf[(pos + 31 - m + 320) % 320]) * kSbrQmfWindowAnalysis[m];
      }
      u[n] = static_cast<int32_t>(acc >> 19);
    }
    int32_t y[32];
    y[0] = u[48];
    for (int m = 1; m < 16; ++m) y[m] = u[48 + m] + u[48 - m];
    for (int m = 16; m < 32; ++m) y[m] = u[48 - m] - u[m - 16];
    // X = 2 sum y cos, in PCM x 2^kSbrQmfScaleBits.
    for (int k = 0; k < 32; ++k) {
      const int32_t* c = t.analysisCos[k];
      int64_t acc = 0;
      for (int m = 0; m < 32; ++m) acc += static_cast<int64_t>(y[m]) * c[m];
      matrix[k * kSbrMatrixColumns + s + 8] = FxSat32(acc >> (30 + 12 - kSbrQmfScaleBits - 1));
    }
    pos = pos + 32 == 320 ? 0 : pos + 32;
  }
  ch->analysisPos = static_cast<uint8_t>(pos / 32);
}

void SbrQmfSynthesis64(int32_t* delay, const int32_t* matrix, int16_t* out, int stride, uint8_t* pos) {
  const QmfTables& t = Tables();
  // v = (1/32) sum X cos, delay line in PCM x 2^14.
  Synthesis<64>(delay, matrix, out, stride, pos, t.synthesis64Cos, 30 + kSbrQmfScaleBits + 5 - 14, t.index64Even,
                t.index64Odd, t.sign64Odd);
}

void SbrQmfSynthesis32(int32_t* delay, const int32_t* matrix, int16_t* out, int stride, uint8_t* pos) {
  const QmfTables& t = Tables();
  // v = (1/32) sum X cos: the 32-band bank keeps the core rate and level.
  Synthesis<32>(delay, matrix, out, stride, pos, t.synthesis32Cos, 30 + kSbrQmfScaleBits + 5 - 14, t.index32Even,
                t.index32Odd, t.sign32Odd);
}

}  // namespace heaac
