#include "codecs/videodec/common/idct.h"

#include <algorithm>

#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

// Products of the butterfly; 64-bit so that hostile coefficients cannot
// overflow (legal input stays far inside 32 bits).
inline int32_t M16(int32_t a, int32_t k) { return static_cast<int32_t>((static_cast<int64_t>(a) * k + 32768) >> 16); }
inline int32_t M15(int32_t a, int32_t k) { return static_cast<int32_t>((static_cast<int64_t>(a) * k + 16384) >> 15); }

constexpr int32_t kTan1 = 13036;   // tan(pi/16) x 65536
constexpr int32_t kTan2 = 27145;   // tan(pi/8) x 65536
constexpr int32_t kTan3 = 21894;   // tan(3pi/16) x 32768
constexpr int32_t kCos4 = 23170;   // cos(pi/4) x 32768

// One 8-point pass of the scaled inverse transform: x[0..7] with stride `xs`
// in, y[0..7] with stride `ys` out.
template <typename In, typename Out>
inline void Butterfly(const In* x, ptrdiff_t xs, Out* y, ptrdiff_t ys, int32_t bias) {
  const int32_t x0 = x[0] + bias, x1 = x[xs], x2 = x[2 * xs], x3 = x[3 * xs];
  const int32_t x4 = x[4 * xs], x5 = x[5 * xs], x6 = x[6 * xs], x7 = x[7 * xs];
  const int32_t p = x1 + M16(x7, kTan1);
  const int32_t q = M16(x1, kTan1) - x7;
  const int32_t r = x3 + M15(x5, kTan3);
  const int32_t s = x5 - M15(x3, kTan3);
  const int32_t e = p + r;
  const int32_t f = q + s;
  const int32_t g = M15(p - r, kCos4);
  const int32_t h = M15(q - s, kCos4);
  const int32_t a = x2 + M16(x6, kTan2);
  const int32_t b = M16(x2, kTan2) - x6;
  const int32_t c0 = x0 + x4 + a;
  const int32_t c3 = x0 + x4 - a;
  const int32_t c1 = x0 - x4 + b;
  const int32_t c2 = x0 - x4 - b;
  y[0] = static_cast<Out>(c0 + e);
  y[7 * ys] = static_cast<Out>(c0 - e);
  y[3 * ys] = static_cast<Out>(c3 + f);
  y[4 * ys] = static_cast<Out>(c3 - f);
  y[1 * ys] = static_cast<Out>(c1 + (g + h));
  y[6 * ys] = static_cast<Out>(c1 - (g + h));
  y[2 * ys] = static_cast<Out>(c2 + (g - h));
  y[5 * ys] = static_cast<Out>(c2 - (g - h));
}

// Rows then columns; out[64] gets the final samples before clipping.
inline void Transform(const int16_t* block, int32_t* out) {
  int32_t tmp[64];
  for (int row = 0; row < 8; ++row) {
    const int16_t* x = block + row * 8;
    int32_t* t = tmp + row * 8;
    if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
      std::fill(t, t + 8, static_cast<int32_t>(x[0]));
      continue;
    }
    Butterfly(x, 1, t, 1, 0);
  }
  int32_t col[8];
  for (int c = 0; c < 8; ++c) {
    Butterfly(tmp + c, 8, col, 1, 32);
    for (int r = 0; r < 8; ++r) out[r * 8 + c] = col[r] >> 6;
  }
}

inline uint8_t Clip255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
inline int16_t Sat16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

void IdctPutRef(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  int32_t out[64];
  Transform(block, out);
  for (int r = 0; r < 8; ++r, dst += stride)
    for (int c = 0; c < 8; ++c) dst[c] = Clip255(out[r * 8 + c]);
}

void IdctAddRef(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  int32_t out[64];
  Transform(block, out);
  for (int r = 0; r < 8; ++r, dst += stride)
    for (int c = 0; c < 8; ++c) dst[c] = Clip255(dst[c] + out[r * 8 + c]);
}

void IdctDcPutRef(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  const uint8_t v = Clip255((block[0] + 32) >> 6);
  for (int r = 0; r < 8; ++r, dst += stride) std::fill(dst, dst + 8, v);
}

void IdctDcAddRef(uint8_t* dst, ptrdiff_t stride, const int16_t* block) {
  const int32_t d = (block[0] + 32) >> 6;
  for (int r = 0; r < 8; ++r, dst += stride)
    for (int c = 0; c < 8; ++c) dst[c] = Clip255(dst[c] + d);
}

void IdctRef(int16_t* block) {
  int32_t out[64];
  Transform(block, out);
  for (int i = 0; i < 64; ++i) block[i] = Sat16(out[i]);
}

// Forward transform of the low frequencies: the three outputs 0, 1, 2 of an
// 8-point pass (doubled inputs in the row pass).
inline void ForwardLow(const int32_t* x, ptrdiff_t xs, int32_t scale, int32_t* c0, int32_t* c1, int32_t* c2) {
  const int32_t x0 = x[0] * scale, x1 = x[xs] * scale, x2 = x[2 * xs] * scale, x3 = x[3 * xs] * scale;
  const int32_t x4 = x[4 * xs] * scale, x5 = x[5 * xs] * scale, x6 = x[6 * xs] * scale, x7 = x[7 * xs] * scale;
  *c0 = x0 + x1 + x2 + x3 + x4 + x5 + x6 + x7;
  *c2 = ((x0 + x7) - (x3 + x4)) + M16((x1 + x6) - (x2 + x5), kTan2);
  *c1 = M16(M16((x1 - x6) - (x2 - x5), 46340) + (x3 - x4), kTan1) + M16((x1 - x6) + (x2 - x5), 46340) + (x0 - x7);
}

}  // namespace

void init_idct_dsp(IdctDsp& dsp, uint32_t cpu_flags) {
  dsp.idct_put = IdctPutRef;
  dsp.idct_add = IdctAddRef;
  dsp.idct_dc_put = IdctDcPutRef;
  dsp.idct_dc_add = IdctDcAddRef;
  dsp.idct = IdctRef;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpu_flags & ov::kCpuSse2) init_idct_dsp_sse2(dsp);
  if (cpu_flags & ov::kCpuAvx2) init_idct_dsp_avx2(dsp);
#else
  (void)cpu_flags;
#endif
}

void ForwardDctLowFrequency(const uint8_t* src, ptrdiff_t stride, int16_t* coeffs) {
  // Row pass over the doubled samples: columns 0, 1, 2 of each row.
  int32_t rows[8][3];
  for (int r = 0; r < 8; ++r) {
    int32_t x[8];
    for (int c = 0; c < 8; ++c) x[c] = src[r * stride + c];
    ForwardLow(x, 1, 2, &rows[r][0], &rows[r][1], &rows[r][2]);
  }
  // Column pass without doubling: column 0 gives rows 0..2, column 1 rows 0..1,
  // column 2 row 0.
  int32_t c00, c10, c20, c01, c11, c02, unused;
  ForwardLow(&rows[0][0], 3, 1, &c00, &c10, &c20);
  ForwardLow(&rows[0][1], 3, 1, &c01, &c11, &unused);
  ForwardLow(&rows[0][2], 3, 1, &c02, &unused, &unused);
  auto scale = [](int32_t x, int32_t k) {
    return static_cast<int16_t>(std::clamp<int64_t>((static_cast<int64_t>(x) * k + (1 << 18)) >> 19, -32768, 32767));
  };
  coeffs[0] = scale(c00, 32768);
  coeffs[1] = scale(c01, 45450);
  coeffs[2] = scale(c02, 42813);
  coeffs[8] = scale(c10, 45450);
  coeffs[9] = scale(c11, 63041);
  coeffs[16] = scale(c20, 42813);
}

void InverseDctLowFrequency(const int16_t* coeffs, uint8_t* dst, ptrdiff_t stride) {
  int16_t block[64] = {};
  auto scale = [](int32_t x, int32_t k) {
    return static_cast<int16_t>(std::clamp<int64_t>((static_cast<int64_t>(x) * k + 2048) >> 12, -32768, 32767));
  };
  block[0] = scale(coeffs[0], 32768);
  block[1] = scale(coeffs[1], 45450);
  block[2] = scale(coeffs[2], 42813);
  block[8] = scale(coeffs[8], 45450);
  block[9] = scale(coeffs[9], 63041);
  block[16] = scale(coeffs[16], 42813);
  IdctPutRef(dst, stride, block);
}

}  // namespace videodec
