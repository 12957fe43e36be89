#include "codecs/videodec/common/yuv420_to_rgb565_dsp.h"

#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

// Pixels per chunk of the row loop.
constexpr int kChunk = 256;

// The per-pixel chroma terms of one row of a chunk, dither included.
struct Terms {
  int16_t r[kChunk], g[kChunk], b[kChunk];
};

// The terms of n pixels (n even) for the top and the bottom row of a pair,
// from the chroma samples u[0..n/2) and v[0..n/2) and Q14 coefficients.
inline void ChromaTerms(const uint8_t* u, const uint8_t* v, int n, int cr_to_r, int cb_to_g, int cr_to_g,
                        int cb_to_b, Terms& top, Terms& bottom) {
  for (int i = 0; i < n; i += 2) {
    const int cb = u[i / 2] - 128;
    const int cr = v[i / 2] - 128;
    const int rr = (cr_to_r * cr) >> 14;
    const int gg = (cb_to_g * cb + cr_to_g * cr) >> 14;
    const int bb = (cb_to_b * cb) >> 14;
    for (int k = 0; k < 2; ++k) {
      top.r[i + k] = static_cast<int16_t>(rr + kRgb565Dither[0][k].r);
      top.g[i + k] = static_cast<int16_t>(kRgb565Dither[0][k].g - gg);
      top.b[i + k] = static_cast<int16_t>(bb + kRgb565Dither[0][k].b);
      bottom.r[i + k] = static_cast<int16_t>(rr + kRgb565Dither[1][k].r);
      bottom.g[i + k] = static_cast<int16_t>(kRgb565Dither[1][k].g - gg);
      bottom.b[i + k] = static_cast<int16_t>(bb + kRgb565Dither[1][k].b);
    }
  }
}

// RGB565 of n pixels from luma and per-pixel chroma terms (dither included).
// Luma is the sample (full range) or the stretched sample (studio range).
template <typename Luma>
inline void PackRow(const Luma* y, const Terms& t, uint16_t* dst, int n) {
  const int16_t* tr = t.r;
  const int16_t* tg = t.g;
  const int16_t* tb = t.b;
  // 16-bit arithmetic throughout (|terms| < 300).
  for (int i = 0; i < n; ++i) {
    const int16_t yy = y[i];
    int16_t red = static_cast<int16_t>(yy + tr[i]);
    int16_t green = static_cast<int16_t>(yy + tg[i]);
    int16_t blue = static_cast<int16_t>(yy + tb[i]);
    red = red < 0 ? int16_t{0} : (red > 255 ? int16_t{255} : red);
    green = green < 0 ? int16_t{0} : (green > 255 ? int16_t{255} : green);
    blue = blue < 0 ? int16_t{0} : (blue > 255 ? int16_t{255} : blue);
    dst[i] = static_cast<uint16_t>(((red & 0xF8) << 8) | ((green & 0xFC) << 3) | (blue >> 3));
  }
}

}  // namespace

void yuv420_to_rgb565_row2_c(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                             uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  const ptrdiff_t width = 2 * pairs;
  // In chunks: the chroma terms of each pixel, dither included, go into small
  // arrays first, so that the per-pixel loop is plain element-wise arithmetic.
  for (ptrdiff_t c0 = 0; c0 < width; c0 += kChunk) {
    const int n = static_cast<int>(width - c0 < kChunk ? width - c0 : kChunk);
    Terms top, bottom;
    ChromaTerms(u + c0 / 2, v + c0 / 2, n, kCrToR, kCbToG, kCrToG, kCbToB, top, bottom);
    PackRow(y0 + c0, top, d0 + c0, n);
    PackRow(y1 + c0, bottom, d1 + c0, n);
  }
}

void studio_yuv420_to_rgb565_row2_c(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                    uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  const ptrdiff_t width = 2 * pairs;
  for (ptrdiff_t c0 = 0; c0 < width; c0 += kChunk) {
    const int n = static_cast<int>(width - c0 < kChunk ? width - c0 : kChunk);
    Terms top, bottom;
    int16_t l0[kChunk], l1[kChunk];
    for (int i = 0; i < n; ++i) {
      // Luma stretched from 16-235 to 0-255 (-19 to 278 over all samples).
      l0[i] = static_cast<int16_t>(((y0[c0 + i] - 16) * kStudioY) >> 14);
      l1[i] = static_cast<int16_t>(((y1[c0 + i] - 16) * kStudioY) >> 14);
    }
    ChromaTerms(u + c0 / 2, v + c0 / 2, n, kStudioCrToR, kStudioCbToG, kStudioCrToG, kStudioCbToB, top, bottom);
    PackRow(l0, top, d0 + c0, n);
    PackRow(l1, bottom, d1 + c0, n);
  }
}

void init_yuv420_to_rgb565_dsp(Yuv420ToRgb565Dsp& dsp, uint32_t cpuFlags) {
  dsp.row2 = yuv420_to_rgb565_row2_c;
  dsp.studio_row2 = studio_yuv420_to_rgb565_row2_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) {
    dsp.row2 = yuv420_to_rgb565_row2_sse2;
    dsp.studio_row2 = studio_yuv420_to_rgb565_row2_sse2;
  }
  if (cpuFlags & ov::kCpuAvx2) {
    dsp.row2 = yuv420_to_rgb565_row2_avx2;
    dsp.studio_row2 = studio_yuv420_to_rgb565_row2_avx2;
  }
#else
  (void)cpuFlags;
#endif
}

}  // namespace videodec
