#include "engine/time_scale_processor.h"

#include <gtest/gtest.h>

#include <vector>

namespace engine {
namespace {

TEST(TimeScaleProcessorTest, UnitFactorReproducesTheInput) {
  TimeScaleProcessor p(1);
  ASSERT_TRUE(p.SetFactor(1.0f));
  std::vector<int16_t> in(20000);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
  std::vector<int16_t> out;
  std::vector<int16_t> block(p.Block());
  int16_t* outPlanes[1] = {block.data()};
  size_t fed = 0;
  while (fed < in.size()) {
    uint32_t n = std::min<uint32_t>(1000, static_cast<uint32_t>(in.size() - fed));
    const int16_t* inPlanes[1] = {in.data() + fed};
    int32_t r = p.Process(inPlanes, n, outPlanes);
    fed += n;
    while (r > 0) {
      out.insert(out.end(), block.begin(), block.end());
      r = p.Process(nullptr, 0, outPlanes);
    }
    ASSERT_GE(r, 0);
  }
  ASSERT_GT(out.size(), in.size() - 4096);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], in[i]) << i;
}

TEST(TimeScaleProcessorTest, FactorIsASpeedAndBadFactorsAreRefused) {
  TimeScaleProcessor p(2);
  EXPECT_TRUE(p.SetFactor(1.25f));
  EXPECT_EQ(p.FactorQ15(), 40960u);
  EXPECT_FALSE(p.SetFactor(0.0f));
  EXPECT_FALSE(p.SetFactor(-1.0f));
  EXPECT_FALSE(p.SetFactor(100.0f));
  EXPECT_EQ(p.FactorQ15(), 40960u);
}

TEST(TimeScaleProcessorTest, FewerThanTwoMarksReportMinusOne) {
  TimeScaleProcessor p(1);
  p.marks().Clear();
  p.marks().Add(0, 0, 0, 0, 0);
  EXPECT_EQ(p.marks().FindNearest(0, 100), -1);
  EXPECT_EQ(p.Available(), -1);
  std::vector<int16_t> in(512, 0), block(p.Block());
  const int16_t* inPlanes[1] = {in.data()};
  int16_t* outPlanes[1] = {block.data()};
  EXPECT_EQ(p.Process(inPlanes, 512, outPlanes), -1);
}

}  // namespace
}  // namespace engine
