// Impulse-noise pre-filters of the source luma.
#include <gtest/gtest.h>

#include <vector>

#include "encoders/common/prefilter.h"

namespace venc {
namespace {

constexpr int kW = 8, kH = 6;

std::vector<uint8_t> Flat(uint8_t v) { return std::vector<uint8_t>(kW * kH, v); }

TEST(PrefilterTest, ImpulsesAreRemovedAndEdgesKept) {
  for (const int level : {1, 2}) {
    SCOPED_TRACE(level);
    auto p = Flat(50);
    p[2 * kW + 3] = 250;  // interior impulse
    p[0 * kW + 4] = 250;  // on the outer row: never changed
    p[3 * kW + 7] = 0;    // on the outer column
    PrefilterLuma(level, p.data(), kW, kW, kH);
    EXPECT_EQ(p[2 * kW + 3], 50);
    EXPECT_EQ(p[0 * kW + 4], 250);
    EXPECT_EQ(p[3 * kW + 7], 0);
  }
  // A vertical step edge stays under level 1.
  std::vector<uint8_t> step(kW * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) step[y * kW + x] = x < 4 ? 20 : 200;
  auto copy = step;
  PrefilterClampToNeighbours(step.data(), kW, kW, kH);
  EXPECT_EQ(step, copy);
  // A flat area is left alone by level 2.
  auto flat = Flat(77);
  PrefilterConditionalMedian(flat.data(), kW, kW, kH);
  EXPECT_EQ(flat, Flat(77));
  // Level 0 does nothing.
  auto noisy = Flat(10);
  noisy[2 * kW + 2] = 255;
  PrefilterLuma(0, noisy.data(), kW, kW, kH);
  EXPECT_EQ(noisy[2 * kW + 2], 255);
}

}  // namespace
}  // namespace venc
