#include "codecs/videodec/common/video_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace videodec {
namespace {

struct MapCase {
  uint32_t macroblocks;
  uint32_t bytes;
};

class DamagedMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(DamagedMapTest, OneBitPerMacroblockThenAPaddedByte) {
  const MapCase& c = GetParam();
  ASSERT_EQ(DamagedMapBytes(c.macroblocks), c.bytes);
  // Every third macroblock damaged; a canary after the map.
  std::vector<uint8_t> map(c.bytes + 1, 0xA5);
  WriteDamagedMap(c.macroblocks, map.data(), [](uint32_t i) { return i % 3 != 0; });
  EXPECT_EQ(map[c.bytes], 0xA5) << "wrote past the map";
  for (uint32_t i = 0; i < c.bytes * 8; ++i) {
    const bool bit = (map[i / 8] >> (7 - i % 8)) & 1;
    const bool expected = i < c.macroblocks ? (i % 3 != 0) : true;  // unused low bits set
    ASSERT_EQ(bit, expected) << "bit " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DamagedMapTest,
                         ::testing::Values(MapCase{99, 13}, MapCase{396, 50}, MapCase{128, 17}, MapCase{1, 1}));

TEST(DamagedMapTest, WholeBytesEndInAByteOfOnes) {
  uint8_t map[17];
  WriteDamagedMap(128, map, [](uint32_t) { return false; });
  for (int i = 0; i < 16; ++i) EXPECT_EQ(map[i], 0);
  EXPECT_EQ(map[16], 0xFF);
}

TEST(FrameActivityTest, ClassesByMeanAbsoluteDeviation) {
  struct Case {
    uint8_t low, high;  // alternate samples
    int32_t expected;
  };
  // m = (low + high) / 2, d = |high - low| / 2: class d / 5 below 50, else 10.
  for (const Case& c : {Case{100, 100, 0}, Case{90, 110, 2}, Case{80, 130, 5}, Case{0, 98, 9}, Case{0, 200, 10}}) {
    std::vector<uint8_t> y(16 * 16);
    for (size_t i = 0; i < y.size(); ++i) y[i] = (i & 1) ? c.high : c.low;
    const DecodedPicture pic{y.data(), nullptr, nullptr, 16, 16, 0};
    EXPECT_EQ(FrameActivity(pic), c.expected) << int(c.low) << ".." << int(c.high);
  }
  EXPECT_EQ(FrameActivity(DecodedPicture{}), 0);
}

}  // namespace
}  // namespace videodec
