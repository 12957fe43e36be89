// RGB to planar YUV 4:2:0: the encoders' bottom-up RGB565 input, top-down
// RGB565 and interleaved 24-bit BGR.

#include "imageproc/imageproc.h"
#include "imageproc/rgb565_bottom_up_walk.h"
#include "imageproc/rgb_to_yuv_dsp.h"
#include "platform/cpu/cpu.h"

using namespace imageproc;

extern "C" void gOvRGB565toYUV420(const uint16_t* rgb565, YuvFrame* dst, uint32_t srcWidth,
                                  uint32_t srcHeight) {
  RgbToYuvDsp dsp;
  init_rgb_to_yuv_dsp(dsp, ov::GetCpuFlags());
  WalkRgb565BottomUp(rgb565, dst, srcWidth, srcHeight, dsp.rgb565_row2);
}

extern "C" void gOvzRGB565toYUV420_TopDown(const uint16_t* rgb565, uint8_t* i420, int width, int height) {
  if (!rgb565 || !i420 || width <= 0 || height <= 0 || ((width | height) & 1)) return;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  RgbToYuvDsp dsp;
  init_rgb_to_yuv_dsp(dsp, ov::GetCpuFlags());
  uint8_t* y = i420;
  uint8_t* u = i420 + w * h;
  uint8_t* v = u + w * h / 4;
  for (size_t j = 0; j < h / 2; ++j) {
    const uint16_t* s0 = rgb565 + 2 * j * w;
    // Each 2x2 block takes the chroma of its top-left pixel.
    dsp.rgb565_row2(y + 2 * j * w, y + (2 * j + 1) * w, u + j * (w / 2), v + j * (w / 2), s0, s0 + w,
                    static_cast<ptrdiff_t>(w / 2));
  }
}

extern "C" void gBGR24INTtoYUV420Planar(const uint8_t* bgr, uint8_t* i420, uint32_t width, uint32_t height,
                                        int srcStride) {
  if (!bgr || !i420 || width == 0 || height == 0) return;
  const size_t w = width, h = height;
  const ptrdiff_t stride = srcStride;
  if (static_cast<size_t>(stride < 0 ? -static_cast<int64_t>(stride) : stride) < 3 * w) return;
  uint8_t* yp = i420;
  uint8_t* up = i420 + w * h;
  uint8_t* vp = up + w * h / 4;
  const size_t cw = w / 2;
  auto luma = [](const uint8_t* p) {
    return static_cast<uint8_t>((19595 * p[2] + 38470 * p[1] + 7471 * p[0]) >> 16);
  };
  for (size_t j = 0; j < (h + 1) / 2; ++j) {
    const uint8_t* s0 = bgr + static_cast<ptrdiff_t>(2 * j) * stride;
    // An odd last row has no partner: it is converted alone, and the chroma
    // plane (h / 2 rows) has no row for it.
    const bool single = 2 * j + 1 >= h;
    const uint8_t* s1 = single ? s0 : s0 + stride;
    uint8_t* y0 = yp + 2 * j * w;
    uint8_t* y1 = single ? nullptr : y0 + w;
    for (size_t x = 0; x < w; ++x) {
      y0[x] = luma(s0 + 3 * x);
      if (y1) y1[x] = luma(s1 + 3 * x);
    }
    if (single) continue;
    for (size_t i = 0; i < cw; ++i) {
      const uint8_t* a = s0 + 6 * i;
      const uint8_t* b = s1 + 6 * i;
      const int sb = a[0] + a[3] + b[0] + b[3];
      const int sg = a[1] + a[4] + b[1] + b[4];
      const int sr = a[2] + a[5] + b[2] + b[5];
      // BT.601 full-range chroma of the four-pixel sum: >> 18 divides by 4 and
      // removes Q16; 32767 stands for the half weight.
      up[j * cw + i] = static_cast<uint8_t>(((32767 * sb - 11059 * sr - 21709 * sg) >> 18) + 128);
      vp[j * cw + i] = static_cast<uint8_t>(((32767 * sr - 5329 * sb - 27439 * sg) >> 18) + 128);
    }
  }
}
