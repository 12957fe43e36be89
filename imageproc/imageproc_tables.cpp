#include "imageproc/imageproc_tables.h"

#include <array>

namespace imageproc {
namespace {

constexpr std::array<int32_t, 352> MakeRgb565ToYuv() {
  struct Segment {
    int first, count, step;
  };
  constexpr Segment kSegments[] = {{0, 32, 23840},   {32, 64, 40092},   {96, 32, 8096},
                                   {128, 32, -13184}, {160, 64, -22116}, {224, 32, 57344},
                                   {256, 64, -26028}, {320, 32, -5272}};
  std::array<int32_t, 352> t{};
  for (const Segment& s : kSegments) {
    for (int i = 0; i < s.count; ++i) t[s.first + i] = i * s.step;
  }
  return t;
}

constexpr std::array<std::array<uint8_t, 64>, 4> MakeBilinear() {
  std::array<std::array<uint8_t, 64>, 4> t{};
  for (int fy = 0; fy < 8; ++fy) {
    for (int fx = 0; fx < 8; ++fx) {
      const int i = (fy << 3) + fx;
      t[0][i] = static_cast<uint8_t>((8 - fx) * (8 - fy));
      t[1][i] = static_cast<uint8_t>(fx * (8 - fy));
      t[2][i] = static_cast<uint8_t>((8 - fx) * fy);
      t[3][i] = static_cast<uint8_t>(fx * fy);
    }
  }
  return t;
}

}  // namespace

const std::array<int32_t, 352> kRgb565ToYuv = MakeRgb565ToYuv();
const std::array<std::array<uint8_t, 64>, 4> kBilinearWeights = MakeBilinear();

// Ratios 0-2 keep adjacent taps; 3-4, 5-8, 9-16 and 17 up double the gap.
const uint8_t kSubsampleShift[32] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3,
                                     3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
const uint8_t kSubsampleStep[32] = {1, 1, 1, 2, 2, 4, 4, 4, 4, 8, 8, 8, 8, 8, 8, 8,
                                    8, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};

}  // namespace imageproc
