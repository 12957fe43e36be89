#include "codecs/videodec/common/yuv420_to_rgb565_dsp.h"

#include "platform/cpu/cpu.h"

namespace videodec {
namespace {

// Pixels per chunk of the row loop.
constexpr int kChunk = 256;

// RGB565 of n pixels from luma and per-pixel chroma terms (dither included).
// Luma is the sample (full range) or the stretched sample (studio range).
template <typename Luma>
inline void PackRow(const Luma* y, const int16_t* tr, const int16_t* tg, const int16_t* tb, uint16_t* dst,
                    int n) {
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
    int16_t tr[kChunk], tg[kChunk], tb[kChunk], br[kChunk], bgc[kChunk], bbc[kChunk];
    for (int i = 0; i < n; i += 2) {
      const int cb = u[(c0 + i) / 2] - 128;
      const int cr = v[(c0 + i) / 2] - 128;
      const int rr = (kCrToR * cr) >> 14;
      const int gg = (kCbToG * cb + kCrToG * cr) >> 14;
      const int bb = (kCbToB * cb) >> 14;
      for (int k = 0; k < 2; ++k) {
        tr[i + k] = static_cast<int16_t>(rr + kRgb565Dither[0][k].r);
        tg[i + k] = static_cast<int16_t>(kRgb565Dither[0][k].g - gg);
        tb[i + k] = static_cast<int16_t>(bb + kRgb565Dither[0][k].b);
        br[i + k] = static_cast<int16_t>(rr + kRgb565Dither[1][k].r);
        bgc[i + k] = static_cast<int16_t>(kRgb565Dither[1][k].g - gg);
        bbc[i + k] = static_cast<int16_t>(bb + kRgb565Dither[1][k].b);
      }
    }
    PackRow(y0 + c0, tr, tg, tb, d0 + c0, n);
    PackRow(y1 + c0, br, bgc, bbc, d1 + c0, n);
  }
}

void studio_yuv420_to_rgb565_row2_c(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                                    uint16_t* d0, uint16_t* d1, ptrdiff_t pairs) {
  const ptrdiff_t width = 2 * pairs;
  for (ptrdiff_t c0 = 0; c0 < width; c0 += kChunk) {
    const int n = static_cast<int>(width - c0 < kChunk ? width - c0 : kChunk);
    int16_t tr[kChunk], tg[kChunk], tb[kChunk], br[kChunk], bgc[kChunk], bbc[kChunk];
    int16_t l0[kChunk], l1[kChunk];
    for (int i = 0; i < n; ++i) {
      // Luma stretched from 16-235 to 0-255 (-19 to 278 over all samples).
      l0[i] = static_cast<int16_t>(((y0[c0 + i] - 16) * kStudioY) >> 14);
      l1[i] = static_cast<int16_t>(((y1[c0 + i] - 16) * kStudioY) >> 14);
    }
    for (int i = 0; i < n; i += 2) {
      const int cb = u[(c0 + i) / 2] - 128;
      const int cr = v[(c0 + i) / 2] - 128;
      const int rr = (kStudioCrToR * cr) >> 14;
      const int gg = (kStudioCbToG * cb + kStudioCrToG * cr) >> 14;
      const int bb = (kStudioCbToB * cb) >> 14;
      for (int k = 0; k < 2; ++k) {
        tr[i + k] = static_cast<int16_t>(rr + kRgb565Dither[0][k].r);
        tg[i + k] = static_cast<int16_t>(kRgb565Dither[0][k].g - gg);
        tb[i + k] = static_cast<int16_t>(bb + kRgb565Dither[0][k].b);
        br[i + k] = static_cast<int16_t>(rr + kRgb565Dither[1][k].r);
        bgc[i + k] = static_cast<int16_t>(kRgb565Dither[1][k].g - gg);
        bbc[i + k] = static_cast<int16_t>(bb + kRgb565Dither[1][k].b);
      }
    }
    PackRow(l0, tr, tg, tb, d0 + c0, n);
    PackRow(l1, br, bgc, bbc, d1 + c0, n);
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
