#pragma once
// Read-only tables shared by the conversions and scalers.

#include <array>
#include <cstdint>

namespace imageproc {

// RGB565 to YUV, Q14: eight linear tables, entry i of each is i x step. The
// 5- and 6-bit fields index them as they stand in the word (not widened).
//   [0]   red   -> Y   23840     [128] red   -> U  -13184
//   [32]  green -> Y   40092     [160] green -> U  -22116
//   [96]  blue  -> Y    8096     [224] blue  -> U, red -> V   57344
//                                [256] green -> V  -26028
//                                [320] blue  -> V   -5272
// The weights are BT.709 for studio-range output rounded to these steps.
inline constexpr int kRgbYR = 0, kRgbYG = 32, kRgbYB = 96;
inline constexpr int kRgbUR = 128, kRgbUG = 160, kRgbUB = 224;
inline constexpr int kRgbVR = 224, kRgbVG = 256, kRgbVB = 320;
extern const std::array<int32_t, 352> kRgb565ToYuv;

// Bilinear weights in 64ths, indexed by (fy << 3) + fx with the fractions in
// eighths: [0] (8-fx)(8-fy), [1] fx(8-fy), [2] (8-fx)fy, [3] fx fy.
extern const std::array<std::array<uint8_t, 64>, 4> kBilinearWeights;

// Tap shift by integer reduction ratio (entries past 31 use 31): taps jump
// 2^shift samples so that large reductions stay cheap.
extern const uint8_t kSubsampleShift[32];
extern const uint8_t kSubsampleStep[32];  // 1 << kSubsampleShift[r]

inline int SubsampleShift(int64_t ratio) {
  return kSubsampleShift[ratio < 0 ? 0 : (ratio > 31 ? 31 : ratio)];
}

}  // namespace imageproc
