#include "codecs/videodec/common/post_filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace videodec {
namespace {

struct TestPicture {
  explicit TestPicture(int w = 32, int h = 32) : data(static_cast<size_t>(w * h * 3 / 2)) {
    pic = DecodedPicture{data.data(), data.data() + w * h, data.data() + w * h * 5 / 4, static_cast<uint16_t>(w),
                         static_cast<uint16_t>(h), 0};
  }
  std::vector<uint8_t> data;
  DecodedPicture pic;
};

TestPicture Blocky(unsigned seed) {
  TestPicture t;
  std::mt19937 rng(seed);
  // 8x8 blocks of flat values that step by a few levels: block edges to smooth.
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) t.pic.y[y * 32 + x] = static_cast<uint8_t>(100 + ((x / 8 + y / 8) % 2) * 6 + (rng() & 1));
  for (int i = 0; i < 256; ++i) t.pic.u[i] = t.pic.v[i] = static_cast<uint8_t>(128 + ((i % 16) / 8) * 5);
  return t;
}

struct LevelCase {
  PostFilterCodec codec;
  uint32_t level;
  uint8_t quant;
  bool changes;
};

class PostFilterLevelTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(PostFilterLevelTest, ThresholdsByDecoderAndLevel) {
  const LevelCase& c = GetParam();
  TestPicture t = Blocky(5);
  const std::vector<uint8_t> before = t.data;
  const uint8_t quant[4] = {c.quant, c.quant, c.quant, c.quant};
  PostFilter(t.pic, quant, 1, c.level, c.codec);
  EXPECT_EQ(t.data != before, c.changes);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, PostFilterLevelTest,
    ::testing::Values(LevelCase{PostFilterCodec::kH263, 1, 3, false},   // s = 3
                      LevelCase{PostFilterCodec::kH263, 1, 10, true},   // s = 12
                      LevelCase{PostFilterCodec::kH263, 2, 4, false},   // QUANT below 5
                      LevelCase{PostFilterCodec::kH263, 2, 8, true},
                      LevelCase{PostFilterCodec::kH263, 3, 20, false},  // no such level
                      LevelCase{PostFilterCodec::kMpeg4, 2, 4, true},   // s = 5
                      LevelCase{PostFilterCodec::kMpeg4, 0, 20, false},
                      LevelCase{PostFilterCodec::kMpeg4, 1, 3, false}),
    [](const ::testing::TestParamInfo<LevelCase>& param_info) {
      const LevelCase& c = param_info.param;
      return std::string(c.codec == PostFilterCodec::kH263 ? "H263" : "Mpeg4") + "_Level" +
             std::to_string(c.level) + "_Quant" + std::to_string(c.quant);
    });

TEST(PostFilterTest, SimpleEdgeFilterLine) {
  // d = C - B = 8, s = 12: A += 1, B += 2, C -= 2, D -= 1.
  uint8_t line[4] = {100, 100, 108, 108};
  SimpleEdgeFilterLine(line + 2, 1, 12);
  EXPECT_EQ(line[0], 101);
  EXPECT_EQ(line[1], 102);
  EXPECT_EQ(line[2], 106);
  EXPECT_EQ(line[3], 107);
  // Negative steps floor: d = -5 gives d >> 3 = -1, d >> 2 = -2.
  uint8_t down[4] = {50, 50, 45, 45};
  SimpleEdgeFilterLine(down + 2, 1, 12);
  EXPECT_EQ(down[0], 49);
  EXPECT_EQ(down[1], 48);
  EXPECT_EQ(down[2], 47);
  EXPECT_EQ(down[3], 46);
  // |d| < 3 or |d| >= s: untouched.
  uint8_t small[4] = {10, 10, 12, 12};
  SimpleEdgeFilterLine(small + 2, 1, 12);
  EXPECT_EQ(small[1], 10);
  uint8_t big[4] = {10, 10, 30, 30};
  SimpleEdgeFilterLine(big + 2, 1, 12);
  EXPECT_EQ(big[2], 30);
}

TEST(PostFilterTest, AdaptiveFilterLeavesFlatLinesAlone) {
  uint8_t flat[8] = {50, 51, 53, 54, 56, 55, 57, 58};
  const std::vector<uint8_t> before(flat, flat + 8);
  for (int s : {1, 5, 17, 18, 40}) {
    AdaptiveEdgeFilterLine(flat + 4, 1, s);
    EXPECT_EQ(std::vector<uint8_t>(flat, flat + 8), before);
  }
}

TEST(PostFilterTest, AdaptiveFilterSmoothsAStep) {
  // Smooth mode: eq = 6 (one step of 6 at the edge), range 6 below R.
  uint8_t line[8] = {100, 100, 100, 100, 106, 106, 106, 106};
  AdaptiveEdgeFilterLine(line + 4, 1, 10);
  EXPECT_EQ(line[2], (4 * 100 + 2 * 100 + 4 * 100 + 2 * 100 + 2 * 106 + 106 + 106 + 8) >> 4);
  EXPECT_GT(line[3], 100);
  EXPECT_LT(line[4], 106);
  // Default mode: eq <= 3 on a noisy line.
  uint8_t noisy[8] = {10, 20, 10, 20, 40, 30, 40, 30};
  AdaptiveEdgeFilterLine(noisy + 4, 1, 40);
  // a = (2 (10 - 30) + 5 (40 - 20) + 4) >> 3 = 8 < 40; t = (20 - 40) >> 2 = -5.
  EXPECT_EQ(noisy[3], 25);
  EXPECT_EQ(noisy[4], 35);
}

// Smooth mode runs only while the line's range (largest minus smallest of
// p0..p7) is below R: min(2s, 20) for s below 18, 50 from 18 on. A line of
// four samples of 100 and four of 100 + step has eq 6 and range `step`.
TEST(PostFilterTest, AdaptiveFilterSmoothModeRange) {
  struct Case {
    int s, step;
    bool filtered;
  };
  const Case cases[] = {{5, 9, true},   {5, 10, false},  {10, 19, true}, {10, 20, false},
                        {15, 19, true}, {15, 20, false}, {17, 19, true}, {17, 20, false},
                        {18, 49, true},
                        {18, 50, false}, {31, 49, true}};
  for (const Case& c : cases) {
    uint8_t line[8];
    for (int i = 0; i < 8; ++i) line[i] = static_cast<uint8_t>(i < 4 ? 100 : 100 + c.step);
    AdaptiveEdgeFilterLine(line + 4, 1, c.s);
    EXPECT_EQ(line[3] != 100, c.filtered) << "s " << c.s << " step " << c.step;
    // The strong variant (s >= 18) reaches p1 as well.
    EXPECT_EQ(line[1] != 100, c.filtered && c.s >= 18) << "s " << c.s << " step " << c.step;
  }
}

}  // namespace
}  // namespace videodec
