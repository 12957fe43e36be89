#pragma once
// Constant tables of the encoder objects.

#include <cstddef>
#include <cstdint>

namespace codecdmo {

// AMR-NB modes 0-7: speech bit rate, the storage-format rate (frame bytes x
// 8 x 50 frames per second) and the frame bytes with their header byte.
struct AmrMode {
  uint32_t bit_rate;
  uint32_t output_bit_rate;
  uint32_t frame_bytes;
};

inline constexpr AmrMode kAmrModes[8] = {
    {4750, 5200, 13},  {5150, 5600, 14}, {5900, 6400, 16},   {6700, 7200, 18},
    {7400, 8000, 20},  {7950, 8400, 21}, {10200, 10800, 27}, {12200, 12800, 32},
};

// The video objects' bit rate by input size when none is set; other sizes
// take kDefaultVideoBitRate.
struct SizeBitRate {
  uint16_t width;
  uint16_t height;
  int32_t bit_rate;
};

inline constexpr int32_t kDefaultVideoBitRate = 115000;
inline constexpr SizeBitRate kH263BitRates[] = {{352, 288, 256000}, {160, 120, 51000}, {128, 96, 35000}};
inline constexpr SizeBitRate kMpeg4BitRates[] = {{160, 120, 51000}, {320, 240, 256000}, {128, 96, 35000}};

template <size_t N>
constexpr int32_t DefaultBitRate(const SizeBitRate (&table)[N], uint16_t width, uint16_t height) {
  for (const SizeBitRate& s : table) {
    if (s.width == width && s.height == height) return s.bit_rate;
  }
  return kDefaultVideoBitRate;
}

// RGB565 to ITU-R BT.601 studio range (Y 16-235, Cb and Cr 16-240), the
// colour space that H.263 and MPEG-4 Part 2 players assume when the stream
// carries no colour description. Weights in Q14 per 8-bit step (0.2568,
// 0.5041, 0.0979 for Y; -0.1482, -0.2910, 0.4392 for Cb; 0.4392, -0.3678,
// -0.0714 for Cr), rounded so that each chroma row sums to 0 (grey keeps 128).
inline constexpr int32_t kStudioYR = 4207, kStudioYG = 8260, kStudioYB = 1604;
inline constexpr int32_t kStudioUR = -2428, kStudioUG = -4768, kStudioUB = 7196;
inline constexpr int32_t kStudioVR = 7196, kStudioVG = -6026, kStudioVB = -1170;
// Y = (sum of the pixel's three entries + kStudioYOffset) >> 14: 16 and the
// rounding half. Cb, Cr = (sum over the 2x2 block's four pixels +
// kStudioCOffset) >> 16: 128 and the rounding half, the shift also dividing
// by four. Every result lies in 16-235 (Y) or 16-240 (Cb, Cr).
inline constexpr int32_t kStudioYOffset = (16 << 14) + (1 << 13);
inline constexpr int32_t kStudioCOffset = (128 << 16) + (1 << 15);

// The 5- and 6-bit fields widened to 8 bits by repeating their top bits, so
// that a full field is 255 and white is white.
constexpr int32_t Widen5(int32_t f) { return (f << 3) | (f >> 2); }
constexpr int32_t Widen6(int32_t f) { return (f << 2) | (f >> 4); }

// The look-up tables of the reference conversion: entry i of a table is its
// weight times field value i widened. Index by the red field (0-31) at
// kStudioR, the green field (0-63) at kStudioG and the blue field at kStudioB.
struct StudioRgb565Tables {
  int32_t y[128];
  int32_t u[128];
  int32_t v[128];
};
inline constexpr int kStudioR = 0, kStudioG = 32, kStudioB = 96;

constexpr StudioRgb565Tables MakeStudioRgb565Tables() {
  StudioRgb565Tables t{};
  for (int32_t i = 0; i < 32; ++i) {
    t.y[kStudioR + i] = kStudioYR * Widen5(i);
    t.y[kStudioB + i] = kStudioYB * Widen5(i);
    t.u[kStudioR + i] = kStudioUR * Widen5(i);
    t.u[kStudioB + i] = kStudioUB * Widen5(i);
    t.v[kStudioR + i] = kStudioVR * Widen5(i);
    t.v[kStudioB + i] = kStudioVB * Widen5(i);
  }
  for (int32_t i = 0; i < 64; ++i) {
    t.y[kStudioG + i] = kStudioYG * Widen6(i);
    t.u[kStudioG + i] = kStudioUG * Widen6(i);
    t.v[kStudioG + i] = kStudioVG * Widen6(i);
  }
  return t;
}
inline constexpr StudioRgb565Tables kStudioRgb565 = MakeStudioRgb565Tables();

}  // namespace codecdmo
