#include "codecs/videodec/mpeg4/mpeg4_idct.h"

#include <algorithm>

namespace videodec {
namespace {

inline int M16(int a, int k) { return (a * k + 32768) >> 16; }
inline int M15(int a, int k) { return (a * k + 16384) >> 15; }

// One butterfly over x[0], x[s], ... x[7s] (see the constants: tan(pi/16),
// tan(pi/8), tan(3pi/16), cos(pi/4) in 16 and 15 fraction bits).
inline void Butterfly(const int* x, int s, int* y) {
  const int x0 = x[0], x1 = x[s], x2 = x[2 * s], x3 = x[3 * s];
  const int x4 = x[4 * s], x5 = x[5 * s], x6 = x[6 * s], x7 = x[7 * s];
  const int p = x1 + M16(x7, 13036);
  const int q = M16(x1, 13036) - x7;
  const int r = x3 + M15(x5, 21894);
  const int t = x5 - M15(x3, 21894);
  const int e = p + r, f = q + t;
  const int g = M15(p - r, 23170), h = M15(q - t, 23170);
  const int a = x2 + M16(x6, 27145), b = M16(x2, 27145) - x6;
  const int c0 = x0 + x4 + a, c3 = x0 + x4 - a, c1 = x0 - x4 + b, c2 = x0 - x4 - b;
  y[0] = c0 + e;
  y[7] = c0 - e;
  y[3] = c3 + f;
  y[4] = c3 - f;
  y[1] = c1 + (g + h);
  y[6] = c1 - (g + h);
  y[2] = c2 + (g - h);
  y[5] = c2 - (g - h);
}

template <bool kAdd>
void Idct(uint8_t* dst, ptrdiff_t stride, const int16_t* coef, int last) {
  int out[64];
  if (last == 0) {
    const int v = (coef[0] + 32) >> 6;
    for (int i = 0; i < 64; ++i) out[i] = v;
  } else {
    int tmp[64];
    int in[64];
    for (int i = 0; i < 64; ++i) in[i] = coef[i];
    for (int row = 0; row < 8; ++row) Butterfly(in + row * 8, 1, tmp + row * 8);
    int col_out[8];
    for (int col = 0; col < 8; ++col) {
      Butterfly(tmp + col, 8, col_out);
      for (int j = 0; j < 8; ++j) out[j * 8 + col] = (col_out[j] + 32) >> 6;
    }
  }
  for (int j = 0; j < 8; ++j) {
    uint8_t* d = dst + j * stride;
    for (int i = 0; i < 8; ++i) {
      const int v = kAdd ? d[i] + out[j * 8 + i] : out[j * 8 + i];
      d[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
}

}  // namespace

void Mpeg4IdctPut(uint8_t* dst, ptrdiff_t stride, const int16_t* coef, int last) {
  Idct<false>(dst, stride, coef, last);
}

void Mpeg4IdctAdd(uint8_t* dst, ptrdiff_t stride, const int16_t* coef, int last) {
  Idct<true>(dst, stride, coef, last);
}

}  // namespace videodec
